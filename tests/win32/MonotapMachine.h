// A simulated PC with the real Monotap driver on a touchscreen at COM3, reached the way the tools
// reach it: CreateFileA on \\.\MonotapSymLnk1 and synchronous DeviceIoControl requests.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <TapShared.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace win32test {

constexpr char16_t kMonotapParameters[] =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";

constexpr uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002, kRightDown = 0x0004, kRightUp = 0x0008;

class MonotapMachine : public testing::Test {
protected:
    static tapmachine::MachineOptions Options(bool beepDriver)
    {
        tapmachine::MachineOptions options;
        options.comPorts = {3, 4, 5};
        options.beepDriver = beepDriver;
        return options;
    }

    explicit MonotapMachine(bool beepDriver = true) : machine(Options(beepDriver))
    {
        machine.InstallDriverModule(TAP_MONOTAP_MODULE, u"Monotap");
        machine.RequirePoolTag(u"Monotap", 'vdtP');
        machine.SetDword(kMonotapParameters, u"Port", 3);
        machine.SetDword(kMonotapParameters, u"Enable", 1);
        machine.SetDword(kMonotapParameters, u"MouseMode", MODE_CLICK_AND_DRAG);
        machine.SetDword(kMonotapParameters, u"BeepMode", BEEP_OFF);
        machine.comPort(3).AttachController();
        node = machine.CreateRootDevice(u"*Monotap", u"Monotap");
        Start();
    }

    ~MonotapMachine() override
    {
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
        EXPECT_EQ(tapwin32::OpenHandleCount(), 0u) << "a test left a handle open";
    }

    // Adds the device (AddDevice reads the registry), waits until the port is read, opens the
    // control device.
    void Start()
    {
        ASSERT_EQ(machine.StartDevice(node), 0);
        machine.WaitIdle();
        device = CreateFileA(MONOTAP_USER_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                             NULL);
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    }

    // Closes the handle and removes the device node's stack (the driver unloads).
    void Remove()
    {
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
        ASSERT_EQ(machine.RemoveDevice(node), 0);
    }

    // One request; the error of a failure is kept in error.
    BOOL Send(DWORD code, const void *input, DWORD inputSize, void *output, DWORD outputSize)
    {
        returned = 0xDEADBEEF;
        BOOL ok = DeviceIoControl(device, code, const_cast<void *>(input), inputSize, output, outputSize, &returned,
                                  NULL);
        error = ok ? ERROR_SUCCESS : GetLastError();
        return ok;
    }

    // A finger taps the panel at a raw controller position; the bytes are on their way at 9600
    // baud, so the clock moves until they have all arrived.
    void TapRaw(uint16_t x, uint16_t y)
    {
        tapmachine::TouchController &controller = machine.comPort(3).controller();
        controller.TouchRaw({x, y});
        controller.Lift();
        machine.Settle();
    }

    std::vector<tapmachine::MouseRecord> TakeRecords() { return machine.mouse().TakeRecords(); }

    static size_t Count(const std::vector<tapmachine::MouseRecord> &records, uint16_t buttonFlags)
    {
        size_t count = 0;
        for (const tapmachine::MouseRecord &record : records) {
            count += record.buttonFlags == buttonFlags;
        }
        return count;
    }

    tapmachine::Machine machine;
    std::u16string node;
    HANDLE device = INVALID_HANDLE_VALUE;
    DWORD returned = 0;
    DWORD error = ERROR_SUCCESS;
};

} // namespace win32test
