/*
 * wdm.h (host stand-in) - the WDM kernel interface the touch drivers use, with the names and
 * record layouts of the real header. Declares only what the drivers need.
 */
#ifndef _WDMDDK_
#define _WDMDDK_

#include <ntdef.h>
#include <ntstatus.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Control codes --------------------------------------------------------------------------- */
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((ULONG)(DeviceType) << 16) | ((ULONG)(Access) << 14) | ((ULONG)(Function) << 2) | (ULONG)(Method))
#define METHOD_BUFFERED 0
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_DEVICE_BEEP 0x00000001
#define FILE_DEVICE_MOUSE 0x0000000f
#define FILE_DEVICE_SERIAL_PORT 0x0000001b
#define FILE_DEVICE_UNKNOWN 0x00000022

/* ---- IRQL ------------------------------------------------------------------------------------ */
typedef UCHAR KIRQL, *PKIRQL;
#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

/* Raises the current processor's IRQL to NewIrql (never lower) and returns the old one. */
KIRQL NTAPI KfRaiseIrql(KIRQL NewIrql);
/* Lowers the IRQL back to NewIrql (never higher than the current one). */
VOID NTAPI KfLowerIrql(KIRQL NewIrql);
KIRQL NTAPI KeGetCurrentIrql(VOID);
#define KeRaiseIrql(NewIrql, OldIrql) (*(OldIrql) = KfRaiseIrql(NewIrql))
#define KeLowerIrql(NewIrql) KfLowerIrql(NewIrql)

/* ---- Dispatcher objects ---------------------------------------------------------------------- */
typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Absolute;
    UCHAR Size;
    UCHAR Inserted;
    volatile LONG SignalState;
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef LONG KPRIORITY;
#define IO_NO_INCREMENT 0

VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
/* Signals the event; returns its previous signal state. */
LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
VOID NTAPI KeClearEvent(PRKEVENT Event);
LONG NTAPI KeReadStateEvent(PRKEVENT Event);

/* ---- Objects the drivers hold pointers to ----------------------------------------------------- */
struct _DEVICE_OBJECT;
typedef struct _DEVICE_OBJECT *PDEVICE_OBJECT;
struct _FILE_OBJECT;
typedef struct _FILE_OBJECT *PFILE_OBJECT;
struct _IRP;
typedef struct _IRP *PIRP;
struct _KTHREAD;
typedef struct _KTHREAD *PKTHREAD, *PETHREAD;

typedef ULONG_PTR KSPIN_LOCK, *PKSPIN_LOCK;

/* ---- Memory ---------------------------------------------------------------------------------- */
#define RtlZeroMemory(Destination, Length) memset((Destination), 0, (Length))
#define RtlCopyMemory(Destination, Source, Length) memcpy((Destination), (Source), (Length))
#define RtlMoveMemory(Destination, Source, Length) memmove((Destination), (Source), (Length))

#ifdef __cplusplus
}
#endif

#endif /* _WDMDDK_ */
