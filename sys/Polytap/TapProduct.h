/*
 * TapProduct.h - what sets the multi-touch product apart in the driver framework: its names, its
 * constants and its decoder and contact state. The framework (sys/common) includes this file.
 */
#ifndef TAP_PRODUCT_H
#define TAP_PRODUCT_H

#include "MultiTouchDecoder.h"

#define TAP_PRODUCT_SERVICE_NAME_W   POLYTAP_SERVICE_NAME_W
#define TAP_PRODUCT_DEVICE_NAME_W    POLYTAP_DEVICE_NAME_W
#define TAP_PRODUCT_LINK_NAME_W      POLYTAP_LINK_NAME_W

/* Parameter value names in the order of the PointerSettings fields. */
#define TAP_PRODUCT_SETTING_VALUE_NAMES                                                             \
    {                                                                                            \
        TAP_VALUE_MOUSE_MODE_W, TAP_VALUE_DBL_CLICK_REGION_W, TAP_VALUE_INTER_ACT_TIME_W,        \
        TAP_VALUE_BEEP_MODE_W, TAP_VALUE_BEEP_FREQ_W, TAP_VALUE_BEEP_TIME_W, TAP_VALUE_PORT_W,    \
        TAP_VALUE_BAUD_RATE_W, TAP_VALUE_ENABLE_W                                                \
    }

/* Defaults of the settings fields MouseMode .. BaudRate, loaded before the Parameters values at
 * every AddDevice; Enable has none (it keeps what was last loaded). An absent BaudRate is 0, not
 * the rate of an earlier load or control code; the port then refuses it. */
#define TAP_PRODUCT_DEFAULT_SETTINGS { MODE_CLICK_AND_DRAG, 30, 0, BEEP_OFF, 0, 0, 1, 0 }

/* One: on a COM-port arrival, Port and Enable are tested before an open port is looked at, so
 * with Enable 0 not even a port that is already open gets its reader started again. */
#define TAP_PRODUCT_ENABLE_GATES_OPEN_PORT 1

/* Mouse attributes: buttons the mouse class is told about. */
#define TAP_PRODUCT_NUMBER_OF_BUTTONS 5

/* The pointer contact's clamped raw position in the packet just decoded and in the one before
 * (the interactive hold compares them). */
#define TAP_PRODUCT_POINTER_X(Touch) ((Touch)->RawX1)
#define TAP_PRODUCT_POINTER_Y(Touch) ((Touch)->RawY1)
#define TAP_PRODUCT_PREVIOUS_X(Touch) ((Touch)->PreviousRawX1)
#define TAP_PRODUCT_PREVIOUS_Y(Touch) ((Touch)->PreviousRawY1)

/* A difference of this many raw units or more on either axis is movement (interactive hold). */
#define TAP_PRODUCT_STILL_TOLERANCE 18

/* The records delivered for an armed packet: right down in place of its own flags, then left up,
 * right down, right up. */
#define TAP_PRODUCT_RIGHT_CLICK_SEQUENCE \
    { MOUSE_RIGHT_BUTTON_DOWN, MOUSE_LEFT_BUTTON_UP, MOUSE_RIGHT_BUTTON_DOWN, MOUSE_RIGHT_BUTTON_UP }

typedef PolyPointerSettings PointerSettings;

/* The multi-touch part of the mouse device extension. */
typedef struct _TAP_TOUCH_STATE {
    USHORT ButtonState;                          /* BUTTON_STATE_* */
    UCHAR PacketBuffer[MULTI_TOUCH_LONG_PACKET]; /* the packet being assembled */
    ULONG ByteCount;
    UCHAR PacketLength;                          /* 10 or 15; 10 from AddDevice */
    UCHAR Status;                                /* status byte of the last valid packet */
    ULONG RawX1;                                 /* last valid packet, clamped */
    ULONG RawY1;
    ULONG RawX2;
    ULONG RawY2;
    ULONG PreviousRawX1;                         /* the packet before; copied after every byte */
    ULONG PreviousRawY1;
    ULONG PreviousRawX2;
    ULONG PreviousRawY2;
    ContactFrame CurrentFrame;                  /* built for the latest packet (FrameLock) */
    ContactFrame PreviousFrame;                 /* CurrentFrame as of the previous byte */
    CONTACT_FRAME_QUEUE FrameQueue;              /* FrameLock */
    BOOLEAN DataMode;                            /* FrameLock */
    BOOLEAN TouchLatch;                          /* set by a touch-down, cleared by a lift */
    BOOLEAN CarriedLength;                       /* the bytes held were carried by a resync */
} TAP_TOUCH_STATE;

#endif /* TAP_PRODUCT_H */
