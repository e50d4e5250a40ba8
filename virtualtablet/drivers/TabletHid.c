/* The virtual tablet's HID minidriver: loads on the bus's child, registers
 * with the HID class driver, and hands every HID request down to the child,
 * where the bus's tablet answers it. It keeps no state of the tablet.
 *
 * It also carries one shim that is not part of the tablet, marked below:
 * Wine 8.0's class driver does not implement HidD_GetIndexedString. */

#include <ntddk.h>

#include "HidPort.h"


/* The minidriver's part of each device extension: nothing of its own. */
typedef struct TABLET_HID {
    ULONG unused;
} TABLET_HID;

/* The driver's one piece of state: the class driver's own dispatch for user
 * requests, and the tablet's function device, for the shim. It is static,
 * not a driver object extension, because Wine 8.0's
 * IoAllocateDriverObjectExtension is a stub that fails (seen in a run:
 * "fixme:ntoskrnl:IoAllocateDriverObjectExtension stub", and the driver
 * then fails to load). One driver object, one state. */
typedef struct HID_DRIVER_STATE {
    PDRIVER_DISPATCH classDeviceControl;
    KSPIN_LOCK lock;
    DEVICE_OBJECT* fdo;
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
        if (state->fdo == device)
            state->fdo = NULL;
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
 * Wine 8.0's hidclass.sys fails HidD_GetIndexedString (IOCTL 0xb01e2) on
 * its own, with "fixme:hid:pdo_ioctl Unsupported ioctl", before any
 * minidriver sees it. Windows' class driver passes the request down to the
 * minidriver as IOCTL_HID_GET_INDEXED_STRING, the string index in the low
 * word of the request's input value, the caller's buffer as the MDL. The
 * class driver creates the collection's device with this driver's own
 * driver object, so user requests to that device come through this
 * driver's dispatch table; after registering, the class driver's entry
 * there is wrapped, and this one request is passed down as Windows would
 * pass it. Every other request goes to the class driver unchanged.
 * On Windows this code never runs: the class driver answers the request
 * before it would reach here.
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

static NTSTATUS NTAPI DeviceControl(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DRIVER_STATE* state = DriverState(device->DriverObject);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_HID_GET_INDEXED_STRING && device != state->fdo) {
        DEVICE_OBJECT* fdo;
        KIRQL irql;
        KeAcquireSpinLock(&state->lock, &irql);
        fdo = state->fdo;
        if (fdo != NULL)
            ObReferenceObject(fdo);
        KeReleaseSpinLock(&state->lock, irql);
        if (fdo == NULL)
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        {
            const NTSTATUS status = PassIndexedStringDown(fdo, irp);
            ObDereferenceObject(fdo);
            return status;
        }
    }
    return state->classDeviceControl(device, irp);
}

/* --- end of the shim ------------------------------------------------- */

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    HID_MINIDRIVER_REGISTRATION registration;
    HID_DRIVER_STATE* state;
    NTSTATUS status;

    state = DriverState(driver);
    RtlZeroMemory(state, sizeof(*state));
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
     * request entry for the shim above. */
    state->classDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    return STATUS_SUCCESS;
}
