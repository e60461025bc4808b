/* ntddk.h (host stand-in) - the kernel-mode driver interface: WDM plus the NT-only routines. */
#ifndef _NTDDK_
#define _NTDDK_
#include <wdm.h>
#endif /* _NTDDK_ */
