// The stand-in's verifier: a breach of a kernel rule stops the run with a message naming the
// routine, the way a bugcheck stops Windows (BugCheck and RequireIrql are declared in
// tapkernel/Kernel.h). The leak checks live in LeakChecks.cpp.
#pragma once

#include <tapkernel/Kernel.h>
