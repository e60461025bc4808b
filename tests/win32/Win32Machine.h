// A booted simulated PC with the Probe driver loaded, for the tests of the user-mode stand-in.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include <gtest/gtest.h>

#include "ProbeDriver.h"

namespace win32test {

// A control code of the probe: FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD kProbeCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS);

class Win32Machine : public testing::Test {
protected:
    explicit Win32Machine(tapmachine::MachineOptions options = {}) : machine(std::move(options)) { probe::Load(); }
    ~Win32Machine() override
    {
        EXPECT_EQ(tapwin32::OpenHandleCount(), 0u) << "a test left a handle open";
        probe::Unload();
    }

    static HANDLE OpenProbe(DWORD flags = 0)
    {
        return CreateFileA(probe::kPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, flags,
                           NULL);
    }

    // The major functions the probe has seen, in order.
    static std::vector<uint8_t> Majors()
    {
        std::vector<uint8_t> majors;
        for (const probe::Request &request : probe::Requests()) {
            majors.push_back(request.major);
        }
        return majors;
    }

    tapmachine::Machine machine;
};

} // namespace win32test
