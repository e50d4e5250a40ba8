/* The virtual tablet's bus driver.
 *
 * A root-enumerated device whose function device (the FDO here) owns the
 * tablet: its model (EEPROM, access state, faults, counters) and its trace.
 * Plugging the tablet in creates a child device (a PDO) and tells plug and
 * play that the bus's relations changed; the HID minidriver loads on that
 * child and hands every HID request down to it, where the model answers.
 * Unplugging is a surprise removal: the child is no longer reported, and is
 * deleted when plug and play sends its removal. The model outlives the child,
 * so an unplugged and replugged tablet keeps its EEPROM.
 *
 * Tests reach the FDO through a device interface of its own (the control
 * requests of VirtualTabletIoctl.h). Every request's lengths are checked
 * before its buffers are touched; a bad request fails alone. */

#include <ntddk.h>

#include "HidPort.h"
#include "TabletModel.h"
#include "TabletTrace.h"
#include "TabletWire.h"
#include "VirtualTabletIoctl.h"

#define BUS_TAG 0x62755456 /* "VTub" in a pool dump */

static const GUID kControlGuid = VT_CONTROL_GUID_INIT;

typedef struct BUS_FDO BUS_FDO;

typedef struct BUS_PDO {
    int isPdo;
    BUS_FDO* bus;
    DEVICE_OBJECT* self;
    int reported;        /* the bus still lists it; cleared by an unplug */
    IRP* pendingRead;    /* the class driver's input read, held until removal */
    /* The class driver has read the report descriptor, which it must do
     * before it makes the collection a program can open: a request before
     * that is the class driver's own, made while it starts the device. */
    int described;
} BUS_PDO;

struct BUS_FDO {
    int isPdo;
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* lower;
    UNICODE_STRING controlLink;
    KSPIN_LOCK lock;
    DEVICE_OBJECT* child;     /* the plugged tablet, or NULL */
    unsigned long childNumber;
    unsigned long plugCount;
    unsigned long badRequests;
    LARGE_INTEGER clockStart;
    LARGE_INTEGER clockFrequency;
    /* A replug the fault set asked for, done by a system thread that waits;
     * the bus keeps a reference to the thread so its removal can wait for
     * the thread itself to end, not only for a signal from it. */
    int replugPending;
    long replugAfterMs;
    KEVENT replugStop;
    PKTHREAD replugThread;
    int removing; /* the bus is going: no replug starts */
    TABLET_MODEL model;
    TABLET_TRACE trace;
};

static int IsPdo(DEVICE_OBJECT* device)
{
    return *(int*)device->DeviceExtension != 0;
}

static unsigned long NowMs(BUS_FDO* bus)
{
    LARGE_INTEGER frequency;
    const LARGE_INTEGER now = KeQueryPerformanceCounter(&frequency);
    if (frequency.QuadPart == 0)
        return 0;
    return (unsigned long)((now.QuadPart - bus->clockStart.QuadPart) * 1000 / frequency.QuadPart);
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void Sleep(unsigned long ms)
{
    LARGE_INTEGER interval;
    if (ms == 0)
        return;
    interval.QuadPart = -(LONGLONG)ms * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

/* --- strings for plug and play (no C runtime here) ------------------- */

static WCHAR* AllocateIds(const WCHAR* const* ids, unsigned count)
{
    /* A multi-string: each id with its terminator, then one more. A single
     * id asked for as a plain string reads the same. */
    SIZE_T chars = 1;
    unsigned i;
    WCHAR* out;
    WCHAR* at;
    for (i = 0; i < count; ++i) {
        const WCHAR* c = ids[i];
        while (*c++)
            ++chars;
        ++chars;
    }
    out = (WCHAR*)ExAllocatePoolWithTag(PagedPool, chars * sizeof(WCHAR), BUS_TAG);
    if (out == NULL)
        return NULL;
    at = out;
    for (i = 0; i < count; ++i) {
        const WCHAR* c = ids[i];
        while (*c)
            *at++ = *c++;
        *at++ = 0;
    }
    *at = 0;
    return out;
}

static void PutHex4(WCHAR* at, unsigned value)
{
    static const WCHAR kDigits[] = L"0123456789ABCDEF";
    int i;
    for (i = 3; i >= 0; --i) {
        at[i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

/* --- the child ------------------------------------------------------- */

/* The held input read follows the cancel-safe pattern: its cancel routine
 * is set, tested and cleared only under the bus's lock, and whoever clears
 * it (a removal here, or the I/O manager calling ReadCancelled) is the one
 * that completes the request. */
static void CompletePendingRead(BUS_PDO* pdo, NTSTATUS status)
{
    KIRQL irql;
    IRP* irp;
    KeAcquireSpinLock(&pdo->bus->lock, &irql);
    irp = pdo->pendingRead;
    pdo->pendingRead = NULL;
    /* A read whose cancel routine is already running is completed there. */
    if (irp != NULL && IoSetCancelRoutine(irp, NULL) == NULL)
        irp = NULL;
    KeReleaseSpinLock(&pdo->bus->lock, irql);
    if (irp != NULL)
        Complete(irp, status, 0);
}

static VOID NTAPI ReadCancelled(DEVICE_OBJECT* device, IRP* irp)
{
    BUS_PDO* pdo = (BUS_PDO*)device->DeviceExtension;
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&pdo->bus->lock, &irql);
    if (pdo->pendingRead == irp)
        pdo->pendingRead = NULL;
    KeReleaseSpinLock(&pdo->bus->lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Holds the class driver's input read until the child goes. Returns
 * STATUS_PENDING, or the status the read was completed with at once. */
static NTSTATUS HoldRead(BUS_PDO* pdo, IRP* irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&pdo->bus->lock, &irql);
    if (pdo->pendingRead != NULL || !pdo->reported) {
        const int gone = !pdo->reported;
        KeReleaseSpinLock(&pdo->bus->lock, irql);
        return Complete(irp, gone ? STATUS_DELETE_PENDING : STATUS_DEVICE_BUSY, 0);
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, ReadCancelled);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        /* Cancelled before the routine was in place: it will never run. */
        KeReleaseSpinLock(&pdo->bus->lock, irql);
        Complete(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    /* Held; if a cancel took the routine just now, ReadCancelled waits for
     * the lock, finds the read here and completes it. */
    pdo->pendingRead = irp;
    KeReleaseSpinLock(&pdo->bus->lock, irql);
    return STATUS_PENDING;
}

/* A new child device object, not yet the bus's: made without the lock,
 * because creating a device may wait. */
static NTSTATUS NewChild(BUS_FDO* bus, DEVICE_OBJECT** child)
{
    WCHAR nameText[] = L"\\Device\\VirtualTablet0000";
    UNICODE_STRING name;
    DEVICE_OBJECT* device;
    BUS_PDO* pdo;
    NTSTATUS status;

    PutHex4(nameText + (sizeof(nameText) / sizeof(WCHAR)) - 5,
            (unsigned)(InterlockedIncrement((LONG*)&bus->childNumber) & 0xFFFF));
    RtlInitUnicodeString(&name, nameText);
    status = IoCreateDevice(bus->self->DriverObject, sizeof(BUS_PDO), &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &device);
    if (!NT_SUCCESS(status))
        return status;
    pdo = (BUS_PDO*)device->DeviceExtension;
    pdo->isPdo = 1;
    pdo->bus = bus;
    pdo->self = device;
    pdo->reported = 1;
    pdo->pendingRead = NULL;
    pdo->described = 0;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    *child = device;
    return STATUS_SUCCESS;
}

/* Plugs the tablet in as `device` unless one is plugged already; a device
 * not taken is deleted. The relations change is reported to plug and play
 * here, after the lock is let go. */
static NTSTATUS PlugChild(BUS_FDO* bus, DEVICE_OBJECT* device, const VT_PLUG_CONFIG* config)
{
    KIRQL irql;
    int taken = 0;
    KeAcquireSpinLock(&bus->lock, &irql);
    if (bus->child == NULL) {
        bus->child = device;
        ++bus->plugCount;
        TabletModel_Plug(&bus->model, config);
        TabletTrace_Add(&bus->trace, NowMs(bus), VT_TRACE_PLUG, STATUS_SUCCESS, 0, NULL, 0);
        taken = 1;
    }
    KeReleaseSpinLock(&bus->lock, irql);
    if (!taken) {
        IoDeleteDevice(device);
        return STATUS_DEVICE_ALREADY_ATTACHED;
    }
    IoInvalidateDeviceRelations(bus->lower, BusRelations);
    return STATUS_SUCCESS;
}

/* Called with the lock held. */
static int UnplugChild(BUS_FDO* bus)
{
    BUS_PDO* pdo;
    if (bus->child == NULL)
        return 0;
    pdo = (BUS_PDO*)bus->child->DeviceExtension;
    pdo->reported = 0;
    bus->child = NULL;
    TabletModel_Unplug(&bus->model);
    TabletTrace_Add(&bus->trace, NowMs(bus), VT_TRACE_UNPLUG, STATUS_SUCCESS, 0, NULL, 0);
    return 1;
}

static VOID NTAPI ReplugThread(PVOID context)
{
    BUS_FDO* bus = (BUS_FDO*)context;
    LARGE_INTEGER timeout;
    NTSTATUS wait;
    KIRQL irql2;
    timeout.QuadPart = -(LONGLONG)bus->replugAfterMs * 10000;
    wait = KeWaitForSingleObject(&bus->replugStop, Executive, KernelMode, FALSE, &timeout);
    if (wait == STATUS_TIMEOUT) {
        DEVICE_OBJECT* device;
        VT_PLUG_CONFIG config;
        KIRQL irql;
        KeAcquireSpinLock(&bus->lock, &irql);
        config = bus->model.config; /* plugged back as it was */
        KeReleaseSpinLock(&bus->lock, irql);
        if (NT_SUCCESS(NewChild(bus, &device)))
            PlugChild(bus, device, &config);
    }
    KeAcquireSpinLock(&bus->lock, &irql2);
    bus->replugPending = 0;
    KeReleaseSpinLock(&bus->lock, irql2);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* Waits for a system thread the bus holds a reference to, and drops it. */
static void LetThreadGo(PKTHREAD thread)
{
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, NULL);
    ObDereferenceObject(thread);
}

/* Waits for a replug thread that has been started to end, and lets it go.
 * Called only where no new one can start: the bus's removal. */
static void EndReplug(BUS_FDO* bus)
{
    PKTHREAD thread;
    KIRQL irql;
    KeSetEvent(&bus->replugStop, IO_NO_INCREMENT, FALSE);
    KeAcquireSpinLock(&bus->lock, &irql);
    bus->removing = 1;
    thread = bus->replugThread;
    bus->replugThread = NULL;
    KeReleaseSpinLock(&bus->lock, irql);
    if (thread != NULL) {
        LetThreadGo(thread);
    }
}

static void StartReplug(BUS_FDO* bus, long afterMs)
{
    HANDLE handle;
    PKTHREAD thread = NULL;
    PKTHREAD finished = NULL;
    int started = 0;
    KIRQL irql;
    KeAcquireSpinLock(&bus->lock, &irql);
    if (bus->replugPending || bus->removing) {
        KeReleaseSpinLock(&bus->lock, irql);
        return;
    }
    bus->replugPending = 1;
    bus->replugAfterMs = afterMs;
    /* The thread of an earlier replug has signalled its end (replugPending
     * is clear); it is let go here, after it has ended. */
    finished = bus->replugThread;
    bus->replugThread = NULL;
    KeReleaseSpinLock(&bus->lock, irql);
    if (finished != NULL) {
        LetThreadGo(finished);
    }
    if (NT_SUCCESS(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, NULL, NULL, NULL, ReplugThread, bus))) {
        started = 1;
        if (!NT_SUCCESS(ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType, KernelMode, (PVOID*)&thread,
                                                  NULL)))
            thread = NULL;
        ZwClose(handle);
    }
    KeAcquireSpinLock(&bus->lock, &irql);
    if (!started)
        bus->replugPending = 0; /* no thread: no replug */
    if (thread != NULL && !bus->removing) {
        bus->replugThread = thread;
        thread = NULL;
    }
    KeReleaseSpinLock(&bus->lock, irql);
    if (thread != NULL) {
        /* The bus began to go while the thread started: it has seen the
         * stop signal, and is waited for here instead. */
        LetThreadGo(thread);
    }
}

/* After a request the model answered: wait out the latency, then carry out
 * an unplug the model decided on. */
static void AfterTransfer(BUS_FDO* bus, const TABLET_ANSWER* answer)
{
    int unplugged = 0;
    long replugAfterMs;
    KIRQL irql;
    Sleep(answer->latencyMs);
    if (!answer->unplugNow)
        return;
    KeAcquireSpinLock(&bus->lock, &irql);
    unplugged = UnplugChild(bus);
    replugAfterMs = bus->model.faults.replugAfterMs;
    KeReleaseSpinLock(&bus->lock, irql);
    if (unplugged) {
        IoInvalidateDeviceRelations(bus->lower, BusRelations);
        if (replugAfterMs >= 0)
            StartReplug(bus, replugAfterMs);
    }
}

/* Takes the bus's lock for a request on the child; false, with the lock
 * let go, when the tablet has been unplugged. */
static int LockPlugged(BUS_PDO* pdo, KIRQL* irql)
{
    KeAcquireSpinLock(&pdo->bus->lock, irql);
    if (pdo->reported)
        return 1;
    KeReleaseSpinLock(&pdo->bus->lock, *irql);
    return 0;
}

static NTSTATUS FeatureRequest(BUS_PDO* pdo, IRP* irp, IO_STACK_LOCATION* stack, int isSet)
{
    BUS_FDO* bus = pdo->bus;
    HID_XFER_PACKET* packet = (HID_XFER_PACKET*)irp->UserBuffer;
    const ULONG packetLength = isSet ? stack->Parameters.DeviceIoControl.InputBufferLength
                                     : stack->Parameters.DeviceIoControl.OutputBufferLength;
    TABLET_ANSWER answer;
    unsigned long traced;
    KIRQL irql;

    if (packet == NULL || packetLength < sizeof(HID_XFER_PACKET) || packet->reportBuffer == NULL ||
        packet->reportBufferLen == 0) {
        KeAcquireSpinLock(&bus->lock, &irql);
        ++bus->badRequests;
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }

    if (!LockPlugged(pdo, &irql))
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    if (isSet) {
        answer = TabletModel_SetFeature(&bus->model, packet->reportBuffer, packet->reportBufferLen);
        traced = packet->reportBufferLen;
    } else {
        answer = TabletModel_GetFeature(&bus->model, packet->reportBuffer, packet->reportBufferLen);
        traced = 1; /* the answer is byte 0 */
    }
    /* The length recorded is the one that reached the tablet, which is the
     * evidence of what the class driver did with the caller's length. */
    TabletTrace_Add(&bus->trace, NowMs(bus), isSet ? VT_TRACE_SET_FEATURE : VT_TRACE_GET_FEATURE, answer.status,
                    packet->reportBufferLen, packet->reportBuffer, traced);
    KeReleaseSpinLock(&bus->lock, irql);

    AfterTransfer(bus, &answer);
    return Complete(irp, answer.status, NT_SUCCESS(answer.status) ? packet->reportBufferLen : 0);
}

static NTSTATUS StringRequest(BUS_PDO* pdo, IRP* irp, unsigned long index, WCHAR* out, ULONG outBytes)
{
    BUS_FDO* bus = pdo->bus;
    unsigned long written = 0;
    TABLET_ANSWER answer;
    KIRQL irql;
    if (!LockPlugged(pdo, &irql))
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    answer = TabletModel_GetString(&bus->model, index, (unsigned short*)out, out ? outBytes : 0, &written);
    TabletTrace_Add(&bus->trace, NowMs(bus), VT_TRACE_STRING, answer.status, index, NULL, 0);
    KeReleaseSpinLock(&bus->lock, irql);
    AfterTransfer(bus, &answer);
    return Complete(irp, answer.status, written);
}

/* WINE GAP, not part of the tablet: Wine's class driver numbers the
 * IOCTL_HID_GET_STRING ids 1, 2, 3 (its headers declare HID_STRING_ID_* as
 * an enumeration counting from 1), where Windows' sends 14, 15, 16 with the
 * language in the high word (seen in runs: the serial number request of
 * Wine 10's class driver, and a program's under Wine 8, carried the input
 * value 3). The bus answers Wine's numbers as the strings they stand for. */
#define WINE_HID_STRING_ID_IMANUFACTURER 1
#define WINE_HID_STRING_ID_IPRODUCT 2
#define WINE_HID_STRING_ID_ISERIALNUMBER 3

/* The serial number string, for HidD_GetSerialNumberString: the tablet's
 * own (VT_IOCTL_SET_SERIAL), whole or nothing as Microsoft documents for
 * IOCTL_HID_GET_STRING, and STATUS_INVALID_PARAMETER when it has none, as
 * a minidriver answers for a string the device lacks. A program's request
 * is traced; the class driver's own is not, so that the trace shows the
 * same traffic under every Wine. */
static NTSTATUS SerialNumber(BUS_PDO* pdo, IRP* irp, WCHAR* out, ULONG outBytes)
{
    BUS_FDO* bus = pdo->bus;
    unsigned long written = 0;
    NTSTATUS status;
    KIRQL irql;
    if (!LockPlugged(pdo, &irql))
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    status = TabletModel_GetSerial(&bus->model, (unsigned short*)out, out ? outBytes : 0, &written);
    if (pdo->described) {
        TabletTrace_Add(&bus->trace, NowMs(bus), VT_TRACE_SERIAL, status, 0, NULL, 0);
    } else if (status == STATUS_INVALID_PARAMETER && out != NULL && outBytes >= sizeof(WCHAR)) {
        /* WINE GAP, not part of the tablet: Wine 10's class driver asks
         * for the serial number while it starts the device and drops a
         * device that has none ("err:hid:initialize_device Minidriver
         * failed to get serial number"); Windows' class driver starts a
         * device without one. A tablet without a serial number answers
         * that one request with an empty string, so that it starts; every
         * program's request gets the tablet's real answer. Wine 8 never
         * asks. */
        out[0] = 0;
        written = sizeof(WCHAR);
        status = STATUS_SUCCESS;
    }
    KeReleaseSpinLock(&bus->lock, irql);
    return Complete(irp, status, written);
}

/* The USB strings of IOCTL_HID_GET_STRING: the id in the low word of the
 * request's input value, the answer into UserBuffer. The manufacturer and
 * product strings are the bus's and are not traced. */
static NTSTATUS DeviceString(BUS_PDO* pdo, IRP* irp, IO_STACK_LOCATION* stack)
{
    static const WCHAR kManufacturer[] = L"Virtual tablet bus";
    static const WCHAR kProduct[] = L"Pen tablet";
    const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
    const ULONG outBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const WCHAR* text;
    ULONG bytes;
    ULONG i;
    WCHAR* out = (WCHAR*)irp->UserBuffer;
    switch (id) {
    case HID_STRING_ID_IMANUFACTURER:
    case WINE_HID_STRING_ID_IMANUFACTURER:
        text = kManufacturer;
        bytes = sizeof(kManufacturer);
        break;
    case HID_STRING_ID_IPRODUCT:
    case WINE_HID_STRING_ID_IPRODUCT:
        text = kProduct;
        bytes = sizeof(kProduct);
        break;
    case HID_STRING_ID_ISERIALNUMBER:
    case WINE_HID_STRING_ID_ISERIALNUMBER:
        return SerialNumber(pdo, irp, out, outBytes);
    default:
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (out == NULL || outBytes < bytes)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    for (i = 0; i < bytes / sizeof(WCHAR); ++i)
        out[i] = text[i];
    return Complete(irp, STATUS_SUCCESS, bytes);
}

static NTSTATUS PdoInternalIoctl(BUS_PDO* pdo, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    BUS_FDO* bus = pdo->bus;
    KIRQL irql;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        HID_DESCRIPTOR* descriptor = (HID_DESCRIPTOR*)irp->UserBuffer;
        unsigned char report[64];
        unsigned long length;
        if (descriptor == NULL || outLength < sizeof(HID_DESCRIPTOR))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KeAcquireSpinLock(&bus->lock, &irql);
        length = TabletModel_ReportDescriptor(&bus->model.config, report, sizeof(report));
        KeReleaseSpinLock(&bus->lock, irql);
        descriptor->bLength = sizeof(HID_DESCRIPTOR);
        descriptor->bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
        descriptor->bcdHID = 0x0111;
        descriptor->bCountry = 0;
        descriptor->bNumDescriptors = 1;
        descriptor->DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
        descriptor->DescriptorList[0].wReportLength = (USHORT)length;
        return Complete(irp, STATUS_SUCCESS, sizeof(HID_DESCRIPTOR));
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR: {
        unsigned char report[64];
        unsigned long length;
        unsigned long i;
        KeAcquireSpinLock(&bus->lock, &irql);
        length = TabletModel_ReportDescriptor(&bus->model.config, report, sizeof(report));
        if (irp->UserBuffer != NULL && outLength >= length)
            pdo->described = 1;
        KeReleaseSpinLock(&bus->lock, irql);
        if (irp->UserBuffer == NULL || outLength < length)
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        for (i = 0; i < length; ++i)
            ((unsigned char*)irp->UserBuffer)[i] = report[i];
        return Complete(irp, STATUS_SUCCESS, length);
    }
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        HID_DEVICE_ATTRIBUTES* attributes = (HID_DEVICE_ATTRIBUTES*)irp->UserBuffer;
        unsigned i;
        if (attributes == NULL || outLength < sizeof(HID_DEVICE_ATTRIBUTES))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        attributes->Size = sizeof(HID_DEVICE_ATTRIBUTES);
        KeAcquireSpinLock(&bus->lock, &irql);
        attributes->VendorID = bus->model.config.vendorId;
        attributes->ProductID = bus->model.config.productId;
        attributes->VersionNumber = bus->model.config.versionNumber;
        KeReleaseSpinLock(&bus->lock, irql);
        for (i = 0; i < 11; ++i)
            attributes->Reserved[i] = 0;
        return Complete(irp, STATUS_SUCCESS, sizeof(HID_DEVICE_ATTRIBUTES));
    }
    case IOCTL_HID_READ_REPORT:
        /* The tablet has no input reports. The class driver keeps one read
         * outstanding all the same; it is held until the child goes, so the
         * class driver's reading thread sleeps instead of spinning. */
        return HoldRead(pdo, irp);
    case IOCTL_HID_GET_FEATURE:
        return FeatureRequest(pdo, irp, stack, 0);
    case IOCTL_HID_SET_FEATURE:
        return FeatureRequest(pdo, irp, stack, 1);
    case IOCTL_HID_GET_INDEXED_STRING: {
        /* As Windows' class driver passes it down: the index in the low word
         * of the input value, the answer into the caller's buffer (an MDL). */
        const unsigned long index = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
        WCHAR* out = NULL;
        if (irp->MdlAddress != NULL)
            out = (WCHAR*)MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
        return StringRequest(pdo, irp, index, out, out ? outLength : 0);
    }
    case IOCTL_HID_GET_STRING:
        return DeviceString(pdo, irp, stack);
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static NTSTATUS PdoPnp(BUS_PDO* pdo, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    ULONG_PTR information = irp->IoStatus.Information;
    BUS_FDO* bus = pdo->bus;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        CompletePendingRead(pdo, STATUS_DELETE_PENDING);
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        KIRQL irql;
        int reported;
        CompletePendingRead(pdo, STATUS_DELETE_PENDING);
        KeAcquireSpinLock(&bus->lock, &irql);
        reported = pdo->reported;
        KeReleaseSpinLock(&bus->lock, irql);
        Complete(irp, STATUS_SUCCESS, 0);
        /* A child the bus no longer lists is gone for good; one it still
         * lists was only disabled and stays. */
        if (!reported)
            IoDeleteDevice(pdo->self);
        return STATUS_SUCCESS;
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
        if (caps != NULL) {
            caps->Removable = 1;
            caps->SurpriseRemovalOK = 1;
            caps->SilentInstall = 1;
        }
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_QUERY_ID: {
        WCHAR deviceId[] = L"TABLETBUS\\VID_0000&PID_0000";
        const WCHAR* ids[1];
        KIRQL irql;
        KeAcquireSpinLock(&bus->lock, &irql);
        PutHex4(deviceId + 14, bus->model.config.vendorId);
        PutHex4(deviceId + 23, bus->model.config.productId);
        KeReleaseSpinLock(&bus->lock, irql);
        switch (stack->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
        case BusQueryHardwareIDs:
            ids[0] = deviceId;
            break;
        case BusQueryCompatibleIDs:
            ids[0] = VT_CHILD_COMPATIBLE_ID_W;
            break;
        case BusQueryInstanceID:
            ids[0] = L"0001";
            break;
        default:
            ids[0] = NULL;
            break;
        }
        if (ids[0] == NULL)
            break;
        information = (ULONG_PTR)AllocateIds(ids, 1);
        status = information ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
        break;
    }
    case IRP_MN_QUERY_DEVICE_TEXT: {
        const WCHAR* text[1] = {L"Virtual pen tablet"};
        if (stack->Parameters.QueryDeviceText.DeviceTextType != DeviceTextDescription)
            break;
        information = (ULONG_PTR)AllocateIds(text, 1);
        status = information ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
        break;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation && information == 0) {
            DEVICE_RELATIONS* relations =
                (DEVICE_RELATIONS*)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), BUS_TAG);
            if (relations == NULL) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                break;
            }
            ObReferenceObject(pdo->self);
            relations->Count = 1;
            relations->Objects[0] = pdo->self;
            information = (ULONG_PTR)relations;
            status = STATUS_SUCCESS;
        }
        break;
    default:
        break;
    }
    return Complete(irp, status, information);
}

/* --- the bus --------------------------------------------------------- */

static NTSTATUS ControlRequest(BUS_FDO* bus, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;
    NTSTATUS status;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VT_IOCTL_PLUG: {
        VT_PLUG_CONFIG config;
        DEVICE_OBJECT* device;
        if (buffer == NULL || inLength != sizeof(VT_PLUG_CONFIG))
            break;
        config = *(const VT_PLUG_CONFIG*)buffer;
        if (TabletModel_CheckConfig(&config) != 0)
            break;
        status = NewChild(bus, &device);
        if (NT_SUCCESS(status))
            status = PlugChild(bus, device, &config);
        return Complete(irp, status, 0);
    }
    case VT_IOCTL_UNPLUG: {
        int unplugged;
        KeAcquireSpinLock(&bus->lock, &irql);
        unplugged = UnplugChild(bus);
        KeReleaseSpinLock(&bus->lock, irql);
        if (!unplugged)
            return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
        IoInvalidateDeviceRelations(bus->lower, BusRelations);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case VT_IOCTL_SET_EEPROM: {
        unsigned i;
        if (buffer == NULL || inLength != VT_EEPROM_SIZE)
            break;
        KeAcquireSpinLock(&bus->lock, &irql);
        for (i = 0; i < VT_EEPROM_SIZE; ++i)
            bus->model.eeprom[i] = ((const unsigned char*)buffer)[i];
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case VT_IOCTL_GET_EEPROM: {
        unsigned i;
        if (buffer == NULL || outLength < VT_EEPROM_SIZE)
            break;
        KeAcquireSpinLock(&bus->lock, &irql);
        for (i = 0; i < VT_EEPROM_SIZE; ++i)
            ((unsigned char*)buffer)[i] = bus->model.eeprom[i];
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, VT_EEPROM_SIZE);
    }
    case VT_IOCTL_SET_FAULTS: {
        const VT_FAULTS* faults = (const VT_FAULTS*)buffer;
        if (buffer == NULL || inLength != sizeof(VT_FAULTS) || TabletModel_CheckFaults(faults) != 0)
            break;
        KeAcquireSpinLock(&bus->lock, &irql);
        TabletModel_SetFaults(&bus->model, faults);
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case VT_IOCTL_GET_STATUS: {
        VT_STATUS* out = (VT_STATUS*)buffer;
        if (buffer == NULL || outLength < sizeof(VT_STATUS))
            break;
        KeAcquireSpinLock(&bus->lock, &irql);
        out->size = sizeof(VT_STATUS);
        out->plugged = bus->child != NULL;
        out->accessOpen = (unsigned long)bus->model.accessOpen;
        out->plugCount = bus->plugCount;
        out->getFeatures = bus->model.getCount;
        out->setFeatures = bus->model.setCount;
        out->strings = bus->model.stringCount;
        out->failed = bus->model.failedCount;
        out->traceNext = bus->trace.next;
        out->traceLost = bus->trace.lost;
        out->badRequests = bus->badRequests;
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, sizeof(VT_STATUS));
    }
    case VT_IOCTL_READ_TRACE: {
        VT_TRACE_HEADER* header = (VT_TRACE_HEADER*)buffer;
        unsigned long from, capacity, count;
        if (buffer == NULL || inLength != sizeof(ULONG) || outLength < sizeof(VT_TRACE_HEADER))
            break;
        from = *(const ULONG*)buffer;
        capacity = (outLength - sizeof(VT_TRACE_HEADER)) / sizeof(VT_TRACE_RECORD);
        KeAcquireSpinLock(&bus->lock, &irql);
        count = TabletTrace_Read(&bus->trace, from, header, (VT_TRACE_RECORD*)(header + 1), capacity);
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, sizeof(VT_TRACE_HEADER) + count * sizeof(VT_TRACE_RECORD));
    }
    case VT_IOCTL_SET_SERIAL: {
        const VT_SERIAL* serial = (const VT_SERIAL*)buffer;
        if (buffer == NULL || inLength != sizeof(VT_SERIAL) || TabletModel_CheckSerial(serial) != 0)
            break;
        KeAcquireSpinLock(&bus->lock, &irql);
        if (bus->child != NULL) {
            KeReleaseSpinLock(&bus->lock, irql);
            return Complete(irp, STATUS_DEVICE_BUSY, 0);
        }
        bus->model.serial = *serial;
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case VT_IOCTL_RESET: {
        VT_FAULTS none;
        TABLET_MODEL fresh;
        KeAcquireSpinLock(&bus->lock, &irql);
        if (bus->child != NULL || bus->replugPending) {
            KeReleaseSpinLock(&bus->lock, irql);
            return Complete(irp, STATUS_DEVICE_BUSY, 0);
        }
        TabletModel_Init(&fresh);
        none = fresh.faults;
        TabletModel_SetFaults(&bus->model, &none);
        TabletTrace_Clear(&bus->trace);
        bus->badRequests = 0;
        bus->clockStart = KeQueryPerformanceCounter(NULL);
        KeReleaseSpinLock(&bus->lock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    /* Every break above is a request whose lengths or contents are wrong. */
    KeAcquireSpinLock(&bus->lock, &irql);
    ++bus->badRequests;
    KeReleaseSpinLock(&bus->lock, irql);
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
}

static NTSTATUS FdoPnp(BUS_FDO* bus, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    KIRQL irql;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        IoSetDeviceInterfaceState(&bus->controlLink, TRUE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
            DEVICE_RELATIONS* relations =
                (DEVICE_RELATIONS*)ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), BUS_TAG);
            if (relations == NULL)
                return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
            KeAcquireSpinLock(&bus->lock, &irql);
            relations->Count = 0;
            if (bus->child != NULL) {
                ObReferenceObject(bus->child);
                relations->Objects[relations->Count++] = bus->child;
            }
            KeReleaseSpinLock(&bus->lock, irql);
            if (irp->IoStatus.Information != 0)
                ExFreePool((void*)irp->IoStatus.Information);
            irp->IoStatus.Information = (ULONG_PTR)relations;
            irp->IoStatus.Status = STATUS_SUCCESS;
        }
        break;
    case IRP_MN_QUERY_CAPABILITIES:
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* child;
        DEVICE_OBJECT* lower = bus->lower;
        NTSTATUS status;
        IoSetDeviceInterfaceState(&bus->controlLink, FALSE);
        EndReplug(bus);
        KeAcquireSpinLock(&bus->lock, &irql);
        child = bus->child;
        bus->child = NULL;
        KeReleaseSpinLock(&bus->lock, irql);
        if (child != NULL)
            IoDeleteDevice(child);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        RtlFreeUnicodeString(&bus->controlLink);
        IoDeleteDevice(bus->self);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(bus->lower, irp);
}

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* device, IRP* irp)
{
    if (IsPdo(device))
        return PdoPnp((BUS_PDO*)device->DeviceExtension, irp);
    return FdoPnp((BUS_FDO*)device->DeviceExtension, irp);
}

static NTSTATUS NTAPI DispatchInternalIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    if (IsPdo(device))
        return PdoInternalIoctl((BUS_PDO*)device->DeviceExtension, irp);
    return Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

static NTSTATUS NTAPI DispatchIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    if (IsPdo(device))
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    return ControlRequest((BUS_FDO*)device->DeviceExtension, irp);
}

static NTSTATUS NTAPI DispatchCreateClose(DEVICE_OBJECT* device, IRP* irp)
{
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchPower(DEVICE_OBJECT* device, IRP* irp)
{
    if (IsPdo(device))
        return Complete(irp, STATUS_SUCCESS, 0);
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(((BUS_FDO*)device->DeviceExtension)->lower, irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* rootPdo)
{
    DEVICE_OBJECT* device;
    BUS_FDO* bus;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(BUS_FDO), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    bus = (BUS_FDO*)device->DeviceExtension;
    RtlZeroMemory(bus, sizeof(*bus));
    bus->isPdo = 0;
    bus->self = device;
    KeInitializeSpinLock(&bus->lock);
    KeInitializeEvent(&bus->replugStop, NotificationEvent, FALSE);
    bus->replugThread = NULL;
    TabletModel_Init(&bus->model);
    TabletTrace_Clear(&bus->trace);
    bus->clockStart = KeQueryPerformanceCounter(&bus->clockFrequency);

    status = IoRegisterDeviceInterface(rootPdo, &kControlGuid, NULL, &bus->controlLink);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    bus->lower = IoAttachDeviceToDeviceStack(device, rootPdo);
    if (bus->lower == NULL) {
        RtlFreeUnicodeString(&bus->controlLink);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI Unload(DRIVER_OBJECT* driver)
{
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    (void)registryPath;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoctl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalIoctl;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    return STATUS_SUCCESS;
}
