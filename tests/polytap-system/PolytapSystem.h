// A simulated PC with the real Polytap module installed, a multi-touch controller behind its COM
// port, and the requests a tool sends to the driver's control device.
#pragma once

#include <machine/Machine.h>
#include <tapkernel/Kernel.h>

#include <ntddk.h>
#include <ntddmou.h>

#include "TapShared.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace polytaptest {

// The drivers' pool tag, "Ptdv" in a pool dump.
constexpr uint32_t kPoolTag = 0x76647450;

inline const std::u16string kServicesKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
inline const std::u16string kPolytapParameters = kServicesKey + u"Polytap\\Parameters";
inline const std::u16string kMonotapParameters = kServicesKey + u"Monotap\\Parameters";

inline const std::u16string kPolytapLink = u"\\??\\PolytapSymLnk1";
inline const std::u16string kMonotapLink = u"\\??\\MonotapSymLnk1";

// A calibration of one raw unit per pixel on a 1024x768 screen: a contact frame's pixel position
// is the raw position itself, and the cursor's absolute X is raw X * 65535 / 1024.
CalibrationData PixelCalibration();

// The absolute coordinate (0..65535) the pixel calibration maps a raw value to.
int32_t AbsoluteX(uint32_t rawX);
int32_t AbsoluteY(uint32_t rawY);
// Where the mouse class puts the cursor for a raw position under the pixel calibration.
tapmachine::PixelPoint CursorFor(uint32_t rawX, uint32_t rawY);

// One multi-touch packet with its check byte: one contact, or two.
std::vector<uint8_t> Packet(uint8_t status, tapmachine::RawContact first);
std::vector<uint8_t> Packet(uint8_t status, tapmachine::RawContact first, tapmachine::RawContact second);

// The answer to one request.
struct Reply {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> output;

    template <typename Record> Record As() const
    {
        Record record{};
        EXPECT_EQ(output.size(), sizeof record);
        std::memcpy(&record, output.data(), std::min(output.size(), sizeof record));
        return record;
    }
};

// Sends one control code through a handle of a control device, as DeviceIoControl does: open,
// request, close. The output buffer is filled with 0xCD first, so an untouched reply shows.
Reply ControlRequest(tapmachine::Machine &machine, const std::u16string &link, ULONG code, const void *input,
                     ULONG inputLength, ULONG outputLength);

// A machine with COM ports, Polytap installed and one *Polytap node, not started. The driver's
// parameters are those a setup writes for COM1: Port 1, Enable 1, BaudRate 9600, the pixel
// calibration; the other values keep the driver's defaults.
class PolytapMachine : public testing::Test {
protected:
    explicit PolytapMachine(std::vector<unsigned> comPorts = {1}, tapmachine::MachineOptions options = {});

    void SetParameter(const char16_t *name, uint32_t value);
    void SetCalibration(const CalibrationData &calibration);
    // The value as the registry holds it, when it is a REG_DWORD.
    std::optional<uint32_t> ParameterDword(const char16_t *name);

    // A multi-touch controller at 9600 baud behind COM<port>.
    tapmachine::TouchController &AttachController(unsigned port = 1);

    // Starts the node; expects success.
    void Start();
    tapkernel::DriverModule *Module();

    Reply Control(ULONG code, const void *input, ULONG inputLength, ULONG outputLength)
    {
        return ControlRequest(machine, kPolytapLink, code, input, inputLength, outputLength);
    }
    Reply Control(ULONG code) { return Control(code, nullptr, 0, 0); }
    Reply ControlValue(ULONG code, ULONG value) { return Control(code, &value, sizeof value, 0); }
    NTSTATUS SetSettings(const PolyPointerSettings &settings)
    {
        return Control(IOCTL_TOUCH_SET_SETTINGS, &settings, sizeof settings, 0).status;
    }

    // One IOCTL_TOUCH_GET_CONTACT_FRAME reply (expected to succeed).
    ContactFrame TakeFrame();
    // Frames until the reply says none is waiting.
    std::vector<ContactFrame> TakeFrames();

    // Bytes down COM<port>'s line at the line speed the port is set to; then every byte arrives
    // and is handled.
    void Feed(const std::vector<uint8_t> &bytes, unsigned port = 1);
    std::vector<tapmachine::MouseRecord> TakeRecords();

    // Which COM port (number) the driver holds open, 0 for none.
    unsigned OpenPort();
    // Reads and control requests that reached COM<port>.
    size_t Reads(unsigned port = 1);
    std::vector<tapmachine::SerialRequest> ControlRequests(unsigned port, ULONG code);

    tapmachine::Machine machine;
    std::u16string node;
};

}  // namespace polytaptest
