// IRQL of the current (host) thread. Each thread starts at PASSIVE_LEVEL; raising and lowering
// follow the kernel's rules, and a breach stops the run with a message naming the routine.
#include "KernelState.h"

namespace {
thread_local KIRQL currentIrql = PASSIVE_LEVEL;
}

namespace tapkernel {

KIRQL CurrentIrql()
{
    return currentIrql;
}

void SetIrqlForNewThread(KIRQL irql)
{
    currentIrql = irql;
}

} // namespace tapkernel

using tapkernel::BugCheck;

extern "C" KIRQL FASTCALL KfRaiseIrql(KIRQL newIrql)
{
    KIRQL old = currentIrql;
    if (newIrql < old) {
        BugCheck("KeRaiseIrql", "new IRQL %u is below the current IRQL %u", newIrql, old);
    }
    currentIrql = newIrql;
    return old;
}

extern "C" VOID FASTCALL KfLowerIrql(KIRQL newIrql)
{
    if (newIrql > currentIrql) {
        BugCheck("KeLowerIrql", "new IRQL %u is above the current IRQL %u", newIrql, currentIrql);
    }
    currentIrql = newIrql;
}

extern "C" KIRQL NTAPI KeGetCurrentIrql(VOID)
{
    return currentIrql;
}

extern "C" KIRQL NTAPI KeRaiseIrqlToDpcLevel(VOID)
{
    return KfRaiseIrql(DISPATCH_LEVEL);
}
