/*
 * cpl.h (host stand-in) - the Control Panel extension protocol: the messages the Control Panel
 * sends to an applet library's CPlApplet export and the record CPL_INQUIRE fills.
 */
#ifndef _INC_CPL
#define _INC_CPL

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CPL_INIT 1
#define CPL_GETCOUNT 2
#define CPL_INQUIRE 3
#define CPL_SELECT 4
#define CPL_DBLCLK 5
#define CPL_STOP 6
#define CPL_EXIT 7
#define CPL_NEWINQUIRE 8
#define CPL_STARTWPARMSA 9
#define CPL_STARTWPARMSW 10

typedef LONG(WINAPI *APPLET_PROC)(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2);

#pragma pack(push, 1)
typedef struct tagCPLINFO {
    int idIcon;
    int idName;
    int idInfo;
    LONG_PTR lData;
} CPLINFO, *LPCPLINFO;
#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* _INC_CPL */
