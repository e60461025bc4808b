/*
 * Driver.cpp - driver entry, the device pair of each touchscreen node, the dispatch table and the
 * mouse class driver's internal requests.
 *
 * For each device node the driver creates two devices: the mouse device, unnamed and attached on
 * top of the physical device object, which the mouse class driver connects to; and the control
 * device, named and linked, in no stack, which the tools open. Both extensions begin with Self and
 * IsMouseDevice, so every dispatch routine tells them apart by the same byte.
 */
#include "TapDriver.h"

static_assert(FIELD_OFFSET(MouseDeviceExtension, Self) == FIELD_OFFSET(ControlDeviceExtension, Self),
              "Self at the same place in both extensions");
static_assert(FIELD_OFFSET(MouseDeviceExtension, IsMouseDevice) ==
                  FIELD_OFFSET(ControlDeviceExtension, IsMouseDevice),
              "IsMouseDevice at the same place in both extensions");

static BOOLEAN IsMouseDevice(PDEVICE_OBJECT DeviceObject)
{
    return ((PMouseDeviceExtension)DeviceObject->DeviceExtension)->IsMouseDevice;
}

NTSTATUS CompleteRequest(PIRP Irp, NTSTATUS Status, ULONG_PTR Information)
{
    Irp->IoStatus.Status = Status;
    Irp->IoStatus.Information = Information;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return Status;
}

/* The port lock is a kernel mutex: while it is held normal kernel APCs stay off, so its holder
 * cannot be suspended with it. */
VOID AcquirePortLock(VOID)
{
    PAGED_CODE();
    KeWaitForSingleObject(&Globals.PortLock, Executive, KernelMode, FALSE, NULL);
}

VOID ReleasePortLock(VOID)
{
    PAGED_CODE();
    KeReleaseMutex(&Globals.PortLock, FALSE);
}

/* PASSIVE_LEVEL. Keeps a copy of the service key path for ReadParameters and fills the dispatch
 * table. Creates no device and reads no parameter: both happen per node in AddDevice. */
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    ULONG i;
    PWSTR buffer;

    PAGED_CODE();

    buffer = (PWSTR)ExAllocatePoolWithTag(NonPagedPool, RegistryPath->Length + sizeof(WCHAR), TAP_POOL_TAG);
    if (buffer == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(buffer, RegistryPath->Length + sizeof(WCHAR));
    RtlCopyMemory(buffer, RegistryPath->Buffer, RegistryPath->Length);
    buffer[RegistryPath->Length / sizeof(WCHAR)] = L'\0';
    Globals.ServiceRegistryPath.Buffer = buffer;
    Globals.ServiceRegistryPath.Length = RegistryPath->Length;
    Globals.ServiceRegistryPath.MaximumLength = (USHORT)(RegistryPath->Length + sizeof(WCHAR));

    KeInitializeMutex(&Globals.PortLock, 0);
    Globals.LiveDevices = NULL;
    TapProductDriverEntry();

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++) {
        DriverObject->MajorFunction[i] = DispatchPassOn;
    }
    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    DriverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
    DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    DriverObject->DriverUnload = Unload;
    DriverObject->DriverExtension->AddDevice = AddDevice;
    return STATUS_SUCCESS;
}

/* Gives a new mouse device its pair number and puts it on the list the arrival handler looks
 * that number up in. PASSIVE_LEVEL, PortLock held. */
static VOID LinkLiveDevice(PMouseDeviceExtension Extension)
{
    ASSERT(TAP_PORT_LOCK_HELD());
    Extension->PairNumber = ++Globals.LastPairNumber;
    Extension->NextLive = Globals.LiveDevices;
    Globals.LiveDevices = Extension;
}

/* PASSIVE_LEVEL. Creates the device pair of one touchscreen node, loads the parameters, starts the
 * beep thread and registers for COM-port arrivals. Both devices lose DO_DEVICE_INITIALIZING as the
 * very last step: until then the I/O manager refuses to open the control device, so no control
 * code can meet a half-built pair. On failure nothing of the pair is left. */
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject)
{
    NTSTATUS status;
    PDEVICE_OBJECT mouseDevice = NULL;
    PDEVICE_OBJECT controlDevice = NULL;
    PMouseDeviceExtension extension;
    PControlDeviceExtension control;
    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    BOOLEAN linked;

    PAGED_CODE();

    status = IoCreateDevice(DriverObject, sizeof(MouseDeviceExtension), NULL, FILE_DEVICE_MOUSE, 0, FALSE,
                            &mouseDevice);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    RtlInitUnicodeString(&deviceName, TAP_PRODUCT_DEVICE_NAME_W);
    status = IoCreateDevice(DriverObject, sizeof(ControlDeviceExtension), &deviceName, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, &controlDevice);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(mouseDevice);
        return status;
    }

    /* The link's result does not change the outcome; it is only deleted again if it exists. */
    RtlInitUnicodeString(&linkName, TAP_PRODUCT_LINK_NAME_W);
    linked = NT_SUCCESS(IoCreateSymbolicLink(&linkName, &deviceName));

    extension = (PMouseDeviceExtension)mouseDevice->DeviceExtension;
    control = (PControlDeviceExtension)controlDevice->DeviceExtension;
    RtlZeroMemory(extension, sizeof(*extension));
    RtlZeroMemory(control, sizeof(*control));

    extension->Self = mouseDevice;
    extension->IsMouseDevice = TRUE;
    IoInitializeRemoveLock(&extension->RemoveLock, TAP_POOL_TAG, 0, 0);
    extension->LowerDevice = IoAttachDeviceToDeviceStack(mouseDevice, PhysicalDeviceObject);
    extension->AttributesQueried = FALSE;
    extension->Reading = FALSE;
    extension->PortDevice = NULL;
    extension->ReadIrp = NULL;
    extension->ControlDevice = controlDevice;
    if (extension->LowerDevice == NULL) {
        /* Nothing to pass requests on to: the node cannot be served. */
        status = STATUS_NO_SUCH_DEVICE;
        goto DeleteDevices;
    }
    mouseDevice->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;

    control->IsMouseDevice = FALSE;
    control->Self = controlDevice;
    control->BeepDevice = NULL;
    control->BeepThreadStop = FALSE;
    KeInitializeMutex(&control->BeepLock, 0);
    control->BeepClosed = FALSE;
    control->MouseExtension = extension;
    controlDevice->Flags |= DO_BUFFERED_IO;

    extension->Attributes.MouseIdentifier = MOUSE_SERIAL_HARDWARE;
    extension->Attributes.NumberOfButtons = TAP_PRODUCT_NUMBER_OF_BUTTONS;
    extension->Attributes.SampleRate = 1200;
    extension->Attributes.InputDataQueueLength = 100;

    KeInitializeSpinLock(&extension->ReadLock);
    KeInitializeEvent(&extension->ReadDoneEvent, SynchronizationEvent, FALSE);
    extension->ReadState = TAP_READ_PASSED;
    TapProductInitialize(extension);

    /* Parameters are driver-wide: this reloads them for every pair. A failure leaves defaults. */
    ReadParameters();

    /* Without a beep thread the driver works silently. */
    StartBeepThread(extension);

    /* Ports already present may be reported from inside the registration, so the arrival handler
     * must find this device on the live list before it, and PortLock must be free. */
    AcquirePortLock();
    LinkLiveDevice(extension);
    ReleasePortLock();

    status = RegisterPortArrivals(DriverObject, extension);
    if (NT_SUCCESS(status)) {
        mouseDevice->Flags &= ~DO_DEVICE_INITIALIZING;
        controlDevice->Flags &= ~DO_DEVICE_INITIALIZING;
        return status;
    }

    /* The PnP manager will send no removal for a node whose AddDevice failed: undo everything,
     * including a reader that an arrival reported during the registration may have started. */
    extension->InterfaceNotification = NULL;
    ReleasePairPort(extension);
    ReleasePairResources(extension);
    IoDetachDevice(extension->LowerDevice);

DeleteDevices:
    if (linked) {
        IoDeleteSymbolicLink(&linkName);
    }
    IoDeleteDevice(controlDevice);
    IoDeleteDevice(mouseDevice);
    return status;
}

/* PASSIVE_LEVEL. Devices are deleted by IRP_MN_REMOVE_DEVICE, not here. */
VOID NTAPI Unload(PDRIVER_OBJECT DriverObject)
{
    UNREFERENCED_PARAMETER(DriverObject);
    PAGED_CODE();

    if (Globals.ServiceRegistryPath.Buffer != NULL) {
        ExFreePoolWithTag(Globals.ServiceRegistryPath.Buffer, TAP_POOL_TAG);
        Globals.ServiceRegistryPath.Buffer = NULL;
    }
}

BOOLEAN EnterMouseDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS *Status)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    BOOLEAN power = IoGetCurrentIrpStackLocation(Irp)->MajorFunction == IRP_MJ_POWER;

    if (!extension->IsMouseDevice) {
        *Status = STATUS_SUCCESS;
    } else if (NT_SUCCESS(IoAcquireRemoveLock(&extension->RemoveLock, Irp))) {
        return TRUE;
    } else {
        *Status = STATUS_DELETE_PENDING;
    }
    if (power) {
        PoStartNextPowerIrp(Irp);
    }
    CompleteRequest(Irp, *Status, 0);
    return FALSE;
}

/* Completion routine of a request passed on: the request is done with the mouse device, so its
 * remove lock goes. IRQL <= DISPATCH_LEVEL. The IRP continues up to its sender. */
static NTSTATUS NTAPI ReleaseOnCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)Context;

    UNREFERENCED_PARAMETER(DeviceObject);
    if (Irp->PendingReturned) {
        IoMarkIrpPending(Irp);
    }
    IoReleaseRemoveLock(&extension->RemoveLock, Irp);
    return STATUS_CONTINUE_COMPLETION;
}

NTSTATUS PassOnLocked(PMouseDeviceExtension Extension, PIRP Irp)
{
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, ReleaseOnCompletion, Extension, TRUE, TRUE, TRUE);
    if (IoGetCurrentIrpStackLocation(Irp)->MajorFunction == IRP_MJ_POWER) {
        return PoCallDriver(Extension->LowerDevice, Irp);
    }
    return IoCallDriver(Extension->LowerDevice, Irp);
}

/* Any IRQL <= DISPATCH_LEVEL: whatever a driver above sends goes down as it came. */
NTSTATUS NTAPI DispatchPassOn(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    NTSTATUS status;

    if (!EnterMouseDevice(DeviceObject, Irp, &status)) {
        return status;
    }
    return PassOnLocked(extension, Irp);
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    NTSTATUS status;

    PAGED_CODE();
    if (!EnterMouseDevice(DeviceObject, Irp, &status)) {
        return status;
    }
    status = CompleteRequest(Irp, STATUS_SUCCESS, 0);
    IoReleaseRemoveLock(&extension->RemoveLock, Irp);
    return status;
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PAGED_CODE();
    if (IsMouseDevice(DeviceObject)) {
        /* Never a control code: whatever reaches the mouse device belongs to the stack below. */
        return DispatchPassOn(DeviceObject, Irp);
    }
    return DispatchControlRequest(DeviceObject, Irp);
}

/* IOCTL_INTERNAL_MOUSE_CONNECT: the class driver hands over its device and service callback, once.
 * The device is stored before the callback is published, so the read path that finds the callback
 * set also finds the device. */
static NTSTATUS ConnectClass(PMouseDeviceExtension Extension, PIO_STACK_LOCATION Stack)
{
    PCONNECT_DATA connectData;

    if (InterlockedCompareExchangePointer(&Extension->ClassService, NULL, NULL) != NULL) {
        return STATUS_SHARING_VIOLATION;
    }
    connectData = (PCONNECT_DATA)Stack->Parameters.DeviceIoControl.Type3InputBuffer;
    if (Stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(CONNECT_DATA) || connectData == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    Extension->ClassDevice = connectData->ClassDeviceObject;
    InterlockedExchangePointer(&Extension->ClassService, connectData->ClassService);
    return STATUS_SUCCESS;
}

/* IOCTL_MOUSE_QUERY_ATTRIBUTES: copies the attributes; from now on packets are reported. */
static NTSTATUS QueryAttributes(PMouseDeviceExtension Extension, PIRP Irp, PIO_STACK_LOCATION Stack,
                                PULONG_PTR Information)
{
    if (Stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(MOUSE_ATTRIBUTES) ||
        Irp->AssociatedIrp.SystemBuffer == NULL) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(Irp->AssociatedIrp.SystemBuffer, &Extension->Attributes, sizeof(MOUSE_ATTRIBUTES));
    *Information = sizeof(MOUSE_ATTRIBUTES);
    TapStore(Extension->AttributesQueried, TRUE);
    return STATUS_SUCCESS;
}

/* PASSIVE_LEVEL. The mouse class's requests are all completed here, none is passed on. */
NTSTATUS NTAPI DispatchInternalDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ULONG_PTR information = 0;
    NTSTATUS status;

    PAGED_CODE();
    if (!EnterMouseDevice(DeviceObject, Irp, &status)) {
        return status;
    }

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_MOUSE_QUERY_ATTRIBUTES:
        status = QueryAttributes(extension, Irp, stack, &information);
        break;
    case IOCTL_INTERNAL_MOUSE_CONNECT:
        status = ConnectClass(extension, stack);
        break;
    case IOCTL_INTERNAL_MOUSE_DISCONNECT:
        /* The connection stays for the life of the pair. */
        status = STATUS_NOT_IMPLEMENTED;
        break;
    case IOCTL_INTERNAL_MOUSE_ENABLE:
    case IOCTL_INTERNAL_MOUSE_DISABLE:
        status = STATUS_SUCCESS;
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    CompleteRequest(Irp, status, information);
    IoReleaseRemoveLock(&extension->RemoveLock, Irp);
    return status;
}
