// The touch controller at the far end of a COM port: turns a finger's gestures on the panel into
// the controller's packets and sends them down the line in the controller's line format.
//
// A finger touching the panel makes the controller send one packet per gesture step: Touch (the
// finger lands), Move (it moves), Hold (it stays, one packet each), Lift (it leaves). Positions are
// screen pixels mapped through the panel geometry, or raw controller units. The multi-touch
// controller also takes two contacts at once, each with its identifier, and any packet or byte
// sequence can be sent as given, for replaying a recorded stream.
#pragma once

#include <machine/ControllerPackets.h>
#include <machine/PanelGeometry.h>
#include <machine/SerialLine.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace tapmachine {

// Where the controller's characters go: the line of a COM port.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Transmit(const uint8_t *bytes, size_t count, const LineFormat &format) = 0;
};

enum class Protocol { SingleTouch, MultiTouch };

struct ControllerOptions {
    Protocol protocol = Protocol::SingleTouch;
    uint32_t baudRate = 9600;  // 8 data bits, no parity, one stop bit
    PanelGeometry geometry;
    uint8_t rawZ = 32;  // the single-touch packet's third value
};

class TouchController {
public:
    struct Contact {
        PixelPoint at;
        uint8_t id = 0;
    };
    struct RawContactPoint {
        RawPoint at;
        uint8_t id = 0;
    };

    TouchController(ControllerOptions options, ByteSink &line);

    Protocol protocol() const { return options_.protocol; }
    const PanelGeometry &geometry() const { return options_.geometry; }
    void SetGeometry(const PanelGeometry &geometry) { options_.geometry = geometry; }
    uint32_t baudRate() const { return options_.baudRate; }
    void SetBaudRate(uint32_t baudRate) { options_.baudRate = baudRate; }
    LineFormat lineFormat() const;

    // One finger (the first contact, identifier 0, in the multi-touch protocol).
    void Touch(PixelPoint at);
    void Move(PixelPoint to);
    void Hold(unsigned packets = 1);  // touching packets at the current position
    // As many touching packets as fill the line for at least this long (a held finger).
    void HoldFor(std::chrono::milliseconds duration);
    // How long one packet of the current protocol occupies the line (10.4 ms at 9600 baud).
    Ticks PacketDuration(size_t packetBytes = kSingleTouchPacketSize) const;
    void Lift();                      // at the current position
    void Tap(PixelPoint at, unsigned holdPackets = 0);
    // Touch at `from`, `steps` moves evenly spaced up to `to`, lift at `to`.
    void Drag(PixelPoint from, PixelPoint to, unsigned steps);

    void TouchRaw(RawPoint at);
    void MoveRaw(RawPoint to);

    // Two contacts at once (multi-touch protocol only; one or two contacts per call). Lift sends
    // the lift of every contact down.
    void TouchContacts(const std::vector<Contact> &contacts);
    void MoveContacts(const std::vector<Contact> &contacts);
    void TouchContactsRaw(const std::vector<RawContactPoint> &contacts);
    void MoveContactsRaw(const std::vector<RawContactPoint> &contacts);
    // One of two contacts leaves (INDEX 0 or 1, in packet order): the controller reports the
    // other one alone, touching, with its identifier.
    void LiftContact(size_t index);
    // The contacts on the panel now, in packet order, in raw units.
    const std::vector<RawContactPoint> &contacts() const { return contacts_; }

    // Exact packets and bytes, sent as given.
    void Send(const SingleTouchPacket &packet);
    void Send(const MultiTouchPacket &packet);
    void SendBytes(const std::vector<uint8_t> &bytes);

    bool touching() const { return !contacts_.empty(); }
    unsigned packetsSent() const { return packetsSent_; }

private:
    void SendTouching(uint8_t multiStatus);
    void SendContacts(uint8_t multiStatus, const std::vector<RawContactPoint> &contacts);
    std::vector<RawContactPoint> ToRaw(const std::vector<Contact> &contacts) const;
    void RequireMultiTouch(const char *what) const;

    ControllerOptions options_;
    ByteSink &line_;
    // Contacts on the panel now, in raw units; empty when no finger touches.
    std::vector<RawContactPoint> contacts_;
    RawPoint lastPosition_;
    unsigned packetsSent_ = 0;
};

}  // namespace tapmachine
