// The registry through the kernel routines: opens by kernel path and relative to a key, exact
// data lengths, and the real routine's answers to short buffers.
#include <cstring>
#include <vector>

#include "KernelFixture.h"

using namespace kerneltest;
using tapkernel::RegistryStore;

namespace {

class RegistryTest : public KernelFixture {
protected:
    void SetUp() override
    {
        KernelFixture::SetUp();
        kernel->Registry().SetDword(RegistryStore::Hive::LocalMachine,
                                    "SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters", "MouseMode", 3);
        kernel->Registry().SetBinary(RegistryStore::Hive::LocalMachine,
                                     "SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters", "Calibration",
                                     std::vector<uint8_t>(27, 0x11));
    }

    NTSTATUS Open(const wchar_t *path, HANDLE *key, HANDLE root = nullptr, ACCESS_MASK access = KEY_ALL_ACCESS)
    {
        UNICODE_STRING name = Name(path);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, root, nullptr);
        return ZwOpenKey(key, access, &attributes);
    }

    HANDLE Parameters()
    {
        HANDLE service = nullptr;
        HANDLE parameters = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, Open(L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Monotap", &service));
        EXPECT_EQ(STATUS_SUCCESS, Open(L"parameters", &parameters, service));
        ZwClose(service);
        return parameters;
    }
};

TEST_F(RegistryTest, KeysOpenByKernelPathOrRelativelyWithoutRegardToCase)
{
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              Open(L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\Polytap", &key));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, Open(L"\\Registry\\Elsewhere\\X", &key));
    HANDLE parameters = Parameters();
    EXPECT_EQ(STATUS_OBJECT_PATH_SYNTAX_BAD, Open(L"\\Sub", &key, parameters));
    ZwClose(parameters);
}

TEST_F(RegistryTest, FullInformationHoldsTheExactDataAfterTheName)
{
    HANDLE parameters = Parameters();
    UNICODE_STRING name = Name(L"CALIBRATION");
    std::vector<uint8_t> buffer(200, 0xCC);
    ULONG length = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(parameters, &name, KeyValueFullInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &length));
    auto *full = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(buffer.data());
    EXPECT_EQ(static_cast<ULONG>(REG_BINARY), full->Type);
    EXPECT_EQ(27u, full->DataLength);
    EXPECT_EQ(22u, full->NameLength); // the name as stored, not as asked
    EXPECT_EQ(44u, full->DataOffset); // 20-byte header + 22 name bytes, aligned to 4
    EXPECT_EQ(44u + 27u, length);
    EXPECT_EQ(0, std::memcmp(buffer.data() + full->DataOffset, std::vector<uint8_t>(27, 0x11).data(), 27));
    ZwClose(parameters);
}

TEST_F(RegistryTest, ShortBuffersAreTooSmallForTheHeaderAndOverflowForTheData)
{
    HANDLE parameters = Parameters();
    UNICODE_STRING name = Name(L"MouseMode");
    std::vector<uint8_t> buffer(64, 0xCC);
    ULONG length = 0;
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              ZwQueryValueKey(parameters, &name, KeyValuePartialInformation, buffer.data(), 11, &length));
    EXPECT_EQ(16u, length);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW,
              ZwQueryValueKey(parameters, &name, KeyValuePartialInformation, buffer.data(), 15, &length));
    auto *partial = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer.data());
    EXPECT_EQ(4u, partial->DataLength);
    EXPECT_EQ(0xCC, partial->Data[0]); // no data copied
    ASSERT_EQ(STATUS_SUCCESS,
              ZwQueryValueKey(parameters, &name, KeyValuePartialInformation, buffer.data(), 16, &length));
    EXPECT_EQ(3u, *reinterpret_cast<ULONG *>(partial->Data));

    // The driver's own sizing: name with NUL + expected length + 24.
    ULONG size = sizeof(L"MouseMode") + 4 + 24;
    EXPECT_EQ(STATUS_SUCCESS, ZwQueryValueKey(parameters, &name, KeyValueFullInformation, buffer.data(), size, &length));
    UNICODE_STRING missing = Name(L"Enable");
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              ZwQueryValueKey(parameters, &missing, KeyValueFullInformation, buffer.data(), size, &length));
    ZwClose(parameters);
}

TEST_F(RegistryTest, SetValueKeepsTypeAndLengthAndNeedsWriteAccess)
{
    HANDLE parameters = Parameters();
    UNICODE_STRING name = Name(L"Enable");
    ULONG one = 1;
    ASSERT_EQ(STATUS_SUCCESS, ZwSetValueKey(parameters, &name, 0, REG_DWORD, &one, sizeof one));
    auto value = kernel->Registry().Query(RegistryStore::Hive::LocalMachine,
                                          "system\\currentcontrolset\\services\\monotap\\PARAMETERS", "enable");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(static_cast<uint32_t>(REG_DWORD), value->type);
    EXPECT_EQ(std::vector<uint8_t>({1, 0, 0, 0}), value->data);
    ZwClose(parameters);

    HANDLE readOnly = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, Open(L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters",
                                   &readOnly, nullptr, KEY_READ));
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwSetValueKey(readOnly, &name, 0, REG_DWORD, &one, sizeof one));
    ZwClose(readOnly);
}

TEST_F(RegistryTest, CreateKeyMakesOnlyTheLastComponent)
{
    UNICODE_STRING deep = Name(L"\\Registry\\Machine\\SOFTWARE\\Maker\\Product");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &deep, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, &disposition));
    UNICODE_STRING maker = Name(L"\\Registry\\Machine\\SOFTWARE\\Maker");
    InitializeObjectAttributes(&attributes, &maker, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    kernel->Registry().Create(kernel->Registry().Root(RegistryStore::Hive::LocalMachine), u"SOFTWARE");
    ASSERT_EQ(STATUS_SUCCESS,
              ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, &disposition));
    EXPECT_EQ(static_cast<ULONG>(REG_CREATED_NEW_KEY), disposition);
    ZwClose(key);
    ASSERT_EQ(STATUS_SUCCESS,
              ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, &disposition));
    EXPECT_EQ(static_cast<ULONG>(REG_OPENED_EXISTING_KEY), disposition);
    ZwClose(key);
}

TEST(RegistryStoreTest, TextFormRoundTripsEveryValueExactly)
{
    RegistryStore store;
    store.SetDword(RegistryStore::Hive::LocalMachine, "SYSTEM\\A", "Port", 2);
    store.SetString(RegistryStore::Hive::CurrentUser, "Control Panel\\Mouse", "DoubleClickWidth", "30");
    store.SetBinary(RegistryStore::Hive::LocalMachine, "SYSTEM\\A", "Empty \"quoted\"", {});
    std::string text = store.SaveText();

    RegistryStore copy;
    std::string error;
    ASSERT_TRUE(copy.LoadText(text, &error)) << error;
    EXPECT_EQ(text, copy.SaveText());
    auto width = copy.Query(RegistryStore::Hive::CurrentUser, "control panel\\mouse", "doubleclickwidth");
    ASSERT_TRUE(width.has_value());
    EXPECT_EQ(6u, width->data.size()); // "30" and its NUL in UTF-16

    EXPECT_FALSE(copy.LoadText("[\\Registry\\Machine\\X]\n\"v\"=4:0g\n", &error));
    EXPECT_TRUE(copy.Query(RegistryStore::Hive::LocalMachine, "SYSTEM\\A", "Port").has_value());
}

// Names outside ASCII survive the text form; text that is not UTF-8 is refused with its line,
// and a lone surrogate in a name is carried through rather than swallowing its neighbour.
TEST(RegistryStoreTest, TextFormKeepsEveryNameAndRefusesBadUtf8)
{
    RegistryStore store;
    auto root = store.Root(RegistryStore::Hive::LocalMachine);
    const std::u16string lone = u"a\xD800" u"b";
    ASSERT_TRUE(store.SetValue(store.Create(root, u"SOFTWARE\\\u89e6\u63a7"), lone, REG_DWORD, "\1\0\0\0", 4));
    RegistryStore copy;
    std::string error;
    ASSERT_TRUE(copy.LoadText(store.SaveText(), &error)) << error;
    auto key = copy.Open(copy.Root(RegistryStore::Hive::LocalMachine), u"software\\\u89e6\u63a7");
    ASSERT_NE(nullptr, key);
    EXPECT_TRUE(copy.QueryValue(key, lone).has_value());

    EXPECT_FALSE(copy.LoadText("; header\n[\\Registry\\Machine\\\xC3]\n", &error));
    EXPECT_EQ("line 2: key path is not UTF-8", error);
    EXPECT_FALSE(copy.LoadText("[\\Registry\\Machine\\X]\n\"\xE8\xA7\"=4:01000000\n", &error));
    EXPECT_EQ("line 2: value name is not UTF-8", error);
}

TEST(RegistryStoreTest, DeletedKeyRefusesValuesButStaysUsableAsAnObject)
{
    RegistryStore store;
    auto root = store.Root(RegistryStore::Hive::LocalMachine);
    auto key = store.Create(root, u"SYSTEM\\Gone\\Child");
    EXPECT_FALSE(store.DeleteKey(store.Open(root, u"SYSTEM\\Gone"))); // has a subkey
    EXPECT_TRUE(store.DeleteTree(store.Open(root, u"SYSTEM\\Gone")));
    EXPECT_TRUE(store.IsDeleted(key));
    EXPECT_FALSE(store.SetValue(key, u"x", REG_DWORD, "\1\0\0\0", 4));
    EXPECT_EQ(nullptr, store.Open(root, u"SYSTEM\\Gone"));
}

} // namespace
