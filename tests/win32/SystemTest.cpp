// Last-error values per thread, the Windows directory, module paths, the status mapping, and
// calls made while no machine is running.
#include "Win32Machine.h"

#include <cstring>
#include <thread>

using namespace win32test;

namespace {

TEST(LastError, EachThreadHasItsOwn)
{
    SetLastError(5);
    DWORD seen = 0;
    std::thread other([&] {
        seen = GetLastError();
        SetLastError(87);
    });
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(WindowsDirectory, IsCopiedWhenItFitsAndMeasuredWhenNot)
{
    char buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 10), 11u) << "no room for the terminator";
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 11), 10u);
}

TEST(ModuleFileName, NamesTheImageAndTheLibrariesOfTheProcess)
{
    tapwin32::Process panel("C:\\WINDOWS\\system32\\rundll32.exe");
    void *applet = panel.AddModule("C:\\WINDOWS\\system32\\MonoPanel.cpl");
    tapwin32::ProcessScope scope(panel);
    char buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(NULL, buffer, MAX_PATH), 32u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32\\rundll32.exe");
    EXPECT_EQ(GetModuleFileNameA(static_cast<HMODULE>(applet), buffer, MAX_PATH), 33u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32\\MonoPanel.cpl");
    EXPECT_EQ(GetModuleFileNameA(static_cast<HMODULE>(panel.ImageModule()), buffer, MAX_PATH), 32u);

    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1000), buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleFileName, TheImageKeepsTheInstanceHandleItWasStartedWith)
{
    static const int resources = 0; // stands for a program's resources, its instance handle
    void *instance = const_cast<int *>(&resources);
    tapwin32::Process tool("C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe", instance);
    tapwin32::ProcessScope scope(tool);
    char buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, MAX_PATH), 35u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe");
    EXPECT_EQ(tool.ImageModule(), instance);
}

TEST(ModuleFileName, ATooSmallBufferIsFilledWithoutATerminatorAsOnXp)
{
    tapwin32::Process tool("C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe");
    tapwin32::ProcessScope scope(tool);
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    SetLastError(99);
    EXPECT_EQ(GetModuleFileNameA(NULL, buffer, 10), 10u);
    EXPECT_EQ(std::string(buffer, 11), "C:\\WINDOWSx");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetModuleFileNameA(NULL, buffer, 0), 0u);
}

TEST(ModuleFileName, CodeOutsideAnyProcessRunsAsTheShell)
{
    char buffer[MAX_PATH];
    GetModuleFileNameA(NULL, buffer, MAX_PATH);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\explorer.exe");
}

TEST(StatusMapping, FollowsTheSystemsTable)
{
    EXPECT_EQ(tapwin32::NtStatusToDosError(0), static_cast<uint32_t>(ERROR_SUCCESS));
    EXPECT_EQ(tapwin32::NtStatusToDosError(static_cast<int32_t>(0xC0000010)), static_cast<uint32_t>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(tapwin32::NtStatusToDosError(static_cast<int32_t>(0xC000000D)), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(tapwin32::NtStatusToDosError(static_cast<int32_t>(0xC0000001)), static_cast<uint32_t>(ERROR_GEN_FAILURE));
    EXPECT_EQ(tapwin32::NtStatusToDosError(static_cast<int32_t>(0xC0070057)), 87u) << "a Win32 error carried as a status";
    EXPECT_EQ(tapwin32::NtStatusToDosError(static_cast<int32_t>(0xC0DE0001)), static_cast<uint32_t>(ERROR_MR_MID_NOT_FOUND));
}

TEST(NoMachine, DeviceAndRegistryCallsStopTheRun)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(CreateFileA("\\\\.\\MonotapSymLnk1", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL),
                 "CreateFileA: called while no simulated PC is running");
    HKEY key;
    EXPECT_DEATH(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &key), "RegOpenKeyA");
}

// A handle kept from a machine that has gone names nothing on the next one.
TEST(Machines, HandlesBelongToTheirMachine)
{
    HANDLE old = INVALID_HANDLE_VALUE;
    HKEY oldKey = nullptr;
    {
        tapmachine::Machine first;
        probe::Load();
        old = CreateFileA(probe::kPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(old, INVALID_HANDLE_VALUE);
        ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &oldKey), ERROR_SUCCESS);
        EXPECT_EQ(tapwin32::OpenHandleCount(), 2u);
        CloseHandle(old);
        probe::Unload();
    }
    tapmachine::Machine second;
    EXPECT_EQ(tapwin32::OpenHandleCount(), 0u);
    EXPECT_EQ(RegCloseKey(oldKey), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(old));
}

} // namespace
