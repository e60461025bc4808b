/*
 * Monotap.h - routines of the single-touch line.
 */
#ifndef MONOTAP_H
#define MONOTAP_H

#include "TapDriver.h"

/* SingleTouchDecoder.cpp. IRQL <= DISPATCH_LEVEL. */
BOOLEAN DecodeByte(PMouseDeviceExtension Extension, PMOUSE_INPUT_DATA InputData, PSINGLE_TOUCH_DECODER Decoder,
                   UCHAR Byte);

#endif /* MONOTAP_H */
