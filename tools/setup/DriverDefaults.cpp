#include "tap/setup/DriverDefaults.h"

#include <cstdio>

namespace tap::setup {

namespace {

std::vector<uint8_t> Little32(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Record(const std::vector<int32_t> &fields)
{
    std::vector<uint8_t> bytes;
    for (int32_t field : fields) {
        std::vector<uint8_t> four = Little32(static_cast<uint32_t>(field));
        bytes.insert(bytes.end(), four.begin(), four.end());
    }
    return bytes;
}

std::vector<uint8_t> Text(const std::string &text)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

RegistryValue Dword(const char *name, uint32_t value)
{
    return {name, ValueType::Dword, Little32(value)};
}

RegistryValue Binary(const char *name, std::vector<uint8_t> data)
{
    return {name, ValueType::Binary, std::move(data)};
}

} // namespace

std::vector<RegistryValue> ParametersDefaults(ProductLine line, const InstallerChoices &choices)
{
    std::vector<RegistryValue> values = {
        Dword("MouseMode", 2),   Dword("InterActTime", 0), Dword("BeepMode", 0),
        Dword("BeepFreq", 0),    Dword("BeepTime", 0),     Dword("DblClickRegion", kDoubleClickRegion),
    };
    const RegistryValue oemInfPath{"OemInfPath", ValueType::String, Text(choices.oemInfName)};
    if (line == ProductLine::MultiTouch) {
        // A CalibrationData record: raw edges 195.71, 4105.28, 12.95 and 3964.54 (times 100),
        // orientation 0, a 1024 x 768 screen.
        values.push_back(Binary("Calibration", Record({19571, 410528, 1295, 396454, 0, 1024, 768})));
        values.push_back(oemInfPath);
        return values;
    }
    values.push_back(Dword("Port", choices.usbSelected ? 1 : choices.portNumber));
    values.push_back(Binary("Calibration", std::vector<uint8_t>(28, 0)));
    values.push_back(Binary("CalibrateMargin", Little32(2)));
    values.push_back(oemInfPath);
    values.push_back(Dword("Port", choices.portNumber));
    values.push_back(Binary("Enable", Little32(choices.portUsable)));
    return values;
}

std::vector<RegistryValue> MouseDefaults()
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(kDoubleClickRegion));
    // Stored with its terminating NUL, so that a reader of the REG_SZ finds the end of the text.
    return {{"DoubleClickHeight", ValueType::String, Text(text)}, {"DoubleClickWidth", ValueType::String, Text(text)}};
}

} // namespace tap::setup
