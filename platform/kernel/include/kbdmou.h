/* kbdmou.h (host stand-in) - the connection between a mouse port driver and the mouse class. */
#ifndef _KBDMOU_
#define _KBDMOU_

#include <ntddmou.h>

#define IOCTL_INTERNAL_MOUSE_CONNECT    CTL_CODE(FILE_DEVICE_MOUSE, 0x0080, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_DISCONNECT CTL_CODE(FILE_DEVICE_MOUSE, 0x0100, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_ENABLE     CTL_CODE(FILE_DEVICE_MOUSE, 0x0200, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_INTERNAL_MOUSE_DISABLE    CTL_CODE(FILE_DEVICE_MOUSE, 0x0400, METHOD_NEITHER, FILE_ANY_ACCESS)

typedef struct _CONNECT_DATA {
    PDEVICE_OBJECT ClassDeviceObject;
    PVOID ClassService;
} CONNECT_DATA, *PCONNECT_DATA;

#ifdef __cplusplus
static_assert(sizeof(CONNECT_DATA) == 2 * sizeof(PVOID), "CONNECT_DATA is two pointers");
#endif

/* The class service: takes the records from SystemArgument1 up to (not including)
 * SystemArgument2 and stores the number it consumed at SystemArgument3. */
typedef VOID (STDAPICALLTYPE *PSERVICE_CALLBACK_ROUTINE)(PVOID NormalContext, PVOID SystemArgument1,
                                                         PVOID SystemArgument2, PVOID SystemArgument3);

#endif /* _KBDMOU_ */
