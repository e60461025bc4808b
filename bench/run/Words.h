// The words of a scenario line: numbers, names compared without case, quoting for the
// transcript, and the usage check every command makes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <machine/PanelGeometry.h>
#include <tapkernel/Text.h>

#include "tap/desktop/Framebuffer.h"
#include "tap/desktop/Geometry.h"

namespace tapbench {

// A command that cannot be carried out: the run stops with exit status 2.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Words = std::vector<std::string>;

std::string Lower(std::string text);
bool SameWord(const std::string &a, const std::string &b);
// A decimal or 0x-hex integer; ScenarioError naming WHAT otherwise.
int64_t Number(const std::string &word, const char *what);
// A word in double quotes, with \" and \\ inside, as the script writes it.
using tapkernel::QuotedText;
std::string Hex6(tap::desktop::Rgb rgb);
std::string RectText(const tap::desktop::Rect &r);
// "01,02,ff" or "0102ff": the replay's hex text, with commas allowed between bytes.
std::vector<uint8_t> HexBytes(std::string text);
tapmachine::PixelPoint Point(const std::string &x, const std::string &y);
// ScenarioError("usage: USAGE") unless the line has LEAST..MOST words, the command included.
void ExpectWords(const Words &w, size_t least, size_t most, const char *usage);

} // namespace tapbench
