/*
 * ControlDevice.cpp - the control codes the tools send to \\.\<product>SymLnk1.
 *
 * Every request is validated before its buffer is touched: the lengths must match exactly (a
 * longer buffer is refused like a shorter one) and a request that needs the system buffer must
 * have one. Every request is completed here, at once, and never passed on. Settings, calibration,
 * raw sample and right-click flag are driver-wide; the port codes act on this control device's
 * own mouse device.
 */
#include "TapDriver.h"

/* IOCTL_TOUCH_OPEN_PORT: opens COM<Number> and starts a fresh reader on it, unless a port is
 * already open, which then stays as it is. PASSIVE_LEVEL; takes PortLock. */
static NTSTATUS OpenPortRequest(PControlDeviceExtension Control, ULONG Number)
{
    PMouseDeviceExtension extension;
    NTSTATUS status;

    PAGED_CODE();
    AcquirePortLock();
    extension = Control->MouseExtension;
    if (extension == NULL) {
        status = STATUS_DELETE_PENDING;
        goto Done;
    }
    status = OpenPortNumber(extension, Number - 1);
    if (status == TAP_STATUS_ALREADY_OPEN) {
        status = STATUS_SUCCESS;
        goto Done;
    }
    if (!NT_SUCCESS(status)) {
        goto Done;
    }
    /* A read IRP from an earlier port has no read outstanding; the new one fits this port. */
    if (extension->ReadIrp != NULL) {
        IoFreeIrp(extension->ReadIrp);
        extension->ReadIrp = NULL;
    }
    extension->ReadIrp = IoAllocateIrp(extension->PortDevice->StackSize, FALSE);
    if (extension->ReadIrp == NULL) {
        status = STATUS_INSUFFICIENT_RESOURCES;
        goto Done;
    }
    status = NT_SUCCESS(RunReader(extension)) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;

Done:
    ReleasePortLock();
    return status;
}

/* IOCTL_TOUCH_CLOSE_PORT: returns when the reader has stopped and the port is released.
 * PASSIVE_LEVEL; takes PortLock. */
static NTSTATUS ClosePortRequest(PControlDeviceExtension Control)
{
    PAGED_CODE();
    AcquirePortLock();
    if (Control->MouseExtension != NULL) {
        ClosePort(Control->MouseExtension);
    }
    ReleasePortLock();
    return STATUS_SUCCESS;
}

/* IOCTL_TOUCH_SET_SETTINGS: every field but the last (Enable) is put in force. A changed Port is
 * used at the next COM-port arrival. */
static VOID SetSettings(const ULONG *Fields)
{
    ULONG i;

    for (i = 0; i + 1 < TAP_SETTINGS_FIELD_COUNT; i++) {
        TapStore(((PULONG)&Globals.Settings)[i], Fields[i]);
    }
}

NTSTATUS DispatchControlRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PControlDeviceExtension control = (PControlDeviceExtension)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID buffer = Irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR information = 0;
    NTSTATUS status;
    CalibrationData calibration;
    PointerSettings settings;
    TOUCH_BEEP_REQUEST beep;
    RawSample sample;
    ULONG value;

    PAGED_CODE();
    Irp->IoStatus.Information = 0;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TOUCH_CLOSE_PORT:
        status = ClosePortRequest(control);
        break;

    case IOCTL_TOUCH_OPEN_PORT:
        if (inputLength != sizeof(ULONG) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&value, buffer, sizeof(value));
        if (value < 1 || value > TAP_MAX_PORT_NUMBER) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        status = OpenPortRequest(control, value);
        break;

    case IOCTL_TOUCH_SET_CALIBRATION:
        if (inputLength != sizeof(CalibrationData) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&calibration, buffer, sizeof(calibration));
        StoreCalibration(&calibration);
        status = STATUS_SUCCESS;
        break;

    case IOCTL_TOUCH_GET_RAW_SAMPLE:
        if (outputLength != sizeof(RawSample) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        sample.RawX = TapLoad(Globals.LastRawSample.RawX);
        sample.RawY = TapLoad(Globals.LastRawSample.RawY);
        sample.RawZ = TapLoad(Globals.LastRawSample.RawZ);
        RtlCopyMemory(buffer, &sample, sizeof(sample));
        information = sizeof(RawSample);
        status = STATUS_SUCCESS;
        break;

    case IOCTL_TOUCH_SET_SETTINGS:
        if (inputLength != sizeof(PointerSettings) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&settings, buffer, sizeof(settings));
        SetSettings((const ULONG *)&settings);
        status = STATUS_SUCCESS;
        break;

    case IOCTL_TOUCH_BEEP:
        if (inputLength != sizeof(TOUCH_BEEP_REQUEST) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&beep, buffer, sizeof(beep));
        /* Success whatever the beep's own result: no sound is not an error of the request. */
        SendBeep(control, beep.Frequency, beep.Duration);
        status = STATUS_SUCCESS;
        break;

    case IOCTL_TOUCH_SET_RIGHT_CLICK:
        TapStore(Globals.RightClickArmed, TRUE);
        status = STATUS_SUCCESS;
        break;

    case IOCTL_TOUCH_GET_RIGHT_CLICK:
        if (outputLength != sizeof(ULONG) || buffer == NULL) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        value = TapLoad(Globals.RightClickArmed) ? 1 : 0;
        RtlCopyMemory(buffer, &value, sizeof(value));
        information = sizeof(ULONG);
        status = STATUS_SUCCESS;
        break;

    default:
        /* The product's own codes, and STATUS_INVALID_DEVICE_REQUEST for unknown ones. */
        status = TapProductControlRequest(control, Irp, stack, &information);
        break;
    }
    return CompleteRequest(Irp, status, information);
}
