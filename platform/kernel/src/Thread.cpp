// System threads: host threads that run a driver's start routine (or a body of the machine) at
// PASSIVE_LEVEL, take part in the idle test, and signal their thread object when they end.
#include "KernelState.h"

namespace tapkernel {

namespace {

struct ThreadExit {
    NTSTATUS status;
};

void ThreadMain(KernelState *state, ThreadRecord *thread, const std::function<void()> &body)
{
    BindCurrentThread(*state, thread);
    SetCurrentModule(thread->owner.module);
    try {
        body();
    } catch (const ThreadExit &exit) {
        thread->exitStatus = exit.status;
    } catch (const KernelShutdown &) {
    }
    if (CurrentIrql() != PASSIVE_LEVEL) {
        BugCheck("PsTerminateSystemThread", "system thread '%s' ended at IRQL %u", thread->name.c_str(), CurrentIrql());
    }
    SetCurrentModule(nullptr);
    {
        std::lock_guard<std::mutex> held(state->lock);
        EndThreadRecord(*state, thread);
    }
    DereferenceObject("PsTerminateSystemThread", &thread->object, false);
}

} // namespace

PKTHREAD CreateKernelThread(const std::string &name, Owner owner, std::function<void()> body)
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    auto record = std::make_unique<ThreadRecord>();
    ThreadRecord *thread = record.get();
    thread->name = name;
    thread->counted = true;
    thread->systemThread = true;
    thread->owner = owner;
    thread->references = 2; // the running thread's own, and the one returned
    thread->object.Header.Type = kThreadObject;
    thread->object.Header.Size = sizeof(_KTHREAD) / 4;
    thread->object.Header.WaitListHead.Flink = &thread->object.Header.WaitListHead;
    thread->object.Header.WaitListHead.Blink = &thread->object.Header.WaitListHead;
    thread->object.Record = thread;
    thread->body = &thread->object;
    state.threads.push_back(thread);
    state.objects.emplace(&thread->object, std::move(record));
    ++state.busyCounted;
    thread->host = std::thread(ThreadMain, &state, thread, std::move(body));
    return &thread->object;
}

[[noreturn]] void ExitSystemThread(NTSTATUS status)
{
    throw ThreadExit{status};
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" NTSTATUS NTAPI PsCreateSystemThread(PHANDLE threadHandle, ULONG access, POBJECT_ATTRIBUTES, HANDLE,
                                               PCLIENT_ID clientId, PKSTART_ROUTINE startRoutine, PVOID startContext)
{
    RequireIrql("PsCreateSystemThread", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (NTSTATUS injected; ConsumeRoutineFailure(KernelRoutine::PsCreateSystemThread, &injected)) {
        return injected;
    }
    if (startRoutine == nullptr) {
        BugCheck("PsCreateSystemThread", "StartRoutine is NULL");
    }
    Owner owner = CurrentOwner();
    KernelState &state = State();
    {
        std::lock_guard<std::mutex> held(state.lock);
        state.CheckNotFreed("PsCreateSystemThread", startContext, "start context");
        if (ConsumePoolFailure(owner.module)) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    std::string name = "system thread";
    if (owner.module != nullptr) {
        name += " of " + owner.module->name;
    }
    PKTHREAD thread = CreateKernelThread(name, owner, [startRoutine, startContext] {
        {
            KernelState &kernel = State();
            std::lock_guard<std::mutex> held(kernel.lock);
            kernel.CheckNotFreed("system thread start", startContext, "start context");
        }
        startRoutine(startContext);
    });
    std::lock_guard<std::mutex> held(state.lock);
    HandleEntry entry;
    entry.object = thread->Record;
    entry.access = access;
    entry.owner = owner;
    HANDLE handle = state.InsertHandle(std::move(entry));
    *threadHandle = handle;
    if (clientId != nullptr) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(4);
        clientId->UniqueThread = handle;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS exitStatus)
{
    RequireIrql("PsTerminateSystemThread", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    {
        std::unique_lock<std::mutex> held(state.lock);
        if (!CurrentThread(state, held)->systemThread) {
            BugCheck("PsTerminateSystemThread", "called by a thread that is not a system thread");
        }
    }
    ExitSystemThread(exitStatus);
}
