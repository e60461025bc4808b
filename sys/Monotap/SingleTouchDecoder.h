/*
 * SingleTouchDecoder.h - the single-touch controller's packet and its decoder state.
 *
 * The controller sends fixed 10-byte packets at 9600 baud, 8N1:
 *
 *   byte  0     1     2       3     4     5     6     7     8     9
 *        +-----+-----+-------+-----+-----+-----+-----+-----+-----+-------+
 *        | 55  |  -  |status | X lo| X hi| Y lo| Y hi|  Z  |  -  | check |
 *        +-----+-----+-------+-----+-----+-----+-----+-----+-----+-------+
 *
 *   status  0x81 or 0x82 = touching (left button down); anything else = not touching (up)
 *   X, Y    raw position, unsigned 16-bit little-endian
 *   Z       a third raw value, only reported in the raw sample
 *   -       not interpreted, counted in the check byte only
 *   check   (0xAA + byte 0 + ... + byte 8) mod 256
 *
 * The header 0x55 is used only to find the next packet start after a bad check byte.
 */
#ifndef SINGLE_TOUCH_DECODER_H
#define SINGLE_TOUCH_DECODER_H

#define SINGLE_TOUCH_PACKET_LENGTH 10
#define SINGLE_TOUCH_HEADER 0x55
#define SINGLE_TOUCH_CHECK_SEED 0xAA

/* Left-button state the decoder last put into the report. */
#define BUTTON_STATE_NONE 0
#define BUTTON_STATE_DOWN 1
#define BUTTON_STATE_UP 2

typedef struct _SINGLE_TOUCH_DECODER {
    USHORT ButtonState;                               /* BUTTON_STATE_* */
    UCHAR PacketBuffer[SINGLE_TOUCH_PACKET_LENGTH];   /* the packet being assembled */
    ULONG ByteCount;                                  /* bytes held in PacketBuffer, 0..10 */
    UCHAR Status;                                     /* status byte of the last valid packet */
    ULONG RawX;                                       /* last valid packet; clamped in place */
    ULONG RawY;
    ULONG RawZ;
} SINGLE_TOUCH_DECODER, *PSINGLE_TOUCH_DECODER;

#endif /* SINGLE_TOUCH_DECODER_H */
