#include "Verifier.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace tapkernel {

void BugCheck(const char *routine, const char *format, ...)
{
    std::fprintf(stderr, "*** BUGCHECK in %s: ", routine);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

} // namespace tapkernel
