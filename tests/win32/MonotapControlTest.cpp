// The control device of the real Monotap module, driven through the user-mode API as the tools
// drive it: what the tools see of a refused request, settings and raw samples as a tool uses them,
// ports held by another program, and several tools at once. Every code's lengths and outcomes are
// one table in tests/system/ControlDeviceTest.
#include "MonotapMachine.h"

#include <atomic>
#include <thread>

using namespace win32test;

namespace {

using MonotapControl = MonotapMachine;

TEST_F(MonotapControl, SettingsIgnoreEnableAndPortAndPutTheRestInForce)
{
    PolyPointerSettings poly = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_SET_SETTINGS, &poly, sizeof(poly), NULL, 0)) << "the multi-touch record";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "a refused length reaches the tool so";
    DWORD probe = 0;
    EXPECT_FALSE(Send(IOCTL_TOUCH_PROBE, NULL, 0, &probe, sizeof(probe))) << "a multi-touch code";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << "and an unknown code so";

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

TEST_F(MonotapControl, TheRawSampleFollowsTheFinger)
{
    RawSample sample = {1, 1, 1};
    uint8_t larger[16] = {};
    EXPECT_FALSE(Send(IOCTL_TOUCH_GET_RAW_SAMPLE, NULL, 0, larger, sizeof(larger)));
    EXPECT_EQ(returned, 0xDEADBEEFu) << "a refused request returns no byte count";

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
