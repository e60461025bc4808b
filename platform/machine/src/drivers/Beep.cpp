// The beep driver of the simulated PC: \Device\Beep, a legacy driver with one device made at
// load and deleted at unload. IOCTL_BEEP_SET (BEEP_SET_PARAMETERS: frequency in hertz, duration
// in milliseconds) is answered at once; the machine records each request and its answer instead
// of sounding the loudspeaker.
#include "drivers/SystemDrivers.h"

#include <ntddbeep.h>

namespace {

DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchDeviceControl;
DRIVER_DISPATCH DispatchOther;
DRIVER_UNLOAD Unload;

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
}

// PASSIVE_LEVEL. A frequency outside the loudspeaker's range is refused unless the request is
// the all-zero "stop" request.
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_BEEP_SET) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(BEEP_SET_PARAMETERS) ||
        irp->AssociatedIrp.SystemBuffer == NULL) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }
    const BEEP_SET_PARAMETERS *beep = static_cast<const BEEP_SET_PARAMETERS *>(irp->AssociatedIrp.SystemBuffer);
    bool stop = beep->Frequency == 0 && beep->Duration == 0;
    bool audible = beep->Frequency >= BEEP_FREQUENCY_MINIMUM && beep->Frequency <= BEEP_FREQUENCY_MAXIMUM;
    NTSTATUS status = (stop || audible) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    tapmachine::SystemDriverHost &host = tapmachine::DriverHost();
    host.RecordBeep({beep->Frequency, beep->Duration, status, host.Now()});
    return CompleteRequest(irp, status);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
    if (driver->DeviceObject != NULL) {
        IoDeleteDevice(driver->DeviceObject);
    }
}

}  // namespace

extern "C" NTSTATUS NTAPI BeepDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = DispatchOther;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = Unload;

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, DD_BEEP_DEVICE_NAME_U);
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_BEEP, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
