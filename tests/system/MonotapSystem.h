// A simulated PC with the real Monotap module installed, and the requests a test sends it.
#pragma once

#include <machine/Machine.h>
#include <tapkernel/Kernel.h>

#include <ntddk.h>
#include <ntddmou.h>
#include <kbdmou.h>
#include <ntddser.h>

#include "TapShared.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace monotaptest {

// The driver's pool tag, "Ptdv" in a pool dump.
constexpr uint32_t kPoolTag = 0x76647450;

inline const std::u16string kParametersKey =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";

// The answer to one request.
struct Reply {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> output;
};

// One packet of the single-touch controller, with its check byte.
std::vector<uint8_t> Packet(uint8_t status, uint16_t rawX, uint16_t rawY, uint8_t rawZ = 0);

// A machine with COM ports, Monotap installed and one *Monotap node (not started unless asked).
class MonotapMachine : public testing::Test {
protected:
    explicit MonotapMachine(std::vector<unsigned> comPorts = {1}, tapmachine::MachineOptions options = {});
    ~MonotapMachine() override;

    // Parameters values.
    void SetParameter(const char16_t *name, uint32_t value);
    void SetCalibration(const CalibrationData &calibration);

    // A touch controller behind COM<port>, and the Calibration value that maps its panel exactly.
    tapmachine::TouchController &AttachController(unsigned port);
    static CalibrationData IdealCalibration(const tapmachine::PanelGeometry &geometry = {});

    // Starts the node; expects success.
    void Start();
    // The node's physical device and the mouse device attached on it.
    PDEVICE_OBJECT PhysicalDevice();
    PDEVICE_OBJECT MouseDevice();
    PDEVICE_OBJECT ControlDevice();
    tapkernel::DriverModule *Module();

    // A control code through a handle of the control device, as DeviceIoControl sends it.
    Reply Control(ULONG code, const void *input, ULONG inputLength, ULONG outputLength);
    Reply Control(ULONG code) { return Control(code, nullptr, 0, 0); }
    Reply ControlValue(ULONG code, ULONG value) { return Control(code, &value, sizeof value, 0); }

    // A request made by hand and sent to a device: major function, control code, buffers (a
    // system buffer as METHOD_BUFFERED has one, or none when noSystemBuffer is set).
    Reply Send(PDEVICE_OBJECT device, UCHAR majorFunction, ULONG code, const void *input, ULONG inputLength,
               ULONG outputLength, UCHAR minorFunction = 0, bool noSystemBuffer = false);

    // Which COM port (number) the driver holds open, 0 for none.
    unsigned OpenPort();
    // Reads the driver has outstanding or has had on a port.
    size_t ReadsIssued(unsigned port);
    bool LastReadPended(unsigned port);
    // Gives COM<port> time-outs and flow control of its own, as another program would leave them.
    void PresetPort(unsigned port, const SERIAL_TIMEOUTS &timeouts, const SERIAL_HANDFLOW &handflow);

    // Bytes down COM<port>'s line, then every byte arrives and is handled.
    void Feed(unsigned port, const std::vector<uint8_t> &bytes);
    // The mouse records delivered since the last call.
    std::vector<tapmachine::MouseRecord> TakeRecords();

    tapmachine::Machine machine;
    std::u16string node;
};

// Counts the requests that reach the physical devices' driver (the root bus) while it lives.
class BusSpy {
public:
    explicit BusSpy(tapmachine::Machine &machine);
    ~BusSpy();
    BusSpy(const BusSpy &) = delete;
    BusSpy &operator=(const BusSpy &) = delete;

    // Requests to this physical device of this major (and minor function, for PnP) seen so far.
    int Count(PDEVICE_OBJECT physicalDevice, UCHAR majorFunction, UCHAR minorFunction = 0xFF) const;
    // Control codes of the IRP_MJ_DEVICE_CONTROL requests to it.
    std::vector<ULONG> ControlCodes(PDEVICE_OBJECT physicalDevice) const;
};

}  // namespace monotaptest
