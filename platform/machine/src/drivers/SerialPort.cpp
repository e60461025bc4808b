// The serial port driver of the simulated PC: one function device per COM port, on the physical
// device the root bus made for the port's UART.
//
//   \Device\Serial<n-1>   exclusive: one open at a time; a second open is refused
//   \DosDevices\COM<n>    created at start, deleted at removal
//   GUID_DEVINTERFACE_COMPORT interface, enabled at start, disabled at removal (the PnP
//                         manager's interface list is reached through the machine)
//   HKLM\HARDWARE\DEVICEMAP\SERIALCOMM  \Device\Serial<n-1> = COM<n>
//
// Reads are served from the UART's receive buffer. A read that finds its bytes waiting completes
// inside the call; otherwise it is queued (cancelable) and completed later at DISPATCH_LEVEL by
// the deferred half of the UART's interrupt, when it says characters came in. That half runs as a
// DPC runs on the processor that took the interrupt: on the thread that delivered the characters
// (the one moving the machine's clock, or a feeder handing bytes over at once), inside that
// delivery, with no hand-off to another thread. Time-outs follow
// the SERIAL_TIMEOUTS in force when the read arrives:
//   all zero                           wait until the whole length has arrived
//   interval MAXULONG, totals zero     return at once with what is there (maybe nothing)
//   interval and multiplier MAXULONG   return as soon as one byte is there, or at the constant
//   otherwise                          the whole length, or what came by multiplier*length+constant
//                                      (STATUS_TIMEOUT); interval time-outs are not modelled
// At IRP_MJ_CLEANUP (the open's last handle closed, while requests on it may still be pending)
// every queued read completes with STATUS_CANCELLED: the port admits one open at a time, so they
// are all that file object's, a kernel client's reads that name no file object included.
// After a surprise removal every queued read completes with STATUS_DELETE_PENDING and every new
// request but close and cleanup is refused with it.
//
// Every request is recorded on the port, with the status it was answered with, for tests.
#include "drivers/SystemDrivers.h"
#include "serial/ComPortModel.h"

#include <ntddser.h>

#include <tapkernel/Kernel.h>

#include <cstring>

using tapmachine::ComPortModel;
using tapmachine::SerialRequest;

namespace {

constexpr ULONG kMaxUlong = 0xFFFFFFFF;

typedef struct _SERIAL_DEVICE_EXTENSION {
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT LowerDevice;
    PDEVICE_OBJECT PhysicalDevice;
    ComPortModel *Port;  // the UART behind this device
    ULONG ComNumber;
    WCHAR DeviceNameBuffer[32];
    UNICODE_STRING DeviceName;
    WCHAR LinkNameBuffer[32];
    UNICODE_STRING LinkName;
    WCHAR PortNameBuffer[16];
    UNICODE_STRING PortName;  // COM<n>
    KSPIN_LOCK Lock;  // guards ReadQueue, OpenCount, Removed
    LIST_ENTRY ReadQueue;
    LONG OpenCount;
    BOOLEAN Removed;  // surprise-removed or removed: refuse everything new
    BOOLEAN Started;
    BOOLEAN LinkCreated;
    LONG DpcRequests;  // interrupts not yet served: nonzero while the deferred half runs
    tapkernel::DriverModule *Module;  // this driver, whose code the deferred half runs as
    BOOLEAN InterruptConnected;
} SERIAL_DEVICE_EXTENSION, *PSERIAL_DEVICE_EXTENSION;

// How a queued read ends, kept in the IRP while it waits.
enum ReadMode : ULONG_PTR { ReadWholeLength = 0, ReadAnyByte = 1 };

PSERIAL_DEVICE_EXTENSION ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<PSERIAL_DEVICE_EXTENSION>(device->DeviceExtension);
}

// ---- Request record -----------------------------------------------------------------------------

SerialRequest::Kind KindOf(UCHAR major)
{
    switch (major) {
    case IRP_MJ_CREATE: return SerialRequest::Kind::Create;
    case IRP_MJ_CLOSE: return SerialRequest::Kind::Close;
    case IRP_MJ_CLEANUP: return SerialRequest::Kind::Cleanup;
    case IRP_MJ_READ: return SerialRequest::Kind::Read;
    case IRP_MJ_DEVICE_CONTROL: return SerialRequest::Kind::DeviceControl;
    case IRP_MJ_INTERNAL_DEVICE_CONTROL: return SerialRequest::Kind::InternalDeviceControl;
    default: return SerialRequest::Kind::Other;
    }
}

// Notes the request as it arrived (input bytes are taken before the answer overwrites the
// shared system buffer) and the status it was answered with.
class RequestNote {
public:
    RequestNote(PSERIAL_DEVICE_EXTENSION extension, PIRP irp) : port_(extension->Port)
    {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        request_.kind = KindOf(stack->MajorFunction);
        request_.code = stack->MajorFunction;
        if (request_.kind == SerialRequest::Kind::Read) {
            request_.outputLength = stack->Parameters.Read.Length;
        } else if (request_.kind == SerialRequest::Kind::DeviceControl ||
                   request_.kind == SerialRequest::Kind::InternalDeviceControl) {
            request_.code = stack->Parameters.DeviceIoControl.IoControlCode;
            request_.outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
            const UCHAR *input = static_cast<const UCHAR *>(irp->AssociatedIrp.SystemBuffer);
            if (input != NULL) {
                request_.input.assign(input, input + stack->Parameters.DeviceIoControl.InputBufferLength);
            }
        }
    }
    // Records with the status; call before completing the IRP.
    NTSTATUS Answer(NTSTATUS status)
    {
        request_.status = status;
        port_->Record(request_);
        return status;
    }

private:
    ComPortModel *port_;
    SerialRequest request_;
};

// ---- Settings -----------------------------------------------------------------------------------

SERIAL_TIMEOUTS ToRecord(const tapmachine::SerialTimeouts &t)
{
    SERIAL_TIMEOUTS record;
    record.ReadIntervalTimeout = t.readIntervalTimeout;
    record.ReadTotalTimeoutMultiplier = t.readTotalTimeoutMultiplier;
    record.ReadTotalTimeoutConstant = t.readTotalTimeoutConstant;
    record.WriteTotalTimeoutMultiplier = t.writeTotalTimeoutMultiplier;
    record.WriteTotalTimeoutConstant = t.writeTotalTimeoutConstant;
    return record;
}

tapmachine::SerialTimeouts FromRecord(const SERIAL_TIMEOUTS &r)
{
    return {r.ReadIntervalTimeout, r.ReadTotalTimeoutMultiplier, r.ReadTotalTimeoutConstant,
            r.WriteTotalTimeoutMultiplier, r.WriteTotalTimeoutConstant};
}

SERIAL_HANDFLOW ToRecord(const tapmachine::SerialHandflow &h)
{
    SERIAL_HANDFLOW record;
    record.ControlHandShake = h.controlHandShake;
    record.FlowReplace = h.flowReplace;
    record.XonLimit = h.xonLimit;
    record.XoffLimit = h.xoffLimit;
    return record;
}

tapmachine::SerialHandflow FromRecord(const SERIAL_HANDFLOW &r)
{
    return {r.ControlHandShake, r.FlowReplace, r.XonLimit, r.XoffLimit};
}

SERIAL_BASIC_SETTINGS CurrentBasicSettings(ComPortModel &port)
{
    tapmachine::SerialSettings settings = port.settings();
    SERIAL_BASIC_SETTINGS basic;
    basic.Timeouts = ToRecord(settings.timeouts);
    basic.HandFlow = ToRecord(settings.handflow);
    basic.RxFifo = settings.rxFifo;
    basic.TxFifo = settings.txFifo;
    return basic;
}

void ApplyBasicSettings(ComPortModel &port, const SERIAL_BASIC_SETTINGS &basic)
{
    port.SetTimeouts(FromRecord(basic.Timeouts));
    port.SetHandflow(FromRecord(basic.HandFlow));
    port.SetFifos(basic.RxFifo, basic.TxFifo);
}

// Basic mode: one byte at a time, no time-outs, no handshake; DTR and RTS held on.
SERIAL_BASIC_SETTINGS BasicMode()
{
    SERIAL_BASIC_SETTINGS basic;
    RtlZeroMemory(&basic, sizeof(basic));
    basic.HandFlow.ControlHandShake = SERIAL_DTR_CONTROL;
    basic.HandFlow.FlowReplace = SERIAL_RTS_CONTROL;
    basic.RxFifo = 1;
    basic.TxFifo = 1;
    return basic;
}

// ---- Reads --------------------------------------------------------------------------------------

struct ReadPlan {
    BOOLEAN immediate;  // complete now whatever is there
    ReadMode mode;
    BOOLEAN hasDeadline;
    LONGLONG deadline;
};

ReadPlan PlanRead(ComPortModel &port, ULONG length)
{
    SERIAL_TIMEOUTS t = ToRecord(port.settings().timeouts);
    ReadPlan plan = {FALSE, ReadWholeLength, FALSE, 0};
    if (t.ReadIntervalTimeout == kMaxUlong && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        plan.immediate = TRUE;
        return plan;
    }
    ULONGLONG totalMs;
    if (t.ReadIntervalTimeout == kMaxUlong && t.ReadTotalTimeoutMultiplier == kMaxUlong &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxUlong) {
        plan.mode = ReadAnyByte;
        totalMs = t.ReadTotalTimeoutConstant;
    } else {
        totalMs = static_cast<ULONGLONG>(t.ReadTotalTimeoutMultiplier) * length + t.ReadTotalTimeoutConstant;
    }
    if (totalMs != 0) {
        plan.hasDeadline = TRUE;
        plan.deadline = port.Now() + static_cast<LONGLONG>(totalMs) * tapmachine::kTicksPerMillisecond;
    }
    return plan;
}

// The read's progress lives in the IRP while it waits: Information counts the bytes copied,
// DriverContext holds the mode and the deadline.
void RememberPlan(PIRP irp, const ReadPlan &plan)
{
    irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(plan.mode));
    irp->Tail.Overlay.DriverContext[1] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(plan.hasDeadline));
    irp->Tail.Overlay.DriverContext[2] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(plan.deadline));
}

// Copies what the UART holds into the read; returns the status to complete it with, or
// STATUS_PENDING while it must go on waiting.
NTSTATUS FillRead(ComPortModel &port, PIRP irp)
{
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    PUCHAR buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    ULONG_PTR copied = irp->IoStatus.Information;
    copied += port.TakeReceived(buffer + copied, length - copied);
    irp->IoStatus.Information = copied;
    ReadMode mode = static_cast<ReadMode>(reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[0]));
    BOOLEAN hasDeadline = reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]) != 0;
    LONGLONG deadline = static_cast<LONGLONG>(reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[2]));
    if (copied == length || (mode == ReadAnyByte && copied > 0)) {
        return STATUS_SUCCESS;
    }
    if (hasDeadline && port.Now() >= deadline) {
        return STATUS_TIMEOUT;
    }
    return STATUS_PENDING;
}

// Completes a read at DISPATCH_LEVEL, as every completion of this driver happens, so that its
// clients meet the strictest context whatever path ended the read.
VOID CompleteAtDispatch(PIRP irp)
{
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    KeLowerIrql(irql);
}

DRIVER_CANCEL CancelQueuedRead;

// Called by IoCancelIrp with the cancel spin lock held, at DISPATCH_LEVEL. The read is ours
// until it is completed here as cancelled, with the bytes it already holds.
VOID NTAPI CancelQueuedRead(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    QueueUnlink(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&extension->Lock, irql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    CompleteAtDispatch(irp);
}

// Takes the first queued read off the queue for completion, unless its cancel routine already
// owns it (then it is only unlinked). Lock held. Returns NULL when the queue is empty.
PIRP TakeQueuedRead(PSERIAL_DEVICE_EXTENSION extension, BOOLEAN *cancelling)
{
    *cancelling = FALSE;
    if (QueueIsEmpty(&extension->ReadQueue)) {
        return NULL;
    }
    PIRP irp = QueueIrpOf(extension->ReadQueue.Flink);
    QueueUnlink(&irp->Tail.Overlay.ListEntry);
    if (IoSetCancelRoutine(irp, NULL) == NULL) {
        *cancelling = TRUE;  // IoCancelIrp got there first; the cancel routine completes it
    }
    return irp;
}

// Completes every queued read with a status, at DISPATCH_LEVEL. Called at any IRQL up to it.
VOID FlushReads(PSERIAL_DEVICE_EXTENSION extension, NTSTATUS status)
{
    for (;;) {
        KIRQL irql;
        KeAcquireSpinLock(&extension->Lock, &irql);
        BOOLEAN cancelling;
        PIRP irp = TakeQueuedRead(extension, &cancelling);
        KeReleaseSpinLock(&extension->Lock, irql);
        if (irp == NULL) {
            return;
        }
        if (!cancelling) {
            irp->IoStatus.Status = status;
            CompleteAtDispatch(irp);
        }
    }
}

// The deferred half of the interrupt, DISPATCH_LEVEL: completes the queued reads the UART can now
// satisfy, in order.
VOID ServiceQueuedReads(PSERIAL_DEVICE_EXTENSION extension)
{
    for (;;) {
        KeAcquireSpinLockAtDpcLevel(&extension->Lock);
        if (QueueIsEmpty(&extension->ReadQueue)) {
            KeReleaseSpinLockFromDpcLevel(&extension->Lock);
            return;
        }
        PIRP head = QueueIrpOf(extension->ReadQueue.Flink);
        NTSTATUS status = FillRead(*extension->Port, head);
        if (status == STATUS_PENDING) {
            KeReleaseSpinLockFromDpcLevel(&extension->Lock);
            return;
        }
        BOOLEAN cancelling;
        PIRP irp = TakeQueuedRead(extension, &cancelling);
        KeReleaseSpinLockFromDpcLevel(&extension->Lock);
        if (!cancelling) {
            irp->IoStatus.Status = status;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        }
    }
}

// The deferred half of the UART interrupt, called on the thread that raised the interrupt at
// PASSIVE_LEVEL with no lock held. It serves the read queue at DISPATCH_LEVEL as this driver's
// code, counted as busy in the machine's idle test while it runs. One runs at a time, as one DPC
// object is queued once: an interrupt raised on another thread meanwhile makes the running one
// serve the queue again, so reads complete in order and a byte is never left waiting.
VOID ServiceInterrupt(PSERIAL_DEVICE_EXTENSION extension)
{
    if (InterlockedIncrement(&extension->DpcRequests) != 1) {
        return;  // running elsewhere; it goes round again for this interrupt
    }
    tapkernel::BusyScope busy;
    tapkernel::ModuleScope module(extension->Module);
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    for (;;) {
        ServiceQueuedReads(extension);
        if (InterlockedDecrement(&extension->DpcRequests) == 0) {
            break;
        }
        InterlockedExchange(&extension->DpcRequests, 1);
    }
    KeLowerIrql(irql);
}

// ---- Dispatch -----------------------------------------------------------------------------------

DRIVER_DISPATCH DispatchCreate;
DRIVER_DISPATCH DispatchClose;
DRIVER_DISPATCH DispatchCleanup;
DRIVER_DISPATCH DispatchRead;
DRIVER_DISPATCH DispatchDeviceControl;
DRIVER_DISPATCH DispatchInternalDeviceControl;
DRIVER_DISPATCH DispatchPnp;
DRIVER_DISPATCH DispatchPower;
DRIVER_DISPATCH DispatchOther;
DRIVER_ADD_DEVICE AddDevice;
DRIVER_UNLOAD Unload;

BOOLEAN IsRemoved(PSERIAL_DEVICE_EXTENSION extension)
{
    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    BOOLEAN removed = extension->Removed;
    KeReleaseSpinLock(&extension->Lock, irql);
    return removed;
}

// PASSIVE_LEVEL. One open at a time; the receiver listens from the open on, with an empty buffer.
NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    if (extension->Removed) {
        status = STATUS_DELETE_PENDING;
    } else if (extension->OpenCount != 0) {
        status = STATUS_ACCESS_DENIED;
    } else {
        extension->OpenCount = 1;
    }
    KeReleaseSpinLock(&extension->Lock, irql);
    if (NT_SUCCESS(status)) {
        extension->Port->SetReceiving(true);
        extension->Port->SetOpen(true);
    }
    return CompleteRequest(irp, note.Answer(status));
}

// PASSIVE_LEVEL. Reads still queued for the file object end as cancelled; its close follows once
// the I/O manager has finished them.
NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    FlushReads(extension, STATUS_CANCELLED);
    return CompleteRequest(irp, note.Answer(STATUS_SUCCESS));
}

// PASSIVE_LEVEL. The close of a surprise-removed port lets the PnP manager finish its removal.
NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    FlushReads(extension, STATUS_CANCELLED);
    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    extension->OpenCount = 0;
    KeReleaseSpinLock(&extension->Lock, irql);
    extension->Port->SetReceiving(false);
    extension->Port->SetOpen(false);  // a surprise-removed port's stack may go now
    return CompleteRequest(irp, note.Answer(STATUS_SUCCESS));
}

// Up to DISPATCH_LEVEL (a client may read again from its completion routine).
NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    ComPortModel &port = *extension->Port;
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    irp->IoStatus.Information = 0;
    if (length != 0 && irp->AssociatedIrp.SystemBuffer == NULL) {
        return CompleteRequest(irp, note.Answer(STATUS_INVALID_PARAMETER));
    }

    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    if (extension->Removed) {
        KeReleaseSpinLock(&extension->Lock, irql);
        return CompleteRequest(irp, note.Answer(STATUS_DELETE_PENDING));
    }
    if (length == 0) {
        KeReleaseSpinLock(&extension->Lock, irql);
        return CompleteRequest(irp, note.Answer(STATUS_SUCCESS));
    }
    ReadPlan plan = PlanRead(port, length);
    RememberPlan(irp, plan);
    if (QueueIsEmpty(&extension->ReadQueue)) {
        NTSTATUS now = FillRead(port, irp);
        if (now != STATUS_PENDING || plan.immediate) {
            KeReleaseSpinLock(&extension->Lock, irql);
            // Bytes were waiting: the read completes inside the call.
            ULONG_PTR copied = irp->IoStatus.Information;
            NTSTATUS status = now == STATUS_PENDING ? STATUS_SUCCESS : now;
            return CompleteRequest(irp, note.Answer(status), copied);
        }
    }
    IoSetCancelRoutine(irp, CancelQueuedRead);
    // Cancelled before the routine was set: IoCancelIrp found none to call, so the read ends here.
    if (__atomic_load_n(&irp->Cancel, __ATOMIC_SEQ_CST) && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&extension->Lock, irql);
        return CompleteRequest(irp, note.Answer(STATUS_CANCELLED), irp->IoStatus.Information);
    }
    IoMarkIrpPending(irp);
    QueueAppend(&extension->ReadQueue, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&extension->Lock, irql);
    if (plan.hasDeadline) {
        port.ScheduleWakeup(plan.deadline);
    }
    note.Answer(STATUS_PENDING);
    return STATUS_PENDING;
}

// Copies a record out of the system buffer when the input is long enough.
template <typename Record>
NTSTATUS TakeInput(PIRP irp, Record *record)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(Record) ||
        irp->AssociatedIrp.SystemBuffer == NULL) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(record, irp->AssociatedIrp.SystemBuffer, sizeof(Record));
    return STATUS_SUCCESS;
}

// Puts a record into the system buffer when the output is long enough.
template <typename Record>
NTSTATUS GiveOutput(PIRP irp, const Record &record, ULONG_PTR *information)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(Record) ||
        irp->AssociatedIrp.SystemBuffer == NULL) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &record, sizeof(Record));
    *information = sizeof(Record);
    return STATUS_SUCCESS;
}

NTSTATUS SetLineControl(ComPortModel &port, const SERIAL_LINE_CONTROL &control)
{
    if (control.WordLength < 5 || control.WordLength > 8 || control.Parity > SPACE_PARITY ||
        control.StopBits > STOP_BITS_2 || (control.WordLength == 5 && control.StopBits == STOP_BITS_2) ||
        (control.WordLength != 5 && control.StopBits == STOP_BITS_1_5)) {
        return STATUS_INVALID_PARAMETER;
    }
    tapmachine::LineFormat line = port.settings().line;
    line.wordLength = control.WordLength;
    line.parity = control.Parity;
    line.stopBits = control.StopBits;
    port.SetLineFormat(line);
    return STATUS_SUCCESS;
}

NTSTATUS SetHandflow(ComPortModel &port, const SERIAL_HANDFLOW &handflow)
{
    const ULONG knownHandshake = SERIAL_DTR_MASK | SERIAL_CTS_HANDSHAKE | SERIAL_DSR_HANDSHAKE |
                                 SERIAL_DCD_HANDSHAKE | SERIAL_DSR_SENSITIVITY | SERIAL_ERROR_ABORT;
    if ((handflow.ControlHandShake & ~knownHandshake) != 0 ||
        (handflow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_MASK ||
        (handflow.FlowReplace & SERIAL_RTS_MASK) == SERIAL_RTS_MASK || handflow.XonLimit < 0 ||
        handflow.XoffLimit < 0) {
        return STATUS_INVALID_PARAMETER;
    }
    port.SetHandflow(FromRecord(handflow));
    return STATUS_SUCCESS;
}

// PASSIVE_LEVEL. The settings requests a client of the port sends.
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    if (IsRemoved(extension)) {
        return CompleteRequest(irp, note.Answer(STATUS_DELETE_PENDING));
    }
    ComPortModel &port = *extension->Port;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    if (std::optional<int32_t> injected = port.TakeRequestFailure(tapmachine::SerialRequest::Kind::DeviceControl, code)) {
        return CompleteRequest(irp, note.Answer(*injected));
    }
    tapmachine::SerialSettings settings = port.settings();
    ULONG_PTR information = 0;
    NTSTATUS status;
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: {
        SERIAL_BAUD_RATE rate;
        status = TakeInput(irp, &rate);
        if (NT_SUCCESS(status) && rate.BaudRate == 0) {
            status = STATUS_INVALID_PARAMETER;
        }
        if (NT_SUCCESS(status)) {
            settings.line.baudRate = rate.BaudRate;
            port.SetLineFormat(settings.line);
        }
        break;
    }
    case IOCTL_SERIAL_GET_BAUD_RATE: {
        SERIAL_BAUD_RATE rate;
        rate.BaudRate = settings.line.baudRate;
        status = GiveOutput(irp, rate, &information);
        break;
    }
    case IOCTL_SERIAL_SET_LINE_CONTROL: {
        SERIAL_LINE_CONTROL control;
        status = TakeInput(irp, &control);
        if (NT_SUCCESS(status)) {
            status = SetLineControl(port, control);
        }
        break;
    }
    case IOCTL_SERIAL_GET_LINE_CONTROL: {
        SERIAL_LINE_CONTROL control;
        control.StopBits = settings.line.stopBits;
        control.Parity = settings.line.parity;
        control.WordLength = settings.line.wordLength;
        status = GiveOutput(irp, control, &information);
        break;
    }
    case IOCTL_SERIAL_SET_TIMEOUTS: {
        SERIAL_TIMEOUTS timeouts;
        status = TakeInput(irp, &timeouts);
        if (NT_SUCCESS(status) && timeouts.ReadIntervalTimeout == kMaxUlong &&
            timeouts.ReadTotalTimeoutMultiplier == kMaxUlong &&
            timeouts.ReadTotalTimeoutConstant == kMaxUlong) {
            status = STATUS_INVALID_PARAMETER;
        }
        if (NT_SUCCESS(status)) {
            port.SetTimeouts(FromRecord(timeouts));
        }
        break;
    }
    case IOCTL_SERIAL_GET_TIMEOUTS:
        status = GiveOutput(irp, ToRecord(settings.timeouts), &information);
        break;
    case IOCTL_SERIAL_SET_HANDFLOW: {
        SERIAL_HANDFLOW handflow;
        status = TakeInput(irp, &handflow);
        if (NT_SUCCESS(status)) {
            status = SetHandflow(port, handflow);
        }
        break;
    }
    case IOCTL_SERIAL_GET_HANDFLOW:
        status = GiveOutput(irp, ToRecord(settings.handflow), &information);
        break;
    default:
        status = STATUS_INVALID_PARAMETER;
        break;
    }
    return CompleteRequest(irp, note.Answer(status), information);
}

// PASSIVE_LEVEL. The internal requests of kernel-mode clients: basic mode and its undoing.
NTSTATUS NTAPI DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RequestNote note(extension, irp);
    if (IsRemoved(extension)) {
        return CompleteRequest(irp, note.Answer(STATUS_DELETE_PENDING));
    }
    ComPortModel &port = *extension->Port;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    if (std::optional<int32_t> injected = port.TakeRequestFailure(tapmachine::SerialRequest::Kind::InternalDeviceControl, code)) {
        return CompleteRequest(irp, note.Answer(*injected));
    }
    bool known = code == IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS || code == IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS;
    if (!known || port.refusesInternalSettings()) {
        return CompleteRequest(irp, note.Answer(known ? STATUS_INVALID_DEVICE_REQUEST : STATUS_INVALID_PARAMETER));
    }
    ULONG_PTR information = 0;
    NTSTATUS status;
    if (code == IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS) {
        status = GiveOutput(irp, CurrentBasicSettings(port), &information);
        if (NT_SUCCESS(status)) {
            ApplyBasicSettings(port, BasicMode());
        }
    } else {
        SERIAL_BASIC_SETTINGS saved;
        status = TakeInput(irp, &saved);
        if (NT_SUCCESS(status)) {
            ApplyBasicSettings(port, saved);  // not verified, as the interface says
        }
    }
    return CompleteRequest(irp, note.Answer(status), information);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT device, PIRP irp)
{
    RequestNote note(ExtensionOf(device), irp);
    return CompleteRequest(irp, note.Answer(STATUS_INVALID_DEVICE_REQUEST));
}

// ---- Plug and Play ------------------------------------------------------------------------------

void WriteSerialCommEntry(PSERIAL_DEVICE_EXTENSION extension, BOOLEAN present)
{
    UNICODE_STRING keyName;
    RtlInitUnicodeString(&keyName, L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    HANDLE key;
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_VOLATILE, NULL))) {
        return;
    }
    if (present) {
        ZwSetValueKey(key, &extension->DeviceName, 0, REG_SZ, extension->PortNameBuffer,
                      extension->PortName.Length + sizeof(WCHAR));
    } else {
        ZwDeleteValueKey(key, &extension->DeviceName);
    }
    ZwClose(key);
}

// PASSIVE_LEVEL, after the lower devices started: the port becomes visible to the system.
NTSTATUS StartPort(PSERIAL_DEVICE_EXTENSION extension)
{
    if (extension->Started) {
        return STATUS_SUCCESS;
    }
    NTSTATUS status = IoCreateSymbolicLink(&extension->LinkName, &extension->DeviceName);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    extension->LinkCreated = TRUE;
    WriteSerialCommEntry(extension, TRUE);

    extension->Module = tapkernel::Kernel::Current().ModuleOf(extension->Self->DriverObject);
    extension->Port->ConnectInterrupt([extension] { ServiceInterrupt(extension); });
    extension->InterruptConnected = TRUE;
    extension->Started = TRUE;
    tapmachine::DriverHost().SetPortInterfaceState(*extension->Port, TRUE);
    return STATUS_SUCCESS;
}

// PASSIVE_LEVEL. The port disappears from the system: no new open, no interface, every read
// ends with STATUS_DELETE_PENDING and every later request is refused with it.
VOID TakePortAway(PSERIAL_DEVICE_EXTENSION extension)
{
    KIRQL irql;
    KeAcquireSpinLock(&extension->Lock, &irql);
    BOOLEAN already = extension->Removed;
    extension->Removed = TRUE;
    KeReleaseSpinLock(&extension->Lock, irql);
    if (already) {
        return;
    }
    if (extension->Started) {
        tapmachine::DriverHost().SetPortInterfaceState(*extension->Port, FALSE);
    }
    if (extension->LinkCreated) {
        IoDeleteSymbolicLink(&extension->LinkName);
        extension->LinkCreated = FALSE;
        WriteSerialCommEntry(extension, FALSE);
    }
    extension->Port->SetReceiving(false);
    FlushReads(extension, STATUS_DELETE_PENDING);
}

// PASSIVE_LEVEL. Returns once the deferred half is not running and will not run again.
VOID DisconnectInterrupt(PSERIAL_DEVICE_EXTENSION extension)
{
    if (extension->InterruptConnected) {
        extension->Port->ConnectInterrupt(nullptr);
        extension->InterruptConnected = FALSE;
    }
}

// Any IRQL up to DISPATCH_LEVEL. The IRP belongs to the bus driver below on return.
NTSTATUS PassDown(PSERIAL_DEVICE_EXTENSION extension, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(extension->LowerDevice, irp);
}

// PASSIVE_LEVEL.
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = ForwardAndWait(extension->LowerDevice, irp);
        if (NT_SUCCESS(status)) {
            status = StartPort(extension);
        }
        return CompleteRequest(irp, status);
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE: {
        KIRQL irql;
        KeAcquireSpinLock(&extension->Lock, &irql);
        LONG opens = extension->OpenCount;
        KeReleaseSpinLock(&extension->Lock, irql);
        if (opens != 0) {
            return CompleteRequest(irp, STATUS_DEVICE_BUSY);  // in use: veto
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, irp);
    }
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        TakePortAway(extension);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, irp);
    case IRP_MN_REMOVE_DEVICE: {
        TakePortAway(extension);
        DisconnectInterrupt(extension);
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = PassDown(extension, irp);
        IoDetachDevice(extension->LowerDevice);
        IoDeleteDevice(device);
        return status;
    }
    default:
        return PassDown(extension, irp);
    }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ExtensionOf(device)->LowerDevice, irp);
}

void FormatName(PWCHAR buffer, size_t capacity, const char *prefix, ULONG number, PUNICODE_STRING name)
{
    size_t length = 0;
    for (const char *p = prefix; *p != '\0' && length + 1 < capacity; ++p) {
        buffer[length++] = static_cast<WCHAR>(*p);
    }
    WCHAR digits[12];
    size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count != 0 && length + 1 < capacity) {
        buffer[length++] = digits[--count];
    }
    buffer[length] = 0;
    name->Buffer = buffer;
    name->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    name->MaximumLength = static_cast<USHORT>(capacity * sizeof(WCHAR));
}

// PASSIVE_LEVEL. One function device per port, named after the UART's COM number.
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    ComPortModel *port = tapmachine::DriverHost().ComPortOf(physicalDevice);
    if (port == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    WCHAR nameBuffer[32];
    UNICODE_STRING name;
    FormatName(nameBuffer, 32, "\\Device\\Serial", port->number() - 1, &name);
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(SERIAL_DEVICE_EXTENSION), &name, FILE_DEVICE_SERIAL_PORT,
                                     FILE_DEVICE_SECURE_OPEN, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PSERIAL_DEVICE_EXTENSION extension = ExtensionOf(device);
    RtlZeroMemory(extension, sizeof(*extension));
    extension->Self = device;
    extension->PhysicalDevice = physicalDevice;
    extension->Port = port;
    extension->ComNumber = port->number();
    FormatName(extension->DeviceNameBuffer, 32, "\\Device\\Serial", port->number() - 1, &extension->DeviceName);
    FormatName(extension->LinkNameBuffer, 32, "\\DosDevices\\COM", port->number(), &extension->LinkName);
    FormatName(extension->PortNameBuffer, 16, "COM", port->number(), &extension->PortName);
    KeInitializeSpinLock(&extension->Lock);
    QueueInitialize(&extension->ReadQueue);

    extension->LowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (extension->LowerDevice == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

VOID NTAPI Unload(PDRIVER_OBJECT)
{
}

}  // namespace

extern "C" NTSTATUS NTAPI SerialDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = DispatchOther;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
