#include "ByteStream.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace tapbench {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

} // namespace

std::optional<std::vector<uint8_t>> ParseHexStream(std::istream &in, std::string &error)
{
    std::vector<uint8_t> bytes;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        int pendingDigit = -1; // the first digit of a byte whose second digit has not come yet
        for (char c : line) {
            if (c == '#') {
                break;
            }
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                if (pendingDigit < 0) {
                    pendingDigit = HexValue(c);
                } else {
                    bytes.push_back(static_cast<uint8_t>(pendingDigit * 16 + HexValue(c)));
                    pendingDigit = -1;
                }
            } else if (std::isspace(static_cast<unsigned char>(c)) && pendingDigit < 0) {
                continue;
            } else {
                error = "line " + std::to_string(lineNumber) +
                        (pendingDigit >= 0 ? ": odd hex digit" : std::string(": not a hex digit: '") + c + "'");
                return std::nullopt;
            }
        }
        if (pendingDigit >= 0) {
            error = "line " + std::to_string(lineNumber) + ": odd hex digit";
            return std::nullopt;
        }
    }
    return bytes;
}

std::vector<uint8_t> ReadBinaryStream(std::istream &in)
{
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> chunk;
    chunk.reserve(1 << 16);
    while (ReadBinaryChunk(in, chunk)) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    }
    return bytes;
}

bool ReadBinaryChunk(std::istream &in, std::vector<uint8_t> &chunk)
{
    chunk.resize(std::max<size_t>(chunk.capacity(), 1));
    in.read(reinterpret_cast<char *>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<size_t>(in.gcount()));
    return !chunk.empty();
}

} // namespace tapbench
