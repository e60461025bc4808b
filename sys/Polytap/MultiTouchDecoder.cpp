/*
 * MultiTouchDecoder.cpp - assembles the multi-touch controller's 10- and 15-byte packets, checks
 * and resynchronises them, and turns each valid packet into pointer input driven by its first
 * contact and, in data mode, into contact frames. Runs in the read completion at IRQL <=
 * DISPATCH_LEVEL; one read is outstanding at a time, so the decoder is never entered twice at once
 * for a device.
 */
#include "Polytap.h"

static ULONG ReadWord(const UCHAR *Packet, ULONG Offset)
{
    return Packet[Offset] + 256 * (ULONG)Packet[Offset + 1];
}

/* Positions of the packet: contact 1 always, contact 2 when there are two; another count keeps
 * contact 2 as it was. Both are clamped to the calibrated raw range. */
static VOID ExtractContacts(TAP_TOUCH_STATE *Touch, const CalibrationData *Calibration)
{
    const UCHAR *packet = Touch->PacketBuffer;
    UCHAR count = packet[MULTI_TOUCH_COUNT];

    Touch->Status = packet[MULTI_TOUCH_STATUS];
    Touch->RawX1 = ReadWord(packet, MULTI_TOUCH_X1);
    Touch->RawY1 = ReadWord(packet, MULTI_TOUCH_Y1);
    TapStore(Globals.LastRawSample.RawX, Touch->RawX1);
    TapStore(Globals.LastRawSample.RawY, Touch->RawY1);
    if (count == 1) {
        Touch->RawX2 = 0;
        Touch->RawY2 = 0;
    } else if (count == 2) {
        Touch->RawX2 = ReadWord(packet, MULTI_TOUCH_X2);
        Touch->RawY2 = ReadWord(packet, MULTI_TOUCH_Y2);
    }

    ClampToCalibration(Calibration, &Touch->RawX1, &Touch->RawY1);
    if (count == 2) {
        ClampToCalibration(Calibration, &Touch->RawX2, &Touch->RawY2);
    }
}

/* A lift that follows no touch only moves the cursor: no button, latch, frame, mode or beep. */
static VOID DeliverPointerOnly(PMouseDeviceExtension Extension, PMOUSE_INPUT_DATA InputData,
                               const TAP_TOUCH_STATE *Touch, const CalibrationData *Calibration)
{
    MapToAbsolute(Calibration, Touch->RawX1, Touch->RawY1, InputData);
    InputData->Flags |= MOUSE_MOVE_ABSOLUTE;
    InputData->ButtonFlags = 0;
    DeliverReport(Extension);
}

static VOID UpdateLatch(TAP_TOUCH_STATE *Touch)
{
    if (Touch->Status & MULTI_TOUCH_DOWN) {
        Touch->TouchLatch = TRUE;
    } else if ((Touch->Status & MULTI_TOUCH_LIFT) && Touch->TouchLatch) {
        Touch->TouchLatch = FALSE;
    }
}

static VOID QueueFramesInDataMode(PMouseDeviceExtension Extension, const CalibrationData *Calibration)
{
    KIRQL oldIrql;

    KeAcquireSpinLock(&FrameLock, &oldIrql);
    if (Extension->Touch.DataMode) {
        BuildContactFrames(Extension, Calibration);
    }
    KeReleaseSpinLock(&FrameLock, oldIrql);
}

/* Left down for "down" alone (which also restarts the hold count) or "touching" alone; left up
 * for every other combination of the three status bits. */
static VOID SetButtonTransition(PMOUSE_INPUT_DATA InputData, TAP_TOUCH_STATE *Touch)
{
    UCHAR state = Touch->Status & (MULTI_TOUCH_DOWN | MULTI_TOUCH_TOUCHING | MULTI_TOUCH_LIFT);
    USHORT button = BUTTON_STATE_UP;

    if (state == MULTI_TOUCH_DOWN) {
        button = BUTTON_STATE_DOWN;
        TapStore(Globals.StillCount, 0);
    } else if (state == MULTI_TOUCH_TOUCHING) {
        button = BUTTON_STATE_DOWN;
    }
    if (button != Touch->ButtonState) {
        /* BUTTON_STATE_DOWN and _UP equal MOUSE_LEFT_BUTTON_DOWN and _UP. */
        InputData->ButtonFlags = button;
        Touch->ButtonState = button;
    }
}

/* The count byte of a packet: 2 contacts make a 15-byte packet, 1 a 10-byte one; other counts keep
 * the length in force. */
static VOID DecidePacketLength(TAP_TOUCH_STATE *Touch, UCHAR Count)
{
    if (Count == 2) {
        Touch->PacketLength = MULTI_TOUCH_LONG_PACKET;
    } else if (Count == 1) {
        Touch->PacketLength = MULTI_TOUCH_SHORT_PACKET;
    }
}

/* The packet buffer holds PacketLength bytes: check them, resynchronise after a bad check byte,
 * or turn a good packet into pointer input (and frames in data mode). Kept out of line so that the
 * bytes before the last one cost only their store and length test. */
static DECLSPEC_NOINLINE BOOLEAN DecodeFullPacket(PMouseDeviceExtension Extension)
{
    TAP_TOUCH_STATE *Touch = &Extension->Touch;
    PMOUSE_INPUT_DATA InputData = &Extension->InputData;
    CalibrationData calibration;

    if (PacketCheckValue(Touch->PacketBuffer, Touch->PacketLength, MULTI_TOUCH_CHECK_SEED) !=
        Touch->PacketBuffer[Touch->PacketLength - 1]) {
        /* The sync byte marks where to resume. The length in force stays; it is decided again only
         * when the fourth byte next arrives. */
        ResynchronisePacket(Touch->PacketBuffer, Touch->PacketLength, MULTI_TOUCH_SYNC, &Touch->ByteCount);
        /* Carried bytes that fail again under the length in force are a stream of the other
         * length (one-contact packets measured as two-contact ones would fail for ever): the
         * count byte they hold decides the length of the packet they start. */
        if (Touch->CarriedLength && Touch->ByteCount > MULTI_TOUCH_COUNT) {
            UCHAR inForce = Touch->PacketLength;

            DecidePacketLength(Touch, Touch->PacketBuffer[MULTI_TOUCH_COUNT]);
            if (Touch->ByteCount >= Touch->PacketLength) {
                Touch->PacketLength = inForce; /* more carried than that packet holds: not one */
            }
        }
        Touch->CarriedLength = Touch->ByteCount > MULTI_TOUCH_COUNT;
        return FALSE;
    }

    Touch->ByteCount = 0;
    Touch->CarriedLength = FALSE;
    /* One copy of the calibration in force serves the whole packet. */
    LoadCalibration(&calibration);
    ExtractContacts(Touch, &calibration);
    if ((Touch->Status & MULTI_TOUCH_LIFT) && !Touch->TouchLatch) {
        DeliverPointerOnly(Extension, InputData, Touch, &calibration);
        return FALSE;
    }

    UpdateLatch(Touch);
    QueueFramesInDataMode(Extension, &calibration);
    MapToAbsolute(&calibration, Touch->RawX1, Touch->RawY1, InputData);
    InputData->Flags |= MOUSE_MOVE_ABSOLUTE;
    SetButtonTransition(InputData, Touch);
    return TRUE;
}

BOOLEAN TapProductDecodeByte(PMouseDeviceExtension Extension, UCHAR Byte)
{
    TAP_TOUCH_STATE *Touch = &Extension->Touch;

    Touch->PacketBuffer[Touch->ByteCount++] = Byte;
    if (Touch->ByteCount == MULTI_TOUCH_COUNT + 1) {
        DecidePacketLength(Touch, Byte);
    }
    if (Touch->ByteCount < Touch->PacketLength) {
        return FALSE;
    }
    return DecodeFullPacket(Extension);
}

VOID TapProductInitialize(PMouseDeviceExtension Extension)
{
    Extension->Touch.PacketLength = MULTI_TOUCH_SHORT_PACKET;
    Extension->Touch.DataMode = FALSE;
    Extension->Touch.TouchLatch = FALSE;
    Extension->Touch.CarriedLength = FALSE;
}

VOID TapProductAfterByte(PMouseDeviceExtension Extension)
{
    TAP_TOUCH_STATE *touch = &Extension->Touch;

    /* Positions and CurrentFrame change only with a byte that completes a packet, which leaves
     * ByteCount at 0; after any other byte the copy would write what is already there. */
    if (touch->ByteCount != 0) {
        return;
    }
    touch->PreviousRawX1 = touch->RawX1;
    touch->PreviousRawY1 = touch->RawY1;
    touch->PreviousRawX2 = touch->RawX2;
    touch->PreviousRawY2 = touch->RawY2;
    /* CurrentFrame is written only by this read path, so the copy needs no lock. */
    touch->PreviousFrame = touch->CurrentFrame;
}
