/*
 * TapProduct.h - what sets the single-touch product apart in the driver framework: its names, its
 * constants and its touch state. The framework (sys/common) includes this file.
 */
#ifndef TAP_PRODUCT_H
#define TAP_PRODUCT_H

#include "SingleTouchDecoder.h"

#define TAP_PRODUCT_SERVICE_NAME_W   MONOTAP_SERVICE_NAME_W
#define TAP_PRODUCT_DEVICE_NAME_W    MONOTAP_DEVICE_NAME_W
#define TAP_PRODUCT_LINK_NAME_W      MONOTAP_LINK_NAME_W

/* Parameter value names in the order of the PointerSettings fields. */
#define TAP_PRODUCT_SETTING_VALUE_NAMES                                                             \
    {                                                                                            \
        TAP_VALUE_MOUSE_MODE_W, TAP_VALUE_DBL_CLICK_REGION_W, TAP_VALUE_INTER_ACT_TIME_W,        \
        TAP_VALUE_BEEP_MODE_W, TAP_VALUE_BEEP_FREQ_W, TAP_VALUE_BEEP_TIME_W, TAP_VALUE_PORT_W,    \
        TAP_VALUE_ENABLE_W                                                                       \
    }

/* Defaults of the settings fields MouseMode .. Port, loaded before the Parameters values at every
 * AddDevice; Enable has none (it keeps what was last loaded). */
#define TAP_PRODUCT_DEFAULT_SETTINGS { MODE_CLICK_AND_DRAG, 30, 0, BEEP_OFF, 0, 0, 1 }

/* The port's line speed; the controller talks at a fixed rate. */
#define TAP_PRODUCT_BAUD_RATE 9600

/* Zero: on a COM-port arrival, a port that is already open gets its reader started again whatever
 * Port and Enable say; Port and Enable only decide whether a closed port is opened. */
#define TAP_PRODUCT_ENABLE_GATES_OPEN_PORT 0

/* Mouse attributes: buttons the mouse class is told about. */
#define TAP_PRODUCT_NUMBER_OF_BUTTONS 2

/* The pointer contact's clamped raw position in the packet just decoded and in the one before
 * (the interactive hold compares them). */
#define TAP_PRODUCT_POINTER_X(Touch) ((Touch)->Decoder.RawX)
#define TAP_PRODUCT_POINTER_Y(Touch) ((Touch)->Decoder.RawY)
#define TAP_PRODUCT_PREVIOUS_X(Touch) ((Touch)->PreviousRawX)
#define TAP_PRODUCT_PREVIOUS_Y(Touch) ((Touch)->PreviousRawY)

/* A difference of this many raw units or more on either axis is movement (interactive hold). */
#define TAP_PRODUCT_STILL_TOLERANCE 10

/* The records delivered in place of an armed packet's own: left up, right down, right up. */
#define TAP_PRODUCT_RIGHT_CLICK_SEQUENCE \
    { MOUSE_LEFT_BUTTON_UP, MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP }

typedef MonoPointerSettings PointerSettings;

/* The single-touch part of the mouse device extension. */
typedef struct _TAP_TOUCH_STATE {
    SINGLE_TOUCH_DECODER Decoder;
    ULONG PreviousRawX;    /* clamped position of the previous valid packet */
    ULONG PreviousRawY;
} TAP_TOUCH_STATE;

#endif /* TAP_PRODUCT_H */
