#include <machine/TouchController.h>

#include <stdexcept>
#include <string>

namespace tapmachine {

TouchController::TouchController(ControllerOptions options, ByteSink &line)
    : options_(options), line_(line)
{
}

LineFormat TouchController::lineFormat() const
{
    LineFormat format;
    format.baudRate = options_.baudRate;
    return format;
}

void TouchController::RequireMultiTouch(const char *what) const
{
    if (options_.protocol != Protocol::MultiTouch) {
        throw std::logic_error(std::string(what) + " needs the multi-touch controller");
    }
}

std::vector<TouchController::RawContactPoint> TouchController::ToRaw(
    const std::vector<Contact> &contacts) const
{
    std::vector<RawContactPoint> raw;
    for (const Contact &contact : contacts) {
        raw.push_back({options_.geometry.ToRaw(contact.at), contact.id});
    }
    return raw;
}

void TouchController::Touch(PixelPoint at)
{
    TouchRaw(options_.geometry.ToRaw(at));
}

void TouchController::Move(PixelPoint to)
{
    MoveRaw(options_.geometry.ToRaw(to));
}

void TouchController::TouchRaw(RawPoint at)
{
    contacts_ = {{at, 0}};
    SendTouching(kMultiTouchDown);
}

void TouchController::MoveRaw(RawPoint to)
{
    uint8_t id = contacts_.empty() ? 0 : contacts_.front().id;
    contacts_ = {{to, id}};
    SendTouching(kMultiTouchTouching);
}

void TouchController::Hold(unsigned packets)
{
    if (contacts_.empty()) {
        throw std::logic_error("Hold needs a finger on the panel");
    }
    for (unsigned i = 0; i < packets; ++i) {
        SendTouching(kMultiTouchTouching);
    }
}

Ticks TouchController::PacketDuration(size_t packetBytes) const
{
    LineFormat format = lineFormat();
    uint64_t halfBits = static_cast<uint64_t>(format.FrameHalfBits()) * packetBytes;
    uint64_t denominator = 2ull * format.baudRate;
    return static_cast<Ticks>((halfBits * kTicksPerSecond + denominator - 1) / denominator);
}

void TouchController::HoldFor(std::chrono::milliseconds duration)
{
    size_t bytes = contacts_.size() == 2 ? kMultiTouchPacketSizeTwo : kSingleTouchPacketSize;
    Ticks packet = PacketDuration(bytes);
    Ticks wanted = duration.count() * kTicksPerMillisecond;
    Hold(static_cast<unsigned>((wanted + packet - 1) / packet));
}

void TouchController::Lift()
{
    if (options_.protocol == Protocol::SingleTouch) {
        SingleTouchPacket packet;
        packet.status = kSingleTouchNotTouching;
        packet.rawX = lastPosition_.x;
        packet.rawY = lastPosition_.y;
        packet.rawZ = 0;
        Send(packet);
    } else {
        std::vector<RawContactPoint> lifted = contacts_;
        if (lifted.empty()) {
            lifted = {{lastPosition_, 0}};
        }
        SendContacts(kMultiTouchLift, lifted);
    }
    contacts_.clear();
}

void TouchController::Tap(PixelPoint at, unsigned holdPackets)
{
    Touch(at);
    Hold(holdPackets);
    Lift();
}

void TouchController::Drag(PixelPoint from, PixelPoint to, unsigned steps)
{
    Touch(from);
    for (unsigned step = 1; step <= steps; ++step) {
        PixelPoint at{from.x + static_cast<int>((to.x - from.x) * static_cast<long>(step) / steps),
                      from.y + static_cast<int>((to.y - from.y) * static_cast<long>(step) / steps)};
        Move(at);
    }
    Lift();
}

void TouchController::TouchContacts(const std::vector<Contact> &contacts)
{
    TouchContactsRaw(ToRaw(contacts));
}

void TouchController::MoveContacts(const std::vector<Contact> &contacts)
{
    MoveContactsRaw(ToRaw(contacts));
}

void TouchController::TouchContactsRaw(const std::vector<RawContactPoint> &contacts)
{
    RequireMultiTouch("TouchContacts");
    contacts_ = contacts;
    SendContacts(kMultiTouchDown, contacts_);
}

void TouchController::MoveContactsRaw(const std::vector<RawContactPoint> &contacts)
{
    RequireMultiTouch("MoveContacts");
    contacts_ = contacts;
    SendContacts(kMultiTouchTouching, contacts_);
}

void TouchController::LiftContact(size_t index)
{
    RequireMultiTouch("LiftContact");
    if (contacts_.size() != 2 || index > 1) {
        throw std::logic_error("LiftContact takes one of two contacts on the panel");
    }
    contacts_.erase(contacts_.begin() + static_cast<std::ptrdiff_t>(index));
    SendContacts(kMultiTouchTouching, contacts_);
}

void TouchController::SendTouching(uint8_t multiStatus)
{
    if (options_.protocol == Protocol::SingleTouch) {
        SingleTouchPacket packet;
        packet.status = kSingleTouchTouching;
        packet.rawX = contacts_.front().at.x;
        packet.rawY = contacts_.front().at.y;
        packet.rawZ = options_.rawZ;
        Send(packet);
    } else {
        SendContacts(multiStatus, contacts_);
    }
}

void TouchController::SendContacts(uint8_t multiStatus, const std::vector<RawContactPoint> &contacts)
{
    if (contacts.empty() || contacts.size() > 2) {
        throw std::invalid_argument("the multi-touch controller reports one or two contacts");
    }
    MultiTouchPacket packet;
    packet.status = multiStatus;
    packet.contactCount = static_cast<uint8_t>(contacts.size());
    for (size_t i = 0; i < contacts.size(); ++i) {
        packet.contacts[i] = {contacts[i].at.x, contacts[i].at.y, contacts[i].id};
    }
    Send(packet);
}

void TouchController::Send(const SingleTouchPacket &packet)
{
    auto bytes = EncodePacket(packet);
    lastPosition_ = {packet.rawX, packet.rawY};
    line_.Transmit(bytes.data(), bytes.size(), lineFormat());
    ++packetsSent_;
}

void TouchController::Send(const MultiTouchPacket &packet)
{
    auto bytes = EncodePacket(packet);
    lastPosition_ = {packet.contacts[0].x, packet.contacts[0].y};
    line_.Transmit(bytes.data(), bytes.size(), lineFormat());
    ++packetsSent_;
}

void TouchController::SendBytes(const std::vector<uint8_t> &bytes)
{
    line_.Transmit(bytes.data(), bytes.size(), lineFormat());
}

}  // namespace tapmachine
