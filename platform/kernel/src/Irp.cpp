// IRPs: allocation, reuse, IoCallDriver, IoCompleteRequest with completion routines, cancel, the
// requests the I/O manager builds itself, and power IRPs.
//
// The kernel follows who holds each IRP: the allocator (Idle), the driver it was sent to
// (Dispatched), a completion routine that may take it back (RoutineRunning), a driver whose
// completion routine took it back mid-stack (Halted). Which driver holds it is read from the
// IRP's own record, not from CurrentLocation: a stack location is held from the moment a
// dispatch routine is called for it until completion passes it. A driver passes an IRP on from
// its own location either to the next one (IoCopyCurrentIrpStackLocationToNext) or by handing
// its own location to the driver below (IoSkipCurrentIrpStackLocation), and a sender may keep a
// location of its own (IoSetNextIrpStackLocation) that no driver ever holds. A driver that
// touches an IRP it does not hold - completes it twice, frees or reuses it while a lower driver
// has it - stops the run.
// For every stack location it also checks the pending rule: a dispatch routine returns
// STATUS_PENDING exactly when the location was marked pending, and returns anything else only
// after the IRP has been completed past its location.
#include <cstdlib>
#include <cstring>

#include "KernelState.h"

namespace tapkernel {

namespace {

constexpr size_t kIrpQuarantine = 4096;
constexpr uint8_t kFreedIrpFill = 0xEE;

PIO_STACK_LOCATION FirstLocation(PIRP irp)
{
    return reinterpret_cast<PIO_STACK_LOCATION>(reinterpret_cast<uint8_t *>(irp) + sizeof(IRP));
}

void InitialiseIrp(PIRP irp, USHORT size, CCHAR stackSize)
{
    std::memset(irp, 0, size);
    irp->Type = IO_TYPE_IRP;
    irp->Size = size;
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->ThreadListEntry.Flink = &irp->ThreadListEntry;
    irp->ThreadListEntry.Blink = &irp->ThreadListEntry;
    irp->Tail.Overlay.CurrentStackLocation = FirstLocation(irp) + stackSize;
}

void ResetLocations(IrpRecord *record)
{
    for (IrpLocation &location : record->locations) {
        location = IrpLocation{};
    }
}

void FreeIrpMemory(KernelState &state, IrpRecord *record)
{
    record->freed = true;
    record->phase = IrpPhase::Done;
    ++record->token;
    std::memset(record->irp, kFreedIrpFill, record->size);
    state.irpQuarantine.push_back(record->irp);
    while (state.irpQuarantine.size() > kIrpQuarantine) {
        const void *oldest = state.irpQuarantine.front();
        state.irpQuarantine.pop_front();
        auto it = state.irps.find(oldest);
        if (it != state.irps.end()) {
            std::free(it->second->irp);
            state.irps.erase(it);
        }
    }
}

DriverModule *ModuleOfDevice(KernelState &state, PDEVICE_OBJECT device)
{
    auto *driver = static_cast<DriverRecord *>(state.FindObject(device->DriverObject));
    return driver != nullptr ? driver->module : nullptr;
}

// The pending rule for one location, once both halves are known.
void CheckPendingRule(PIRP irp, const IrpLocation &location, int number, PDEVICE_OBJECT device)
{
    if (location.returnedPending == 1 && location.markedPending == 0) {
        BugCheck("IoCallDriver",
                 "the dispatch routine (major function 0x%02x) of device %p returned STATUS_PENDING for IRP %p "
                 "without marking stack location %d pending (IoMarkIrpPending)",
                 location.majorFunction, static_cast<void *>(device), static_cast<void *>(irp), number);
    }
    if (location.returnedPending == 0 && location.markedPending == 1) {
        BugCheck("IoCallDriver",
                 "the dispatch routine (major function 0x%02x) of device %p marked IRP %p pending but returned "
                 "0x%08x instead of STATUS_PENDING",
                 location.majorFunction, static_cast<void *>(device), static_cast<void *>(irp),
                 static_cast<unsigned>(location.returnedStatus));
    }
}

// At the top: the I/O manager's part for the requests it built. The output is copied back, the
// status block filled, the IRP freed with the reference it held on its file object, and the
// sender's event signalled.
void FinishThreadedIrp(KernelState &state, IrpRecord *record)
{
    PIRP irp = record->irp;
    NTSTATUS status = irp->IoStatus.Status;
    if ((irp->Flags & IRP_BUFFERED_IO) != 0 && (irp->Flags & IRP_INPUT_OPERATION) != 0 && record->copyOut &&
        !NT_ERROR(status)) {
        if (irp->IoStatus.Information > record->outputLength) {
            BugCheck("IoCompleteRequest",
                     "IRP %p (code 0x%08x) completes with Information %lu, more than its %u-byte output buffer",
                     static_cast<void *>(irp), static_cast<unsigned>(record->code),
                     static_cast<unsigned long>(irp->IoStatus.Information), static_cast<unsigned>(record->outputLength));
        }
        std::memcpy(record->outputBuffer, irp->AssociatedIrp.SystemBuffer, irp->IoStatus.Information);
    }
    if ((irp->Flags & IRP_DEALLOCATE_BUFFER) != 0) {
        KernelFree(irp->AssociatedIrp.SystemBuffer);
    }
    if (irp->UserIosb != nullptr) {
        *irp->UserIosb = irp->IoStatus;
    }
    PKEVENT event = irp->UserEvent;
    PFILE_OBJECT file = record->holdsFile ? record->file : nullptr;
    FreeIrpMemory(state, record);
    if (file != nullptr) {
        DropRequestReference(state, file);
    }
    if (event != nullptr) {
        state.CheckNotFreed("IoCompleteRequest", event, "the request's event");
        __atomic_store_n(&event->Header.SignalState, 1, __ATOMIC_SEQ_CST);
        SignalObject(state, event);
    }
}

bool InvokesRoutine(const IO_STACK_LOCATION *location, PIRP irp)
{
    if (location->CompletionRoutine == nullptr) {
        return false;
    }
    NTSTATUS status = irp->IoStatus.Status;
    return (NT_SUCCESS(status) && (location->Control & SL_INVOKE_ON_SUCCESS) != 0) ||
           (!NT_SUCCESS(status) && (location->Control & SL_INVOKE_ON_ERROR) != 0) ||
           (irp->Cancel && (location->Control & SL_INVOKE_ON_CANCEL) != 0);
}

void ClearLocation(PIO_STACK_LOCATION location)
{
    location->MinorFunction = 0;
    location->Flags = 0;
    location->Control = 0;
    location->CompletionRoutine = nullptr;
    location->Context = nullptr;
    location->FileObject = nullptr;
}

} // namespace

int HoldingLocation(const IrpRecord &record)
{
    for (size_t number = 1; number < record.locations.size(); ++number) {
        if (record.locations[number].held) {
            return static_cast<int>(number);
        }
    }
    return 0;
}

PDEVICE_OBJECT HoldingDevice(const IrpRecord &record)
{
    int number = HoldingLocation(record);
    return number == 0 || record.freed ? nullptr : (FirstLocation(record.irp) + number - 1)->DeviceObject;
}

bool ConsumeIrpFailure(DriverModule *module)
{
    if (module == nullptr || module->irpFailCount == 0) {
        return false;
    }
    if (module->irpFailSkip > 0) {
        --module->irpFailSkip;
        return false;
    }
    --module->irpFailCount;
    return true;
}

IrpRecord *KernelState::LiveIrp(const char *routine, PIRP irp)
{
    if (irp == nullptr) {
        BugCheck(routine, "IRP pointer is NULL");
    }
    auto it = irps.find(irp);
    if (it == irps.end()) {
        BugCheck(routine, "%p is not an IRP", static_cast<void *>(irp));
    }
    if (it->second->freed) {
        BugCheck(routine, "IRP %p has already been freed (completed to the top or IoFreeIrp)", static_cast<void *>(irp));
    }
    return it->second.get();
}

PIRP AllocateIrp(const char *routine, CCHAR stackSize, Owner owner)
{
    if (stackSize < 1) {
        BugCheck(routine, "stack size %d: an IRP needs at least one stack location", stackSize);
    }
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    if (ConsumeIrpFailure(owner.module)) {
        return nullptr;
    }
    size_t size = sizeof(IRP) + static_cast<size_t>(stackSize) * sizeof(IO_STACK_LOCATION);
    auto *irp = static_cast<PIRP>(std::malloc(size));
    InitialiseIrp(irp, static_cast<USHORT>(size), stackSize);
    auto record = std::make_unique<IrpRecord>();
    record->irp = irp;
    record->size = size;
    record->owner = owner;
    record->locations.resize(static_cast<size_t>(stackSize) + 2);
    state.irps[irp] = std::move(record);
    return irp;
}

NTSTATUS CallDriverChecked(const char *routine, PDEVICE_OBJECT device, PIRP irp)
{
    KIRQL irql = CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        BugCheck(routine, "called at IRQL %u", irql);
    }
    KernelState &state = State();
    PDRIVER_DISPATCH dispatch = nullptr;
    DriverModule *module = nullptr;
    uint64_t sequence = 0;
    int number = 0;
    {
        std::lock_guard<std::mutex> held(state.lock);
        DeviceRecord *target = state.LiveDevice(routine, device);
        IrpRecord *record = state.LiveIrp(routine, irp);
        if (irp->CurrentLocation > irp->StackCount + 1) {
            BugCheck(routine, "IRP %p has a corrupt stack (CurrentLocation %d, StackCount %d)",
                     static_cast<void *>(irp), irp->CurrentLocation, irp->StackCount);
        }
        if (record->phase == IrpPhase::Completing) {
            BugCheck(routine, "IRP %p is sent to device %p while it is being completed", static_cast<void *>(irp),
                     static_cast<void *>(device));
        }
        // Only the holder passes an IRP on: to the location below its own, or (after a skip) on
        // its own location. A send from higher up would overwrite a location that the driver
        // above still owns: a second skip, or a driver that already passed the IRP on.
        int holding = HoldingLocation(*record);
        if (holding != 0 && irp->CurrentLocation > holding + 1) {
            BugCheck(routine,
                     "IRP %p is sent again while a driver still holds it: it would take stack location %d, above "
                     "location %d of device %p that holds it (skipped twice, or sent by a driver that already "
                     "passed it on)",
                     static_cast<void *>(irp), irp->CurrentLocation - 1, holding,
                     static_cast<void *>((FirstLocation(irp) + holding - 1)->DeviceObject));
        }
        if (target->deleted && target->deletedUnderUpper) {
            BugCheck(routine,
                     "IRP %p (major function 0x%02x) is sent to device object %p, which its driver deleted while "
                     "a device was still attached above it: after IRP_MN_REMOVE_DEVICE nothing may be sent down "
                     "the stack",
                     static_cast<void *>(irp), IoGetNextIrpStackLocation(irp)->MajorFunction,
                     static_cast<void *>(device));
        }
        if (irp->CurrentLocation <= 1) {
            BugCheck(routine, "no stack location left in IRP %p for device %p (StackCount %d, device StackSize %d)",
                     static_cast<void *>(irp), static_cast<void *>(device), irp->StackCount, device->StackSize);
        }
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        if (next->MajorFunction > IRP_MJ_MAXIMUM_FUNCTION) {
            BugCheck(routine, "IRP %p has major function 0x%02x", static_cast<void *>(irp), next->MajorFunction);
        }
        bool power = std::strcmp(routine, "PoCallDriver") == 0;
        if (next->MajorFunction == IRP_MJ_POWER && !power) {
            BugCheck(routine, "power IRP %p must be passed with PoCallDriver", static_cast<void *>(irp));
        }
        if (power && next->MajorFunction != IRP_MJ_POWER) {
            BugCheck(routine, "IRP %p (major function 0x%02x) is not a power IRP", static_cast<void *>(irp),
                     next->MajorFunction);
        }
        auto *driver = static_cast<DriverRecord *>(state.FindObject(device->DriverObject));
        if (driver == nullptr || driver->unloaded) {
            BugCheck(routine, "the driver of device %p is not loaded", static_cast<void *>(device));
        }
        irp->CurrentLocation--;
        irp->Tail.Overlay.CurrentStackLocation--;
        next->DeviceObject = device;
        number = irp->CurrentLocation;
        IrpLocation &location = record->locations[static_cast<size_t>(number)];
        location = IrpLocation{};
        location.sequence = ++state.nextSequence;
        location.majorFunction = next->MajorFunction;
        location.held = true;
        sequence = location.sequence;
        record->phase = IrpPhase::Dispatched;
        ++record->token;
        dispatch = device->DriverObject->MajorFunction[next->MajorFunction];
        module = driver->module;
    }
    NTSTATUS status;
    {
        DriverCall call("dispatch routine (IoCallDriver)", module);
        status = dispatch(device, irp);
        call.CheckIrql();
    }
    std::lock_guard<std::mutex> held(state.lock);
    auto it = state.irps.find(irp);
    if (it != state.irps.end()) {
        IrpRecord *record = it->second.get();
        IrpLocation &location = record->locations[static_cast<size_t>(number)];
        if (location.sequence == sequence) {
            location.returnedPending = status == STATUS_PENDING ? 1 : 0;
            location.returnedStatus = status;
            if (location.returnedPending == 0 && location.markedPending == -1) {
                BugCheck(routine,
                         "the dispatch routine (major function 0x%02x) of device %p returned 0x%08x for IRP %p "
                         "without completing it and without STATUS_PENDING",
                         location.majorFunction, static_cast<void *>(device), static_cast<unsigned>(status),
                         static_cast<void *>(irp));
            }
            if (location.returnedPending == 1 && location.markedPending == -1 && !record->freed &&
                irp->CurrentLocation == number && (IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED) == 0) {
                // The driver still holds the IRP at its own location, so nobody can mark it any more.
                location.markedPending = 0;
            }
            CheckPendingRule(irp, location, number, device);
        }
    }
    return status;
}

PIRP BuildRequest(const char *routine, PDEVICE_OBJECT device, const RequestParameters &request, PKEVENT event,
                  PIO_STATUS_BLOCK ioStatus, Owner owner)
{
    PIRP irp = AllocateIrp(routine, device->StackSize, owner);
    if (irp == nullptr) {
        return nullptr;
    }
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    IrpRecord *record = state.irps[irp].get();
    record->threaded = true;
    record->code = request.code;
    record->file = request.file;
    if (request.holdsFile) {
        ObjectRecord *file = state.FindObject(request.file);
        if (file == nullptr || file->kind != ObjectKind::File || file->freed) {
            BugCheck(routine, "request (major function 0x%02x) on %p, which is not an open file object",
                     request.major, static_cast<void *>(request.file));
        }
        ++file->references; // dropped when the IRP is finished (FinishThreadedIrp)
        record->holdsFile = true;
    }
    irp->UserIosb = ioStatus;
    irp->UserEvent = event;
    irp->RequestorMode = KernelMode;
    irp->Tail.Overlay.OriginalFileObject = request.file;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = request.major;
    next->FileObject = request.file;
    auto buffered = [&](const void *input, ULONG inputLength, void *output, ULONG outputLength) {
        ULONG size = inputLength > outputLength ? inputLength : outputLength;
        if (size == 0) {
            return;
        }
        if (inputLength != 0 && input == nullptr) {
            BugCheck(routine, "input buffer is NULL but its length is %u", static_cast<unsigned>(inputLength));
        }
        void *system = KernelAllocate(size);
        if (inputLength != 0) {
            std::memcpy(system, input, inputLength);
        }
        irp->AssociatedIrp.SystemBuffer = system;
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
        if (output != nullptr && outputLength != 0) {
            irp->Flags |= IRP_INPUT_OPERATION;
            record->copyOut = true;
            record->outputBuffer = output;
            record->outputLength = outputLength;
        }
    };
    switch (request.major) {
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        next->Parameters.DeviceIoControl.OutputBufferLength = request.outputLength;
        next->Parameters.DeviceIoControl.InputBufferLength = request.inputLength;
        next->Parameters.DeviceIoControl.IoControlCode = request.code;
        switch (METHOD_FROM_CTL_CODE(request.code)) {
        case METHOD_BUFFERED:
            buffered(request.input, request.inputLength, request.output, request.outputLength);
            irp->UserBuffer = request.output;
            break;
        case METHOD_NEITHER:
            next->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void *>(request.input);
            irp->UserBuffer = request.output;
            break;
        default:
            BugCheck(routine, "control code 0x%08x uses METHOD_IN_DIRECT/METHOD_OUT_DIRECT, which this kernel "
                              "does not offer", static_cast<unsigned>(request.code));
        }
        break;
    case IRP_MJ_READ:
    case IRP_MJ_WRITE: {
        ULONG length = request.major == IRP_MJ_READ ? request.outputLength : request.inputLength;
        next->Parameters.Read.Length = length;
        next->Parameters.Read.ByteOffset.QuadPart = 0;
        if ((device->Flags & DO_DIRECT_IO) != 0) {
            BugCheck(routine, "device %p uses DO_DIRECT_IO, which this kernel does not offer",
                     static_cast<void *>(device));
        }
        if ((device->Flags & DO_BUFFERED_IO) != 0) {
            if (request.major == IRP_MJ_READ) {
                buffered(nullptr, 0, request.output, length);
            } else {
                buffered(request.input, length, nullptr, 0);
            }
        } else {
            irp->UserBuffer = request.major == IRP_MJ_READ ? request.output : const_cast<void *>(request.input);
        }
        break;
    }
    case IRP_MJ_CREATE:
        next->Parameters.Create.Options = 0;
        next->Parameters.Create.ShareAccess = 0;
        break;
    default:
        break;
    }
    return irp;
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" PIRP NTAPI IoAllocateIrp(CCHAR stackSize, BOOLEAN)
{
    RequireIrql("IoAllocateIrp", PASSIVE_LEVEL, DISPATCH_LEVEL);
    return AllocateIrp("IoAllocateIrp", stackSize, CurrentOwner());
}

extern "C" VOID NTAPI IoFreeIrp(PIRP irp)
{
    RequireIrql("IoFreeIrp", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    IrpRecord *record = state.LiveIrp("IoFreeIrp", irp);
    if (record->threaded) {
        BugCheck("IoFreeIrp", "IRP %p belongs to the I/O manager (IoBuildDeviceIoControlRequest); complete it instead",
                 static_cast<void *>(irp));
    }
    bool holder = record->phase == IrpPhase::Idle || (record->phase == IrpPhase::RoutineRunning && record->routineAtTop);
    if (!holder) {
        BugCheck("IoFreeIrp", "IRP %p is freed while a driver holds it (current stack location %d of %d)",
                 static_cast<void *>(irp), irp->CurrentLocation, irp->StackCount);
    }
    if (irp->CancelRoutine != nullptr) {
        BugCheck("IoFreeIrp", "IRP %p is freed with a cancel routine set", static_cast<void *>(irp));
    }
    FreeIrpMemory(state, record);
}

extern "C" VOID NTAPI IoReuseIrp(PIRP irp, NTSTATUS status)
{
    RequireIrql("IoReuseIrp", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    IrpRecord *record = state.LiveIrp("IoReuseIrp", irp);
    if (record->threaded) {
        BugCheck("IoReuseIrp", "IRP %p belongs to the I/O manager and cannot be reused", static_cast<void *>(irp));
    }
    bool holder = record->phase == IrpPhase::Idle || (record->phase == IrpPhase::RoutineRunning && record->routineAtTop);
    if (!holder) {
        BugCheck("IoReuseIrp", "IRP %p is reused while a driver holds it (current stack location %d of %d)",
                 static_cast<void *>(irp), irp->CurrentLocation, irp->StackCount);
    }
    if (irp->CancelRoutine != nullptr) {
        BugCheck("IoReuseIrp", "IRP %p is reused with a cancel routine set", static_cast<void *>(irp));
    }
    UCHAR allocationFlags = irp->AllocationFlags;
    InitialiseIrp(irp, irp->Size, irp->StackCount);
    irp->AllocationFlags = allocationFlags;
    irp->IoStatus.Status = status;
    record->phase = IrpPhase::Idle;
    ++record->token;
    ResetLocations(record);
}

extern "C" NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
    return CallDriverChecked("IoCallDriver", device, irp);
}

extern "C" NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
    return CallDriverChecked("PoCallDriver", device, irp);
}

extern "C" VOID NTAPI PoStartNextPowerIrp(PIRP irp)
{
    RequireIrql("PoStartNextPowerIrp", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    state.LiveIrp("PoStartNextPowerIrp", irp);
    if (irp->CurrentLocation > irp->StackCount || IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_POWER) {
        BugCheck("PoStartNextPowerIrp", "IRP %p is not a power IRP held by the caller", static_cast<void *>(irp));
    }
    ++state.powerIrpsStarted;
}

extern "C" VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR)
{
    const char *routine = "IoCompleteRequest";
    KIRQL irql = CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        BugCheck(routine, "called at IRQL %u", irql);
    }
    KernelState &state = State();
    std::unique_lock<std::mutex> held(state.lock);
    auto known = state.irps.find(irp);
    if (known != state.irps.end() && known->second->freed) {
        BugCheck(routine, "IRP %p is completed twice (it was already completed and freed)", static_cast<void *>(irp));
    }
    IrpRecord *record = state.LiveIrp(routine, irp);
    switch (record->phase) {
    case IrpPhase::Dispatched:
    case IrpPhase::Halted:
        break;
    case IrpPhase::RoutineRunning:
        if (!record->routineAtTop) {
            break; // the driver whose routine is about to return STATUS_MORE_PROCESSING_REQUIRED goes on
        }
        BugCheck(routine, "IRP %p is completed from its own top-level completion routine", static_cast<void *>(irp));
    case IrpPhase::Completing:
        BugCheck(routine, "IRP %p is completed twice (its completion is already running)", static_cast<void *>(irp));
    default:
        BugCheck(routine, "IRP %p is completed twice (no driver holds it)", static_cast<void *>(irp));
    }
    if (irp->CurrentLocation > irp->StackCount) {
        BugCheck(routine, "IRP %p is completed twice (no stack location is current)", static_cast<void *>(irp));
    }
    if (irp->IoStatus.Status == STATUS_PENDING) {
        BugCheck(routine, "IRP %p is completed with status STATUS_PENDING", static_cast<void *>(irp));
    }
    if (irp->CancelRoutine != nullptr) {
        BugCheck(routine, "IRP %p is completed with its cancel routine still set", static_cast<void *>(irp));
    }
    record->phase = IrpPhase::Completing;
    ++record->token;

    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION leaving = IoGetCurrentIrpStackLocation(irp);
        int number = irp->CurrentLocation;
        IrpLocation &location = record->locations[static_cast<size_t>(number)];
        bool marked = (leaving->Control & SL_PENDING_RETURNED) != 0;
        if (location.sequence != 0 && location.markedPending == -1) {
            location.markedPending = marked ? 1 : 0;
            CheckPendingRule(irp, location, number, leaving->DeviceObject);
        }
        location.held = false;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        irp->PendingReturned = marked;
        if (InvokesRoutine(leaving, irp)) {
            // The routine is the sender's when no driver holds a location above: the IRP is back
            // at the top, or at a location the sender took for itself.
            bool atTop = HoldingLocation(*record) == 0;
            PDEVICE_OBJECT device = irp->CurrentLocation > irp->StackCount
                                        ? nullptr
                                        : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
            DriverModule *module = record->owner.module;
            if (device != nullptr) {
                state.LiveDevice("completion routine (IoCompleteRequest)", device);
                module = ModuleOfDevice(state, device);
            }
            PIO_COMPLETION_ROUTINE completion = leaving->CompletionRoutine;
            PVOID context = leaving->Context;
            state.CheckNotFreed("completion routine (IoCompleteRequest)", context, "completion context");
            ClearLocation(leaving);
            uint64_t token = ++record->token;
            record->phase = IrpPhase::RoutineRunning;
            record->routineAtTop = atTop;
            held.unlock();
            NTSTATUS result;
            {
                DriverCall call("completion routine (IoCompleteRequest)", module);
                result = completion(device, irp, context);
                call.CheckIrql();
            }
            held.lock();
            auto it = state.irps.find(irp);
            IrpRecord *now = it != state.irps.end() ? it->second.get() : nullptr;
            bool untouched = now == record && !record->freed && record->token == token;
            if (result == STATUS_MORE_PROCESSING_REQUIRED) {
                if (untouched) {
                    record->phase = atTop ? IrpPhase::Idle : IrpPhase::Halted;
                    ++record->token;
                }
                return;
            }
            if (!untouched) {
                BugCheck(routine,
                         "completion routine %p took IRP %p back (reused, freed, sent or completed it) but returned "
                         "0x%08x instead of STATUS_MORE_PROCESSING_REQUIRED",
                         reinterpret_cast<void *>(completion), static_cast<void *>(irp), static_cast<unsigned>(result));
            }
            record->phase = IrpPhase::Completing;
        } else {
            if (irp->CurrentLocation <= irp->StackCount && irp->PendingReturned) {
                IoMarkIrpPending(irp);
            }
            ClearLocation(leaving);
        }
    }
    if (!record->threaded) {
        BugCheck(routine,
                 "IRP %p from IoAllocateIrp was completed to the top without a completion routine returning "
                 "STATUS_MORE_PROCESSING_REQUIRED: nobody gets it back to free it",
                 static_cast<void *>(irp));
    }
    FinishThreadedIrp(state, record);
}

extern "C" PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input, ULONG inputLength,
                                                    PVOID output, ULONG outputLength, BOOLEAN internal, PKEVENT event,
                                                    PIO_STATUS_BLOCK ioStatus)
{
    RequireIrql("IoBuildDeviceIoControlRequest", PASSIVE_LEVEL, PASSIVE_LEVEL);
    {
        KernelState &state = State();
        std::lock_guard<std::mutex> held(state.lock);
        state.LiveDevice("IoBuildDeviceIoControlRequest", device);
        state.CheckNotFreed("IoBuildDeviceIoControlRequest", event, "event");
    }
    RequestParameters request;
    request.major = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    request.code = code;
    request.input = input;
    request.inputLength = inputLength;
    request.output = output;
    request.outputLength = outputLength;
    return BuildRequest("IoBuildDeviceIoControlRequest", device, request, event, ioStatus, CurrentOwner());
}

// ---- Cancel ---------------------------------------------------------------------------------------

extern "C" VOID NTAPI IoAcquireCancelSpinLock(PKIRQL irql)
{
    *irql = KfAcquireSpinLock(&State().cancelLock);
}

extern "C" VOID NTAPI IoReleaseCancelSpinLock(KIRQL irql)
{
    KfReleaseSpinLock(&State().cancelLock, irql);
}

namespace tapkernel {
bool SpinLockHeldByCaller(PKSPIN_LOCK lock);
}

extern "C" BOOLEAN NTAPI IoCancelIrp(PIRP irp)
{
    RequireIrql("IoCancelIrp", PASSIVE_LEVEL, DISPATCH_LEVEL);
    KernelState &state = State();
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    PDEVICE_OBJECT device = nullptr;
    DriverModule *module = nullptr;
    PDRIVER_CANCEL cancel = nullptr;
    {
        std::lock_guard<std::mutex> held(state.lock);
        IrpRecord *record = state.LiveIrp("IoCancelIrp", irp);
        // Drivers read the flag without the cancel lock right after IoSetCancelRoutine (the
        // documented pattern); the store is atomic so that such a read is well defined.
        __atomic_store_n(&irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
        cancel = IoSetCancelRoutine(irp, nullptr);
        if (cancel != nullptr) {
            if (irp->CurrentLocation <= irp->StackCount) {
                device = IoGetCurrentIrpStackLocation(irp)->DeviceObject;
                state.LiveDevice("cancel routine (IoCancelIrp)", device);
                module = ModuleOfDevice(state, device);
            } else {
                module = record->owner.module;
            }
        }
    }
    if (cancel == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    {
        ModuleScope scope(module);
        cancel(device, irp);
    }
    if (SpinLockHeldByCaller(&state.cancelLock)) {
        BugCheck("cancel routine (IoCancelIrp)", "cancel routine %p returned without releasing the cancel spin lock",
                 reinterpret_cast<void *>(cancel));
    }
    if (CurrentIrql() != irql) {
        BugCheck("cancel routine (IoCancelIrp)", "cancel routine %p returned at IRQL %u; IoCancelIrp was called at %u",
                 reinterpret_cast<void *>(cancel), CurrentIrql(), irql);
    }
    return TRUE;
}
