// The wire between a touch controller and a COM port.
//
// Characters are paced on the virtual clock: a character occupies the line for its start bit, its
// data bits, its parity bit and its stop bits at the sender's baud rate (10 bits for 8N1), and
// arrives at the far end when its last bit has. The far end reads each character with its own
// line settings; when those differ from the sender's, it samples the waveform the way a UART
// does and gets a different, deterministic, byte (or none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tapmachine {

// Virtual time in 100-nanosecond units, the unit of the kernel's clock.
using Ticks = int64_t;
constexpr Ticks kTicksPerMillisecond = 10'000;
constexpr Ticks kTicksPerSecond = 10'000'000;

// Parity and stop-bit codes as the serial port driver's line-control record carries them.
enum : uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4 };
enum : uint8_t { kOneStopBit = 0, kOneAndHalfStopBits = 1, kTwoStopBits = 2 };

struct LineFormat {
    uint32_t baudRate = 9600;
    uint8_t wordLength = 8;  // 5..8 data bits
    uint8_t parity = kNoParity;
    uint8_t stopBits = kOneStopBit;

    bool operator==(const LineFormat &other) const
    {
        return baudRate == other.baudRate && wordLength == other.wordLength &&
               parity == other.parity && stopBits == other.stopBits;
    }
    bool operator!=(const LineFormat &other) const { return !(*this == other); }

    // Length of one character on the line in half bits (1.5 stop bits is three halves).
    unsigned FrameHalfBits() const;
};

// What a receiver set to `receiver` reads from one character sent as `sent` in `sender` format,
// with the line idle after it. Equal baud rate, word length and parity read the byte as sent (cut
// to the receiver's word length); otherwise the receiver checks the start bit at the middle of its
// own first bit time and samples every data bit at the middle of its own bit times. Returns
// nothing when the start bit is not seen (the character is lost).
std::optional<uint8_t> ReceiveCharacter(uint8_t sent, const LineFormat &sender,
                                        const LineFormat &receiver);

struct LineCharacter {
    uint8_t byte = 0;
    LineFormat format;  // as the sender sent it
    Ticks arrival = 0;  // when its last bit reaches the far end
};

// Characters in flight, in the order sent. Not thread-safe: its owner serialises access.
class SerialLine {
public:
    // Queues characters behind whatever is still being sent; the first starts at `now` when the
    // line is idle. Returns the arrival time of the last one (or `now` for none).
    Ticks Transmit(const uint8_t *bytes, size_t count, const LineFormat &format, Ticks now);

    // Arrival time of the next character in flight, if any.
    std::optional<Ticks> NextArrival() const;

    // Removes and returns every character that has arrived by `now`.
    std::vector<LineCharacter> TakeArrived(Ticks now);

    bool Empty() const { return inFlight_.empty(); }
    void Clear();

private:
    std::deque<LineCharacter> inFlight_;
    // The current burst: characters sent back to back at one baud rate, timed from its start so
    // that rounding does not accumulate.
    Ticks burstStart_ = 0;
    uint64_t burstHalfBits_ = 0;
    uint32_t burstBaud_ = 0;
    Ticks busyUntil_ = 0;
};

}  // namespace tapmachine
