/*
 * guiddef.h (host stand-in) - GUID records and DEFINE_GUID. As in the real header, DEFINE_GUID is
 * re-evaluated on every inclusion: it declares the GUID, or defines it when INITGUID is set (which
 * <initguid.h> does before including this header again).
 */
#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    unsigned int Data1; /* ULONG: 32-bit */
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} GUID;
#endif

#ifndef EXTERN_C
#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif
#endif

/* One definition per module even when several files of it include <initguid.h>. */
#ifndef DECLSPEC_SELECTANY
#define DECLSPEC_SELECTANY __attribute__((weak))
#endif

#ifdef DEFINE_GUID
#undef DEFINE_GUID
#endif
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EXTERN_C const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
#endif

#ifndef _GUIDDEF_H_
#define _GUIDDEF_H_

typedef GUID *LPGUID;
typedef const GUID *LPCGUID;
#ifdef __cplusplus
typedef const GUID &REFGUID;
#else
typedef const GUID *REFGUID;
#endif

#include <string.h>

#ifdef __cplusplus
/* TRUE when both GUIDs hold the same 16 bytes. */
inline int IsEqualGUID(REFGUID a, REFGUID b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}
#else
#define IsEqualGUID(a, b) (!memcmp((a), (b), sizeof(GUID)))
#endif

#endif /* _GUIDDEF_H_ */
