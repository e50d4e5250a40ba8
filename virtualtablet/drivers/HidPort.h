/* What a HID minidriver and the bus below it need from the HID class
 * driver's port interface, declared here from Microsoft's documentation of
 * hidport.h and hidclass.h.
 *
 * MinGW ships no hidport.h, and its ddk/hidclass.h gives placeholder values
 * for the minidriver request codes (its own comment says they are wrong), so
 * nothing below comes from there. */
#ifndef VIRTUALTABLET_HIDPORT_H
#define VIRTUALTABLET_HIDPORT_H

#include <ntddk.h>

#define HID_REVISION 0x00000001

/* FILE_DEVICE_KEYBOARD is the device type of every HID request. */
#define VT_HID_CODE(id, method) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), (method), FILE_ANY_ACCESS)

/* Requests the class driver sends its minidriver (internal device control). */
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR VT_HID_CODE(0, METHOD_NEITHER)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR VT_HID_CODE(1, METHOD_NEITHER)
#define IOCTL_HID_READ_REPORT VT_HID_CODE(2, METHOD_NEITHER)
#define IOCTL_HID_WRITE_REPORT VT_HID_CODE(3, METHOD_NEITHER)
#define IOCTL_HID_GET_STRING VT_HID_CODE(4, METHOD_NEITHER)
#define IOCTL_HID_ACTIVATE_DEVICE VT_HID_CODE(7, METHOD_NEITHER)
#define IOCTL_HID_DEACTIVATE_DEVICE VT_HID_CODE(8, METHOD_NEITHER)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES VT_HID_CODE(9, METHOD_NEITHER)
#define IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST VT_HID_CODE(10, METHOD_NEITHER)

/* The same codes as the user-mode requests of hidclass.h; a minidriver gets
 * them as internal requests, the transfer in a HID_XFER_PACKET at UserBuffer
 * (indexed strings: the index and language in Type3InputBuffer, the answer
 * in the MDL). */
#define IOCTL_HID_GET_FEATURE VT_HID_CODE(100, METHOD_OUT_DIRECT)
#define IOCTL_HID_SET_FEATURE VT_HID_CODE(100, METHOD_IN_DIRECT)
#define IOCTL_HID_SET_OUTPUT_REPORT VT_HID_CODE(101, METHOD_IN_DIRECT)
#define IOCTL_GET_PHYSICAL_DESCRIPTOR VT_HID_CODE(102, METHOD_OUT_DIRECT)
#define IOCTL_HID_GET_INPUT_REPORT VT_HID_CODE(104, METHOD_OUT_DIRECT)
#define IOCTL_HID_GET_INDEXED_STRING VT_HID_CODE(120, METHOD_OUT_DIRECT)

/* IOCTL_HID_GET_STRING's ids: the offsets of the string indexes in a USB
 * device descriptor, as Microsoft's hidport.h numbers them. */
#define HID_STRING_ID_IMANUFACTURER 14
#define HID_STRING_ID_IPRODUCT 15
#define HID_STRING_ID_ISERIALNUMBER 16

typedef struct _HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION, *PHID_MINIDRIVER_REGISTRATION;

NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION registration);

/* The class driver's extension of every device object it gives the
 * minidriver; MiniDeviceExtension is the minidriver's own part. */
typedef struct _HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION, *PHID_DEVICE_EXTENSION;

typedef struct _HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES, *PHID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct _HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} HID_DESCRIPTOR, *PHID_DESCRIPTOR;
#pragma pack(pop)

#define HID_HID_DESCRIPTOR_TYPE 0x21
#define HID_REPORT_DESCRIPTOR_TYPE 0x22

typedef struct _HID_XFER_PACKET {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} HID_XFER_PACKET, *PHID_XFER_PACKET;

#endif
