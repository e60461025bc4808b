/*
 * TapDriver.h - the driver framework shared by both touch drivers.
 *
 * One private header for the whole framework: the device extensions, the driver-wide records and
 * the routines, grouped by the file that implements them. Each line's folder supplies TapLine.h
 * with its constants and its touch state, and implements the few line hooks declared at the end.
 *
 * IRQL and ownership are stated with every routine.
 */
#ifndef TAP_DRIVER_H
#define TAP_DRIVER_H

#include <ntddk.h>
#include <ntddmou.h>
#include <ntddser.h>
#include <kbdmou.h>

#include "TapShared.h"
#include "TapLine.h"

/* Pool tag of every allocation of the drivers; reads "Ptdv" in a pool dump. */
#define TAP_POOL_TAG 'vdtP'

/* Scale of the absolute pointer range (0..65535 across the screen). */
#define TAP_ABSOLUTE_SCALE 65535
/* Calibration values are raw units times this divisor. */
#define TAP_CALIBRATION_DIVISOR 100

/* The mouse device: unnamed, attached on top of the touchscreen's physical device object; the
 * system's mouse class driver sits above it and receives every report. */
typedef struct _MOUSE_DEVICE_EXTENSION {
    PDEVICE_OBJECT Self;
    BOOLEAN IsMouseDevice;               /* TRUE here: shares its place with the control extension */
    PDEVICE_OBJECT LowerDevice;
    PDEVICE_OBJECT ControlDevice;
    MOUSE_ATTRIBUTES Attributes;
    PDEVICE_OBJECT ClassDevice;          /* from IOCTL_INTERNAL_MOUSE_CONNECT; NULL until then */
    PVOID ClassService;                  /* the class service callback; NULL until connected */
    MOUSE_INPUT_DATA InputData;          /* the report every delivery is built in */
    MOUSE_INPUT_DATA LastReport;         /* InputData as it stood after the last delivery */
    KSPIN_LOCK ReadLock;                 /* guards StopRequested and the reuse of ReadIrp */
    KEVENT ReadDoneEvent;                /* synchronization event: the read path acknowledges a stop */
    BOOLEAN Reading;
    BOOLEAN StopRequested;               /* set by IRP_MN_STOP_DEVICE, never cleared */
    BOOLEAN Removing;
    BOOLEAN AttributesQueried;           /* no report is delivered before the class queried them */
    PVOID InterfaceNotification;         /* COM-port interface notification entry */
    SERIAL_BASIC_SETTINGS SavedSerialSettings;
    PIRP ReadIrp;                        /* the one IRP reused for every read */
    volatile LONG ReadState;             /* TAP_READ_STATE, changed only by interlocked operations */
    UCHAR ReadByte;
    PFILE_OBJECT PortFileObject;         /* the reference that holds the COM port open */
    PDEVICE_OBJECT PortDevice;           /* NULL exactly when no port is open */
    KEVENT BeepEvent;                    /* notification event: asks the beep thread for one beep */
    PKTHREAD BeepThread;                 /* referenced; NULL when the thread could not be started */
    TAP_TOUCH_STATE Touch;               /* the line's decoder and contact state (TapLine.h) */
} MOUSE_DEVICE_EXTENSION, *PMOUSE_DEVICE_EXTENSION;

/* The control device: named, in no device stack; the tools send their control codes here. */
typedef struct _CONTROL_DEVICE_EXTENSION {
    PDEVICE_OBJECT Self;
    BOOLEAN IsMouseDevice;               /* FALSE here */
    PMOUSE_DEVICE_EXTENSION MouseExtension;
    PDEVICE_OBJECT BeepDevice;           /* \Device\Beep, referenced, opened on the first beep */
    BOOLEAN BeepThreadStop;
} CONTROL_DEVICE_EXTENSION, *PCONTROL_DEVICE_EXTENSION;

/* Records of the whole loaded driver, shared by every device pair it serves. The registry holds
 * their persistent copy; AddDevice reloads them and control codes replace them at any time. */
typedef struct _TAP_DRIVER_DATA {
    UNICODE_STRING ServiceRegistryPath;
    TAP_POINTER_SETTINGS Settings;
    CALIBRATION_DATA ActiveCalibration;
    RAW_SAMPLE LastRawSample;            /* last valid packet, before clamping */
    BOOLEAN RightClickArmed;             /* the next delivered report becomes a right click */
    ULONG StillCount;                    /* consecutive still packets in MODE_INTERACTIVE_TOUCH */
} TAP_DRIVER_DATA;

extern TAP_DRIVER_DATA Globals;

/* ---- PointerEngine.cpp: calibration mapping, mode filter, report step, beep signalling -------
 * All run in the read completion at IRQL <= DISPATCH_LEVEL, one packet at a time. */

/* Sets the parameter defaults: Settings MouseMode..Port (Enable untouched) and the calibration
 * that maps nothing (all raw fields 0, a 1024x768 screen). PASSIVE_LEVEL. */
VOID SetDefaultParameters(VOID);

/* Clamps a raw position into the calibrated raw range, each axis with its own bounds. */
VOID ClampToCalibration(const CALIBRATION_DATA *Calibration, PULONG RawX, PULONG RawY);

/* Maps a (clamped) raw position to LastX/LastY in 0..65535; a coordinate whose two calibration
 * values are equal keeps its value. */
VOID MapToAbsolute(const CALIBRATION_DATA *Calibration, ULONG RawX, ULONG RawY, PMOUSE_INPUT_DATA InputData);

/* TRUE when the packet in InputData is to be reported under the current mouse mode; may rewrite
 * InputData and arm the right click (interactive hold). */
BOOLEAN ModeFilter(PMOUSE_DEVICE_EXTENSION Extension, PMOUSE_INPUT_DATA InputData,
                   const MOUSE_INPUT_DATA *LastReport);

/* The report step after a valid packet: mode filter, right click, delivery, beep request, and
 * the clearing of the button flags for the next packet. */
VOID ReportPacket(PMOUSE_DEVICE_EXTENSION Extension);

/* Hands InputData to the mouse class service as one record, at DISPATCH_LEVEL. */
VOID DeliverReport(PMOUSE_DEVICE_EXTENSION Extension);

/* Asks the beep thread for one beep; never waits. */
VOID SignalBeep(PMOUSE_DEVICE_EXTENSION Extension);

/* ---- Line hooks: implemented in each line's folder ------------------------------------------ */

/* Sets the line's touch state of a new, zero-filled mouse device extension. PASSIVE_LEVEL. */
VOID TapLineInitialize(PMOUSE_DEVICE_EXTENSION Extension);

/* Feeds one received byte to the line's packet decoder. TRUE when it completed a packet that the
 * report step is to handle. IRQL <= DISPATCH_LEVEL. */
BOOLEAN TapLineDecodeByte(PMOUSE_DEVICE_EXTENSION Extension, UCHAR Byte);

/* Runs after every byte read with success, whatever the decoder said: the line remembers the
 * positions of the packet just decoded as the previous packet. IRQL <= DISPATCH_LEVEL. */
VOID TapLineAfterByte(PMOUSE_DEVICE_EXTENSION Extension);

/* TRUE when the pointer contact moved less than the line's still tolerance on both axes since the
 * previous packet (the interactive hold counts such packets). */
BOOLEAN TapLineIsStillStep(PMOUSE_DEVICE_EXTENSION Extension);

#endif /* TAP_DRIVER_H */
