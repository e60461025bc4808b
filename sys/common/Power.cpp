/*
 * Power.cpp - power requests. The driver owns no hardware and takes no power action of its own:
 * every power request at the mouse device goes on to the device below.
 */
#include "TapDriver.h"

/* PASSIVE_LEVEL (the mouse device is power-pageable). The remove lock is held until the request
 * comes back from below; the IRP belongs to the lower driver once passed on. At the control device,
 * which is in no stack and expects none, it is completed. */
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)DeviceObject->DeviceExtension;
    NTSTATUS status;

    PAGED_CODE();
    if (!EnterMouseDevice(DeviceObject, Irp, &status)) {
        return status;
    }
    PoStartNextPowerIrp(Irp);
    return PassOnLocked(extension, Irp);
}
