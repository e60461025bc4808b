// The stand-in's verifier: a breach of a kernel rule stops the run with a message naming the
// routine, the way a bugcheck stops Windows.
#pragma once

namespace tapkernel {

[[noreturn]] void BugCheck(const char *routine, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

} // namespace tapkernel
