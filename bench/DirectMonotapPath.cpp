#include "DirectMonotapPath.h"

#include "Monotap.h"
#include "ReplayOutput.h"

#include <cstring>
#include <memory>

namespace tapbench {
namespace {

TouchPath::LineSink *activeSink = nullptr;

VOID PrintingClassService(PVOID, PVOID first, PVOID last, PVOID consumed)
{
    ULONG count = 0;
    for (auto *record = static_cast<PMOUSE_INPUT_DATA>(first); record != static_cast<PMOUSE_INPUT_DATA>(last);
         ++record, ++count) {
        (*activeSink)(FormatReport(record->Flags, record->ButtonFlags, record->LastX, record->LastY));
    }
    *static_cast<PULONG>(consumed) = count;
}

// Stands for the beep thread's object: the engine only asks whether the thread exists.
struct {
    int unused;
} beepThreadObject;

// Loads the driver-wide parameters as the driver would from the Parameters values the options give.
void LoadParameters(const ReplayOptions &options)
{
    std::memset(&Globals, 0, sizeof Globals);
    SetDefaultParameters();
    Globals.Settings.Port = 1;
    Globals.Settings.Enable = 1;
    for (const auto &[name, value] : options.parameters) {
        ULONG *field = name == "MouseMode"        ? &Globals.Settings.MouseMode
                       : name == "DblClickRegion" ? &Globals.Settings.DblClickRegion
                       : name == "InterActTime"   ? &Globals.Settings.InterActTime
                       : name == "BeepMode"       ? &Globals.Settings.BeepMode
                       : name == "BeepFreq"       ? &Globals.Settings.BeepFreq
                       : name == "BeepTime"       ? &Globals.Settings.BeepTime
                       : name == "Port"           ? &Globals.Settings.Port
                       : name == "Enable"         ? &Globals.Settings.Enable
                                                  : nullptr; // BaudRate: not a single-touch setting
        if (field) {
            *field = value;
        }
    }
    if (options.calibration) {
        std::memcpy(&Globals.ActiveCalibration, options.calibration->data(), sizeof Globals.ActiveCalibration);
    }
}

class DirectMonotapPath final : public TouchPath {
public:
    DirectMonotapPath(const ReplayOptions &options, LineSink sink)
        : sink_(std::move(sink)), extension_(std::make_unique<MOUSE_DEVICE_EXTENSION>())
    {
        activeSink = &sink_;
        LoadParameters(options);
        std::memset(extension_.get(), 0, sizeof *extension_);
        extension_->IsMouseDevice = TRUE;
        extension_->ClassService = reinterpret_cast<PVOID>(&PrintingClassService);
        extension_->AttributesQueried = options.queryAttributes;
        extension_->BeepThread = reinterpret_cast<PKTHREAD>(&beepThreadObject);
        KeInitializeEvent(&extension_->BeepEvent, NotificationEvent, FALSE);
        Globals.RightClickArmed = options.rightClick;
        // The driver opens COM1 only when enabled and configured for it.
        reading_ = Globals.Settings.Enable != 0 && Globals.Settings.Port == 1;
    }

    ~DirectMonotapPath() override { activeSink = nullptr; }

    bool Reading() const override { return reading_; }

    void FeedByte(uint8_t byte) override
    {
        if (!reading_) {
            return;
        }
        if (TapLineDecodeByte(extension_.get(), byte)) {
            ReportPacket(extension_.get());
        }
        TapLineAfterByte(extension_.get());
        // The beep thread answers the event with one beep of the configured sound.
        if (KeReadStateEvent(&extension_->BeepEvent)) {
            KeClearEvent(&extension_->BeepEvent);
            sink_(FormatBeep(Globals.Settings.BeepFreq, Globals.Settings.BeepTime));
        }
    }

    void Finish() override
    {
        sink_(FormatRawSample(Globals.LastRawSample));
        sink_(FormatRightClick(Globals.RightClickArmed ? 1 : 0));
    }

private:
    LineSink sink_;
    std::unique_ptr<MOUSE_DEVICE_EXTENSION> extension_;
    bool reading_ = false;
};

} // namespace

std::unique_ptr<TouchPath> MakeDirectMonotapPath(const ReplayOptions &options, TouchPath::LineSink sink)
{
    return std::make_unique<DirectMonotapPath>(options, std::move(sink));
}

} // namespace tapbench
