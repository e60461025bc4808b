// Failure injection with the real drivers: the kernel's allocation switches and failing kernel
// routines, and a serial port that refuses one configuration request, driven through every
// failure point of loading and AddDevice, of the port's open and configuration, and of the
// control codes - one point at a time. Each run must end with a defined status; the kernel's
// verifier checks at every removal and unload that nothing is left (pool, IRPs, references,
// threads, links); and the device must be usable again afterwards.
#include "LineRig.h"

#include <ntddser.h>

#include <gtest/gtest.h>

#include <set>

using namespace reliability;

namespace {

constexpr NTSTATUS kInjected = static_cast<NTSTATUS>(0xC0000185L); // STATUS_IO_DEVICE_ERROR
constexpr unsigned kMostPoints = 200; // a bound on the walks, far above any routine's allocations

class FailureInjection : public testing::TestWithParam<const Line *> {
protected:
    FailureInjection() : rig(*GetParam()) {}

    // Whatever a failure left behind in the registry (the multi-touch driver writes Enable 0 when
    // the port it opens on an arrival fails), the device starts cleanly and reports a tap.
    void ExpectUsableAgain()
    {
        if (rig.Started()) {
            ASSERT_EQ(rig.Remove(), STATUS_SUCCESS);
        }
        rig.SetParameter(u"Enable", 1);
        ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
        EXPECT_EQ(rig.OpenPort(), 1u);
        EXPECT_GT(rig.Tap(), 0u) << "the device reports touches again";
        ASSERT_EQ(rig.Remove(), STATUS_SUCCESS);
        EXPECT_FALSE(rig.machine.DriverLoaded(rig.line.service)) << "the driver unloaded with nothing left";
    }

    unsigned FailuresLeft() { return rig.machine.kernel().InjectedFailuresLeft(rig.line.name); }

    // Makes the module's point-th pool or IRP allocation from now on fail.
    void FailAllocation(tapkernel::DriverModule *module, bool irps, unsigned point)
    {
        tapkernel::Kernel &kernel = rig.machine.kernel();
        if (irps) {
            kernel.FailIrpAllocations(module, point, 1);
        } else {
            kernel.FailPoolAllocations(module, point, 1);
        }
    }

    LineMachine rig;
};

// Loading the driver, AddDevice and the port's open on the first arrival, with the k-th pool
// allocation (or IRP allocation) of the driver failing, for every k until one run meets none.
TEST_P(FailureInjection, EveryAllocationOfTheStartFailingInTurn)
{
    for (bool irps : {false, true}) {
        unsigned point = 0;
        for (; point < kMostPoints; ++point) {
            SCOPED_TRACE(testing::Message() << (irps ? "IRP" : "pool") << " allocation " << point);
            tapkernel::Kernel &kernel = rig.machine.kernel();
            if (irps) {
                kernel.FailAllocationsAtLoad(rig.line.name, 0, 0, point, 1);
            } else {
                kernel.FailAllocationsAtLoad(rig.line.name, point, 1, 0, 0);
            }
            NTSTATUS status = rig.Start();
            bool met = FailuresLeft() == 0;
            kernel.FailAllocationsAtLoad(rig.line.name, 0, 0, 0, 0);
            if (rig.Module() != nullptr) {
                kernel.FailPoolAllocations(rig.Module(), 0, 0);
                kernel.FailIrpAllocations(rig.Module(), 0, 0);
            }
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INSUFFICIENT_RESOURCES) << std::hex << status;
            EXPECT_EQ(rig.Started(), status == STATUS_SUCCESS);
            if (rig.Started()) {
                EXPECT_EQ(rig.Control(IOCTL_TOUCH_SET_RIGHT_CLICK).status, STATUS_SUCCESS);
                ASSERT_EQ(rig.Remove(), STATUS_SUCCESS);
            }
            ASSERT_FALSE(rig.machine.DriverLoaded(rig.line.service));
            if (!met) {
                break; // this run went through: every point before it has been failed once
            }
            rig.SetParameter(u"Enable", 1);
        }
        EXPECT_GT(point, irps ? 1u : 4u) << "the start allocates";
        RecordProperty(irps ? "irpFailurePoints" : "poolFailurePoints", static_cast<int>(point));
        ExpectUsableAgain();
    }
}

struct RoutineCase {
    tapkernel::KernelRoutine routine;
    unsigned skip;
    unsigned count;
    NTSTATUS startStatus;
};

// Each kernel routine of AddDevice and the arrival's port open failing: the two device creations
// fail AddDevice with their status and leave nothing; a failed attach is STATUS_NO_SUCH_DEVICE;
// a missing link, beep thread or COM port leaves a device that works without them.
TEST_P(FailureInjection, KernelRoutinesOfTheStartFailingInTurn)
{
    using tapkernel::KernelRoutine;
    const RoutineCase cases[] = {
        {KernelRoutine::IoCreateDevice, 0, 1, kInjected},
        {KernelRoutine::IoCreateDevice, 1, 1, kInjected},
        {KernelRoutine::IoAttachDeviceToDeviceStack, 0, 1, STATUS_NO_SUCH_DEVICE},
        {KernelRoutine::IoCreateSymbolicLink, 0, 1, STATUS_SUCCESS},
        {KernelRoutine::PsCreateSystemThread, 0, 1, STATUS_SUCCESS},
        // Every COM port present arrives, and each arrival tries the configured port again.
        {KernelRoutine::IoGetDeviceObjectPointer, 0, 2, STATUS_SUCCESS},
    };
    for (const RoutineCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "routine " << static_cast<int>(c.routine) << " call " << c.skip);
        rig.SetParameter(u"BeepMode", BEEP_ON_TOUCH);
        rig.SetParameter(u"BeepFreq", 880);
        rig.SetParameter(u"BeepTime", 10);
        rig.machine.kernel().FailRoutine(rig.line.name, c.routine, c.skip, c.count, kInjected);
        EXPECT_EQ(rig.Start(), c.startStatus);
        EXPECT_EQ(FailuresLeft(), 0u) << "the failure point was reached";
        if (c.startStatus == STATUS_SUCCESS) {
            switch (c.routine) {
            case KernelRoutine::IoCreateSymbolicLink: {
                NTSTATUS status;
                EXPECT_EQ(rig.OpenControlDevice(&status), nullptr);
                EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND) << "no link, no control device for programs";
                EXPECT_GT(rig.Tap(), 0u);
                break;
            }
            case KernelRoutine::PsCreateSystemThread:
                rig.machine.TakeBeeps();
                EXPECT_GT(rig.Tap(), 0u);
                EXPECT_TRUE(rig.machine.TakeBeeps().empty()) << "no beep thread, no touch beep";
                EXPECT_EQ(rig.Control(IOCTL_TOUCH_BEEP, "\x70\x03\0\0\x0a\0\0\0", 8).status, STATUS_SUCCESS);
                EXPECT_EQ(rig.machine.TakeBeeps().size(), 1u) << "the beep test still sounds";
                break;
            default: // the port could not be opened on the arrival: a tool opens it
                EXPECT_EQ(rig.OpenPort(), 0u);
                EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
                EXPECT_GT(rig.Tap(), 0u);
                break;
            }
        } else {
            EXPECT_FALSE(rig.Started());
            EXPECT_FALSE(rig.machine.DriverLoaded(rig.line.service));
            EXPECT_FALSE(rig.machine.kernel().LinkTarget(rig.line.link)) << "no link left behind";
        }
        ExpectUsableAgain();
    }
}

struct RequestCase {
    tapmachine::SerialRequest::Kind kind;
    ULONG code;
    bool refuseInternalSettings; // the port has no basic-settings request: the fallback runs
    bool openFails;              // the request's status decides the open
};

// IOCTL_TOUCH_OPEN_PORT with each of the port's configuration requests failing in turn: a
// request whose result counts fails the open with its status and releases the port; one whose
// result the fallback ignores does not.
TEST_P(FailureInjection, PortConfigurationRequestsFailingInTurn)
{
    constexpr auto internal = tapmachine::SerialRequest::Kind::InternalDeviceControl;
    constexpr auto control = tapmachine::SerialRequest::Kind::DeviceControl;
    const RequestCase cases[] = {
        {internal, IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, false, false}, // refused: the fallback configures
        {control, IOCTL_SERIAL_SET_LINE_CONTROL, false, true},
        {control, IOCTL_SERIAL_SET_BAUD_RATE, false, true},
        {control, IOCTL_SERIAL_GET_TIMEOUTS, true, false},
        {control, IOCTL_SERIAL_SET_TIMEOUTS, true, false},
        {control, IOCTL_SERIAL_GET_HANDFLOW, true, false},
        {control, IOCTL_SERIAL_SET_HANDFLOW, true, true},
        {control, IOCTL_SERIAL_SET_LINE_CONTROL, true, true},
        {control, IOCTL_SERIAL_SET_BAUD_RATE, true, true},
    };
    rig.SetParameter(u"Enable", 0);
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    for (const RequestCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "request 0x" << std::hex << c.code << " fallback " << c.refuseInternalSettings);
        tapmachine::ComPort &port = rig.machine.comPort(1);
        port.SetRefuseInternalSettings(c.refuseInternalSettings);
        port.FailRequest(c.kind, c.code, kInjected);
        NTSTATUS status = rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status;
        port.FailRequest(c.kind, c.code, 0, 0, 0);
        if (c.openFails) {
            EXPECT_EQ(status, kInjected);
            EXPECT_EQ(rig.OpenPort(), 0u) << "the port is released again";
        } else {
            EXPECT_EQ(status, STATUS_SUCCESS);
            EXPECT_GT(rig.Tap(), 0u);
        }
        EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
        EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS) << "usable again";
        EXPECT_GT(rig.Tap(), 0u);
        EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
    }
    rig.machine.comPort(1).SetRefuseInternalSettings(false);
    ExpectUsableAgain();
}

// IOCTL_TOUCH_OPEN_PORT with the k-th pool (or IRP) allocation failing, for every k: the name
// buffers and the configuration requests give STATUS_INSUFFICIENT_RESOURCES with the port
// released; a read IRP that cannot be had leaves the port open without a reader, which closing
// and opening again mends. Opening the port by hand fails with STATUS_UNSUCCESSFUL when the
// kernel cannot open it.
TEST_P(FailureInjection, PortOpenAllocationsFailingInTurn)
{
    rig.SetParameter(u"Enable", 0);
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    tapkernel::Kernel &kernel = rig.machine.kernel();
    tapkernel::DriverModule *module = rig.Module();
    ASSERT_NE(module, nullptr);
    for (bool irps : {false, true}) {
        unsigned point = 0;
        for (; point < kMostPoints; ++point) {
            SCOPED_TRACE(testing::Message() << (irps ? "IRP" : "pool") << " allocation " << point);
            FailAllocation(module, irps, point);
            NTSTATUS status = rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status;
            bool met = FailuresLeft() == 0;
            kernel.FailPoolAllocations(module, 0, 0);
            kernel.FailIrpAllocations(module, 0, 0);
            if (!met) {
                EXPECT_EQ(status, STATUS_SUCCESS);
                EXPECT_GT(rig.Tap(), 0u);
                EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
                break;
            }
            // A basic-settings request that could not be sent is answered by the fallback.
            EXPECT_TRUE(status == STATUS_INSUFFICIENT_RESOURCES || status == STATUS_SUCCESS) << std::hex << status;
            EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
            EXPECT_EQ(rig.OpenPort(), 0u) << "nothing held after the close";
            EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS) << "usable again";
            EXPECT_GT(rig.Tap(), 0u);
            EXPECT_EQ(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status, STATUS_SUCCESS);
        }
        EXPECT_GT(point, 0u) << "the open allocates";
        RecordProperty(irps ? "irpFailurePoints" : "poolFailurePoints", static_cast<int>(point));
    }
    kernel.FailRoutine(rig.line.name, tapkernel::KernelRoutine::IoGetDeviceObjectPointer, 0, 1, kInjected);
    EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(rig.OpenPort(), 0u);
    ExpectUsableAgain();
}

// One request of every control code, with valid lengths, with the k-th pool and then IRP
// allocation failing: each gets its usual status or STATUS_INSUFFICIENT_RESOURCES, and the
// device goes on working.
TEST_P(FailureInjection, ControlCodesUnderAllocationFailures)
{
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    tapkernel::Kernel &kernel = rig.machine.kernel();
    tapkernel::DriverModule *module = rig.Module();
    ASSERT_NE(module, nullptr);
    struct Request {
        ULONG code;
        std::vector<uint8_t> input;
        ULONG outputLength;
    };
    CalibrationData calibration = {75000, 325000, 75000, 325000, 0, 1024, 768};
    std::vector<uint8_t> settings(rig.line.settingsSize, 0);
    settings[0] = MODE_CLICK_AND_DRAG;
    settings[24] = 1; // Port
    if (rig.line.multiTouch) {
        settings[28] = 0x80; // BaudRate 9600
        settings[29] = 0x25;
    }
    std::vector<Request> requests = {
        {IOCTL_TOUCH_SET_CALIBRATION, {reinterpret_cast<uint8_t *>(&calibration),
                                       reinterpret_cast<uint8_t *>(&calibration) + sizeof calibration}, 0},
        {IOCTL_TOUCH_GET_RAW_SAMPLE, {}, sizeof(RawSample)},
        {IOCTL_TOUCH_SET_SETTINGS, settings, 0},
        {IOCTL_TOUCH_BEEP, {0x70, 3, 0, 0, 10, 0, 0, 0}, 0},
        {IOCTL_TOUCH_SET_RIGHT_CLICK, {}, 0},
        {IOCTL_TOUCH_GET_RIGHT_CLICK, {}, 4},
        {IOCTL_TOUCH_CLOSE_PORT, {}, 0},
        {IOCTL_TOUCH_OPEN_PORT, {1, 0, 0, 0}, 0},
    };
    if (rig.line.multiTouch) {
        requests.push_back({IOCTL_TOUCH_START_DATA_MODE, {}, 0});
        requests.push_back({IOCTL_TOUCH_GET_CONTACT_FRAME, {}, sizeof(ContactFrame)});
        requests.push_back({IOCTL_TOUCH_STOP_DATA_MODE, {}, 0});
        requests.push_back({IOCTL_TOUCH_SET_BAUD_RATE, {0x80, 0x25, 0, 0}, 0});
        requests.push_back({IOCTL_TOUCH_PROBE, {}, 4});
    } else {
        requests.push_back({IOCTL_TOUCH_START_DATA_MODE, {}, 4});
    }
    for (const Request &request : requests) {
        for (bool irps : {false, true}) {
            for (unsigned point = 0; point < kMostPoints; ++point) {
                SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << request.code << std::dec
                                                << (irps ? " IRP" : " pool") << " allocation " << point);
                FailAllocation(module, irps, point);
                NTSTATUS status = rig.Control(request.code, request.input.data(),
                                              static_cast<ULONG>(request.input.size()), request.outputLength)
                                      .status;
                bool met = FailuresLeft() == 0;
                kernel.FailPoolAllocations(module, 0, 0);
                kernel.FailIrpAllocations(module, 0, 0);
                if (met) {
                    // The beep test succeeds whatever the beep driver's open gave, and the port's
                    // open whatever its basic-settings request gave (the fallback answers it).
                    EXPECT_TRUE(status == STATUS_INSUFFICIENT_RESOURCES ||
                                (status == STATUS_SUCCESS &&
                                 (request.code == IOCTL_TOUCH_BEEP || request.code == IOCTL_TOUCH_OPEN_PORT)))
                        << std::hex << status;
                } else {
                    EXPECT_EQ(status, STATUS_SUCCESS) << std::hex << status;
                    break;
                }
                if (request.code == IOCTL_TOUCH_OPEN_PORT) {
                    rig.Control(IOCTL_TOUCH_CLOSE_PORT);
                }
            }
        }
        if (rig.OpenPort() == 0) {
            EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
        }
        EXPECT_GT(rig.Tap(), 0u) << "still working";
    }
    ExpectUsableAgain();
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, FailureInjection, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<const Line *> &info) { return info.param->name; });

} // namespace
