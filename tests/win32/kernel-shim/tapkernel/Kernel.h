// TEMPORARY: what <machine/Machine.h> needs of the kernel's services header, without the DDK
// headers that header pulls in (they cannot share a translation unit with <windows.h>). Put first
// on the include path of the tests that use both; goes when Machine.h forward-declares these
// itself (platform/win32/NEEDS.md).
#pragma once

namespace tapkernel {
class Kernel;
class RegistryStore;
} // namespace tapkernel
