#include "TouchLogicHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

namespace {

std::vector<Report> delivered;

VOID RecordingClassService(PVOID, PVOID first, PVOID last, PVOID consumed)
{
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL) << "the class service runs at DISPATCH_LEVEL";
    auto *begin = static_cast<PMOUSE_INPUT_DATA>(first);
    auto *end = static_cast<PMOUSE_INPUT_DATA>(last);
    EXPECT_EQ(end - begin, 1) << "exactly one record per call";
    for (auto *record = begin; record != end; ++record) {
        delivered.push_back({record->Flags, record->ButtonFlags, record->LastX, record->LastY});
    }
    *static_cast<PULONG>(consumed) = static_cast<ULONG>(end - begin);
}

// Stands for the beep thread's object: the engine only asks whether the thread exists.
struct { int unused; } beepThreadObject;

} // namespace

std::ostream &operator<<(std::ostream &out, const Report &report)
{
    return out << "{flags=" << report.flags << " buttons=" << report.buttons << " x=" << report.x
               << " y=" << report.y << "}";
}

TouchLogicHarness::TouchLogicHarness()
    : extension_(static_cast<MouseDeviceExtension *>(std::calloc(1, sizeof(MouseDeviceExtension))))
{
    RtlZeroMemory(&Globals, sizeof(Globals));
    KeInitializeMutex(&Globals.PortLock, 0);
    TapProductDriverEntry();
    SetDefaultParameters();
    delivered.clear();
    extension_->IsMouseDevice = TRUE;
    extension_->ClassService = reinterpret_cast<PVOID>(&RecordingClassService);
    extension_->AttributesQueried = TRUE;
    extension_->BeepThread = reinterpret_cast<PKTHREAD>(&beepThreadObject);
    KeInitializeEvent(&extension_->BeepEvent, NotificationEvent, FALSE);
    TapProductInitialize(extension_);
}

TouchLogicHarness::~TouchLogicHarness()
{
    std::free(extension_);
}

int TouchLogicHarness::Feed(const std::vector<UCHAR> &bytes)
{
    int packets = 0;
    for (UCHAR byte : bytes) {
        if (TapProductDecodeByte(extension_, byte)) {
            ReportPacket(extension_);
            ++packets;
        }
        TapProductAfterByte(extension_);
    }
    return packets;
}

void TouchLogicHarness::Calibrate(LONG xStart, LONG xEnd, LONG yStart, LONG yEnd, LONG orientation)
{
    Globals.ActiveCalibration = {xStart, xEnd, yStart, yEnd, orientation, CALIBRATION_DEFAULT_SCREEN_WIDTH,
                                 CALIBRATION_DEFAULT_SCREEN_HEIGHT};
}

std::vector<Report> TouchLogicHarness::TakeReports()
{
    std::vector<Report> reports;
    reports.swap(delivered);
    return reports;
}

int TouchLogicHarness::TakeBeeps()
{
    // The event is a flag, not a counter: requests made before the beep thread ran fold into one.
    int beeps = KeReadStateEvent(&extension_->BeepEvent) ? 1 : 0;
    KeClearEvent(&extension_->BeepEvent);
    return beeps;
}
