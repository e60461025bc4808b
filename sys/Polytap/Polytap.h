/*
 * Polytap.h - routines and driver-wide records of the multi-touch product.
 */
#ifndef POLYTAP_H
#define POLYTAP_H

#include "TapDriver.h"

/* Guards DataMode, CurrentFrame and FrameQueue of every device of the driver. Initialised in
 * DriverEntry (TapProductDriverEntry). */
extern KSPIN_LOCK FrameLock;

/* ContactFrames.cpp. */

/* Maps a clamped raw position to screen pixels, 0..ScreenWidth and 0..ScreenHeight inclusive. A
 * calibration with equal values on either axis leaves X and Y as they are. */
VOID PixelMap(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, PLONG X, PLONG Y);

/* Builds the frames of the packet just decoded, with the calibration the packet was decoded with,
 * and queues them. FrameLock held, DataMode set. */
VOID BuildContactFrames(PMouseDeviceExtension Extension, const CalibrationData *Calibration);

/* Appends a frame; a full queue loses its oldest frame. FrameLock held. */
VOID QueueContactFrame(PCONTACT_FRAME_QUEUE Queue, const ContactFrame *Frame);

/* Takes the oldest frame; FALSE when the queue is empty. FrameLock held. */
BOOLEAN TakeContactFrame(PCONTACT_FRAME_QUEUE Queue, PContactFrame Frame);

/* Data mode on; the first slot is cleared. Any IRQL <= DISPATCH_LEVEL; takes FrameLock. */
VOID StartDataMode(PMouseDeviceExtension Extension);

/* Data mode off; the queue is emptied. Takes FrameLock. */
VOID StopDataMode(PMouseDeviceExtension Extension);

/* The reply to a request for a contact frame: the oldest queued frame, or a frame of zeros whose
 * ContactCount says why there is none (no COM port, data mode off, nothing queued). PASSIVE_LEVEL,
 * PortLock held (PortDevice does not change under it); takes FrameLock. */
VOID ReplyContactFrame(PMouseDeviceExtension Extension, PContactFrame Reply);

/* PolytapDevice.cpp. */

/* Writes one value into the driver's Parameters key (REG_SZ or REG_DWORD). PASSIVE_LEVEL. */
NTSTATUS WriteParameterValue(PCWSTR Name, ULONG Type, PVOID Data, ULONG Length);

#endif /* POLYTAP_H */
