#include "MachineTouchPath.h"

#include <cstring>
#include <string>

#include <machine/Machine.h>
#include <tapkernel/Kernel.h>

#include "ReplayOutput.h"

namespace tapbench {
namespace {

// What differs between the two drivers the bench can load.
struct DriverLineInfo {
    const char *modulePath; // the host build of the driver
    std::u16string service;
    std::u16string hardwareId;
    std::u16string controlLink;
};

DriverLineInfo LineInfo(DriverLine line)
{
    if (line == DriverLine::Polytap) {
        return {TAPBENCH_POLYTAP_MODULE, u"Polytap", u"*Polytap", u"\\??\\PolytapSymLnk1"};
    }
    return {TAPBENCH_MONOTAP_MODULE, u"Monotap", u"*Monotap", u"\\??\\MonotapSymLnk1"};
}

std::u16string Widen(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

tapmachine::MachineOptions MachineFor(const ReplayOptions &options)
{
    tapmachine::MachineOptions machine;
    machine.comPorts = {1};
    machine.mouseClassQueriesAttributes = options.queryAttributes;
    return machine;
}

class MachineTouchPath final : public TouchPath {
public:
    MachineTouchPath(const ReplayOptions &options, LineSink sink)
        : sink_(std::move(sink)), line_(LineInfo(options.driver)), dataMode_(options.dataMode),
          machine_(MachineFor(options))
    {
        machine_.mouse().TakeRecords();
        WriteParameters(options);
        machine_.InstallDriverModule(line_.modulePath, line_.service);
        machine_.StartDevice(machine_.CreateRootDevice(line_.hardwareId, line_.service));
        machine_.WaitIdle();
        if (options.rightClick) {
            Control(IOCTL_TOUCH_SET_RIGHT_CLICK, nullptr, 0);
        }
        if (options.dataMode) {
            Control(IOCTL_TOUCH_START_DATA_MODE, nullptr, 0);
            // Frames are taken after every byte through one handle held for the whole run, as a
            // tool in data mode polls its open control device.
            tapkernel::Kernel::Current().OpenFile(line_.controlLink, GENERIC_READ | GENERIC_WRITE, &frameSource_);
        }
        machine_.mouse().TakeRecords();
        machine_.TakeBeeps();
    }

    ~MachineTouchPath() override
    {
        if (frameSource_ != nullptr) {
            tapkernel::Kernel::Current().CloseFile(frameSource_);
            machine_.WaitIdle();
        }
    }

    bool Reading() const override { return machine_.comPort(1).open(); }
    tapmachine::LineFormat PortLine() const override { return machine_.comPort(1).settings().line; }

    void FeedByte(uint8_t byte) override
    {
        tapmachine::ComPort &port = machine_.comPort(1);
        // The controller speaks at whatever the driver set on the port.
        port.Feed({byte}, port.settings().line);
        machine_.Settle();
        for (const tapmachine::MouseRecord &record : machine_.mouse().TakeRecords()) {
            sink_(FormatReport(record.flags, record.buttonFlags, record.lastX, record.lastY));
        }
        for (const tapmachine::BeepRecord &beep : machine_.TakeBeeps()) {
            sink_(FormatBeep(beep.frequency, beep.duration));
        }
        if (dataMode_) {
            PrintFrames();
        }
    }

    void Finish() override
    {
        RawSample sample = {};
        Control(IOCTL_TOUCH_GET_RAW_SAMPLE, &sample, sizeof sample);
        ULONG armed = 0;
        Control(IOCTL_TOUCH_GET_RIGHT_CLICK, &armed, sizeof armed);
        sink_(FormatRawSample(sample));
        sink_(FormatRightClick(armed));
    }

private:
    void WriteParameters(const ReplayOptions &options)
    {
        std::u16string key = u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + line_.service + u"\\Parameters";
        machine_.SetDword(key, u"Port", 1);
        machine_.SetDword(key, u"Enable", 1);
        if (options.driver == DriverLine::Polytap) {
            machine_.SetDword(key, u"BaudRate", 9600);
        }
        for (const auto &[name, value] : options.parameters) {
            machine_.SetDword(key, Widen(name), value);
        }
        if (options.calibration) {
            std::vector<uint8_t> data(sizeof(CalibrationData));
            std::memcpy(data.data(), options.calibration->data(), data.size());
            machine_.SetValue(key, u"Calibration", REG_BINARY, data);
        }
    }

    // Sends one control code to the driver's control device, as a tool does: open, request, close.
    NTSTATUS Control(ULONG code, void *output, ULONG outputLength)
    {
        tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
        PFILE_OBJECT file = nullptr;
        NTSTATUS status = kernel.OpenFile(line_.controlLink, GENERIC_READ | GENERIC_WRITE, &file);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ULONG_PTR information = 0;
        status = kernel.DeviceIoControl(file, code, nullptr, 0, output, outputLength, &information);
        kernel.CloseFile(file);
        machine_.WaitIdle();
        return status;
    }

    // Takes frames until the driver answers that none is waiting (or why there are none).
    void PrintFrames()
    {
        if (frameSource_ == nullptr) {
            return;  // the control device did not open: no frame to take
        }
        tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
        for (;;) {
            ContactFrame frame = {};
            ULONG_PTR information = 0;
            if (!NT_SUCCESS(kernel.DeviceIoControl(frameSource_, IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, &frame,
                                                   sizeof frame, &information)) ||
                frame.ContactCount == CONTACT_COUNT_NONE_QUEUED || frame.ContactCount == CONTACT_COUNT_DATA_MODE_OFF ||
                frame.ContactCount == CONTACT_COUNT_NO_PORT) {
                return;
            }
            sink_(FormatFrame(frame));
        }
    }

    LineSink sink_;
    DriverLineInfo line_;
    bool dataMode_;
    PFILE_OBJECT frameSource_ = nullptr;  // the control device, open in data mode
    mutable tapmachine::Machine machine_; // asking whether COM1 is open does not change it
};

} // namespace

std::unique_ptr<TouchPath> MakeMachineTouchPath(const ReplayOptions &options, TouchPath::LineSink sink)
{
    return std::make_unique<MachineTouchPath>(options, std::move(sink));
}

} // namespace tapbench
