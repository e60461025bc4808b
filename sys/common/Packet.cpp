/*
 * Packet.cpp - what both controllers' packets have in common: a check byte that is the sum of a
 * seed and every byte before it, and resynchronisation on the header byte after a bad one. Pure
 * logic; the decoders call it in the read completion at IRQL <= DISPATCH_LEVEL.
 */
#include "TapDriver.h"

UCHAR PacketCheckValue(const UCHAR *Packet, ULONG Length, UCHAR Seed)
{
    UCHAR sum = Seed;
    ULONG i;

    for (i = 0; i + 1 < Length; i++) {
        sum = (UCHAR)(sum + Packet[i]);
    }
    return sum;
}

VOID ResynchronisePacket(PUCHAR Packet, ULONG Length, UCHAR Header, PULONG ByteCount)
{
    ULONG i;

    for (i = 1; i < Length; i++) {
        if (Packet[i] == Header) {
            RtlMoveMemory(Packet, Packet + i, Length - i);
            *ByteCount = Length - i;
            return;
        }
    }
    *ByteCount = 0;
}
