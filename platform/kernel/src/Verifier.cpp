// The verifier's way out: a breach of a kernel rule prints one line naming the routine (and the
// driver module whose code was running), then stops the process like a bugcheck stops Windows.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "KernelState.h"

namespace tapkernel {

void BugCheck(const char *routine, const char *format, ...)
{
    std::fprintf(stderr, "*** BUGCHECK in %s: ", routine);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (DriverModule *module = CurrentModule()) {
        std::fprintf(stderr, " [running as module %s]", module->name.c_str());
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

void RequireIrql(const char *routine, KIRQL minimum, KIRQL maximum)
{
    KIRQL irql = CurrentIrql();
    if (irql < minimum || irql > maximum) {
        BugCheck(routine, "called at IRQL %u; it must be called at IRQL %u..%u", irql, minimum, maximum);
    }
}

} // namespace tapkernel

// A checked build's failed ASSERT (or PAGED_CODE above APC_LEVEL): the host stops the run.
extern "C" VOID NTAPI RtlAssert(PVOID FailedAssertion, PVOID FileName, ULONG LineNumber, PSTR Message)
{
    if (Message != nullptr) {
        tapkernel::BugCheck("RtlAssert", "assertion failed at %s:%u in %s: %s (IRQL %u)",
                            static_cast<const char *>(FileName), LineNumber, Message,
                            static_cast<const char *>(FailedAssertion), tapkernel::CurrentIrql());
    }
    tapkernel::BugCheck("RtlAssert", "assertion failed at %s:%u: %s", static_cast<const char *>(FileName), LineNumber,
                        static_cast<const char *>(FailedAssertion));
}
