// Failure switches of kernel routines, armed by module name so that a test can reach a driver's
// DriverEntry and first AddDevice too (the machine creates a driver's module when it loads it):
// the next calls of one routine by that module fail with a status of the test's choice, and the
// module's allocation switches (pool, IRPs; see Kernel::FailPoolAllocations) can be armed before
// its load.
#include "KernelState.h"

#include <map>
#include <mutex>
#include <utility>

namespace tapkernel {

namespace {

struct Failure {
    unsigned skip = 0;
    unsigned count = 0;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
};

struct AllocationSwitch {
    unsigned skip = 0;
    unsigned count = 0;
};

struct Switches {
    std::map<KernelRoutine, Failure> routines;
    std::optional<AllocationSwitch> pool; // for the module's next load
    std::optional<AllocationSwitch> irps;
};

std::mutex switchesLock;
std::map<std::string, Switches> switches; // by module name

} // namespace

void Kernel::FailRoutine(const std::string &moduleName, KernelRoutine routine, unsigned skip, unsigned count,
                         NTSTATUS status)
{
    std::lock_guard<std::mutex> held(switchesLock);
    if (count == 0) {
        switches[moduleName].routines.erase(routine);
    } else {
        switches[moduleName].routines[routine] = Failure{skip, count, status};
    }
}

void Kernel::FailAllocationsAtLoad(const std::string &moduleName, unsigned poolSkip, unsigned poolCount,
                                   unsigned irpSkip, unsigned irpCount)
{
    std::lock_guard<std::mutex> held(switchesLock);
    switches[moduleName].pool = AllocationSwitch{poolSkip, poolCount};
    switches[moduleName].irps = AllocationSwitch{irpSkip, irpCount};
}

unsigned Kernel::InjectedFailuresLeft(const std::string &moduleName)
{
    unsigned left = 0;
    {
        std::lock_guard<std::mutex> held(switchesLock);
        auto it = switches.find(moduleName);
        if (it != switches.end()) {
            for (const auto &entry : it->second.routines) {
                left += entry.second.count;
            }
            left += it->second.pool ? it->second.pool->count : 0;
            left += it->second.irps ? it->second.irps->count : 0;
        }
    }
    std::lock_guard<std::mutex> held(state_->lock);
    for (const auto &module : state_->modules) {
        if (module->name == moduleName) {
            left += module->poolFailCount + module->irpFailCount;
        }
    }
    return left;
}

void ArmNewModule(DriverModule *module)
{
    std::lock_guard<std::mutex> held(switchesLock);
    auto it = switches.find(module->name);
    if (it == switches.end()) {
        return;
    }
    if (it->second.pool) {
        module->poolFailSkip = it->second.pool->skip;
        module->poolFailCount = it->second.pool->count;
        it->second.pool.reset();
    }
    if (it->second.irps) {
        module->irpFailSkip = it->second.irps->skip;
        module->irpFailCount = it->second.irps->count;
        it->second.irps.reset();
    }
}

bool ConsumeRoutineFailure(KernelRoutine routine, NTSTATUS *status)
{
    DriverModule *module = CurrentModule();
    if (module == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> held(switchesLock);
    auto it = switches.find(module->name);
    if (it == switches.end()) {
        return false;
    }
    auto failure = it->second.routines.find(routine);
    if (failure == it->second.routines.end()) {
        return false;
    }
    if (failure->second.skip > 0) {
        --failure->second.skip;
        return false;
    }
    *status = failure->second.status;
    if (--failure->second.count == 0) {
        it->second.routines.erase(failure);
    }
    return true;
}

} // namespace tapkernel
