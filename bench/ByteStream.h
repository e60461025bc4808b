// The controller byte streams the bench replays: hex text or raw bytes.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tapbench {

// Hex text: pairs of hex digits, white space between bytes optional, '#' starts a comment to the
// end of the line. Anything else, or a run of digits of odd length, is an error naming the line.
std::optional<std::vector<uint8_t>> ParseHexStream(std::istream &in, std::string &error);

// Every byte of the stream as it is.
std::vector<uint8_t> ReadBinaryStream(std::istream &in);

// The next bytes of the stream as they are, up to chunk's capacity (at least one byte's room
// is made); false, with chunk empty, at the end. For streams too long to hold at once.
bool ReadBinaryChunk(std::istream &in, std::vector<uint8_t> &chunk);

} // namespace tapbench
