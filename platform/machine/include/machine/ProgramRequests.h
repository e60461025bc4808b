// What programs ask of the system, as the bench shows it: every control code a program sends to a
// device and every registry value or key it writes or deletes. The user-mode stand-in reports each
// request here when it has been carried out; the bench takes them in order.
#pragma once

#include <machine/SerialLine.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tapmachine {

struct ProgramRequest {
    enum class Kind {
        DeviceControl,   // DeviceIoControl on a device handle
        SetValue,        // RegSetValueEx
        DeleteValue,     // RegDeleteValue
        DeleteKey,       // RegDeleteKey
    };
    Kind kind = Kind::DeviceControl;
    Ticks time = 0;
    std::string program;       // the image's name without extension: MonoAlign
    // DeviceControl: the device as the program opened it (\\.\MonotapSymLnk1) and its kernel name
    // (\??\MonotapSymLnk1). Registry: the key, HKLM\... or HKCU\... (HKU\... for other users).
    std::string target;
    std::u16string kernelName;
    uint32_t code = 0;
    std::vector<uint8_t> input;  // DeviceControl: the input buffer
    uint32_t error = 0;          // DeviceControl: 0, or the system error code the call failed with
    std::string valueName;       // SetValue, DeleteValue
    uint32_t type = 0;           // SetValue: REG_DWORD, REG_BINARY, REG_SZ ...
    std::vector<uint8_t> data;   // SetValue: the stored bytes (strings in UTF-16)
};

// Thread-safe: programs' threads report while the bench takes.
class ProgramRequestLog {
public:
    void Record(ProgramRequest request);
    std::vector<ProgramRequest> Take();

private:
    std::mutex mutex_;
    std::vector<ProgramRequest> requests_;
};

}  // namespace tapmachine
