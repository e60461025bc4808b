/*
 * MultiTouchDecoder.h - the multi-touch controller's packet.
 *
 * One contact (10 bytes) or two contacts (15 bytes), all values little-endian:
 *
 *   byte  0    1    2      3      4-5   6-7   8     | 9       (one contact)
 *        +----+----+------+------+-----+-----+-----+ +-------+
 *        | 55 | -  |status|count | X1  | Y1  | id1 | | check |
 *        +----+----+------+------+-----+-----+-----+ +-------+
 *
 *                                                   | 9-10  11-12  13    14     (two contacts)
 *                                                   +-----+------+-----+-------+
 *                                                   | X2  |  Y2  | id2 | check |
 *                                                   +-----+------+-----+-------+
 *
 *   status  bit 0 (0x01) touch down, bit 1 (0x02) touching, bit 2 (0x04) lift; others unused
 *   count   1: one contact, 10 bytes; 2: two contacts, 15 bytes. The decoder decides the length
 *           when the fourth byte arrives; another count keeps the length last decided.
 *   check   (0xAA + every byte before it) mod 256
 *   -       not interpreted
 *
 * The sync byte 0x55 is not tested on a complete packet; it only marks where to resume after a
 * bad check byte.
 */
#ifndef MULTI_TOUCH_DECODER_H
#define MULTI_TOUCH_DECODER_H

#define MULTI_TOUCH_SHORT_PACKET 10
#define MULTI_TOUCH_LONG_PACKET 15
#define MULTI_TOUCH_SYNC 0x55
#define MULTI_TOUCH_CHECK_SEED 0xAA

/* Offsets in the packet. */
#define MULTI_TOUCH_STATUS 2
#define MULTI_TOUCH_COUNT 3
#define MULTI_TOUCH_X1 4
#define MULTI_TOUCH_Y1 6
#define MULTI_TOUCH_ID1 8
#define MULTI_TOUCH_X2 9
#define MULTI_TOUCH_Y2 11
#define MULTI_TOUCH_ID2 13

/* Status bits. */
#define MULTI_TOUCH_DOWN 0x01
#define MULTI_TOUCH_TOUCHING 0x02
#define MULTI_TOUCH_LIFT 0x04

/* Left-button value last written into the report. */
#define BUTTON_STATE_NONE 0
#define BUTTON_STATE_DOWN 1
#define BUTTON_STATE_UP 2

#define CONTACT_FRAME_QUEUE_SLOTS 10

/* The ring of contact frames that data mode fills and a tool empties. While Count is 0 or 1,
 * Head equals Tail; the frames run from Head to Tail modulo the slot count. */
typedef struct _CONTACT_FRAME_QUEUE {
    ContactFrame Slots[CONTACT_FRAME_QUEUE_SLOTS];
    ULONG Head;   /* slot of the oldest frame */
    ULONG Tail;   /* slot of the newest frame */
    ULONG Count;  /* 0..10 */
} CONTACT_FRAME_QUEUE, *PCONTACT_FRAME_QUEUE;

#endif /* MULTI_TOUCH_DECODER_H */
