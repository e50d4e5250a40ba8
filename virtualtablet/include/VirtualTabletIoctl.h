/* The virtual tablet bus's control interface: what a test or the demo sends
 * to the bus driver, and what it gets back.
 *
 * Shared by the kernel-mode bus driver (C, 64-bit) and the user-mode control
 * library (C++, built for x86 and x64). A 32-bit program talks to the 64-bit
 * driver host through these same bytes, so every structure holds only
 * fixed-size fields, no pointers, and starts with its own size, which the
 * driver checks against the request's length. */
#ifndef VIRTUALTABLET_IOCTL_H
#define VIRTUALTABLET_IOCTL_H

/* The control interface's class: the bus registers one interface of it. */
#define VT_CONTROL_GUID_INIT                                                   \
    { 0x689b65bd, 0x6022, 0x48a0, { 0x88, 0x51, 0x0e, 0x4f, 0x92, 0x34, 0x34, 0x51 } }

/* The bus's hardware id (root-enumerated) and the id its child offers to the
 * HID minidriver's INF line. */
#define VT_BUS_HARDWARE_ID "ROOT\\TABLETBUS"
#define VT_BUS_HARDWARE_ID_W L"ROOT\\TABLETBUS"
#define VT_CHILD_COMPATIBLE_ID_W L"TABLETBUS\\HIDTABLET"

#define VT_DEVICE_TYPE 0x8A3D /* in the range Microsoft leaves to vendors */
#define VT_CTL(function, access) \
    ((((unsigned long)VT_DEVICE_TYPE) << 16) | ((unsigned long)(access) << 14) | \
     ((unsigned long)(0x800 + (function)) << 2) | 0 /* METHOD_BUFFERED */)
#define VT_READ 1  /* FILE_READ_ACCESS */
#define VT_WRITE 2 /* FILE_WRITE_ACCESS */

/* in: VT_PLUG_CONFIG. Fails with STATUS_DEVICE_ALREADY_ATTACHED when plugged. */
#define VT_IOCTL_PLUG VT_CTL(1, VT_WRITE)
/* no buffers. A surprise removal; fails with STATUS_NO_SUCH_DEVICE when unplugged. */
#define VT_IOCTL_UNPLUG VT_CTL(2, VT_WRITE)
/* in: VT_EEPROM_SIZE bytes. */
#define VT_IOCTL_SET_EEPROM VT_CTL(3, VT_WRITE)
/* out: VT_EEPROM_SIZE bytes. */
#define VT_IOCTL_GET_EEPROM VT_CTL(4, VT_READ)
/* in: VT_FAULTS. Replaces every fault; the transfer counts start again. */
#define VT_IOCTL_SET_FAULTS VT_CTL(5, VT_WRITE)
/* out: VT_STATUS. */
#define VT_IOCTL_GET_STATUS VT_CTL(6, VT_READ)
/* in: ULONG, the sequence number of the first record wanted;
 * out: VT_TRACE_HEADER followed by as many VT_TRACE_RECORDs as fit. */
#define VT_IOCTL_READ_TRACE VT_CTL(7, VT_READ)
/* no buffers, and only while unplugged: faults off, counters and trace
 * cleared, the trace clock restarted. The EEPROM is kept. */
#define VT_IOCTL_RESET VT_CTL(8, VT_WRITE)
/* in: VT_SERIAL. The USB serial number string the tablet reports from its
 * next plug-in on, or none (the default). Kept across unplugs and resets,
 * as the EEPROM is. Only while unplugged (STATUS_DEVICE_BUSY otherwise): a
 * USB device's strings do not change while it is attached. */
#define VT_IOCTL_SET_SERIAL VT_CTL(9, VT_WRITE)

#define VT_EEPROM_SIZE 256
#define VT_FIRMWARE_CHARS 126 /* a USB string descriptor holds at most 126 UTF-16 units */

typedef struct VT_PLUG_CONFIG {
    unsigned long size; /* sizeof(VT_PLUG_CONFIG) */
    unsigned short vendorId;
    unsigned short productId;
    unsigned short versionNumber;
    unsigned short usagePage;    /* of the top-level collection */
    unsigned short usage;
    unsigned short featureReportByteLength; /* report id included: 2..VT_MAX_FEATURE_LENGTH */
    unsigned short firmwareChars;           /* used units of firmware[] */
    unsigned short reserved;
    unsigned short firmware[VT_FIRMWARE_CHARS]; /* indexed string 98, UTF-16, no terminator needed */
} VT_PLUG_CONFIG;

#define VT_MAX_FEATURE_LENGTH 64

#define VT_SERIAL_CHARS 126 /* a USB string descriptor's limit, as for the firmware */

typedef struct VT_SERIAL {
    unsigned long size;      /* sizeof(VT_SERIAL) */
    unsigned short present;  /* 1: the tablet has a serial number string; 0: it has none */
    unsigned short chars;    /* used units of text[]; 0 when there is none */
    unsigned short text[VT_SERIAL_CHARS]; /* UTF-16 without a terminator; no unit may be 0 */
} VT_SERIAL;

/* Faults are counted over the requests the tablet receives since the last
 * VT_IOCTL_SET_FAULTS or VT_IOCTL_RESET, across unplugs. */
typedef struct VT_FAULTS {
    unsigned long size;              /* sizeof(VT_FAULTS) */
    unsigned long failGetAt;         /* the Nth Get Feature fails (1-based); 0 = never */
    long failGetStatus;              /* with this NTSTATUS (an error status) */
    unsigned long failSetAt;         /* the Nth Set Feature fails; 0 = never */
    long failSetStatus;
    long stuckAddress;               /* writes to this address do not stick; -1 = none */
    unsigned long latencyMs;         /* each request is answered this much later */
    unsigned long unplugAfterTransfers; /* unplugged right after its Nth request (Get, Set or
                                           string), which is served normally; 0 = never */
    long replugAfterMs;              /* plugged back this long after that unplug; -1 = never */
} VT_FAULTS;

typedef struct VT_STATUS {
    unsigned long size;          /* sizeof(VT_STATUS) */
    unsigned long plugged;       /* 1 while the bus reports the tablet */
    unsigned long accessOpen;    /* string 20 seen since string 21 or the plug */
    unsigned long plugCount;     /* plugs since the driver started */
    unsigned long getFeatures;   /* requests that reached the tablet, since the faults were set */
    unsigned long setFeatures;
    unsigned long strings;
    unsigned long failed;        /* of those, answered with an error */
    unsigned long traceNext;     /* sequence number the next trace record gets */
    unsigned long traceLost;     /* records overwritten before they were read */
    unsigned long badRequests;   /* requests the bus refused for their lengths or buffers */
} VT_STATUS;

/* What a trace record is about. */
#define VT_TRACE_SET_FEATURE 1
#define VT_TRACE_GET_FEATURE 2
#define VT_TRACE_STRING 3
#define VT_TRACE_PLUG 4
#define VT_TRACE_UNPLUG 5
#define VT_TRACE_SERIAL 6 /* a program's request for the serial number string */

#define VT_TRACE_BYTES VT_MAX_FEATURE_LENGTH

typedef struct VT_TRACE_RECORD {
    unsigned long sequence;
    unsigned long timeMs;     /* since the driver started or the last reset */
    unsigned long kind;       /* VT_TRACE_* */
    long status;              /* NTSTATUS the request was answered with */
    unsigned long length;     /* reportBufferLen that reached the tablet; the string index */
    unsigned long byteCount;  /* valid bytes[]: a write's bytes, a read's first byte */
    unsigned char bytes[VT_TRACE_BYTES];
} VT_TRACE_RECORD;

typedef struct VT_TRACE_HEADER {
    unsigned long size;       /* sizeof(VT_TRACE_HEADER) */
    unsigned long count;      /* records that follow */
    unsigned long next;       /* sequence number of the next record the bus will write */
    unsigned long first;      /* oldest sequence number still held */
} VT_TRACE_HEADER;

#define VT_TRACE_CAPACITY 4096

#endif
