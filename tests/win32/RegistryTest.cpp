// advapi32's registry calls on the machine's registry: the same store the kernel's Zw* routines
// and the machine's own accessors see, with exact types and lengths.
#include "Win32Machine.h"

#include <cstring>
#include <thread>

using namespace win32test;

namespace {

constexpr char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";
constexpr char16_t kParametersPath[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";

class Registry : public Win32Machine {
protected:
    Registry() { machine.SetDword(kParametersPath, u"MouseMode", 2); }

    std::vector<uint8_t> Stored(const char16_t *name)
    {
        std::optional<tapmachine::RegistryValueRecord> value = machine.Value(kParametersPath, name);
        return value ? value->data : std::vector<uint8_t>{0xFF};
    }
    uint32_t StoredType(const char16_t *name) { return machine.Value(kParametersPath, name)->type; }
};

TEST_F(Registry, KeysOpenByPathWhenTheyExist)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kParameters, &key), ERROR_SUCCESS);
    EXPECT_NE(key, nullptr);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\SERVICES\\monotap\\parameters\\", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS)
        << "names are case-insensitive; one trailing backslash is tolerated";
    RegCloseKey(key);

    key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Polyusb\\Parameters", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "\\SYSTEM", &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyA(reinterpret_cast<HKEY>(0x7777770), "SYSTEM", &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0x40, KEY_READ, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(Registry, RegOpenKeyWithoutASubkeyReturnsTheSameHandle)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kParameters, &key), ERROR_SUCCESS);
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(key, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, key);
    HKEY fresh = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, NULL, 0, KEY_READ, &fresh), ERROR_SUCCESS);
    EXPECT_NE(fresh, key) << "RegOpenKeyExA opens a new handle";
    RegCloseKey(fresh);
    RegCloseKey(key);
}

TEST_F(Registry, QueryReportsTypeAndExactLength)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kParameters, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0, value = 0;

    size = 100;
    EXPECT_EQ(RegQueryValueExA(key, "MouseMode", NULL, &type, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u) << "a NULL buffer asks for the length";

    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "mousemode", NULL, &type, reinterpret_cast<LPBYTE>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);

    uint8_t small[3] = {9, 9, 9};
    size = 3;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "MouseMode", NULL, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Calibration", NULL, NULL, reinterpret_cast<LPBYTE>(&value), &size),
              ERROR_FILE_NOT_FOUND);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "MouseMode", &reserved, NULL, NULL, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "MouseMode", NULL, NULL, reinterpret_cast<LPBYTE>(&value), NULL),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(Registry, ValuesKeepTheirTypeAndBytesInTheSharedStore)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    uint8_t calibration[28];
    for (int i = 0; i < 28; ++i) {
        calibration[i] = static_cast<uint8_t>(i * 7);
    }
    ASSERT_EQ(RegSetValueExA(key, "Calibration", 0, REG_BINARY, calibration, 28), ERROR_SUCCESS);
    EXPECT_EQ(Stored(u"Calibration"), std::vector<uint8_t>(calibration, calibration + 28));
    EXPECT_EQ(StoredType(u"Calibration"), static_cast<uint32_t>(REG_BINARY));

    uint8_t two[2] = {1, 2};
    ASSERT_EQ(RegSetValueExA(key, "Port", 0, REG_DWORD, two, 2), ERROR_SUCCESS);
    EXPECT_EQ(Stored(u"Port"), (std::vector<uint8_t>{1, 2})) << "a short DWORD stays short";
    DWORD size = 4, value = 0xFFFFFFFF;
    EXPECT_EQ(RegQueryValueExA(key, "Port", NULL, NULL, reinterpret_cast<LPBYTE>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);

    ASSERT_EQ(RegSetValueExA(key, NULL, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4), ERROR_SUCCESS);
    EXPECT_EQ(Stored(u"").size(), 4u) << "a NULL name is the default value";
    EXPECT_EQ(RegSetValueExA(key, "Enable", 0, REG_DWORD, NULL, 4), ERROR_NOACCESS);
    RegCloseKey(key);
}

TEST_F(Registry, StringsAreStoredAsUtf16AndReadBackInTheAnsiCodePage)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "OemInfPath", 0, REG_SZ, reinterpret_cast<const BYTE *>("oem\xe9\x80"), 6),
              ERROR_SUCCESS);
    EXPECT_EQ(Stored(u"OemInfPath"), (std::vector<uint8_t>{'o', 0, 'e', 0, 'm', 0, 0xE9, 0, 0xAC, 0x20, 0, 0}))
        << "e-acute and the euro sign of Windows-1252, then the terminator";

    char text[16];
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "OemInfPath", NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u) << "the ANSI length, not the stored UTF-16 length";
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueExA(key, "OemInfPath", NULL, NULL, reinterpret_cast<LPBYTE>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(text, "oem\xe9\x80", 6), 0);

    ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE *>("ab"), 2), ERROR_SUCCESS);
    std::memset(text, 'x', sizeof(text));
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueExA(key, "Bare", NULL, NULL, reinterpret_cast<LPBYTE>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u) << "a string stored without a terminator comes back without one";
    EXPECT_EQ(text[2], 'x');
    RegCloseKey(key);
}

TEST_F(Registry, CreateMakesTheWholePathAndTellsWhatItDid)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Polytap\\Parameters", 0, NULL,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_TRUE(machine.KeyExists(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Polytap\\Parameters"));
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, NULL, 0, KEY_READ, NULL, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "New", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, NULL), ERROR_ACCESS_DENIED)
        << "creating below a handle without KEY_CREATE_SUB_KEY";
    EXPECT_EQ(RegCreateKeyExA(key, NULL, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, NULL), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(Registry, HandlesAllowOnlyTheRightsTheyWereOpenedWith)
{
    HKEY reader = nullptr, writer = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_READ, &reader), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_SET_VALUE, &writer), ERROR_SUCCESS);
    DWORD value = 1, size = 4;
    EXPECT_EQ(RegSetValueExA(reader, "Enable", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExA(writer, "MouseMode", NULL, NULL, reinterpret_cast<LPBYTE>(&value), &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(writer, "Enable", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4), ERROR_SUCCESS);
    RegCloseKey(reader);
    RegCloseKey(writer);
}

TEST_F(Registry, CurrentUserIsTheUsersHive)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Mouse", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "DoubleClickWidth", 0, REG_SZ, reinterpret_cast<const BYTE *>("8"), 2), ERROR_SUCCESS);
    RegCloseKey(key);
    std::optional<tapmachine::RegistryValueRecord> stored =
        machine.Value(u"HKEY_CURRENT_USER\\Control Panel\\Mouse", u"DoubleClickWidth");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(stored->data, (std::vector<uint8_t>{'8', 0, 0, 0}));
}

TEST_F(Registry, AKeyDeletedUnderAnOpenHandleReportsItself)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_TRUE(probe::DeleteRegistryTree(u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters"));
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "MouseMode", NULL, NULL, reinterpret_cast<LPBYTE>(&value), &size),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(key, "MouseMode", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, CallsLeaveTheLastErrorAlone)
{
    SetLastError(77);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing\\Here", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), 77u);
}

TEST_F(Registry, ThreadsWriteAndReadOneKeyAtOnce)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::string name = "Value" + std::to_string(t);
            for (DWORD i = 0; i < 200; ++i) {
                DWORD read = 0, size = 4;
                if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i), 4) !=
                        ERROR_SUCCESS ||
                    RegQueryValueExA(key, name.c_str(), NULL, NULL, reinterpret_cast<LPBYTE>(&read), &size) !=
                        ERROR_SUCCESS ||
                    read != i) {
                    ++failures;
                }
                HKEY extra = nullptr;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_READ, &extra) != ERROR_SUCCESS ||
                    RegCloseKey(extra) != ERROR_SUCCESS) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    RegCloseKey(key);
}

} // namespace

TEST_F(Registry, DeleteValueAndDeleteKey)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "MouseMode"), ERROR_ACCESS_DENIED) << "the handle lacks KEY_SET_VALUE";
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "MouseMode"), ERROR_SUCCESS);
    EXPECT_FALSE(machine.Value(kParametersPath, u"MouseMode"));
    EXPECT_EQ(RegDeleteValueA(key, "MouseMode"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Monotap", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Monotap"), ERROR_ACCESS_DENIED)
        << "a key with subkeys stays";
    EXPECT_EQ(RegDeleteKeyA(key, "Parameters"), ERROR_SUCCESS);
    EXPECT_FALSE(machine.KeyExists(kParametersPath));
    EXPECT_EQ(RegDeleteKeyA(key, "Parameters"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_BAD_PATHNAME);
    RegCloseKey(key);
}

TEST_F(Registry, WritesAndDeletesAreReportedWithTheProgramAndTheRootedKey)
{
    machine.programRequests().Take();
    tapwin32::Process tool("C:\\WINDOWS\\PolyusbDrv\\PolyAlign.exe");
    {
        tapwin32::ProcessScope scope(tool);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        const BYTE text[] = "30";
        EXPECT_EQ(RegSetValueExA(key, "Size", 0, REG_SZ, text, 2), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueA(key, "Size"), ERROR_SUCCESS);
        RegCloseKey(key);
        HKEY user = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Mouse", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &user,
                                  NULL),
                  ERROR_SUCCESS);
        DWORD one = 1;
        EXPECT_EQ(RegSetValueExA(user, "X", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Control Panel\\Mouse"), ERROR_SUCCESS);
        RegCloseKey(user);
    }
    std::vector<tapmachine::ProgramRequest> requests = machine.programRequests().Take();
    ASSERT_EQ(requests.size(), 4u);
    using Kind = tapmachine::ProgramRequest::Kind;
    EXPECT_EQ(requests[0].kind, Kind::SetValue);
    EXPECT_EQ(requests[0].program, "PolyAlign");
    EXPECT_EQ(requests[0].target, "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters");
    EXPECT_EQ(requests[0].valueName, "Size");
    EXPECT_EQ(requests[0].type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(requests[0].data, (std::vector<uint8_t>{'3', 0, '0', 0})) << "as stored, in UTF-16";
    EXPECT_EQ(requests[1].kind, Kind::DeleteValue);
    EXPECT_EQ(requests[2].target, "HKCU\\Control Panel\\Mouse");
    EXPECT_EQ(requests[3].kind, Kind::DeleteKey);
    EXPECT_EQ(requests[3].target, "HKCU\\Control Panel\\Mouse");
}
