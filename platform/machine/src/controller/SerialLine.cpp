#include <machine/SerialLine.h>

namespace tapmachine {

namespace {

// Level of the sender's line at a time measured in the sender's bit times from the leading edge
// of the start bit: 0 for the start bit, the data bits LSB first, the parity bit, then idle high
// (stop bits and the quiet line after the character).
int SenderLevelAt(double senderBits, uint8_t byte, const LineFormat &sender)
{
    if (senderBits < 1.0) {
        return 0;
    }
    unsigned bit = static_cast<unsigned>(senderBits) - 1;
    if (bit < sender.wordLength) {
        return (byte >> bit) & 1;
    }
    if (bit == sender.wordLength && sender.parity != kNoParity) {
        unsigned ones = 0;
        for (unsigned i = 0; i < sender.wordLength; ++i) {
            ones += (byte >> i) & 1;
        }
        switch (sender.parity) {
        case kOddParity: return (ones % 2 == 0) ? 1 : 0;
        case kEvenParity: return (ones % 2 == 1) ? 1 : 0;
        case kMarkParity: return 1;
        default: return 0;  // space
        }
    }
    return 1;
}

uint8_t WordMask(uint8_t wordLength)
{
    return static_cast<uint8_t>((1u << wordLength) - 1);
}

}  // namespace

unsigned LineFormat::FrameHalfBits() const
{
    unsigned stopHalves = stopBits == kOneAndHalfStopBits ? 3 : stopBits == kTwoStopBits ? 4 : 2;
    unsigned parityHalves = parity == kNoParity ? 0 : 2;
    return 2 /* start */ + 2u * wordLength + parityHalves + stopHalves;
}

std::optional<uint8_t> ReceiveCharacter(uint8_t sent, const LineFormat &sender,
                                        const LineFormat &receiver)
{
    if (receiver.baudRate == 0 || sender.baudRate == 0) {
        return std::nullopt;
    }
    if (receiver.baudRate == sender.baudRate && receiver.wordLength == sender.wordLength &&
        receiver.parity == sender.parity) {
        return static_cast<uint8_t>(sent & WordMask(receiver.wordLength));
    }
    // One receiver bit time measured in sender bit times.
    double ratio = static_cast<double>(sender.baudRate) / receiver.baudRate;
    if (SenderLevelAt(0.5 * ratio, sent, sender) != 0) {
        return std::nullopt;
    }
    uint8_t received = 0;
    for (unsigned bit = 0; bit < receiver.wordLength; ++bit) {
        double sampleAt = (1.5 + bit) * ratio;
        received |= static_cast<uint8_t>(SenderLevelAt(sampleAt, sent, sender) << bit);
    }
    return received;
}

Ticks SerialLine::Transmit(const uint8_t *bytes, size_t count, const LineFormat &format, Ticks now)
{
    if (format.baudRate == 0) {
        return now;  // a silent sender
    }
    if (busyUntil_ <= now || format.baudRate != burstBaud_) {
        burstStart_ = busyUntil_ > now ? busyUntil_ : now;
        burstHalfBits_ = 0;
        burstBaud_ = format.baudRate;
    }
    Ticks arrival = now;
    for (size_t i = 0; i < count; ++i) {
        burstHalfBits_ += format.FrameHalfBits();
        // Round up: a character has not arrived before its last bit is complete.
        uint64_t numerator = burstHalfBits_ * static_cast<uint64_t>(kTicksPerSecond);
        uint64_t denominator = 2ull * format.baudRate;
        arrival = burstStart_ + static_cast<Ticks>((numerator + denominator - 1) / denominator);
        inFlight_.push_back({bytes[i], format, arrival});
    }
    busyUntil_ = arrival > busyUntil_ ? arrival : busyUntil_;
    return arrival;
}

std::optional<Ticks> SerialLine::NextArrival() const
{
    if (inFlight_.empty()) {
        return std::nullopt;
    }
    return inFlight_.front().arrival;
}

std::vector<LineCharacter> SerialLine::TakeArrived(Ticks now)
{
    std::vector<LineCharacter> arrived;
    while (!inFlight_.empty() && inFlight_.front().arrival <= now) {
        arrived.push_back(inFlight_.front());
        inFlight_.pop_front();
    }
    return arrived;
}

void SerialLine::Clear()
{
    inFlight_.clear();
    busyUntil_ = 0;
    burstHalfBits_ = 0;
    burstBaud_ = 0;
}

}  // namespace tapmachine
