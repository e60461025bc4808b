/*
 * windef.h (host stand-in) - the basic Windows types of user mode: BOOL, BYTE, WORD, DWORD, the
 * module, key and window handle types, FARPROC, FILETIME and MAX_PATH.
 */
#ifndef _WINDEF_
#define _WINDEF_

#include <winnt.h>

#ifndef NULL
#ifdef __cplusplus
#define NULL nullptr
#else
#define NULL ((void *)0)
#endif
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

#define MAX_PATH 260

/* Message parameters. */
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

typedef int BOOL;
typedef BOOL *PBOOL, *LPBOOL;
typedef unsigned char BYTE;
typedef BYTE *PBYTE, *LPBYTE;
typedef unsigned short WORD;
typedef WORD *PWORD, *LPWORD;
typedef uint32_t DWORD;
typedef DWORD *PDWORD, *LPDWORD;
typedef int *PINT, *LPINT;
typedef UINT *PUINT;
typedef void *LPVOID;
typedef const void *LPCVOID;

DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HWND);
typedef HINSTANCE HMODULE;
typedef HKEY *PHKEY;

typedef INT_PTR(WINAPI *FARPROC)();

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;


#ifdef __cplusplus
static_assert(sizeof(DWORD) == 4 && sizeof(WORD) == 2 && sizeof(BOOL) == 4, "32-bit Windows sizes");
#endif

#endif /* _WINDEF_ */
