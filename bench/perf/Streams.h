// The byte streams the performance benchmarks feed: what a controller sends in ordinary use, and
// streams meant to find the expensive paths of a decoder. The same seed gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tapperf {

enum class Line { SingleTouch, MultiTouch };

enum class StreamKind {
    Typical,      // taps and short drags: a touch, 0 to 6 moves, a lift
    Noise,        // random bytes: hardly a packet in them
    Resync,       // whole packets with a wrong check byte: the decoder starts over every packet
    MaxReports,   // a finger held still, each packet a right click (interactive hold of 1)
};

// At least `bytes` bytes of whole packets (Noise: exactly `bytes` bytes).
std::vector<uint8_t> MakeStream(Line line, StreamKind kind, size_t bytes);

const char *StreamName(StreamKind kind);

}  // namespace tapperf
