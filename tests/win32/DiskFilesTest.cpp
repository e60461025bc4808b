// CreateFileA on drive C:: dispositions, sharing, relative names and the file pointer.
#include "Win32Machine.h"

#include <string>

using namespace win32test;

namespace {

class DiskFiles : public Win32Machine {
protected:
    static HANDLE Open(const char *name, DWORD access, DWORD share, DWORD disposition)
    {
        return CreateFileA(name, access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    }
};

TEST_F(DiskFiles, WrittenBytesReadBackThroughTheFilePointer)
{
    HANDLE file = Open("C:\\WINDOWS\\notes.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &count, NULL));
    EXPECT_EQ(count, 5u);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 0u);
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, NULL));
    EXPECT_EQ(count, 0u) << "the pointer is at the end";
    CloseHandle(file);
    EXPECT_EQ(machine.files().ReadText(u"C:\\WINDOWS\\notes.txt"), "hello");

    file = Open("c:/windows/NOTES.TXT", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "any case, either separator";
    ASSERT_TRUE(ReadFile(file, buffer, 3, &count, NULL));
    ASSERT_TRUE(ReadFile(file, buffer + 3, 5, &count, NULL));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeviceIoControl(file, kProbeCode, NULL, 0, NULL, 0, &count, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseHandle(file);
}

TEST_F(DiskFiles, DispositionsFollowWhetherTheFileExists)
{
    machine.files().WriteText(u"C:\\WINDOWS\\inf\\oem0.inf", "[Version]\n");
    EXPECT_EQ(Open("C:\\WINDOWS\\inf\\oem0.inf", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Open("C:\\WINDOWS\\inf\\oem1.inf", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open("C:\\WINDOWS\\nowhere\\oem1.inf", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open("D:\\setup.exe", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open("C:\\WINDOWS", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "a directory";
    EXPECT_EQ(Open("C:\\WINDOWS\\a*b", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(Open("C:\\WINDOWS\\inf\\oem0.inf", GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "truncating needs write access";

    HANDLE file = Open("C:\\WINDOWS\\inf\\oem0.inf", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(file, NULL), 10u);
    CloseHandle(file);
    file = Open("C:\\WINDOWS\\inf\\oem0.inf", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(file, NULL), 0u) << "CREATE_ALWAYS truncates";
    CloseHandle(file);
    file = Open("C:\\WINDOWS\\inf\\oem1.inf", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
}

TEST_F(DiskFiles, ShareModesDecideWhetherASecondOpenIsAdmitted)
{
    machine.files().WriteText(u"C:\\data.bin", "12345678");
    HANDLE exclusive = Open("C:\\data.bin", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open("C:\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(exclusive);

    HANDLE reader = Open("C:\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second = Open("C:\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open("C:\\data.bin", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE)
        << "the readers do not share writing";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(second);
    CloseHandle(reader);
}

TEST_F(DiskFiles, RelativeNamesStartAtTheProcesssDirectory)
{
    machine.files().WriteText(u"C:\\WINDOWS\\MonotapDrv\\Monotap.inf", "inf");
    tapwin32::Process setup("C:\\WINDOWS\\MonotapDrv\\MonoSetup.exe");
    tapwin32::ProcessScope scope(setup);
    HANDLE file = Open("Monotap.inf", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    file = Open("..\\MonotapDrv\\.\\Monotap.inf", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    file = Open("\\WINDOWS\\MonotapDrv\\Monotap.inf", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "rooted at the current drive";
    CloseHandle(file);
}

} // namespace
