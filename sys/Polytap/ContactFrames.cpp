/*
 * ContactFrames.cpp - data mode: the contact frames built from each decoded packet, the ten-slot
 * queue they wait in, and the replies a tool polls them with. Every routine that touches
 * DataMode, CurrentFrame or FrameQueue does so under FrameLock.
 */
#include "Polytap.h"

KSPIN_LOCK FrameLock;

VOID TapProductDriverEntry(VOID)
{
    PAGED_CODE();
    KeInitializeSpinLock(&FrameLock);
}

VOID PixelMap(const CalibrationData *Calibration, ULONG RawX, ULONG RawY, PLONG X, PLONG Y)
{
    if (CalibrationSpansBothAxes(Calibration)) {
        MapCalibrated(Calibration, RawX, RawY, Calibration->ScreenWidth, Calibration->ScreenHeight, X, Y);
    }
    if (*X > Calibration->ScreenWidth) {
        *X = Calibration->ScreenWidth;
    }
    if (*Y > Calibration->ScreenHeight) {
        *Y = Calibration->ScreenHeight;
    }
}

static VOID SetStates(PContactFrame Frame, UCHAR First, UCHAR Second)
{
    Frame->Contact1State = First;
    Frame->Contact2State = Second;
}

/* The frame of the packet just decoded: count, identifiers and pixel positions; no states yet. */
static VOID FramePositions(const TAP_TOUCH_STATE *Touch, const CalibrationData *Calibration, PContactFrame Frame)
{
    const UCHAR *packet = Touch->PacketBuffer;

    RtlZeroMemory(Frame, sizeof(*Frame));
    Frame->ContactCount = packet[MULTI_TOUCH_COUNT];
    Frame->Contact1Id = packet[MULTI_TOUCH_ID1];
    PixelMap(Calibration, Touch->RawX1, Touch->RawY1, &Frame->Contact1X, &Frame->Contact1Y);
    if (Frame->ContactCount == 2) {
        Frame->Contact2Id = packet[MULTI_TOUCH_ID2];
        PixelMap(Calibration, Touch->RawX2, Touch->RawY2, &Frame->Contact2X, &Frame->Contact2Y);
    }
}

/* A touching packet after the frame Previous: a second contact arriving or one leaving gets an
 * extra frame queued first, carrying the transition. Returns TRUE when Extra was filled. */
static BOOLEAN TouchingStates(const ContactFrame *Previous, PContactFrame Frame, PContactFrame Extra)
{
    UCHAR count = Frame->ContactCount;

    if (Previous->ContactCount == 1) {
        if (count == 1) {
            SetStates(Frame, ContactMoved, ContactNone);
            return FALSE;
        }
        /* A second contact arrived: the one that was there moves on, the new one goes down. */
        *Extra = *Frame;
        if (Previous->Contact1Id == 0) {
            SetStates(Extra, ContactMoved, ContactDown);
        } else {
            SetStates(Extra, ContactDown, ContactMoved);
        }
        SetStates(Frame, ContactMoved, ContactMoved);
        return TRUE;
    }
    if (count == 2) {
        SetStates(Frame, ContactMoved, ContactMoved);
        return FALSE;
    }
    /* A contact left: the last frame of both, with the leaving one lifted. */
    *Extra = *Previous;
    if (Frame->Contact1Id == 0) {
        SetStates(Extra, ContactMoved, ContactLifted);
        SetStates(Frame, ContactMoved, ContactNone);
    } else {
        SetStates(Extra, ContactLifted, ContactMoved);
        SetStates(Frame, ContactNone, ContactMoved);
    }
    return TRUE;
}

VOID BuildContactFrames(PMouseDeviceExtension Extension, const CalibrationData *Calibration)
{
    TAP_TOUCH_STATE *touch = &Extension->Touch;
    ContactFrame frame;
    ContactFrame extra;
    BOOLEAN haveExtra = FALSE;
    UCHAR both;

    ASSERT(KeGetCurrentIrql() == DISPATCH_LEVEL); /* FrameLock held */
    FramePositions(touch, Calibration, &frame);
    both = frame.ContactCount == 2;
    if (touch->Status & MULTI_TOUCH_DOWN) {
        SetStates(&frame, ContactDown, both ? ContactDown : ContactNone);
    } else if (touch->Status & MULTI_TOUCH_TOUCHING) {
        haveExtra = TouchingStates(&touch->PreviousFrame, &frame, &extra);
    } else if (touch->Status & MULTI_TOUCH_LIFT) {
        SetStates(&frame, ContactLifted, both ? ContactLifted : ContactNone);
    } else {
        SetStates(&frame, ContactNone, ContactNone);
    }

    touch->CurrentFrame = frame;
    if (haveExtra) {
        QueueContactFrame(&touch->FrameQueue, &extra);
    }
    QueueContactFrame(&touch->FrameQueue, &frame);
}

VOID QueueContactFrame(PCONTACT_FRAME_QUEUE Queue, const ContactFrame *Frame)
{
    ASSERT(KeGetCurrentIrql() == DISPATCH_LEVEL); /* FrameLock held */
    if (Queue->Count == CONTACT_FRAME_QUEUE_SLOTS) {
        /* Full: the oldest frame is overwritten. */
        Queue->Head = (Queue->Head + 1) % CONTACT_FRAME_QUEUE_SLOTS;
        Queue->Tail = (Queue->Tail + 1) % CONTACT_FRAME_QUEUE_SLOTS;
    } else {
        if (Queue->Count > 0) {
            Queue->Tail = (Queue->Tail + 1) % CONTACT_FRAME_QUEUE_SLOTS;
        }
        Queue->Count++;
    }
    Queue->Slots[Queue->Tail] = *Frame;
}

BOOLEAN TakeContactFrame(PCONTACT_FRAME_QUEUE Queue, PContactFrame Frame)
{
    ASSERT(KeGetCurrentIrql() == DISPATCH_LEVEL); /* FrameLock held */
    if (Queue->Count == 0) {
        return FALSE;
    }
    *Frame = Queue->Slots[Queue->Head];
    if (Queue->Count != 1) {
        Queue->Head = (Queue->Head + 1) % CONTACT_FRAME_QUEUE_SLOTS;
    }
    Queue->Count--;
    return TRUE;
}

VOID StartDataMode(PMouseDeviceExtension Extension)
{
    KIRQL oldIrql;

    KeAcquireSpinLock(&FrameLock, &oldIrql);
    Extension->Touch.DataMode = TRUE;
    RtlZeroMemory(&Extension->Touch.FrameQueue.Slots[0], sizeof(ContactFrame));
    KeReleaseSpinLock(&FrameLock, oldIrql);
}

VOID StopDataMode(PMouseDeviceExtension Extension)
{
    KIRQL oldIrql;

    KeAcquireSpinLock(&FrameLock, &oldIrql);
    Extension->Touch.DataMode = FALSE;
    RtlZeroMemory(&Extension->Touch.FrameQueue, sizeof(Extension->Touch.FrameQueue));
    KeReleaseSpinLock(&FrameLock, oldIrql);
}

VOID ReplyContactFrame(PMouseDeviceExtension Extension, PContactFrame Reply)
{
    KIRQL oldIrql;

    ASSERT(TAP_PORT_LOCK_HELD());
    RtlZeroMemory(Reply, sizeof(*Reply));
    KeAcquireSpinLock(&FrameLock, &oldIrql);
    if (TapLoad(Extension->AttributesQueried) && Extension->PortDevice == NULL) {
        Reply->ContactCount = CONTACT_COUNT_NO_PORT;
    } else if (!Extension->Touch.DataMode) {
        Reply->ContactCount = CONTACT_COUNT_DATA_MODE_OFF;
    } else if (!TakeContactFrame(&Extension->Touch.FrameQueue, Reply)) {
        Reply->ContactCount = CONTACT_COUNT_NONE_QUEUED;
    }
    KeReleaseSpinLock(&FrameLock, oldIrql);
}
