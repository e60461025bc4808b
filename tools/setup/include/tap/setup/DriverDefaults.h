// The registry values the installer writes once the driver is installed: the driver's Parameters
// defaults of each product line, in the order written, and the user's double-click size. This
// table is the one source of these values; the bench's `install` command takes them from here.
// Plain C++ (no Windows header), so that code beside the kernel's headers can use it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tap::setup {

enum class ProductLine { SingleTouch, MultiTouch };

// Registry value types, with the values of REG_SZ, REG_BINARY and REG_DWORD.
enum class ValueType : uint32_t { String = 1, Binary = 3, Dword = 4 };

struct RegistryValue {
    std::string name;
    ValueType type;
    std::vector<uint8_t> data; // exactly as written (a string with its terminating NUL)
};

// What the values depend on: the installer's state when it writes them.
struct InstallerChoices {
    bool usbSelected = false;
    uint32_t portNumber = 1;  // 1..10 for COM1..COM10, 11 for "NONE"
    uint32_t portUsable = 0;  // the port test's result
    std::string oemInfName;   // the INF store's name of the installed INF
};

// The Parameters values of LINE, in the order the installer writes them (Port twice in the
// single-touch line, as it does).
std::vector<RegistryValue> ParametersDefaults(ProductLine line, const InstallerChoices &choices);

// The values under HKEY_CURRENT_USER\Control Panel\Mouse: DoubleClickHeight, then
// DoubleClickWidth, the DblClickRegion default as text.
std::vector<RegistryValue> MouseDefaults();

// The DblClickRegion default, in pixels.
constexpr uint32_t kDoubleClickRegion = 30;

} // namespace tap::setup
