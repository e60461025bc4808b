// The root bus driver. It owns the PDOs and, as the bottom of every stack, completes what the
// drivers above pass down: the PnP state changes succeed, queries it does not answer keep the
// status they came with, power requests succeed.
#include "pnp/RootBus.h"
#include "drivers/SystemDrivers.h"

namespace tapmachine {

DeviceNode *NodeOfPhysicalDevice(PDEVICE_OBJECT device, PDRIVER_OBJECT rootBus)
{
    if (device == NULL || device->DriverObject != rootBus || device->DeviceExtension == NULL) {
        return nullptr;
    }
    PPDO_EXTENSION extension = static_cast<PPDO_EXTENSION>(device->DeviceExtension);
    return extension->Signature == kPdoSignature ? extension->Node : nullptr;
}

}  // namespace tapmachine

namespace {

DRIVER_DISPATCH DispatchPnp;
DRIVER_DISPATCH DispatchPower;
DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchOther;
DRIVER_UNLOAD Unload;

// PASSIVE_LEVEL. The PDO completes every PnP request it receives.
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT, PIRP irp)
{
    NTSTATUS status = irp->IoStatus.Status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        status = STATUS_SUCCESS;
        break;
    default:
        break;  // not answered: keep what the drivers above put in
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
}

// At shutdown, after every PDO has gone.
VOID NTAPI Unload(PDRIVER_OBJECT)
{
}

}  // namespace

extern "C" NTSTATUS NTAPI RootBusDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = DispatchOther;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
