/*
 * MonotapDevice.cpp - the single-touch product's device hooks into the driver framework: the port's
 * line speed, the arrival outcomes and the product's own control codes.
 */
#include "TapDriver.h"

ULONG TapProductBaudRate(VOID)
{
    return TAP_PRODUCT_BAUD_RATE;
}

VOID TapProductPortOpenFailed(PMouseDeviceExtension Extension)
{
    /* The next arrival simply tries again. */
    UNREFERENCED_PARAMETER(Extension);
}

VOID TapProductReaderStarting(PMouseDeviceExtension Extension)
{
    UNREFERENCED_PARAMETER(Extension);
}

/* The single-touch product has no data mode: IOCTL_TOUCH_START_DATA_MODE answers 0 in a 4-byte
 * buffer. Every other code is unknown. */
NTSTATUS TapProductControlRequest(PControlDeviceExtension Control, PIRP Irp, PIO_STACK_LOCATION Stack,
                               PULONG_PTR Information)
{
    ULONG none = 0;

    PAGED_CODE();
    UNREFERENCED_PARAMETER(Control);

    if (Stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_TOUCH_START_DATA_MODE) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (Stack->Parameters.DeviceIoControl.OutputBufferLength != sizeof(ULONG) ||
        Irp->AssociatedIrp.SystemBuffer == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    RtlCopyMemory(Irp->AssociatedIrp.SystemBuffer, &none, sizeof(none));
    *Information = sizeof(ULONG);
    return STATUS_SUCCESS;
}
