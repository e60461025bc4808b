// libFuzzer target: the driver's loading of its Parameters (ReadParameters) from a registry whose
// values have any names, types and lengths, with the service key or its Parameters subkey
// present or not, and optionally one failing pool allocation. Compiled once per driver line with
// the line's Parameters.cpp. After every load:
//   - each settings field holds its value when that value is exactly 4 bytes long (whatever its
//     type), otherwise the line's default; Enable, which has no default, keeps what it held;
//   - the calibration is the value when it is exactly 28 bytes long, otherwise the default;
//   - a failed allocation of the subkey name leaves every default in force (and the load reports
//     it); one of a value's buffer leaves that value's default;
//   - nothing the load allocated is left behind.
#include "TapDriver.h"

#include <tapkernel/Kernel.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using tapkernel::RegistryStore;

const PCWSTR kSettingNames[] = TAP_PRODUCT_SETTING_VALUE_NAMES;
const ULONG kDefaults[] = TAP_PRODUCT_DEFAULT_SETTINGS;
constexpr size_t kFields = TAP_SETTINGS_FIELD_COUNT;

std::u16string Text(PCWSTR text)
{
    std::u16string out;
    for (; *text; ++text) {
        out.push_back(static_cast<char16_t>(*text));
    }
    return out;
}

std::u16string Lower(std::u16string text)
{
    for (char16_t &c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

const std::u16string kServicesPath = u"SYSTEM\\CurrentControlSet\\Services";
const std::u16string kService = Text(TAP_PRODUCT_SERVICE_NAME_W);

struct Rig {
    Rig()
    {
        module = kernel.CreateModule("parameters-fuzz", {TAP_POOL_TAG});
        path = u"\\Registry\\Machine\\" + kServicesPath + u"\\" + kService;
        Globals.ServiceRegistryPath.Buffer = reinterpret_cast<PWCH>(path.data());
        Globals.ServiceRegistryPath.Length = static_cast<USHORT>(path.size() * sizeof(char16_t));
        Globals.ServiceRegistryPath.MaximumLength = Globals.ServiceRegistryPath.Length;
    }

    tapkernel::Kernel kernel;
    // The fuzzer's thread is busy all along (see the kernel's deadlock watchdog).
    tapkernel::ThreadRegistration fuzzer{"fuzzer"};
    tapkernel::DriverModule *module = nullptr;
    std::u16string path;
};

Rig *rig = nullptr;

[[noreturn]] void Broken(const char *what)
{
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

std::u16string PickName(FuzzedDataProvider &data)
{
    size_t pick = data.ConsumeIntegralInRange<size_t>(0, kFields + 1);
    std::u16string name;
    if (pick < kFields) {
        name = Text(kSettingNames[pick]);
    } else if (pick == kFields) {
        name = Text(TAP_VALUE_CALIBRATION_W);
    } else {
        std::string other = data.ConsumeRandomLengthString(12);
        name.assign(other.begin(), other.end());
    }
    // Names are compared without case.
    uint16_t flips = data.ConsumeIntegral<uint16_t>();
    for (size_t i = 0; i < name.size() && i < 16; ++i) {
        if ((flips >> i) & 1) {
            char16_t c = name[i];
            if (c >= u'a' && c <= u'z') {
                name[i] = static_cast<char16_t>(c - u'a' + u'A');
            } else if (c >= u'A' && c <= u'Z') {
                name[i] = static_cast<char16_t>(c - u'A' + u'a');
            }
        }
    }
    return name;
}

size_t PickLength(FuzzedDataProvider &data)
{
    static const size_t lengths[] = {0, 1, 2, 3, 4, 5, 8, 24, 27, 28, 29, 32, 36, 512};
    if (data.ConsumeBool()) {
        return lengths[data.ConsumeIntegralInRange<size_t>(0, std::size(lengths) - 1)];
    }
    return data.ConsumeIntegralInRange<size_t>(0, 70000);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rig = new Rig();
    // The kernel stand-in goes before the process's exit takes its threads away.
    std::atexit([] {
        delete rig;
        rig = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    RegistryStore &registry = rig->kernel.Registry();
    RegistryStore::Hive hive = RegistryStore::Hive::LocalMachine;
    if (auto services = registry.Open(registry.Root(hive), kServicesPath)) {
        if (auto service = registry.Open(services, kService)) {
            registry.DeleteTree(service);
        }
    }

    bool serviceKey = data.ConsumeIntegralInRange(0, 15) != 0;
    bool parametersKey = serviceKey && data.ConsumeIntegralInRange(0, 15) != 0;
    std::map<std::u16string, std::vector<uint8_t>> written; // by lower-case name: the last data
    if (serviceKey) {
        auto service = registry.Create(registry.Root(hive), kServicesPath + u"\\" + kService);
        registry.SetValue(service, u"Start", 4, "\3\0\0\0", 4);
        if (parametersKey) {
            auto parameters = registry.Create(service, Text(TAP_PARAMETERS_SUBKEY_W));
            unsigned count = data.ConsumeIntegralInRange(0, 14);
            for (unsigned i = 0; i < count; ++i) {
                std::u16string name = PickName(data);
                uint32_t type = data.ConsumeBool() ? data.ConsumeIntegralInRange<uint32_t>(0, 11)
                                                   : data.ConsumeIntegral<uint32_t>();
                std::vector<uint8_t> value = data.ConsumeBytes<uint8_t>(PickLength(data));
                registry.SetValue(parameters, name, type, value.data(), value.size());
                written[Lower(name)] = value;
            }
        }
    }

    // Enable has no default: it keeps whatever the last load or control code left.
    ULONG enableBefore = data.ConsumeIntegral<ULONG>();
    RtlZeroMemory(&Globals.Settings, sizeof(Globals.Settings));
    ((PULONG)&Globals.Settings)[kFields - 1] = enableBefore;
    std::memset(&Globals.ActiveCalibration, 0x5A, sizeof(Globals.ActiveCalibration));

    // Allocation 0 is the subkey name, 1..fields the settings values, then the calibration.
    int failing = data.ConsumeBool() ? data.ConsumeIntegralInRange<int>(0, kFields + 1) : -1;
    NTSTATUS status;
    {
        tapkernel::ModuleScope scope(rig->module);
        if (failing >= 0) {
            rig->kernel.FailPoolAllocations(rig->module, static_cast<unsigned>(failing), 1);
        }
        status = ReadParameters();
        rig->kernel.FailPoolAllocations(rig->module, 0, 0);
    }

    bool loaded = failing != 0;
    if (status != (loaded ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL)) {
        Broken("ReadParameters returned another status than its outcome");
    }
    for (size_t i = 0; i < kFields; ++i) {
        ULONG expected = i + 1 < kFields ? kDefaults[i] : enableBefore;
        auto found = written.find(Lower(Text(kSettingNames[i])));
        if (loaded && parametersKey && failing != static_cast<int>(i + 1) && found != written.end() &&
            found->second.size() == 4) {
            std::memcpy(&expected, found->second.data(), 4);
        }
        if (((PULONG)&Globals.Settings)[i] != expected) {
            std::fprintf(stderr, "fuzz: settings field %zu is %u, expected %u\n", i,
                         static_cast<unsigned>(((PULONG)&Globals.Settings)[i]), static_cast<unsigned>(expected));
            Broken("a settings field does not hold its value or its default");
        }
    }
    CalibrationData expected = {};
    expected.ScreenWidth = CALIBRATION_DEFAULT_SCREEN_WIDTH;
    expected.ScreenHeight = CALIBRATION_DEFAULT_SCREEN_HEIGHT;
    auto calibration = written.find(Lower(Text(TAP_VALUE_CALIBRATION_W)));
    if (loaded && parametersKey && failing != static_cast<int>(kFields + 1) && calibration != written.end() &&
        calibration->second.size() == sizeof(CalibrationData)) {
        std::memcpy(&expected, calibration->second.data(), sizeof(expected));
    }
    if (std::memcmp(&expected, &Globals.ActiveCalibration, sizeof(expected)) != 0) {
        Broken("the calibration does not hold its value or its default");
    }
    if (rig->kernel.Usage(rig->module).poolBlocks != 0) {
        Broken("the load left pool allocated");
    }
    return 0;
}
