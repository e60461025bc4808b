/*
 * TapDriver.h - the driver framework shared by both touch drivers.
 *
 * One private header for the whole framework: the device extensions, the driver-wide records and
 * the routines, grouped by the file that implements them. Each product's folder supplies TapProduct.h
 * with its constants and its touch state, and implements the few product hooks declared at the end.
 *
 * IRQL, locks and IRP ownership are stated with every routine.
 *
 * Locks, from outermost to innermost:
 *   Globals.PortLock   kernel mutex, PASSIVE_LEVEL, driver-wide. Serialises
 *                      everything that opens, closes, starts or stops a reader (COM-port arrival,
 *                      the port control codes, PnP stop, surprise removal and removal) and guards
 *                      the list of live mouse devices and each control device's MouseExtension.
 *   BeepLock           kernel mutex, PASSIVE_LEVEL, per control device.
 *                      Guards BeepDevice and BeepClosed; held across one beep request.
 *   ReadLock           spin lock, per mouse device. Guards Reading, StopRequested, Removing and the
 *                      reuse of ReadIrp; the only lock the per-byte path takes.
 */
#ifndef TAP_DRIVER_H
#define TAP_DRIVER_H

#include <ntddk.h>
#include <ntddmou.h>
#include <ntddser.h>
#include <kbdmou.h>

#include "TapShared.h"
#include "TapProduct.h"

/* Pool tag of every allocation of the drivers; reads "Ptdv" in a pool dump. */
#define TAP_POOL_TAG 'vdtP'

/* Scale of the absolute pointer range (0..65535 across the screen). */
#define TAP_ABSOLUTE_SCALE 65535
/* Calibration values are raw units times this divisor. */
#define TAP_CALIBRATION_DIVISOR 100

/* Values of ReadState: who issues the next read (SerialLink.cpp). */
#define TAP_READ_PASSING     1   /* a read is being passed to the port driver */
#define TAP_READ_PASSED      2   /* the read has been passed on (or no read is in progress) */
#define TAP_READ_COMPLETED   3   /* the read completed while it was being passed on */

/* This many reads in a row that bring no byte (whatever their status) end the reader, as a
 * vanished port does, so a port that fails every read at once cannot hold a processor at
 * DISPATCH_LEVEL forever. IOCTL_TOUCH_CLOSE_PORT then IOCTL_TOUCH_OPEN_PORT starts a new one. */
#define TAP_READ_RETRY_LIMIT 32

/* Returned by OpenPortNumber when the port is open and has its read IRP; the control code turns
 * it into success. */
#define TAP_STATUS_ALREADY_OPEN ((NTSTATUS)0x80000001L)

/* The mouse device: unnamed, attached on top of the touchscreen's physical device object; the
 * system's mouse class driver sits above it and receives every report. */
typedef struct _MouseDeviceExtension {
    PDEVICE_OBJECT Self;
    BOOLEAN IsMouseDevice;               /* TRUE here: shares its place with the control extension */
    PDEVICE_OBJECT LowerDevice;
    PDEVICE_OBJECT ControlDevice;
    IO_REMOVE_LOCK RemoveLock;           /* held by every request while it is in the mouse device;
                                            removal releases and waits before detach and delete */
    MOUSE_ATTRIBUTES Attributes;
    PDEVICE_OBJECT ClassDevice;          /* from IOCTL_INTERNAL_MOUSE_CONNECT; NULL until then */
    PVOID ClassService;                  /* the class service callback; NULL until connected;
                                            published and read with interlocked operations */
    MOUSE_INPUT_DATA InputData;          /* the report every delivery is built in */
    MOUSE_INPUT_DATA LastReport;         /* InputData as it stood after the last delivery */
    KSPIN_LOCK ReadLock;                 /* guards Reading, StopRequested, Removing, ReadIrp reuse */
    KEVENT ReadDoneEvent;                /* synchronization event: the read path acknowledges a stop */
    BOOLEAN Reading;                     /* a reader was started and no stop has ended it */
    BOOLEAN StopRequested;               /* set by IRP_MN_STOP_DEVICE, never cleared */
    BOOLEAN Removing;
    volatile LONG AttributesQueried;     /* no report before the class queried them; 32-bit so the
                                            read path can read it with an interlocked load */
    PVOID InterfaceNotification;         /* COM-port interface notification entry */
    SERIAL_BASIC_SETTINGS SavedSerialSettings;
    PIRP ReadIrp;                        /* the one IRP reused for every read */
    volatile LONG ReadState;             /* TAP_READ_*, changed only by interlocked operations */
    UCHAR ReadByte;
    PFILE_OBJECT PortFileObject;         /* the reference that holds the COM port open */
    PDEVICE_OBJECT PortDevice;           /* NULL exactly when no port is open */
    KEVENT BeepEvent;                    /* notification event: asks the beep thread for one beep */
    PKTHREAD BeepThread;                 /* referenced; NULL when the thread could not be started */
    TAP_TOUCH_STATE Touch;               /* the product's decoder and contact state (TapProduct.h) */

    /* Bookkeeping of the framework. */
    struct _MouseDeviceExtension *NextLive; /* Globals.LiveDevices chain; under PortLock */
    ULONG PairNumber;                    /* names the pair to the arrival handler; never reused */
    BOOLEAN ReadEnded;                   /* read path only: the last completion ended the reader */
    ULONG UnproductiveReads;             /* read path only: reads in a row that brought no byte */
} MouseDeviceExtension, *PMouseDeviceExtension;

/* The control device: named, in no device stack; the tools send their control codes here. */
typedef struct _ControlDeviceExtension {
    PDEVICE_OBJECT Self;
    BOOLEAN IsMouseDevice;               /* FALSE here */
    PMouseDeviceExtension MouseExtension; /* NULL once the pair is being removed; under PortLock */
    PDEVICE_OBJECT BeepDevice;           /* \Device\Beep, referenced, opened on the first beep */
    LONG BeepThreadStop;                 /* TRUE ends the beep thread; interlocked: the thread reads it */

    /* Bookkeeping of the framework. */
    KMUTEX BeepLock;                     /* see the lock order above */
    BOOLEAN BeepClosed;                  /* removal released BeepDevice: no beep opens it again */
} ControlDeviceExtension, *PControlDeviceExtension;

/* Records of the whole loaded driver, shared by every device pair it serves. The registry holds
 * their persistent copy; AddDevice reloads them and control codes replace them at any time.
 *
 * The read path reads Settings, ActiveCalibration and RightClickArmed while control codes write
 * them, and writes LastRawSample while a control code reads it. No lock is taken: every 32-bit
 * field is written with one interlocked store (TapStore) and read with one interlocked load
 * (TapLoad), and records are copied field by field, so a packet processed while a record is being
 * replaced may combine old and new fields but never sees a torn one. */
typedef struct _TAP_DRIVER_DATA {
    UNICODE_STRING ServiceRegistryPath;
    PointerSettings Settings;
    CalibrationData ActiveCalibration;
    RawSample LastRawSample;            /* last valid packet, before clamping */
    volatile LONG RightClickArmed;       /* the next delivered report becomes a right click */
    ULONG StillCount;                    /* consecutive still packets in MODE_INTERACTIVE_TOUCH */

    /* Bookkeeping of the framework. */
    KMUTEX PortLock;                     /* see the lock order above; initialised in DriverEntry */
    PMouseDeviceExtension LiveDevices; /* mouse devices the arrival handler may act on */
    ULONG LastPairNumber;                /* under PortLock */
} TAP_DRIVER_DATA;

extern TAP_DRIVER_DATA Globals;

/* One interlocked load or store of a 32-bit field that another thread may access at the same
 * time. Any IRQL. */
#define TapLoad(Field) ((ULONG)InterlockedCompareExchange((LONG volatile *)&(Field), 0, 0))
#define TapStore(Field, Value) ((VOID)InterlockedExchange((LONG volatile *)&(Field), (LONG)(Value)))

/* The fields of a PointerSettings record as an array, in registry order. */
#define TAP_SETTINGS_FIELD_COUNT (sizeof(PointerSettings) / sizeof(ULONG))

/* ---- Driver.cpp: entry, devices, dispatch, mouse-class requests ----------------------------- */

extern "C" DRIVER_INITIALIZE DriverEntry;
DRIVER_ADD_DEVICE AddDevice;
DRIVER_UNLOAD Unload;

/* Passes a request at the mouse device on to LowerDevice unchanged (the lower driver owns it
 * then); completes it with success at the control device. IRQL <= DISPATCH_LEVEL. */
DRIVER_DISPATCH DispatchPassOn;
/* IRP_MJ_CREATE and IRP_MJ_CLOSE at either device: success. PASSIVE_LEVEL. */
DRIVER_DISPATCH DispatchCreateClose;
/* IRP_MJ_DEVICE_CONTROL: passed on at the mouse device, the control codes at the control device. */
DRIVER_DISPATCH DispatchDeviceControl;
/* IRP_MJ_INTERNAL_DEVICE_CONTROL: the mouse class's requests at the mouse device, success at the
 * control device. PASSIVE_LEVEL. */
DRIVER_DISPATCH DispatchInternalDeviceControl;

/* Completes a request the driver answers itself. */
NTSTATUS CompleteRequest(PIRP Irp, NTSTATUS Status, ULONG_PTR Information);

/* The entry of every dispatch routine: TRUE when Irp arrived at the mouse device, whose remove
 * lock is then held for it. Otherwise Irp is completed here with *Status - STATUS_SUCCESS at the
 * control device, STATUS_DELETE_PENDING at a mouse device being removed - a power IRP after
 * PoStartNextPowerIrp, and the caller returns *Status. IRQL <= DISPATCH_LEVEL. */
BOOLEAN EnterMouseDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS *Status);

/* Passes Irp on to LowerDevice with the same parameters (PoCallDriver for a power IRP); the remove
 * lock EnterMouseDevice took for it is released when the lower driver completes it. The lower
 * driver owns the IRP. Returns the lower driver's status. */
NTSTATUS PassOnLocked(PMouseDeviceExtension Extension, PIRP Irp);

/* Takes and releases Globals.PortLock. PASSIVE_LEVEL; the holder may wait. */
VOID AcquirePortLock(VOID);
VOID ReleasePortLock(VOID);

/* Whether the calling thread holds Globals.PortLock (for ASSERTs of the routines that need it). */
#define TAP_PORT_LOCK_HELD() (Globals.PortLock.OwnerThread == KeGetCurrentThread())

/* ---- Pnp.cpp --------------------------------------------------------------------------------- */

/* IRP_MJ_PNP: START completed here, STOP/SURPRISE_REMOVAL passed on after their reader action,
 * REMOVE_DEVICE tears the pair down. At the control device: success. PASSIVE_LEVEL. */
DRIVER_DISPATCH DispatchPnp;

/* The two halves of a pair's teardown, used by the removal and by a failing AddDevice.
 * ReleasePairPort ends the arrival registration, takes the pair off the live list and away from
 * its control device, stops the reader and gives the COM port back (settings restored).
 * ReleasePairResources frees ReadIrp, ends the beep thread and releases the beep device.
 * PASSIVE_LEVEL; they take PortLock and BeepLock. */
VOID ReleasePairPort(PMouseDeviceExtension Extension);
VOID ReleasePairResources(PMouseDeviceExtension Extension);

/* ---- Power.cpp ------------------------------------------------------------------------------- */

/* IRP_MJ_POWER: passed on to LowerDevice with PoCallDriver. PASSIVE_LEVEL. */
DRIVER_DISPATCH DispatchPower;

/* ---- Parameters.cpp -------------------------------------------------------------------------- */

/* Loads the defaults, then the Parameters values, into Settings and ActiveCalibration.
 * PASSIVE_LEVEL (paged pool, Zw* calls). */
NTSTATUS ReadParameters(VOID);

/* Reads one value of exactly Length bytes into Destination; any other length fails and leaves
 * Destination untouched. PASSIVE_LEVEL. */
NTSTATUS QueryParameterValue(HANDLE Key, PCWSTR Name, PVOID Destination, ULONG Length);

/* ---- SerialLink.cpp: the COM port, its reader and the stop protocol -------------------------- */

/* COM-port interface arrival callback; its context is the pair's number, not a pointer, since a
 * notification may still run after the pair has been removed. System worker thread (or AddDevice's
 * thread for ports present at registration), PASSIVE_LEVEL; takes PortLock. Returns
 * STATUS_SUCCESS. */
DRIVER_NOTIFICATION_CALLBACK_ROUTINE PortArrival;

/* Registers PortArrival for COM-port interfaces, those present included, with the pair's number
 * as the context. PASSIVE_LEVEL, PortLock not held (present ports may be reported from inside the
 * call). */
NTSTATUS RegisterPortArrivals(PDRIVER_OBJECT DriverObject, PMouseDeviceExtension Extension);

/* Opens and configures the port named by Settings.Port when Enable allows it, and starts the
 * reader. PASSIVE_LEVEL, PortLock held. */
NTSTATUS OpenConfiguredPort(PMouseDeviceExtension Extension);

/* Opens and configures COM(Index + 1) unless a port is open; TAP_STATUS_ALREADY_OPEN when a port
 * is open with its read IRP. Starts no reader. PASSIVE_LEVEL, PortLock held. */
NTSTATUS OpenPortNumber(PMouseDeviceExtension Extension, ULONG Index);

/* Stops the reader, frees ReadIrp and releases the port (settings stay). PASSIVE_LEVEL, PortLock
 * held. Returns STATUS_SUCCESS. */
NTSTATUS ClosePort(PMouseDeviceExtension Extension);

/* Saves the port's settings and sets 9600 (or the product's rate) 8N1, no time-outs, DTR and RTS.
 * PASSIVE_LEVEL; the port must be open. */
NTSTATUS ConfigurePort(PMouseDeviceExtension Extension);

/* Gives the port its saved settings back. PASSIVE_LEVEL. */
VOID RestorePortSettings(PMouseDeviceExtension Extension);

/* Drops the reference that holds the port open. PASSIVE_LEVEL, PortLock held, no reader. */
VOID ReleasePort(PMouseDeviceExtension Extension);

/* Allocates ReadIrp if needed and runs the reader. PASSIVE_LEVEL, PortLock held, port open. */
NTSTATUS StartReader(PMouseDeviceExtension Extension);

/* Runs a reader whose ReadIrp is allocated: sets Reading and issues reads. STATUS_SUCCESS when
 * the reader runs (or ended at once on a stopped device); otherwise the reader has ended, Reading
 * is clear and the failing read's status is returned. PASSIVE_LEVEL, PortLock held. */
NTSTATUS RunReader(PMouseDeviceExtension Extension);

/* The stop protocol: marks the reader stopped as How says, and when a reader was running cancels
 * the read that may be outstanding and waits for the reader's acknowledgement; ReadIrp is the
 * driver's again on return. PASSIVE_LEVEL, PortLock held. */
#define TAP_STOP_FOR_GOOD    1   /* IRP_MN_STOP_DEVICE: StopRequested, never cleared */
#define TAP_STOP_FOR_CLOSE   2   /* IOCTL_TOUCH_CLOSE_PORT: Reading cleared */
#define TAP_STOP_FOR_REMOVAL 3   /* removal: Removing */
VOID StopReader(PMouseDeviceExtension Extension, ULONG How);

/* Issues one-byte reads until one stays outstanding; a read that completes inside the call is
 * followed by the next one from this loop, never from the completion routine. IRQL <=
 * DISPATCH_LEVEL; takes ReadLock around the stop test and the reuse of ReadIrp. Returns the
 * status of the last call, STATUS_SUCCESS when it found the reader stopped, STATUS_UNSUCCESSFUL
 * when it found it removed or closed. ReadIrp belongs to the port driver while a read is
 * outstanding and to this driver otherwise. */
NTSTATUS IssueReads(PMouseDeviceExtension Extension);

/* Completion routine of ReadIrp. IRQL <= DISPATCH_LEVEL. Returns
 * STATUS_MORE_PROCESSING_REQUIRED: ReadIrp stays the driver's. */
IO_COMPLETION_ROUTINE ReadComplete;

/* Sends one request to a device and waits for it. PASSIVE_LEVEL. */
NTSTATUS SyncIoctl(BOOLEAN Internal, ULONG IoControlCode, PDEVICE_OBJECT Device, PVOID InputBuffer,
                   ULONG InputLength, PVOID OutputBuffer, ULONG OutputLength);

/* ---- Beep.cpp -------------------------------------------------------------------------------- */

/* Starts the pair's beep thread. PASSIVE_LEVEL. */
NTSTATUS StartBeepThread(PMouseDeviceExtension Extension);

/* Ends the pair's beep thread and waits until it has ended. PASSIVE_LEVEL. */
VOID StopBeepThread(PMouseDeviceExtension Extension);

/* The beep thread: one beep of the configured sound per wake-up. PASSIVE_LEVEL. */
KSTART_ROUTINE BeepWorker;

/* Opens \Device\Beep on first use and sends one IOCTL_BEEP_SET; returns when the beep driver has
 * completed it. PASSIVE_LEVEL; takes BeepLock. */
NTSTATUS SendBeep(PControlDeviceExtension Control, ULONG Frequency, ULONG Duration);

/* Releases BeepDevice for good. PASSIVE_LEVEL; takes BeepLock. */
VOID CloseBeepDevice(PControlDeviceExtension Control);

/* ---- ControlDevice.cpp ----------------------------------------------------------------------- */

/* IRP_MJ_DEVICE_CONTROL at the control device: every request is completed here, never passed
 * on and never left pending. PASSIVE_LEVEL. */
NTSTATUS DispatchControlRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp);

/* ---- Packet.cpp: the packet rules both controllers share ----------------------------------- */

/* The check byte of a complete packet of Length bytes: (Seed + every byte before the last) mod
 * 256. */
UCHAR PacketCheckValue(const UCHAR *Packet, ULONG Length, UCHAR Seed);

/* After a bad check byte: keeps the bytes from the first Header after byte 0 on (moved to the
 * front, *ByteCount of them), or drops all. */
VOID ResynchronisePacket(PUCHAR Packet, ULONG Length, UCHAR Header, PULONG ByteCount);

/* ---- PointerEngine.cpp: calibration mapping, mode filter, report step, beep signalling -------
 * All run in the read completion at IRQL <= DISPATCH_LEVEL, one packet at a time. */

/* Copies a calibration record into ActiveCalibration, and ActiveCalibration out into a record,
 * one interlocked field at a time. Any IRQL. */
VOID StoreCalibration(const CalibrationData *Source);
VOID LoadCalibration(PCalibrationData Copy);

/* Sets the parameter defaults: Settings MouseMode..Port (Enable untouched) and the calibration
 * that maps nothing (all raw fields 0, a 1024x768 screen). PASSIVE_LEVEL. */
VOID SetDefaultParameters(VOID);

/* Clamps a raw position into the calibrated raw range, each axis with its own bounds. */
VOID ClampToCalibration(const CalibrationData *Calibration, PULONG RawX, PULONG RawY);

/* The calibration mapping and its orientation, once for both products: maps a (clamped) raw
 * position to 0..Width and 0..Height; a coordinate whose two calibration values are equal keeps
 * its value. */
VOID MapCalibrated(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, LONG Width, LONG Height, PLONG X,
                   PLONG Y);

/* TRUE when neither raw axis of the calibration is degenerate (its two values differ). */
BOOLEAN CalibrationSpansBothAxes(const CalibrationData *Calibration);

/* Maps a (clamped) raw position to LastX/LastY in 0..65535 (MapCalibrated). */
VOID MapToAbsolute(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, PMOUSE_INPUT_DATA InputData);

/* TRUE when the packet in InputData is to be reported under the current mouse mode; may rewrite
 * InputData and arm the right click (interactive hold). */
BOOLEAN ModeFilter(PMouseDeviceExtension Extension, PMOUSE_INPUT_DATA InputData,
                   const MOUSE_INPUT_DATA *LastReport);

/* The report step after a valid packet: mode filter, right click, delivery, beep request, and
 * the clearing of the button flags for the next packet. */
VOID ReportPacket(PMouseDeviceExtension Extension);

/* Hands InputData to the mouse class service as one record, at DISPATCH_LEVEL. */
VOID DeliverReport(PMouseDeviceExtension Extension);

/* Asks the beep thread for one beep; never waits. */
VOID SignalBeep(PMouseDeviceExtension Extension);

/* ---- Product hooks: implemented in each product's folder ------------------------------------ */

/* Sets up the product's driver-wide records, once, from DriverEntry. PASSIVE_LEVEL. */
VOID TapProductDriverEntry(VOID);

/* Sets the product's touch state of a new, zero-filled mouse device extension. PASSIVE_LEVEL. */
VOID TapProductInitialize(PMouseDeviceExtension Extension);

/* Feeds one received byte to the product's packet decoder. TRUE when it completed a packet that the
 * report step is to handle. IRQL <= DISPATCH_LEVEL. */
BOOLEAN TapProductDecodeByte(PMouseDeviceExtension Extension, UCHAR Byte);

/* Runs after every byte read with success, whatever the decoder said: the product remembers the
 * positions of the packet just decoded as the previous packet. IRQL <= DISPATCH_LEVEL. */
VOID TapProductAfterByte(PMouseDeviceExtension Extension);

/* The baud rate the port is configured with. PASSIVE_LEVEL. */
ULONG TapProductBaudRate(VOID);

/* COM-port arrival outcomes: the configured port could not be opened or configured; a reader is
 * about to start on it. PASSIVE_LEVEL, PortLock held. */
VOID TapProductPortOpenFailed(PMouseDeviceExtension Extension);
VOID TapProductReaderStarting(PMouseDeviceExtension Extension);

/* A control code the framework does not handle itself (the data-mode codes among them). Returns
 * the request's status and sets *Information; STATUS_INVALID_DEVICE_REQUEST for a code the product
 * does not know either. The framework completes the request. PASSIVE_LEVEL. */
NTSTATUS TapProductControlRequest(PControlDeviceExtension Control, PIRP Irp, PIO_STACK_LOCATION Stack,
                               PULONG_PTR Information);

#endif /* TAP_DRIVER_H */
