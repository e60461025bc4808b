// Command line of `tapbench replay`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tapbench {

enum class DriverLine { Monotap, Polytap };

struct ReplayOptions {
    DriverLine driver = DriverLine::Monotap;
    // Parameters values set as REG_DWORD before the driver loads, in command-line order.
    std::vector<std::pair<std::string, uint32_t>> parameters;
    // The 28-byte Calibration value: RawXStart, RawXEnd, RawYStart, RawYEnd, Orientation,
    // ScreenWidth, ScreenHeight. Absent: no Calibration value at all.
    std::optional<std::vector<int32_t>> calibration;
    bool rightClick = false;
    bool dataMode = false;
    bool queryAttributes = true;
    bool binary = false;
    std::string input = "-"; // a file, or "-" for standard input
    std::string device;      // a serial port to read instead (/dev/ttyS0, /dev/ttyUSB0)
};

// Parses the arguments after "replay". On a usage error returns nothing and sets `error`.
std::optional<ReplayOptions> ParseReplayOptions(const std::vector<std::string> &args, std::string &error);

// The usage texts of the replay and record commands.
const char *ReplayUsage();
const char *RecordUsage();

} // namespace tapbench
