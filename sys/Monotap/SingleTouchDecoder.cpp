/*
 * SingleTouchDecoder.cpp - assembles the single-touch controller's 10-byte packets from the byte
 * stream, validates each with its check byte and resynchronises on the header after a bad one;
 * with the single-touch product's other hooks into the framework's read path.
 * Runs in the read completion at IRQL <= DISPATCH_LEVEL; one read is outstanding at a time, so the
 * decoder is never entered twice at once for a device.
 */
#include "TapDriver.h"

/* 0x81 and 0x82 are the two touching states: (status + 0x7F) mod 256 <= 1 holds for them only. */
static BOOLEAN IsTouching(UCHAR Status)
{
    return (UCHAR)(Status + 0x7F) <= 1;
}

/* The packet buffer is full: check it, resynchronise after a bad check byte, or take a good
 * packet's results. Kept out of line so that the bytes before the last one cost only their store
 * and length test. */
static DECLSPEC_NOINLINE BOOLEAN DecodeFullPacket(PMouseDeviceExtension Extension)
{
    PSINGLE_TOUCH_DECODER Decoder = &Extension->Touch.Decoder;
    PMOUSE_INPUT_DATA InputData = &Extension->InputData;
    const UCHAR *packet = Decoder->PacketBuffer;
    CalibrationData calibration;
    USHORT buttonState;

    if (PacketCheckValue(packet, SINGLE_TOUCH_PACKET_LENGTH, SINGLE_TOUCH_CHECK_SEED) !=
        packet[SINGLE_TOUCH_PACKET_LENGTH - 1]) {
        /* The header 0x55 marks where the next packet may start. */
        ResynchronisePacket(Decoder->PacketBuffer, SINGLE_TOUCH_PACKET_LENGTH, SINGLE_TOUCH_HEADER,
                            &Decoder->ByteCount);
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

/* Returns TRUE when Byte completed a valid packet, whose results are then in the decoder, the raw
 * sample and InputData (flags, button transition, calibrated position). */
BOOLEAN TapProductDecodeByte(PMouseDeviceExtension Extension, UCHAR Byte)
{
    PSINGLE_TOUCH_DECODER Decoder = &Extension->Touch.Decoder;

    Decoder->PacketBuffer[Decoder->ByteCount++] = Byte;
    if (Decoder->ByteCount < SINGLE_TOUCH_PACKET_LENGTH) {
        return FALSE;
    }
    return DecodeFullPacket(Extension);
}

VOID TapProductDriverEntry(VOID)
{
    /* No driver-wide records of its own. */
}

VOID TapProductInitialize(PMouseDeviceExtension Extension)
{
    /* The single-touch decoder starts from the zero-filled extension. */
    UNREFERENCED_PARAMETER(Extension);
}

VOID TapProductAfterByte(PMouseDeviceExtension Extension)
{
    Extension->Touch.PreviousRawX = Extension->Touch.Decoder.RawX;
    Extension->Touch.PreviousRawY = Extension->Touch.Decoder.RawY;
}
