/*
 * Pnp.cpp - Plug and Play requests at the mouse device, and the teardown of a device pair.
 *
 * The driver owns no hardware: starting touches nothing, stopping ends the reader for good, a
 * surprise removal cancels the outstanding read and the removal gives the COM port back, ends the
 * beep thread and deletes both devices.
 */
#include "TapDriver.h"

/* Takes a mouse device off the live list, so that an arrival notification that is still on its
 * way finds nothing to act on. PASSIVE_LEVEL, PortLock held. */
static VOID UnlinkLiveDevice(PMouseDeviceExtension Extension)
{
    PMouseDeviceExtension *link;

    ASSERT(TAP_PORT_LOCK_HELD());
    for (link = &Globals.LiveDevices; *link != NULL; link = &(*link)->NextLive) {
        if (*link == Extension) {
            *link = Extension->NextLive;
            Extension->NextLive = NULL;
            return;
        }
    }
}

VOID ReleasePairPort(PMouseDeviceExtension Extension)
{
    PControlDeviceExtension control = (PControlDeviceExtension)Extension->ControlDevice->DeviceExtension;

    PAGED_CODE();
    /* Unregistered without PortLock held: a notification in progress may be waiting for it. */
    if (Extension->InterfaceNotification != NULL) {
        IoUnregisterPlugPlayNotification(Extension->InterfaceNotification);
        Extension->InterfaceNotification = NULL;
    }

    AcquirePortLock();
    /* From here on neither an arrival nor a port control code reaches this pair. */
    UnlinkLiveDevice(Extension);
    control->MouseExtension = NULL;

    if (Extension->Reading) {
        StopReader(Extension, TAP_STOP_FOR_REMOVAL);
    }
    /* A port held without a running reader (after a stop, a failed start or a reader that ended
     * by itself) is given back as well: nobody else could ever open it again otherwise. */
    if (Extension->PortDevice != NULL) {
        RestorePortSettings(Extension);
        ReleasePort(Extension);
    }
    ReleasePortLock();
}

VOID ReleasePairResources(PMouseDeviceExtension Extension)
{
    PControlDeviceExtension control = (PControlDeviceExtension)Extension->ControlDevice->DeviceExtension;

    PAGED_CODE();
    /* The stop has been acknowledged: no read is outstanding on ReadIrp. */
    if (Extension->ReadIrp != NULL) {
        IoFreeIrp(Extension->ReadIrp);
        Extension->ReadIrp = NULL;
    }
    /* The beep thread may be inside SendBeep: end it before its beep device goes. */
    StopBeepThread(Extension);
    CloseBeepDevice(control);
}

/* IRP_MN_REMOVE_DEVICE, with the remove lock held for Irp. PASSIVE_LEVEL. Waits until every other
 * request at the mouse device has left it; the IRP is passed on; the devices are gone on
 * return. */
static NTSTATUS RemoveDevice(PMouseDeviceExtension Extension, PIRP Irp)
{
    PDEVICE_OBJECT controlDevice = Extension->ControlDevice;
    PDEVICE_OBJECT lowerDevice = Extension->LowerDevice;
    UNICODE_STRING linkName;

    PAGED_CODE();
    ReleasePairPort(Extension);
    /* From here on every new request is refused with STATUS_DELETE_PENDING; those already in the
     * device (passed on, or with the mouse class) are waited for. */
    IoReleaseRemoveLockAndWait(&Extension->RemoveLock, Irp);

    Irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(Irp);
    IoCallDriver(lowerDevice, Irp);

    ReleasePairResources(Extension);
    if (controlDevice != NULL) {
        RtlInitUnicodeString(&linkName, TAP_PRODUCT_LINK_NAME_W);
        IoDeleteSymbolicLink(&linkName);
        IoDeleteDevice(controlDevice);
        Extension->ControlDevice = NULL;
    }
    IoDetachDevice(lowerDevice);
    IoDeleteDevice(Extension->Self);
    return STATUS_SUCCESS;
}

/* IRP_MN_SURPRISE_REMOVAL: the outstanding read is cancelled without waiting for it; the removal
 * that follows completes the stop. PASSIVE_LEVEL; PortLock keeps ReadIrp from being freed under
 * the cancel. */
static VOID CancelReadForSurpriseRemoval(PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    AcquirePortLock();
    if (Extension->Reading && Extension->ReadIrp != NULL) {
        IoCancelIrp(Extension->ReadIrp);
    }
    ReleasePortLock();
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    NTSTATUS status;

    PAGED_CODE();
    if (!EnterMouseDevice(DeviceObject, Irp, &status)) {
        return status;
    }

    Irp->IoStatus.Information = 0;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        /* Nothing to start: the COM port is opened on its arrival. */
        status = CompleteRequest(Irp, STATUS_SUCCESS, 0);
        IoReleaseRemoveLock(&extension->RemoveLock, Irp);
        return status;
    case IRP_MN_STOP_DEVICE:
        AcquirePortLock();
        StopReader(extension, TAP_STOP_FOR_GOOD);
        ReleasePortLock();
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        CancelReadForSurpriseRemoval(extension);
        break;
    case IRP_MN_REMOVE_DEVICE:
        return RemoveDevice(extension, Irp);
    default:
        break;
    }
    return PassOnLocked(extension, Irp);
}
