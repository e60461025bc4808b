#include "Installer.h"

#include <newdev.h>

#include <cctype>
#include <cstring>
#include <vector>


namespace setup {

namespace {

using UpdateDriverRoutine = BOOL(WINAPI *)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);

bool SameText(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// A device information set, destroyed with the object.
class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet()
    {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceSet(const DeviceSet &) = delete;
    DeviceSet &operator=(const DeviceSet &) = delete;
    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// newdev.dll, loaded at run time and freed with the object.
class Newdev {
public:
    Newdev() : module_(LoadLibraryA("newdev.dll")) {}
    ~Newdev()
    {
        if (module_) {
            FreeLibrary(module_);
        }
    }
    Newdev(const Newdev &) = delete;
    Newdev &operator=(const Newdev &) = delete;
    bool loaded() const { return module_ != nullptr; }
    UpdateDriverRoutine UpdateDriver() const
    {
        return reinterpret_cast<UpdateDriverRoutine>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "UpdateDriverForPlugAndPlayDevicesA")));
    }

private:
    HMODULE module_;
};

// The hardware IDs of a device, asked for as the system wants: first without a buffer, then with
// the size it reports. Empty when the device has none (ERROR_INVALID_DATA) or the call fails.
std::vector<BYTE> HardwareIds(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    std::vector<BYTE> buffer;
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
    while (GetLastError() != ERROR_INVALID_DATA) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        buffer.assign(size, 0);
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, buffer.data(), size, &size)) {
            break;
        }
    }
    if (GetLastError() == ERROR_INVALID_DATA) {
        buffer.clear();
    }
    buffer.resize(std::min<size_t>(buffer.size(), size));
    return buffer;
}

// How many entries of a multi-string equal ID (without case); the walk stops at the empty entry
// or at the end of the data.
DWORD CountMatches(const std::vector<BYTE> &ids, const char *id)
{
    DWORD count = 0;
    size_t at = 0;
    while (at < ids.size() && ids[at] != 0) {
        std::string entry;
        while (at < ids.size() && ids[at] != 0) {
            entry += static_cast<char>(ids[at++]);
        }
        ++at;
        if (SameText(entry.c_str(), id)) {
            ++count;
        }
    }
    return count;
}

struct QueueCallbackContext {
    PVOID defaultContext;
    Progress *progress;
};

UINT CALLBACK QueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2)
{
    auto *queue = static_cast<QueueCallbackContext *>(context);
    switch (notification) {
    case SPFILENOTIFY_STARTQUEUE:
        queue->progress->SetStep(1);
        break;
    case SPFILENOTIFY_DELETEERROR:
        return FILEOP_SKIP;
    case SPFILENOTIFY_ENDCOPY:
        queue->progress->StepIt();
        break;
    default:
        break;
    }
    return SetupDefaultQueueCallbackA(queue->defaultContext, notification, param1, param2);
}

// Calls newdev.dll's driver update for the hardware ID with the INF of the chosen type; success
// sets DriverInstalled.
void UpdateDriver(const Newdev &newdev, const char *hardwareId, Progress &progress, DWORD *result)
{
    InstallerState &state = Installer();
    progress.StepIt();
    UpdateDriverRoutine update = newdev.loaded() ? newdev.UpdateDriver() : nullptr;
    if (!update) {
        *result = GetLastError();
        return;
    }
    if (update(nullptr, hardwareId, state.infPath.c_str(), INSTALLFLAG_FORCE, &state.rebootRequired)) {
        state.driverInstalled = TRUE;
    } else {
        *result = GetLastError();
    }
}

// The compatible drivers of one USB device: each whose description is the line's is selected,
// and installed through the class installer; newdev.dll's update follows in any case.
bool InstallOnUsbDevice(HDEVINFO set, SP_DEVINFO_DATA &device, Progress &progress, DWORD *result)
{
    const SetupLine &line = *Installer().line;
    InstallerState &state = Installer();
    bool installed = false;
    if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
        Newdev newdev;
        UpdateDriver(newdev, line.usbHardwareId, progress, result);
        return false;
    }
    progress.StepIt();
    bool selected = false;
    SP_DRVINFO_DATA_A driver{};
    driver.cbSize = sizeof driver;
    for (DWORD index = 0; SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, index, &driver); ++index) {
        if (SameText(driver.Description, line.usbDriverDescription) &&
            SetupDiSetSelectedDriverA(set, &device, &driver)) {
            selected = true;
        }
    }
    if (selected && SetupDiSetSelectedDevice(set, &device)) {
        SP_DEVINSTALL_PARAMS_A params{};
        params.cbSize = sizeof params;
        if (SetupDiGetDeviceInstallParamsA(set, &device, &params)) {
            params.Flags |= DI_SHOWOEM | DI_PROPERTIES_CHANGE;
            params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
            std::strncpy(params.DriverPath, state.installerDirectory.c_str(), MAX_PATH - 1);
            if (SetupDiSetDeviceInstallParamsA(set, &device, &params) &&
                SetupDiCallClassInstaller(DIF_ALLOW_INSTALL, set, &device)) {
                progress.StepIt();
                if (SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device)) {
                    state.driverInstalled = TRUE;
                    installed = true;
                }
            }
        }
        Newdev newdev;
        UpdateDriver(newdev, line.usbHardwareId, progress, result);
    }
    SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
    progress.StepIt();
    return installed;
}

bool WriteValue(HKEY key, const tap::setup::RegistryValue &value)
{
    return RegSetValueExA(key, value.name.c_str(), 0, static_cast<DWORD>(value.type), value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

} // namespace

InstallerState &Installer()
{
    static InstallerState state;
    return state;
}

std::string InstallerDirectory()
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : MAX_PATH);
    size_t separator = directory.find_last_of('\\');
    return separator == std::string::npos ? std::string() : directory.substr(0, separator + 1);
}

DWORD CountDevicesWithHardwareId(const GUID &setupClass, const char *hardwareId)
{
    DeviceSet set(SetupDiGetClassDevsA(&setupClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE));
    if (!set.valid()) {
        return 0;
    }
    DWORD count = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        count += CountMatches(HardwareIds(set.get(), device), hardwareId);
    }
    return count;
}

DWORD InstallFromInf(HWND page, Progress &progress)
{
    const SetupLine &line = *Installer().line;
    InstallerState &state = Installer();
    const bool usb = state.usbSelected;
    if (!SetupCopyOEMInfA(state.infPath.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, state.oemInfName,
                          sizeof state.oemInfName, nullptr, nullptr)) {
        DWORD error = GetLastError();
        if (usb && error != ERROR_FILE_EXISTS) {
            return error;
        }
    }
    HINF inf = SetupOpenInfFileA(state.infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    const char *installSection = usb ? line.usbInstallSection : line.rs232InstallSection;
    const char *servicesSection = usb ? line.usbServicesSection : line.rs232ServicesSection;
    HSPFILEQ queue = SetupOpenFileQueue();
    PVOID defaultContext = SetupInitDefaultQueueCallbackEx(page, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr);
    DWORD result = ERROR_SUCCESS;
    if (queue == INVALID_HANDLE_VALUE || !defaultContext) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        QueueCallbackContext context{defaultContext, &progress};
        if (!SetupInstallFilesFromInfSectionA(inf, nullptr, queue, installSection, state.installerDirectory.c_str(),
                                              SP_COPY_NEWER) ||
            !SetupCommitFileQueueA(page, queue, QueueCallback, &context)) {
            result = GetLastError();
        }
        const UINT parts = SPINST_INIFILES | SPINST_REGISTRY;
        if (usb) {
            SetupInstallFromInfSectionA(page, inf, installSection, parts, nullptr, nullptr, 0, nullptr, nullptr,
                                        nullptr, nullptr);
        }
        if (SetupInstallServicesFromInfSectionA(inf, servicesSection, 0) &&
            SetupInstallFromInfSectionA(page, inf, installSection, parts, nullptr, nullptr, 0, nullptr, nullptr,
                                        nullptr, nullptr)) {
            WriteDriverDefaults(state.usbSelected);
        } else {
            result = GetLastError();
        }
    }
    if (defaultContext) {
        SetupTermDefaultQueueCallback(defaultContext);
    }
    if (queue != INVALID_HANDLE_VALUE) {
        SetupCloseFileQueue(queue);
    }
    SetupCloseInfFile(inf);
    return result;
}

DWORD CreateRootDevice(Progress &progress)
{
    const SetupLine &line = *Installer().line;
    InstallerState &state = Installer();
    // The hardware-ID list: at most 80 characters in 84 zeroed bytes, so it ends in two NULs.
    char hardwareIds[84] = {};
    std::strncpy(hardwareIds, line.rs232HardwareId, 80);
    GUID infClass{};
    char className[84] = "";
    if (!SetupDiGetINFClassA(state.infPath.c_str(), &infClass, className, sizeof className, nullptr)) {
        return GetLastError();
    }
    DeviceSet set(SetupDiCreateDeviceInfoList(&kMouseClass, nullptr));
    if (!set.valid()) {
        return GetLastError();
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set.get(), className, &kMouseClass, nullptr, nullptr, DICD_GENERATE_ID, &device) ||
        !SetupDiSetDeviceRegistryPropertyA(set.get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE *>(hardwareIds),
                                           static_cast<DWORD>(std::strlen(hardwareIds) + 2)) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
        return GetLastError();
    }
    progress.StepIt();
    DWORD result = ERROR_SUCCESS;
    {
        Newdev newdev;
        if (!newdev.loaded()) {
            return GetLastError();
        }
        UpdateDriver(newdev, line.rs232HardwareId, progress, &result);
        progress.StepIt();
    }
    progress.StepIt();
    return result;
}

DWORD UpdateUsbDevice(Progress &progress)
{
    const SetupLine &line = *Installer().line;
    DWORD result = ERROR_SUCCESS;
    bool installed = false;
    {
        DeviceSet set(SetupDiGetClassDevsA(&line.usbSearchClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE));
        if (set.valid()) {
            SP_DEVINFO_DATA device{};
            device.cbSize = sizeof device;
            for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
                DWORD matches = CountMatches(HardwareIds(set.get(), device), line.usbHardwareId);
                for (DWORD match = 0; match < matches; ++match) {
                    installed = InstallOnUsbDevice(set.get(), device, progress, &result) || installed;
                }
            }
        }
    }
    progress.StepIt();
    return installed ? ERROR_SUCCESS : GetLastError();
}

void WriteDriverDefaults(BOOL usbSelected)
{
    const SetupLine &line = *Installer().line;
    const InstallerState &state = Installer();
    HKEY service;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, usbSelected ? line.usbServiceKey : line.rs232ServiceKey, 0, KEY_ALL_ACCESS,
                      &service) == ERROR_SUCCESS) {
        HKEY parameters;
        if (RegOpenKeyExA(service, "Parameters", 0, KEY_ALL_ACCESS, &parameters) == ERROR_SUCCESS ||
            RegCreateKeyExA(service, "Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parameters, nullptr) ==
                ERROR_SUCCESS) {
            tap::setup::InstallerChoices choices{usbSelected != FALSE, state.portNumber, state.portUsable,
                                                 state.oemInfName};
            for (const tap::setup::RegistryValue &value : tap::setup::ParametersDefaults(line.product, choices)) {
                WriteValue(parameters, value);
            }
            RegCloseKey(parameters);
        }
        RegCloseKey(service);
    }
    HKEY mouse;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Mouse", 0, KEY_ALL_ACCESS, &mouse) == ERROR_SUCCESS) {
        for (const tap::setup::RegistryValue &value : tap::setup::MouseDefaults()) {
            WriteValue(mouse, value);
        }
        RegCloseKey(mouse);
    }
}

void ScheduleGroupConversion()
{
    HKEY runOnce;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, KEY_ALL_ACCESS,
                      &runOnce) != ERROR_SUCCESS) {
        return;
    }
    HKEY setupKey;
    if (RegOpenKeyExA(runOnce, "Setup", 0, KEY_READ, &setupKey) == ERROR_SUCCESS) {
        RegCloseKey(setupKey);
        static const char wrapper[] = "runonce";
        RegSetValueExA(runOnce, "Wrapper", 0, REG_SZ, reinterpret_cast<const BYTE *>(wrapper), sizeof wrapper);
    }
    static const char grpconv[] = "grpconv -o";
    RegSetValueExA(runOnce, "GrpConv", 0, REG_SZ, reinterpret_cast<const BYTE *>(grpconv), sizeof grpconv);
    RegCloseKey(runOnce);
    constexpr UINT kShowNormal = 1; // SW_SHOWNORMAL
    WinExec("runonce -r", kShowNormal);
}

} // namespace setup
