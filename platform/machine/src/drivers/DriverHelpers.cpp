// Request helpers of the built-in drivers.
#include "drivers/SystemDrivers.h"

namespace {

IO_COMPLETION_ROUTINE SignalWhenDone;

// Any IRQL up to DISPATCH_LEVEL. Hands the IRP back to the waiting sender.
NTSTATUS NTAPI SignalWhenDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS ForwardAndWait(PDEVICE_OBJECT lowerDevice, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalWhenDone, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(lowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS SendControlAndWait(PDEVICE_OBJECT device, ULONG code, BOOLEAN internal, PVOID input,
                            ULONG inputLength, PVOID output, ULONG outputLength,
                            ULONG_PTR *information)
{
    KEVENT done;
    IO_STATUS_BLOCK ioStatus;
    ioStatus.Status = STATUS_SUCCESS;
    ioStatus.Information = 0;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputLength, output, outputLength,
                                             internal, &done, &ioStatus);
    if (irp == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = IoCallDriver(device, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = ioStatus.Status;
    }
    if (information != NULL) {
        *information = ioStatus.Information;
    }
    return status;
}

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
