/* The virtual tablet's HID minidriver: loads on the bus's child, registers
 * with the HID class driver, and hands every HID request down to the child,
 * where the bus's tablet answers it. It keeps no state of the tablet.
 *
 * It also carries one shim that is not part of the tablet, marked below:
 * Wine's class driver (8.0 and 10.0 alike) does not implement
 * HidD_GetIndexedString. */

#include <ntddk.h>

#include "HidPort.h"


/* The minidriver's part of each device extension: nothing of its own. */
typedef struct TABLET_HID {
    ULONG unused;
} TABLET_HID;

/* The driver's one piece of state: the class driver's own dispatch for user
 * requests and for plug and play, the tablet's function device, and the
 * collection device the class driver made on it, for the shim. It is
 * static, not a driver object extension, because Wine 8.0's
 * IoAllocateDriverObjectExtension is a stub that fails (seen in a run:
 * "fixme:ntoskrnl:IoAllocateDriverObjectExtension stub", and the driver
 * then fails to load). One driver object, one state. */
typedef struct HID_DRIVER_STATE {
    PDRIVER_DISPATCH classDeviceControl;
    PDRIVER_DISPATCH classPnp;
    KSPIN_LOCK lock;
    DEVICE_OBJECT* fdo;
    DEVICE_OBJECT* collection;
    /* Whether the class driver answers indexed strings itself: unknown
     * until the first request has been offered to it. */
    enum { CLASS_STRINGS_UNKNOWN, CLASS_HAS_STRINGS, CLASS_LACKS_STRINGS } classStrings;
    /* The driver's service key, where what was learned is written down. */
    WCHAR serviceKey[260];
} HID_DRIVER_STATE;

static HID_DRIVER_STATE g_state;

static HID_DRIVER_STATE* DriverState(DRIVER_OBJECT* driver)
{
    (void)driver;
    return &g_state;
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI InternalIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->PhysicalDeviceObject, irp);
}

static NTSTATUS NTAPI Pnp(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        HID_DRIVER_STATE* state = DriverState(device->DriverObject);
        KIRQL irql;
        KeAcquireSpinLock(&state->lock, &irql);
        if (state->fdo == device) {
            state->fdo = NULL;
            state->collection = NULL;
        }
        KeReleaseSpinLock(&state->lock, irql);
    }
    if (stack->MinorFunction == IRP_MN_START_DEVICE || stack->MinorFunction == IRP_MN_REMOVE_DEVICE ||
        stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL)
        irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS NTAPI Power(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo)
{
    HID_DRIVER_STATE* state = DriverState(driver);
    KIRQL irql;
    KeAcquireSpinLock(&state->lock, &irql);
    state->fdo = fdo;
    KeReleaseSpinLock(&state->lock, irql);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* ---------------------------------------------------------------------
 * WINE GAP SHIM, not part of the tablet.
 *
 * Wine's hidclass.sys, 8.0 and 10.0 alike, fails HidD_GetIndexedString
 * (IOCTL 0xb01e2) on its own, with "fixme:hid:pdo_ioctl Unsupported
 * ioctl", before any minidriver sees it (seen in runs of both with the
 * shim taken out: error 50). The first request is offered to the class
 * driver all the same, as it came; only a class driver that refuses it as
 * unsupported gets the shim, from then on, so a Wine whose class driver
 * gains the request is driven as Windows is, and the real-stack suite
 * shows that it did. Windows' class driver passes the request down to the
 * minidriver as IOCTL_HID_GET_INDEXED_STRING, the string index in the low
 * word of the request's input value, the caller's buffer as the MDL. The
 * class driver creates the collection's device with this driver's own
 * driver object, so user requests to that device come through this
 * driver's dispatch table; after registering, the class driver's entry
 * there is wrapped, and this one request is passed down as Windows would
 * pass it. Every other request goes to the class driver unchanged.
 * On Windows this code never runs: the class driver answers the request
 * before it would reach here.
 *
 * A request is passed down only on a handle of the tablet plugged in now.
 * Each plug-in gets its own function device and collection device; a
 * handle opened before an unplug still names the old collection, and
 * Windows fails its requests (the device is gone). The shim learns which
 * collection is the current one when plug and play starts it: the class
 * driver's plug and play entry is wrapped too, and the collection started
 * after the current function device is the one its requests may use.
 * ------------------------------------------------------------------- */

static NTSTATUS NTAPI ShimCompleted(DEVICE_OBJECT* device, IRP* irp, PVOID context)
{
    (void)device;
    (void)irp;
    KeSetEvent((KEVENT*)context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS PassIndexedStringDown(DEVICE_OBJECT* fdo, IRP* request)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(request);
    IO_STACK_LOCATION* next;
    KEVENT done;
    IRP* irp;
    ULONG index;
    NTSTATUS status;
    ULONG_PTR information;

    /* hid.dll sends the index as a ULONG in the input buffer. */
    if (request->AssociatedIrp.SystemBuffer == NULL ||
        stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG) || request->MdlAddress == NULL)
        return Complete(request, STATUS_INVALID_PARAMETER, 0);
    index = *(const ULONG*)request->AssociatedIrp.SystemBuffer;

    irp = IoAllocateIrp((CCHAR)(fdo->StackSize + 1), FALSE);
    if (irp == NULL)
        return Complete(request, STATUS_INSUFFICIENT_RESOURCES, 0);
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_HID_GET_INDEXED_STRING;
    next->Parameters.DeviceIoControl.Type3InputBuffer = (PVOID)(ULONG_PTR)(index & 0xFFFF); /* language 0 */
    next->Parameters.DeviceIoControl.InputBufferLength = 0;
    next->Parameters.DeviceIoControl.OutputBufferLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    irp->MdlAddress = request->MdlAddress; /* borrowed, given back below */
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, ShimCompleted, &done, TRUE, TRUE, TRUE);

    if (IoCallDriver(fdo, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
    information = irp->IoStatus.Information;
    irp->MdlAddress = NULL;
    IoFreeIrp(irp);
    return Complete(request, status, information);
}

/* Offers the request to the class driver in an IRP of the shim's own, with
 * the caller's buffers and file object, so that a refusal leaves the
 * caller's request to the shim. Returns the class driver's status, with
 * the request completed unless that status is STATUS_NOT_SUPPORTED. */
static NTSTATUS OfferToClassDriver(HID_DRIVER_STATE* state, DEVICE_OBJECT* device, IRP* request)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(request);
    IO_STACK_LOCATION* next;
    KEVENT done;
    IRP* irp;
    NTSTATUS status;
    ULONG_PTR information;

    irp = IoAllocateIrp((CCHAR)(device->StackSize + 1), FALSE);
    if (irp == NULL)
        return Complete(request, STATUS_INSUFFICIENT_RESOURCES, 0);
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl = stack->Parameters.DeviceIoControl;
    next->FileObject = stack->FileObject;
    irp->AssociatedIrp.SystemBuffer = request->AssociatedIrp.SystemBuffer; /* borrowed */
    irp->MdlAddress = request->MdlAddress;                                 /* borrowed */
    irp->UserBuffer = request->UserBuffer;
    irp->RequestorMode = request->RequestorMode;
    irp->Tail.Overlay.OriginalFileObject = request->Tail.Overlay.OriginalFileObject;
    irp->Tail.Overlay.Thread = request->Tail.Overlay.Thread;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, ShimCompleted, &done, TRUE, TRUE, TRUE);

    /* Straight to the class driver's entry, past this wrapper. */
    IoSetNextIrpStackLocation(irp);
    IoGetCurrentIrpStackLocation(irp)->DeviceObject = device;
    if (state->classDeviceControl(device, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
    information = irp->IoStatus.Information;
    irp->AssociatedIrp.SystemBuffer = NULL;
    irp->MdlAddress = NULL;
    IoFreeIrp(irp);
    if (status != STATUS_NOT_SUPPORTED)
        Complete(request, status, information);
    return status;
}

/* Writes down, once learned, whether the class driver has indexed strings:
 * the service key's value ClassDriverIndexedStrings, 1 or 0, which the
 * real-stack suite reads to say which Wine it ran on and whether that is
 * the Wine it expects. */
static void RecordClassStrings(HID_DRIVER_STATE* state, ULONG has)
{
    UNICODE_STRING keyName;
    UNICODE_STRING valueName;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    RtlInitUnicodeString(&keyName, state->serviceKey);
    RtlInitUnicodeString(&valueName, L"ClassDriverIndexedStrings");
    InitializeObjectAttributes(&attributes, &keyName, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (keyName.Length == 0 || !NT_SUCCESS(ZwOpenKey(&key, KEY_SET_VALUE, &attributes)))
        return;
    ZwSetValueKey(key, &valueName, 0, REG_DWORD, &has, sizeof(has));
    ZwClose(key);
}

static NTSTATUS NTAPI DeviceControl(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DRIVER_STATE* state = DriverState(device->DriverObject);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    DEVICE_OBJECT* fdo = NULL;
    int isFdo;
    int classStrings;
    KIRQL irql;
    NTSTATUS status;

    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_HID_GET_INDEXED_STRING)
        return state->classDeviceControl(device, irp);
    KeAcquireSpinLock(&state->lock, &irql);
    isFdo = device == state->fdo;
    classStrings = state->classStrings;
    KeReleaseSpinLock(&state->lock, irql);
    if (isFdo || classStrings == CLASS_HAS_STRINGS)
        return state->classDeviceControl(device, irp);

    if (classStrings == CLASS_STRINGS_UNKNOWN) {
        status = OfferToClassDriver(state, device, irp);
        /* Only an answer from the tablet, or a refusal as unsupported,
         * tells; a request that failed on its own asks again next time. */
        KeAcquireSpinLock(&state->lock, &irql);
        if (status == STATUS_NOT_SUPPORTED)
            state->classStrings = CLASS_LACKS_STRINGS;
        else if (NT_SUCCESS(status))
            state->classStrings = CLASS_HAS_STRINGS;
        classStrings = state->classStrings;
        KeReleaseSpinLock(&state->lock, irql);
        if (classStrings != CLASS_STRINGS_UNKNOWN)
            RecordClassStrings(state, classStrings == CLASS_HAS_STRINGS);
        if (status != STATUS_NOT_SUPPORTED)
            return status;
    }

    KeAcquireSpinLock(&state->lock, &irql);
    if (device == state->collection && state->fdo != NULL) {
        fdo = state->fdo;
        ObReferenceObject(fdo);
    }
    KeReleaseSpinLock(&state->lock, irql);
    /* No current tablet, or a handle of an earlier plug-in. */
    if (fdo == NULL)
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    status = PassIndexedStringDown(fdo, irp);
    ObDereferenceObject(fdo);
    return status;
}

static NTSTATUS NTAPI PlugAndPlay(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DRIVER_STATE* state = DriverState(device->DriverObject);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    KIRQL irql;
    KeAcquireSpinLock(&state->lock, &irql);
    if (minor == IRP_MN_START_DEVICE && state->fdo != NULL && device != state->fdo)
        state->collection = device;
    else if ((minor == IRP_MN_REMOVE_DEVICE || minor == IRP_MN_SURPRISE_REMOVAL) && device == state->collection)
        state->collection = NULL;
    KeReleaseSpinLock(&state->lock, irql);
    return state->classPnp(device, irp);
}

/* --- end of the shim ------------------------------------------------- */

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    HID_MINIDRIVER_REGISTRATION registration;
    HID_DRIVER_STATE* state;
    NTSTATUS status;

    state = DriverState(driver);
    RtlZeroMemory(state, sizeof(*state));
    state->classStrings = CLASS_STRINGS_UNKNOWN;
    if (registryPath != NULL && registryPath->Length < sizeof(state->serviceKey))
        RtlCopyMemory(state->serviceKey, registryPath->Buffer, registryPath->Length); /* stays terminated */
    RecordClassStrings(state, 2); /* not known yet */
    KeInitializeSpinLock(&state->lock);

    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_POWER] = Power;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;

    RtlZeroMemory(&registration, sizeof(registration));
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(TABLET_HID);
    registration.DevicesArePolled = FALSE;
    status = HidRegisterMinidriver(&registration);
    if (!NT_SUCCESS(status))
        return status;

    /* The class driver has put its own dispatch in place; wrap its user
     * request and plug and play entries for the shim above. */
    state->classDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    state->classPnp = driver->MajorFunction[IRP_MJ_PNP];
    driver->MajorFunction[IRP_MJ_PNP] = PlugAndPlay;
    return STATUS_SUCCESS;
}
