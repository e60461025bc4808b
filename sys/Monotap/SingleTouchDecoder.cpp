/*
 * SingleTouchDecoder.cpp - assembles the single-touch controller's 10-byte packets from the byte
 * stream, validates each with its check byte and resynchronises on the header after a bad one.
 * Runs in the read completion at IRQL <= DISPATCH_LEVEL; one read is outstanding at a time, so the
 * decoder is never entered twice at once for a device.
 */
#include "TapDriver.h"
#include "Monotap.h"

static UCHAR PacketCheckValue(const UCHAR *Packet)
{
    UCHAR sum = SINGLE_TOUCH_CHECK_SEED;
    ULONG i;

    for (i = 0; i < SINGLE_TOUCH_PACKET_LENGTH - 1; i++) {
        sum = (UCHAR)(sum + Packet[i]);
    }
    return sum;
}

/* After a bad check byte: keep the bytes from the first header after byte 0 on, or drop all. */
static VOID Resynchronise(PSINGLE_TOUCH_DECODER Decoder)
{
    ULONG i;

    for (i = 1; i < SINGLE_TOUCH_PACKET_LENGTH; i++) {
        if (Decoder->PacketBuffer[i] == SINGLE_TOUCH_HEADER) {
            RtlMoveMemory(Decoder->PacketBuffer, Decoder->PacketBuffer + i, SINGLE_TOUCH_PACKET_LENGTH - i);
            Decoder->ByteCount = SINGLE_TOUCH_PACKET_LENGTH - i;
            return;
        }
    }
    Decoder->ByteCount = 0;
}

/* 0x81 and 0x82 are the two touching states: (status + 0x7F) mod 256 <= 1 holds for them only. */
static BOOLEAN IsTouching(UCHAR Status)
{
    return (UCHAR)(Status + 0x7F) <= 1;
}

/* Returns TRUE when Byte completed a valid packet, whose results are then in Decoder, the raw
 * sample and InputData (flags, button transition, calibrated position). */
BOOLEAN DecodeByte(PMouseDeviceExtension Extension, PMOUSE_INPUT_DATA InputData, PSINGLE_TOUCH_DECODER Decoder,
                   UCHAR Byte)
{
    const UCHAR *packet = Decoder->PacketBuffer;
    CalibrationData calibration;
    USHORT buttonState;

    UNREFERENCED_PARAMETER(Extension);

    Decoder->PacketBuffer[Decoder->ByteCount++] = Byte;
    if (Decoder->ByteCount < SINGLE_TOUCH_PACKET_LENGTH) {
        return FALSE;
    }
    if (PacketCheckValue(packet) != packet[SINGLE_TOUCH_PACKET_LENGTH - 1]) {
        Resynchronise(Decoder);
        return FALSE;
    }

    Decoder->Status = packet[2];
    Decoder->ByteCount = 0;
    Decoder->RawX = (ULONG)packet[4] * 256 + packet[3];
    Decoder->RawY = (ULONG)packet[6] * 256 + packet[5];
    Decoder->RawZ = packet[7];
    TapStore(Globals.LastRawSample.RawX, Decoder->RawX);
    TapStore(Globals.LastRawSample.RawY, Decoder->RawY);
    TapStore(Globals.LastRawSample.RawZ, Decoder->RawZ);

    InputData->Flags |= MOUSE_MOVE_ABSOLUTE;
    buttonState = IsTouching(Decoder->Status) ? BUTTON_STATE_DOWN : BUTTON_STATE_UP;
    if (buttonState != Decoder->ButtonState) {
        /* BUTTON_STATE_DOWN and _UP equal MOUSE_LEFT_BUTTON_DOWN and _UP. */
        InputData->ButtonFlags = buttonState;
        Decoder->ButtonState = buttonState;
    }

    /* One copy of the calibration in force serves the whole packet. */
    LoadCalibration(&calibration);
    ClampToCalibration(&calibration, &Decoder->RawX, &Decoder->RawY);
    MapToAbsolute(&calibration, Decoder->RawX, Decoder->RawY, InputData);
    return TRUE;
}
