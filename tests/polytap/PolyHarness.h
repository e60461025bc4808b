// The touch logic harness with the multi-touch controller's packets.
#pragma once

#include "Polytap.h"
#include "TouchLogicHarness.h"

constexpr UCHAR kDownBit = 0x01;
constexpr UCHAR kTouchingBit = 0x02;
constexpr UCHAR kLiftBit = 0x04;

struct Contact {
    USHORT x;
    USHORT y;
    UCHAR id;
};

// A packet with the given count byte and contacts (one contact: 10 bytes, two: 15), check byte last.
inline std::vector<UCHAR> MultiTouchPacket(UCHAR status, std::vector<Contact> contacts, int countByte = -1)
{
    std::vector<UCHAR> packet = {0x55, 0x00, status,
                                 static_cast<UCHAR>(countByte >= 0 ? countByte : contacts.size())};
    for (size_t i = 0; i < contacts.size(); ++i) {
        const Contact &c = contacts[i];
        packet.insert(packet.end(), {static_cast<UCHAR>(c.x & 0xFF), static_cast<UCHAR>(c.x >> 8),
                                     static_cast<UCHAR>(c.y & 0xFF), static_cast<UCHAR>(c.y >> 8), c.id});
    }
    UCHAR check = 0xAA;
    for (UCHAR byte : packet) {
        check = static_cast<UCHAR>(check + byte);
    }
    packet.push_back(check);
    return packet;
}

class PolyHarness : public TouchLogicHarness {
public:
    PolyHarness()
    {
        // The port is open (frames are reported, not "no port").
        Extension().PortDevice = reinterpret_cast<PDEVICE_OBJECT>(&portDevice_);
    }
    int Packet(UCHAR status, std::vector<Contact> contacts) { return Feed(MultiTouchPacket(status, contacts)); }
    TAP_TOUCH_STATE &Touch() { return Extension().Touch; }

    // The reply to a request for a contact frame, under PortLock as the control code makes it.
    void Reply(PContactFrame reply)
    {
        KeWaitForSingleObject(&Globals.PortLock, Executive, KernelMode, FALSE, nullptr);
        ReplyContactFrame(&Extension(), reply);
        KeReleaseMutex(&Globals.PortLock, FALSE);
    }

    // Every frame a tool would take now, in order.
    std::vector<ContactFrame> TakeFrames()
    {
        std::vector<ContactFrame> frames;
        for (;;) {
            ContactFrame reply;
            Reply(&reply);
            if (reply.ContactCount == 0 || reply.ContactCount >= 0xFE) {
                return frames;
            }
            frames.push_back(reply);
        }
    }

private:
    struct {
        int unused;
    } portDevice_;
};

// States, identifiers and positions of a frame in one comparable line.
inline std::string Describe(const ContactFrame &f)
{
    char text[128];
    snprintf(text, sizeof text, "count=%u c1=%u,%u,%d,%d c2=%u,%u,%d,%d", f.ContactCount, f.Contact1State, f.Contact1Id,
             f.Contact1X, f.Contact1Y, f.Contact2State, f.Contact2Id, f.Contact2X, f.Contact2Y);
    return text;
}

inline std::vector<std::string> Describe(const std::vector<ContactFrame> &frames)
{
    std::vector<std::string> lines;
    for (const ContactFrame &frame : frames) {
        lines.push_back(Describe(frame));
    }
    return lines;
}
