// The control device of the real Monotap module, driven through the user-mode API as the tools
// drive it: every control code with a correct and a wrong length, the port codes against ports
// that read, are open or are held by another program, and what each code changes in the driver.
#include "MonotapMachine.h"

#include <atomic>
#include <thread>

using namespace win32test;

namespace {

using MonotapControl = MonotapMachine;

TEST_F(MonotapControl, SettingsTakeThirtyTwoBytesAndIgnoreEnable)
{
    PolyPointerSettings poly = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_SETTINGS, &poly, sizeof(poly), NULL, 0)) << "the multi-touch record";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_SETTINGS, &poly, 28, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_SETTINGS, NULL, 0, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    MonoPointerSettings settings = {MODE_CLICK_AND_DRAG, 4, 0, BEEP_ON_TOUCH, 880, 30, 4, 0 /* Enable */};
    ASSERT_TRUE(Send(IOCTL_TOUCH_SET_SETTINGS, &settings, sizeof(settings), NULL, 0));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(machine.comPort(3).open()) << "Enable 0 closes nothing";
    EXPECT_FALSE(machine.comPort(4).open()) << "a changed Port opens nothing";

    machine.TakeBeeps();
    TapRaw(2000, 1000);
    std::vector<tapmachine::MouseRecord> records = TakeRecords();
    EXPECT_EQ(Count(records, kLeftDown), 1u) << "COM3 still reads";
    std::vector<tapmachine::BeepRecord> beeps = machine.TakeBeeps();
    ASSERT_EQ(beeps.size(), 1u) << "BeepMode 1 is in force";
    EXPECT_EQ(beeps[0].frequency, 880u);
    EXPECT_EQ(beeps[0].duration, 30u);
}

TEST_F(MonotapControl, TheRawSampleIsTwelveBytesAndFollowsTheFinger)
{
    RawSample sample = {1, 1, 1};
    uint8_t larger[16] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, larger, sizeof(larger)));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(returned, 0xDEADBEEFu);
    EXPECT_FALSE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &sample, 8));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &sample, sizeof(sample)));
    EXPECT_EQ(returned, 12u);
    EXPECT_EQ(sample.RawX, 0u) << "nothing touched yet";
    EXPECT_EQ(sample.RawY, 0u);

    tapmachine::TouchController &controller = machine.comPort(3).controller();
    controller.TouchRaw({2000, 1000});
    machine.Settle();
    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &sample, sizeof(sample)));
    EXPECT_EQ(returned, 12u);
    EXPECT_EQ(sample.RawX, 2000u);
    EXPECT_EQ(sample.RawY, 1000u);
    EXPECT_EQ(sample.RawZ, 32u) << "the touching packet's third value";

    controller.MoveRaw({2100, 900});
    controller.Lift();
    machine.Settle();
    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &sample, sizeof(sample)));
    EXPECT_EQ(sample.RawX, 2100u) << "the lift packet is the last valid one";
    EXPECT_EQ(sample.RawY, 900u);
    EXPECT_EQ(sample.RawZ, 0u);
}

TEST_F(MonotapControl, DataModeAnswersZeroIntoFourBytesAndRefusesNoBuffer)
{
    EXPECT_FALSE(Send(IOCTL_TOUCH_START_DATA_MODE, NULL, 0, NULL, 0)) << "as the drawing program sends it";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD answer = 0xFFFFFFFF;
    ASSERT_TRUE(Send(IOCTL_TOUCH_START_DATA_MODE, NULL, 0, &answer, sizeof(answer)));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(answer, 0u);
    uint8_t eight[8] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_START_DATA_MODE, NULL, 0, eight, sizeof(eight)));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MonotapControl, OpenPortRefusesNumbersOutsideOneToTenAndOtherLengths)
{
    for (DWORD port : {0u, 11u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(Send(IOCTL_TOUCH_OPEN_PORT, &port, 4, NULL, 0)) << port;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    uint8_t eight[8] = {3};
    EXPECT_FALSE(Send(IOCTL_TOUCH_OPEN_PORT, eight, 8, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Send(IOCTL_TOUCH_OPEN_PORT, NULL, 0, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(machine.comPort(3).open());
}

TEST_F(MonotapControl, OpenPortWhileAPortIsOpenKeepsThatPort)
{
    ASSERT_TRUE(machine.comPort(3).open());
    machine.comPort(3).ClearRequests();
    DWORD three = 3;
    ASSERT_TRUE(Send(IOCTL_TOUCH_OPEN_PORT, &three, 4, NULL, 0));
    DWORD four = 4;
    ASSERT_TRUE(Send(IOCTL_TOUCH_OPEN_PORT, &four, 4, NULL, 0));
    machine.WaitIdle();
    EXPECT_TRUE(machine.comPort(3).open());
    EXPECT_FALSE(machine.comPort(4).open()) << "still COM3";
    for (const tapmachine::SerialRequest &request : machine.comPort(3).requests()) {
        EXPECT_NE(request.kind, tapmachine::SerialRequest::Kind::Create) << "COM3 was not opened again";
        EXPECT_NE(request.kind, tapmachine::SerialRequest::Kind::Close);
    }
    TapRaw(2000, 1000);
    EXPECT_EQ(Count(TakeRecords(), kLeftDown), 1u) << "and still reading";
}

TEST_F(MonotapControl, APortAnotherProgramHoldsCannotBeOpened)
{
    ASSERT_TRUE(Send(IOCTL_TOUCH_CLOSE_PORT, NULL, 0, NULL, 0));
    HANDLE held = INVALID_HANDLE_VALUE;
    {
        tapwin32::Process terminal("C:\\WINDOWS\\system32\\terminal.exe");
        tapwin32::ProcessScope scope(terminal);
        held = CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        DWORD five = 5;
        EXPECT_FALSE(Send(IOCTL_TOUCH_OPEN_PORT, &five, 4, NULL, 0));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE)) << "STATUS_UNSUCCESSFUL";
        terminal.Exit();
    }
    EXPECT_FALSE(machine.comPort(5).open());
    DWORD five = 5;
    EXPECT_TRUE(Send(IOCTL_TOUCH_OPEN_PORT, &five, 4, NULL, 0)) << "free again once the program has ended";
    EXPECT_TRUE(machine.comPort(5).open());

    // And the other way round: the port the driver reads cannot be opened by a program.
    EXPECT_EQ(CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(MonotapControl, CloseThenOpenStartsAFreshReader)
{
    ASSERT_TRUE(Send(IOCTL_TOUCH_CLOSE_PORT, NULL, 0, NULL, 0));
    EXPECT_EQ(returned, 0u);
    machine.WaitIdle();
    EXPECT_FALSE(machine.comPort(3).open());
    uint8_t ignored[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(Send(IOCTL_TOUCH_CLOSE_PORT, ignored, sizeof(ignored), NULL, 0)) << "no port open; input ignored";

    TapRaw(2000, 1000);
    EXPECT_TRUE(TakeRecords().empty()) << "nobody reads COM3";

    DWORD three = 3;
    ASSERT_TRUE(Send(IOCTL_TOUCH_OPEN_PORT, &three, 4, NULL, 0));
    machine.WaitIdle();
    EXPECT_TRUE(machine.comPort(3).open());
    TapRaw(1500, 1500);
    std::vector<tapmachine::MouseRecord> records = TakeRecords();
    EXPECT_EQ(Count(records, kLeftDown), 1u);
    EXPECT_EQ(Count(records, kLeftUp), 1u);
}

TEST_F(MonotapControl, TwoArmingsGiveOneRightClick)
{
    DWORD armed = 7;
    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, &armed, 4));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(armed, 0u);
    ASSERT_TRUE(Send(IOCTL_TOUCH_SET_RIGHT_CLICK, NULL, 0, NULL, 0));
    uint8_t ignored[3] = {};
    ASSERT_TRUE(Send(IOCTL_TOUCH_SET_RIGHT_CLICK, ignored, 3, NULL, 0)) << "no length test";
    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, &armed, 4));
    EXPECT_EQ(armed, 1u);
    uint8_t wrong[8] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, wrong, 8));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    TapRaw(2000, 1000);
    std::vector<tapmachine::MouseRecord> records = TakeRecords();
    EXPECT_EQ(Count(records, kRightDown), 1u);
    EXPECT_EQ(Count(records, kRightUp), 1u);
    EXPECT_EQ(Count(records, kLeftDown), 0u) << "the touch-down became the right click";
    ASSERT_TRUE(Send(IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, &armed, 4));
    EXPECT_EQ(armed, 0u);

    TapRaw(2000, 1000);
    records = TakeRecords();
    EXPECT_EQ(Count(records, kRightDown), 0u) << "one click only";
    EXPECT_EQ(Count(records, kLeftDown), 1u);
}

TEST_F(MonotapControl, ACalibrationHoldsFromTheNextPacketUntilTheDeviceIsAddedAgain)
{
    TapRaw(2000, 1000);
    std::vector<tapmachine::MouseRecord> before = TakeRecords();
    ASSERT_FALSE(before.empty());

    CalibrationData calibration = {75000, 325000, 75000, 325000, 0, 1024, 768};
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_CALIBRATION, &calibration, 24, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    uint8_t longer[32] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_CALIBRATION, longer, sizeof(longer), NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(Send(IOCTL_TOUCH_SET_CALIBRATION, &calibration, sizeof(calibration), NULL, 0));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(machine.Value(kMonotapParameters, u"Calibration").has_value()) << "the registry is the tool's";

    TapRaw(2000, 1000);
    std::vector<tapmachine::MouseRecord> after = TakeRecords();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front().lastX, 32767);
    EXPECT_EQ(after.front().lastY, 6553);

    Remove();
    Start();
    TapRaw(2000, 1000);
    std::vector<tapmachine::MouseRecord> again = TakeRecords();
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front().lastX, before.front().lastX) << "the registry's calibration is back";
    EXPECT_EQ(again.front().lastY, before.front().lastY);
}

TEST_F(MonotapControl, BeepSendsItsEightBytesToTheBeepDriver)
{
    machine.TakeBeeps();
    TOUCH_BEEP_REQUEST beep = {1200, 40};
    EXPECT_FALSE(Send(IOCTL_TOUCH_BEEP, &beep, 4, NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    uint8_t twelve[12] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_BEEP, twelve, sizeof(twelve), NULL, 0));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(machine.TakeBeeps().empty());

    ASSERT_TRUE(Send(IOCTL_TOUCH_BEEP, &beep, sizeof(beep), NULL, 0));
    std::vector<tapmachine::BeepRecord> beeps = machine.TakeBeeps();
    ASSERT_EQ(beeps.size(), 1u) << "sent in the caller's thread before the reply";
    EXPECT_EQ(beeps[0].frequency, 1200u);
    EXPECT_EQ(beeps[0].duration, 40u);
}

class MonotapWithoutBeep : public MonotapMachine {
protected:
    MonotapWithoutBeep() : MonotapMachine(false) {}
};

TEST_F(MonotapWithoutBeep, BeepSucceedsWithoutTheBeepDevice)
{
    TOUCH_BEEP_REQUEST beep = {1200, 40};
    EXPECT_TRUE(Send(IOCTL_TOUCH_BEEP, &beep, sizeof(beep), NULL, 0));
    EXPECT_TRUE(machine.beeps().empty());
    machine.SetBeepDriverPresent(true);
    EXPECT_TRUE(Send(IOCTL_TOUCH_BEEP, &beep, sizeof(beep), NULL, 0));
    EXPECT_EQ(machine.beeps().size(), 1u) << "the open is tried again at the next beep";
}

TEST_F(MonotapControl, CodesOutsideTheTableAreInvalidFunctions)
{
    DWORD buffer[9] = {};
    for (DWORD code : {static_cast<DWORD>(IOCTL_TOUCH_GET_CONTACT_FRAME), static_cast<DWORD>(IOCTL_TOUCH_STOP_DATA_MODE),
                       static_cast<DWORD>(IOCTL_TOUCH_SET_BAUD_RATE), static_cast<DWORD>(IOCTL_TOUCH_PROBE),
                       static_cast<DWORD>(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)),
                       static_cast<DWORD>(CTL_CODE(FILE_DEVICE_MOUSE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)),
                       static_cast<DWORD>(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_NEITHER, FILE_ANY_ACCESS))}) {
        EXPECT_FALSE(Send(code, buffer, 4, buffer, 28)) << std::hex << code;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << std::hex << code;
        EXPECT_EQ(returned, 0xDEADBEEFu);
    }
}

// Several tools at once while a finger taps away: no verifier breach, no race (host-tsan).
TEST_F(MonotapControl, ThreadsSendCodesWhileBytesStreamIn)
{
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::thread finger([&] {
        tapmachine::TouchController &controller = machine.comPort(3).controller();
        for (int i = 0; i < 40; ++i) {
            controller.TouchRaw({static_cast<uint16_t>(1000 + i * 20), static_cast<uint16_t>(2000 - i * 10)});
            controller.Hold(2);
            controller.Lift();
            machine.Advance(std::chrono::milliseconds(40));
        }
        stop = true;
    });
    auto tool = [&](int which) {
        HANDLE own = CreateFileA(MONOTAP_USER_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                 OPEN_EXISTING, 0, NULL);
        if (own == INVALID_HANDLE_VALUE) {
            ++unexpected;
            return;
        }
        DWORD n = 0;
        while (!stop) {
            DWORD count = 0;
            RawSample sample;
            DWORD value = 0;
            bool ok = true;
            switch ((which + n++) % 6) {
            case 0:
                ok = DeviceIoControl(own, IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, &sample, 12, &count, NULL) && count == 12;
                break;
            case 1: {
                MonoPointerSettings settings = {MODE_CLICK_AND_DRAG, 4, 0, BEEP_OFF, 1000, 20, 3, 1};
                ok = DeviceIoControl(own, IOCTL_TOUCH_SET_SETTINGS, &settings, 32, NULL, 0, &count, NULL);
                break;
            }
            case 2: {
                CalibrationData calibration = {0, 409500, 0, 409500, static_cast<LONG>(n % 2) * 3, 1024, 768};
                ok = DeviceIoControl(own, IOCTL_TOUCH_SET_CALIBRATION, &calibration, 28, NULL, 0, &count, NULL);
                break;
            }
            case 3:
                ok = DeviceIoControl(own, IOCTL_TOUCH_SET_RIGHT_CLICK, NULL, 0, NULL, 0, &count, NULL) &&
                     DeviceIoControl(own, IOCTL_TOUCH_GET_RIGHT_CLICK, NULL, 0, &value, 4, &count, NULL) &&
                     value <= 1;
                break;
            case 4:
                value = 3;
                ok = DeviceIoControl(own, IOCTL_TOUCH_OPEN_PORT, &value, 4, NULL, 0, &count, NULL);
                break;
            case 5:
                if (which == 0 && n % 12 == 5) {
                    ok = DeviceIoControl(own, IOCTL_TOUCH_CLOSE_PORT, NULL, 0, NULL, 0, &count, NULL);
                } else {
                    TOUCH_BEEP_REQUEST beep = {500, 1};
                    ok = DeviceIoControl(own, IOCTL_TOUCH_BEEP, &beep, 8, NULL, 0, &count, NULL);
                }
                break;
            }
            if (!ok) {
                ++unexpected;
            }
        }
        CloseHandle(own);
    };
    std::vector<std::thread> tools;
    for (int i = 0; i < 3; ++i) {
        tools.emplace_back(tool, i);
    }
    finger.join();
    for (std::thread &thread : tools) {
        thread.join();
    }
    EXPECT_EQ(unexpected, 0);
    machine.WaitIdle();
    DWORD three = 3;
    EXPECT_TRUE(Send(IOCTL_TOUCH_OPEN_PORT, &three, 4, NULL, 0));
    Remove(); // the verifier's removal checks: nothing left behind
}

} // namespace
