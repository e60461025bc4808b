/*
 * MonotapLine.cpp - the single-touch line's hooks into the driver framework.
 */
#include "TapDriver.h"
#include "Monotap.h"

VOID TapLineDriverEntry(VOID)
{
    /* No driver-wide records of its own. */
}

VOID TapLineInitialize(PMouseDeviceExtension Extension)
{
    /* The single-touch decoder starts from the zero-filled extension. */
    UNREFERENCED_PARAMETER(Extension);
}

BOOLEAN TapLineDecodeByte(PMouseDeviceExtension Extension, UCHAR Byte)
{
    return DecodeByte(Extension, &Extension->InputData, &Extension->Touch.Decoder, Byte);
}

VOID TapLineAfterByte(PMouseDeviceExtension Extension)
{
    Extension->Touch.PreviousRawX = Extension->Touch.Decoder.RawX;
    Extension->Touch.PreviousRawY = Extension->Touch.Decoder.RawY;
}

static ULONG RawDistance(ULONG Current, ULONG Previous)
{
    LONG difference = (LONG)(Current - Previous);
    return (ULONG)(difference < 0 ? -difference : difference);
}

BOOLEAN TapLineIsStillStep(PMouseDeviceExtension Extension)
{
    const TAP_TOUCH_STATE *touch = &Extension->Touch;

    return RawDistance(touch->Decoder.RawX, touch->PreviousRawX) < TAP_LINE_STILL_TOLERANCE &&
           RawDistance(touch->Decoder.RawY, touch->PreviousRawY) < TAP_LINE_STILL_TOLERANCE;
}
