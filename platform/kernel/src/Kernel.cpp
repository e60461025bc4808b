// tapkernel::Kernel: the kernel object of a simulated PC (one at a time, found by the DDK routines
// through State()), its private state's life, and the bookkeeping of which module is running.
// Its services live by job: DriverLoading.cpp, LeakChecks.cpp, UserFiles.cpp, Clock.cpp.
#include <atomic>

#include "KernelState.h"

namespace tapkernel {

// Defined next to what it serves.
void WorkerLoop(KernelState *state);

namespace {

std::atomic<KernelState *> current{nullptr};
std::atomic<uint64_t> generations{0};
thread_local DriverModule *currentModule = nullptr;

// Driver activity (Kernel::ForeignDriverCalls): every call into driver code, and this thread's.
std::atomic<uint64_t> driverCalls{0};
thread_local uint64_t ownDriverCalls = 0;
std::atomic<Kernel::DriverActivityHook> activityHook{nullptr};
std::atomic<void *> activityContext{nullptr};

void CountDriverCall()
{
    driverCalls.fetch_add(1);
    ++ownDriverCalls;
    if (Kernel::DriverActivityHook hook = activityHook.load()) {
        hook(activityContext.load());
    }
}

} // namespace

// ---- Current module -----------------------------------------------------------------------------

DriverModule *CurrentModule()
{
    return currentModule;
}

void SetCurrentModule(DriverModule *module)
{
    currentModule = module;
}

Owner CurrentOwner()
{
    DriverModule *module = currentModule;
    return Owner{module, module != nullptr && module->inDriverEntry.load()};
}

ModuleScope::ModuleScope(DriverModule *module) : previous_(currentModule)
{
    currentModule = module;
}

ModuleScope::~ModuleScope()
{
    currentModule = previous_;
}

DriverCall::DriverCall(const char *routine, DriverModule *module)
    : routine_(routine), previous_(currentModule), module_(module), irql_(CurrentIrql())
{
    CountDriverCall();
    if (module_ != nullptr) {
        module_->callsRunning.fetch_add(1);
    }
    currentModule = module;
}

uint64_t Kernel::ForeignDriverCalls() const
{
    return driverCalls.load() - ownDriverCalls;
}

void Kernel::SetDriverActivityHook(DriverActivityHook hook, void *context)
{
    activityHook.store(nullptr);
    activityContext.store(context);
    activityHook.store(hook);
}

DriverCall::~DriverCall()
{
    currentModule = previous_;
    if (module_ != nullptr) {
        module_->callsRunning.fetch_sub(1);
    }
}

void DriverCall::CheckIrql()
{
    if (CurrentIrql() != irql_) {
        BugCheck(routine_, "returned at IRQL %u but was called at IRQL %u", CurrentIrql(), irql_);
    }
}

// ---- State --------------------------------------------------------------------------------------

KernelState &State()
{
    KernelState *state = current.load();
    if (state == nullptr) {
        BugCheck("kernel", "no tapkernel::Kernel exists: create one before calling kernel routines");
    }
    return *state;
}

KernelState *TryState()
{
    return current.load();
}

KernelState::KernelState(KernelOptions opts)
    : generation(++generations), options(std::move(opts)), registry(options.registry),
      bootTime(options.bootSystemTime), now(options.bootSystemTime)
{
    if (!registry) {
        registry = std::make_shared<RegistryStore>();
    }
    spinLocks.insert(reinterpret_cast<uintptr_t>(&cancelLock));
    workEvent.Header.Type = kEventSynchronizationObject;
    workEvent.Header.Size = sizeof(KEVENT) / 4;
    workEvent.Header.WaitListHead.Flink = &workEvent.Header.WaitListHead;
    workEvent.Header.WaitListHead.Blink = &workEvent.Header.WaitListHead;
}

KernelState::~KernelState()
{
    for (auto &entry : objects) {
        if (entry.second->kind == ObjectKind::Device) {
            auto *device = static_cast<DeviceRecord *>(entry.second.get());
            std::free(device->block);
        }
    }
    for (auto &entry : irps) {
        std::free(entry.second->irp);
    }
    for (auto &entry : pool) {
        std::free(const_cast<void *>(entry.first));
    }
}


// ---- Kernel -------------------------------------------------------------------------------------

Kernel::Kernel(KernelOptions options) : state_(std::make_unique<KernelState>(std::move(options)))
{
    KernelState *expected = nullptr;
    if (!current.compare_exchange_strong(expected, state_.get())) {
        BugCheck("Kernel", "a kernel already exists; destroy it before creating another");
    }
    KernelState *state = state_.get();
    state->owner = this;
    state->worker = CreateKernelThread("system worker", Owner{}, [state] { WorkerLoop(state); });
}

Kernel::~Kernel()
{
    KernelState &state = *state_;
    std::vector<std::thread> hosts;
    {
        std::lock_guard<std::mutex> held(state.lock);
        WakeAllForShutdown(state);
    }
    // Every system thread ends: waiting ones leave their wait, running ones finish their work.
    for (;;) {
        std::vector<std::thread> batch;
        {
            std::lock_guard<std::mutex> held(state.lock);
            for (ThreadRecord *thread : state.threads) {
                if (thread->systemThread && thread->host.joinable()) {
                    batch.push_back(std::move(thread->host));
                }
            }
            for (std::thread &thread : state.finishedHosts) {
                batch.push_back(std::move(thread));
            }
            state.finishedHosts.clear();
        }
        if (batch.empty()) {
            break;
        }
        for (std::thread &thread : batch) {
            thread.join();
        }
    }
    current.store(nullptr);
}

Kernel &Kernel::Current()
{
    Kernel *kernel = TryCurrent();
    if (kernel == nullptr) {
        BugCheck("Kernel::Current", "no tapkernel::Kernel exists");
    }
    return *kernel;
}

Kernel *Kernel::TryCurrent()
{
    KernelState *state = current.load();
    return state == nullptr ? nullptr : state->owner;
}

RegistryStore &Kernel::Registry()
{
    return *state_->registry;
}


uint64_t Kernel::PowerIrpsStarted()
{
    std::lock_guard<std::mutex> held(state_->lock);
    return state_->powerIrpsStarted;
}

} // namespace tapkernel
