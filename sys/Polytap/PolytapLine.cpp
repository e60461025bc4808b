/*
 * PolytapLine.cpp - the multi-touch line's hooks into the driver framework.
 */
#include "Polytap.h"

VOID TapLineInitialize(PMouseDeviceExtension Extension)
{
    Extension->Touch.PacketLength = MULTI_TOUCH_SHORT_PACKET;
    Extension->Touch.DataMode = FALSE;
    Extension->Touch.TouchLatch = FALSE;
}

BOOLEAN TapLineDecodeByte(PMouseDeviceExtension Extension, UCHAR Byte)
{
    return DecodeByte(Extension, &Extension->InputData, &Extension->Touch, Byte);
}

VOID TapLineAfterByte(PMouseDeviceExtension Extension)
{
    TAP_TOUCH_STATE *touch = &Extension->Touch;

    touch->PreviousRawX1 = touch->RawX1;
    touch->PreviousRawY1 = touch->RawY1;
    touch->PreviousRawX2 = touch->RawX2;
    touch->PreviousRawY2 = touch->RawY2;
    /* CurrentFrame is written only by this read path, so the copy needs no lock. */
    touch->PreviousFrame = touch->CurrentFrame;
}

static ULONG RawDistance(ULONG Current, ULONG Previous)
{
    LONG difference = (LONG)(Current - Previous);
    return (ULONG)(difference < 0 ? -difference : difference);
}

BOOLEAN TapLineIsStillStep(PMouseDeviceExtension Extension)
{
    const TAP_TOUCH_STATE *touch = &Extension->Touch;

    return RawDistance(touch->RawX1, touch->PreviousRawX1) < TAP_LINE_STILL_TOLERANCE &&
           RawDistance(touch->RawY1, touch->PreviousRawY1) < TAP_LINE_STILL_TOLERANCE;
}
