// IRQL of the current (host) thread. Each thread starts at PASSIVE_LEVEL; raising and lowering
// follow the kernel's rules, and a breach stops the run with a message naming the routine.
#include <wdm.h>

#include "Verifier.h"

namespace {
thread_local KIRQL currentIrql = PASSIVE_LEVEL;
}

extern "C" KIRQL NTAPI KfRaiseIrql(KIRQL newIrql)
{
    KIRQL old = currentIrql;
    if (newIrql < old) {
        tapkernel::BugCheck("KfRaiseIrql", "new IRQL %u is below the current IRQL %u", newIrql, old);
    }
    currentIrql = newIrql;
    return old;
}

extern "C" VOID NTAPI KfLowerIrql(KIRQL newIrql)
{
    if (newIrql > currentIrql) {
        tapkernel::BugCheck("KfLowerIrql", "new IRQL %u is above the current IRQL %u", newIrql, currentIrql);
    }
    currentIrql = newIrql;
}

extern "C" KIRQL NTAPI KeGetCurrentIrql(VOID)
{
    return currentIrql;
}
