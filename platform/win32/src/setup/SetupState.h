// The objects behind the Setup API's handles and what its parts share: open INF files, file
// queues, device information sets with their elements and driver lists, and the driver
// installation that DIF_INSTALLDEVICE and newdev.dll both run. Internal to platform/win32.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "InfFile.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tapwin32::setup {

// ---- Handles --------------------------------------------------------------------------------------
// Every object a handle names is registered while it lives; a handle that names no live object of
// the kind asked for is refused with ERROR_INVALID_HANDLE, as the real routines do.
enum class Kind { Inf, Queue, DeviceSet, DefaultCallback };

void Register(void *object, Kind kind);
void Unregister(void *object);
bool IsLive(const void *object, Kind kind);

template <typename T>
T *Lookup(void *handle, Kind kind)
{
    return IsLive(handle, kind) ? static_cast<T *>(handle) : nullptr;
}

// ---- INF files ------------------------------------------------------------------------------------
struct OpenInf {
    std::string path; // the Windows path it was opened from
    inf::InfFile file;
};

// Reads and parses an INF file of the machine's drives; nothing when it cannot be read (the last
// error says why: ERROR_FILE_NOT_FOUND, or the syntax error, with ERRORLINE filled).
std::optional<OpenInf> ReadInf(const std::string &windowsPath, UINT *errorLine);

// The file part and the folder part (with its trailing backslash) of a Windows path.
std::string FileNameOf(const std::string &path);
std::string FolderOf(const std::string &path);

// [Version] ClassGUID and Class of an INF.
struct InfClass {
    GUID guid{};
    std::string name;
};
std::optional<InfClass> ClassOf(const inf::InfFile &file);

// GUIDs in the registry's form, {4D36E96F-E325-11CE-BFC1-08002BE10318}.
std::string GuidText(const GUID &guid);
std::optional<GUID> ParseGuid(std::string_view text);
bool SameGuid(const GUID &a, const GUID &b);

// ---- Registry (through the Reg* routines of this stand-in) ----------------------------------------
extern const char kEnumKey[];     // SYSTEM\CurrentControlSet\Enum
extern const char kClassKey[];    // SYSTEM\CurrentControlSet\Control\Class
extern const char kServicesKey[]; // SYSTEM\CurrentControlSet\Services

std::optional<std::vector<BYTE>> QueryValue(HKEY root, const std::string &key, const std::string &name,
                                            DWORD *type = nullptr);
std::optional<std::string> QueryString(HKEY root, const std::string &key, const std::string &name);
std::vector<std::string> QueryMultiString(HKEY root, const std::string &key, const std::string &name);
bool SetValue(HKEY root, const std::string &key, const std::string &name, DWORD type, const void *data, DWORD size);
bool SetString(HKEY root, const std::string &key, const std::string &name, const std::string &value);
std::vector<BYTE> MultiStringData(const std::vector<std::string> &strings);

// ---- Install sections -----------------------------------------------------------------------------
// The AddReg sections of an install section, with HKR standing for RELATIVE (none: such lines are
// skipped); false with the last error set when a line cannot be carried out.
bool ApplyAddReg(const inf::InfFile &file, const std::string &section, HKEY relativeRoot,
                 const std::string &relativePath);
// The AddService lines of a services section; ASSOCIATED receives the service flagged
// SPSVCINST_ASSOCSERVICE (0x2), if any.
bool InstallServices(const inf::InfFile &file, const std::string &section, std::string *associated);
// The name of SECTION as this system reads it: SECTION.NTx86, SECTION.NT or SECTION, the first
// that exists (an undecorated name when none does).
std::string DecoratedSection(const inf::InfFile &file, const std::string &section);

// ---- File queues ----------------------------------------------------------------------------------
struct QueuedCopy {
    std::string source; // Windows path
    std::string target; // Windows path
    DWORD style = 0;    // SP_COPY_*
};

struct FileQueue {
    std::vector<QueuedCopy> copies;
    std::vector<std::string> deletes;
};

// The CopyFiles of an install section, queued.
bool QueueCopyFiles(FileQueue &queue, const inf::InfFile &file, const std::string &section,
                    const std::string &sourceRoot, DWORD copyStyle);
BOOL CommitQueue(HWND owner, FileQueue &queue, PSP_FILE_CALLBACK_A callback, PVOID context);

// ---- Device information ---------------------------------------------------------------------------
struct DriverEntry {
    std::string infPath;     // in the INF store or where DriverPath pointed
    std::string description; // the model's description
    std::string manufacturer;
    std::string provider;
    std::string installSection;
    std::string matchingId;
    GUID classGuid{};
    std::string className;
    ULONG_PTR reserved = 0; // SP_DRVINFO_DATA.Reserved: identifies the entry
};

struct DeviceElement {
    DWORD devInst = 0;
    std::string instanceId; // empty until registered, for a new element
    GUID classGuid{};
    std::string className;
    std::vector<std::string> hardwareIds; // of a new element, until it is registered
    bool registered = false;
    SP_DEVINSTALL_PARAMS_A params{};
    std::vector<DriverEntry> compatibleDrivers;
    bool driverListBuilt = false;
    std::optional<DriverEntry> selectedDriver;
};

struct DeviceSet {
    std::optional<GUID> classGuid;
    std::vector<std::unique_ptr<DeviceElement>> elements;
    DeviceElement *selected = nullptr;
};

DeviceElement *ElementOf(DeviceSet &set, PSP_DEVINFO_DATA data);
void FillDevInfoData(const DeviceElement &element, PSP_DEVINFO_DATA data);

// The models of an INF that match one of IDS (case-insensitive), as driver entries.
std::vector<DriverEntry> MatchingDrivers(const std::string &infPath, const inf::InfFile &file,
                                         const std::vector<std::string> &ids);

// Installs DRIVER on the device node INSTANCEID: the INF into the store, the install section's
// files and registry (HKR: the driver key under Control\Class), the .HW section (HKR: the node's
// key), the .Services section, the node's Service, Driver, Class and description values; then the
// PnP manager restarts the node, loading the driver from its ImagePath. *REBOOT is set when the
// node's old stack refused to go. False with the last error set on failure.
bool InstallDriverOnDevice(const DriverEntry &driver, const std::string &instanceId, HWND owner, bool *reboot);

} // namespace tapwin32::setup
