#include "Words.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <sstream>

#include "ByteStream.h"

namespace tapbench {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SameWord(const std::string &a, const std::string &b)
{
    return Lower(a) == Lower(b);
}

int64_t Number(const std::string &word, const char *what)
{
    try {
        size_t used = 0;
        long long value = std::stoll(word, &used, 0);
        if (used == word.size()) {
            return value;
        }
    } catch (const std::exception &) {
    }
    throw ScenarioError(std::string("'") + word + "' is not a number (" + what + ")");
}

std::string Hex6(tap::desktop::Rgb rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

std::string RectText(const tap::desktop::Rect &r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

std::vector<uint8_t> HexBytes(std::string text)
{
    const std::string given = text;
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream in(text);
    std::string error;
    std::optional<std::vector<uint8_t>> bytes = ParseHexStream(in, error);
    if (!bytes || given.find('#') != std::string::npos) {
        throw ScenarioError("'" + given + "' is not hex bytes");
    }
    return *bytes;
}

namespace {

// A coordinate is an int; a number beyond that range is refused, not cut down to some other one.
int Coordinate(const std::string &word, const char *what)
{
    int64_t value = Number(word, what);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        throw ScenarioError(std::string("'") + word + "' is out of range (" + what + ")");
    }
    return static_cast<int>(value);
}

} // namespace

tapmachine::PixelPoint Point(const std::string &x, const std::string &y)
{
    return {Coordinate(x, "x"), Coordinate(y, "y")};
}

void ExpectWords(const Words &w, size_t least, size_t most, const char *usage)
{
    if (w.size() < least || w.size() > most) {
        throw ScenarioError(std::string("usage: ") + usage);
    }
}

} // namespace tapbench
