// newdev.dll: the driver update for Plug and Play devices. Not exported by name from the
// stand-in: a program finds it only through LoadLibraryA("newdev.dll") and GetProcAddress, as the
// installers do (Libraries.cpp lists it among newdev.dll's exports).
#include "SetupState.h"

#include "../SystemLink.h"

#include <newdev.h>

namespace tapwin32::setup {

namespace {

bool ListsId(const std::vector<std::string> &ids, const std::string &id)
{
    for (const std::string &candidate : ids) {
        if (inf::EqualNoCase(candidate, id)) {
            return true;
        }
    }
    return false;
}

// Whether the node's driver is this model of this INF already (same contents in the store, same
// section): without INSTALLFLAG_FORCE such a node is left alone.
bool HasDriver(const std::string &instanceId, const DriverEntry &driver)
{
    std::optional<std::string> key =
        QueryString(HKEY_LOCAL_MACHINE, std::string(kEnumKey) + "\\" + instanceId, "Driver");
    if (!key) {
        return false;
    }
    const std::string driverPath = std::string(kClassKey) + "\\" + *key;
    std::optional<std::string> infPath = QueryString(HKEY_LOCAL_MACHINE, driverPath, "InfPath");
    std::optional<std::string> section = QueryString(HKEY_LOCAL_MACHINE, driverPath, "InfSection");
    if (!infPath || !section || !inf::EqualNoCase(section->substr(0, driver.installSection.size()), driver.installSection)) {
        return false;
    }
    char stored[MAX_PATH];
    DWORD error = 0;
    BOOL same = SetupCopyOEMInfA(driver.infPath.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, stored,
                                 sizeof stored, nullptr, nullptr);
    error = GetLastError();
    return !same && error == ERROR_FILE_EXISTS && inf::EqualNoCase(FileNameOf(stored), *infPath);
}

} // namespace

// Finds the present nodes whose hardware or compatible IDs include HardwareId and installs on
// each the INF's model for that ID (the best match: the first listed); the PnP manager then loads
// the driver from the installed ImagePath and starts the node. *bRebootRequired is set when a
// node's old stack would not go. Errors: ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS, the INF's
// (ERROR_FILE_NOT_FOUND ...), ERROR_NO_SUCH_DEVINST (no node has the ID), ERROR_NO_COMPAT_DRIVERS
// (the INF has no model for it), ERROR_NO_MORE_ITEMS (every node has this driver and
// INSTALLFLAG_FORCE was not given).
BOOL WINAPI NewdevUpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                                     DWORD InstallFlags, PBOOL bRebootRequired)
{
    if (!HardwareId || !*HardwareId || !FullInfPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (InstallFlags & ~DWORD(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (bRebootRequired) {
        *bRebootRequired = FALSE;
    }
    std::optional<OpenInf> opened = ReadInf(FullInfPath, nullptr);
    if (!opened) {
        return FALSE;
    }
    std::vector<std::string> nodes;
    for (const std::string &instanceId : link::DeviceInstances()) {
        const std::string key = std::string(kEnumKey) + "\\" + instanceId;
        if (link::DevicePresent(instanceId) && (ListsId(QueryMultiString(HKEY_LOCAL_MACHINE, key, "HardwareID"), HardwareId) ||
                                                ListsId(QueryMultiString(HKEY_LOCAL_MACHINE, key, "CompatibleIDs"), HardwareId))) {
            nodes.push_back(instanceId);
        }
    }
    if (nodes.empty()) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    std::vector<DriverEntry> drivers = MatchingDrivers(FullInfPath, opened->file, {HardwareId});
    if (drivers.empty()) {
        SetLastError(ERROR_NO_COMPAT_DRIVERS);
        return FALSE;
    }
    bool installed = false;
    for (const std::string &instanceId : nodes) {
        if (!(InstallFlags & INSTALLFLAG_FORCE) && HasDriver(instanceId, drivers.front())) {
            continue;
        }
        bool reboot = false;
        if (!InstallDriverOnDevice(drivers.front(), instanceId, hwndParent, &reboot)) {
            return FALSE;
        }
        installed = true;
        if (reboot && bRebootRequired) {
            *bRebootRequired = TRUE;
        }
    }
    if (!installed) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace tapwin32::setup
