/*
 * ntdef.h (host stand-in) - basic types of the Windows kernel, with the sizes of 32-bit Windows
 * where records cross between user and kernel mode: LONG and ULONG are 32-bit (LLP64, never
 * 'long'), WCHAR is 16-bit (the host build uses -fshort-wchar).
 */
#ifndef _NTDEF_
#define _NTDEF_

#include <stddef.h>
#include <stdint.h>

#define NTAPI
#define STDAPICALLTYPE
#define IN
#define OUT
#define OPTIONAL
#define UNREFERENCED_PARAMETER(P) ((void)(P))

#ifndef VOID
#define VOID void
#endif
typedef char CHAR;
typedef unsigned char UCHAR;
typedef short SHORT;
typedef unsigned short USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef wchar_t WCHAR;
typedef UCHAR BOOLEAN;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef void *PVOID;
typedef CHAR *PCHAR;
typedef UCHAR *PUCHAR;
typedef USHORT *PUSHORT;
typedef LONG *PLONG;
typedef ULONG *PULONG;
typedef WCHAR *PWCH, *PWSTR;
typedef const WCHAR *PCWSTR;
typedef BOOLEAN *PBOOLEAN;
typedef LONG NTSTATUS;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#define NULL 0
#endif

#define NT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)

static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LLP64: LONG and ULONG are 32-bit");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16-bit: build with -fshort-wchar");

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY *Flink;
    struct _LIST_ENTRY *Blink;
} LIST_ENTRY, *PLIST_ENTRY;

typedef struct _UNICODE_STRING {
    USHORT Length;        /* bytes, without a terminating NUL */
    USHORT MaximumLength; /* bytes of Buffer */
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING *PCUNICODE_STRING;

typedef struct _GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
} GUID, *LPGUID;
typedef const GUID *LPCGUID;

#endif /* _NTDEF_ */
