// A simulated PC with one of the two drivers installed, as the reliability tests and the soak
// drive it: the line's names and packets in one table, a touch device on COM1, the control codes
// through a handle, and the questions these tests ask about what the driver still holds.
#pragma once

#include <machine/Machine.h>
#include <tapkernel/Kernel.h>

#include <ntddk.h>

#include "TapShared.h"

#include <cstdint>
#include <string>
#include <vector>

namespace reliability {

// What differs between the two lines, as seen from outside the driver.
struct Line {
    const char *name;           // the service and the kernel module: "Monotap"
    std::u16string service;
    std::u16string hardwareId;
    std::u16string link;        // kernel form of the control device's link
    std::string module;         // the host build of the driver
    tapmachine::Protocol protocol;
    ULONG settingsSize;         // the line's PointerSettings
    bool multiTouch;
};

const Line &Monotap();
const Line &Polytap();
const Line *const kLines[] = {&Monotap(), &Polytap()};

// One packet of the line's controller: touching or lifted at a raw position.
std::vector<uint8_t> TouchPacket(const Line &line, bool touching, uint16_t rawX, uint16_t rawY);

struct Reply {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> output;
};

class LineMachine {
public:
    explicit LineMachine(const Line &line, std::vector<unsigned> comPorts = {1, 2});
    ~LineMachine();
    LineMachine(const LineMachine &) = delete;
    LineMachine &operator=(const LineMachine &) = delete;

    std::u16string ParametersKey() const;
    void SetParameter(const char16_t *name, uint32_t value);

    // The node's start (AddDevice, then IRP_MN_START_DEVICE) and its removal.
    NTSTATUS Start();
    NTSTATUS Remove();
    bool Started();

    // A control code through a handle opened for it and closed again.
    Reply Control(ULONG code, const void *input = nullptr, ULONG inputLength = 0, ULONG outputLength = 0);
    Reply ControlValue(ULONG code, ULONG value) { return Control(code, &value, sizeof value); }
    // The same on a handle the caller holds (a program keeping the control device open).
    static Reply ControlOn(PFILE_OBJECT file, ULONG code, const void *input, ULONG inputLength, ULONG outputLength);
    PFILE_OBJECT OpenControlDevice(NTSTATUS *status = nullptr);

    // A tap on the panel behind COM<port> (through the controller, the line and the driver);
    // returns how many records reached the mouse class.
    size_t Tap(unsigned port = 1);
    // Which COM port the driver holds open, 0 for none.
    unsigned OpenPort();

    tapkernel::DriverModule *Module();

    tapmachine::Machine machine;
    const Line &line;
    std::u16string node;
};

} // namespace reliability
