#include "ReplayOptions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace tapbench {
namespace {

// The Parameters values a replay may set.
constexpr std::array<const char *, 9> kSettableValues = {"MouseMode", "DblClickRegion", "InterActTime",
                                                         "BeepMode",  "BeepFreq",       "BeepTime",
                                                         "Port",      "BaudRate",       "Enable"};

// Parses a whole decimal or 0x-hex number into [min, max].
std::optional<int64_t> ParseNumber(const std::string &text, int64_t min, int64_t max)
{
    if (text.empty()) {
        return std::nullopt;
    }
    bool negative = text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [base](unsigned char c) {
            return base == 16 ? std::isxdigit(c) : std::isdigit(c);
        })) {
        return std::nullopt;
    }
    errno = 0;
    unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max())) {
        return std::nullopt;
    }
    int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

bool ParseSetting(const std::string &assignment, ReplayOptions &options, std::string &error)
{
    auto equals = assignment.find('=');
    std::string name = assignment.substr(0, equals);
    if (equals == std::string::npos ||
        std::find(kSettableValues.begin(), kSettableValues.end(), name) == kSettableValues.end()) {
        error = "--set wants NAME=VALUE with NAME one of MouseMode, DblClickRegion, InterActTime, BeepMode, "
                "BeepFreq, BeepTime, Port, BaudRate, Enable: '" + assignment + "'";
        return false;
    }
    auto value = ParseNumber(assignment.substr(equals + 1), 0, std::numeric_limits<uint32_t>::max());
    if (!value) {
        error = "--set " + name + " wants a 32-bit unsigned decimal or 0x-hex value: '" + assignment + "'";
        return false;
    }
    options.parameters.emplace_back(name, static_cast<uint32_t>(*value));
    return true;
}

bool ParseCalibration(const std::string &list, ReplayOptions &options, std::string &error)
{
    std::vector<int32_t> fields;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string field = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        auto value = ParseNumber(field, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
        if (!value) {
            break;
        }
        fields.push_back(static_cast<int32_t>(*value));
        if (comma == std::string::npos) {
            start = list.size() + 1;
            if (fields.size() == 7) {
                options.calibration = fields;
                return true;
            }
            break;
        }
        start = comma + 1;
    }
    error = "--calibration wants seven signed 32-bit integers A,B,C,D,O,W,H: '" + list + "'";
    return false;
}

} // namespace

const char *ReplayUsage()
{
    return "usage: tapbench replay [--driver monotap|polytap] [--set NAME=VALUE]... [--calibration A,B,C,D,O,W,H]\n"
           "                       [--right-click] [--data-mode] [--no-attributes] [--binary] [FILE|-]\n"
           "       tapbench replay [options] --device /dev/ttyS0|/dev/ttyUSB0\n";
}

const char *RecordUsage()
{
    return "usage: tapbench record [replay options] --device /dev/ttyS0|/dev/ttyUSB0 FILE\n";
}

std::optional<ReplayOptions> ParseReplayOptions(const std::vector<std::string> &args, std::string &error)
{
    ReplayOptions options;
    bool haveInput = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto needValue = [&](const char *option) -> const std::string * {
            if (i + 1 >= args.size()) {
                error = std::string(option) + " wants a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--driver") {
            const std::string *value = needValue("--driver");
            if (!value) {
                return std::nullopt;
            }
            if (*value == "monotap") {
                options.driver = DriverLine::Monotap;
            } else if (*value == "polytap") {
                options.driver = DriverLine::Polytap;
            } else {
                error = "--driver wants monotap or polytap: '" + *value + "'";
                return std::nullopt;
            }
        } else if (arg == "--set") {
            const std::string *value = needValue("--set");
            if (!value || !ParseSetting(*value, options, error)) {
                return std::nullopt;
            }
        } else if (arg == "--calibration") {
            const std::string *value = needValue("--calibration");
            if (!value || !ParseCalibration(*value, options, error)) {
                return std::nullopt;
            }
        } else if (arg == "--device") {
            const std::string *value = needValue("--device");
            if (!value) {
                return std::nullopt;
            }
            options.device = *value;
        } else if (arg == "--right-click") {
            options.rightClick = true;
        } else if (arg == "--data-mode") {
            options.dataMode = true;
        } else if (arg == "--no-attributes") {
            options.queryAttributes = false;
        } else if (arg == "--binary") {
            options.binary = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else if (haveInput) {
            error = "only one input file: '" + arg + "'";
            return std::nullopt;
        } else {
            options.input = arg;
            haveInput = true;
        }
    }
    if (options.dataMode && options.driver == DriverLine::Monotap) {
        error = "--data-mode needs --driver polytap: the single-touch driver has no contact frames";
        return std::nullopt;
    }
    return options;
}

} // namespace tapbench
