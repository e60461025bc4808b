// Device information sets and elements, their registry properties, driver lists and install
// parameters, the class installer requests, and the driver installation on a device node that
// DIF_INSTALLDEVICE and newdev.dll share.
#include "SetupState.h"

#include "../SystemLink.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tapwin32::setup {

namespace {

namespace fs = std::filesystem;

constexpr char kInfDirectory[] = "C:\\WINDOWS\\inf";

std::string Upper(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string EnumPath(const std::string &instanceId)
{
    return std::string(kEnumKey) + "\\" + instanceId;
}

bool KeyExists(const std::string &path)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

std::string FourDigits(unsigned n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04u", n);
    return text;
}

DWORD nextDevInst = 1;

std::unique_ptr<DeviceElement> NewElement()
{
    auto element = std::make_unique<DeviceElement>();
    element->devInst = nextDevInst++;
    element->params.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    return element;
}

// The registry name of a device property, and whether a program may set it.
struct PropertyName {
    DWORD property;
    const char *value;
    bool settable;
};
const PropertyName kProperties[] = {
    {SPDRP_DEVICEDESC, "DeviceDesc", true}, {SPDRP_HARDWAREID, "HardwareID", true},
    {SPDRP_COMPATIBLEIDS, "CompatibleIDs", true}, {SPDRP_SERVICE, "Service", false},
    {SPDRP_CLASS, "Class", false}, {SPDRP_CLASSGUID, "ClassGUID", false}, {SPDRP_DRIVER, "Driver", false},
};

const PropertyName *FindProperty(DWORD property)
{
    for (const PropertyName &p : kProperties) {
        if (p.property == property) {
            return &p;
        }
    }
    return nullptr;
}

// The INF files a driver search looks at: the one DriverPath names (DI_ENUMSINGLEINF), those in
// the DriverPath folder, or those of the INF store.
std::vector<std::string> InfFilesToSearch(const SP_DEVINSTALL_PARAMS_A &params)
{
    std::string path = params.DriverPath;
    if (!path.empty() && (params.Flags & DI_ENUMSINGLEINF)) {
        return {path};
    }
    std::string folder = path.empty() ? std::string(kInfDirectory) : path;
    while (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    std::vector<std::string> files;
    std::optional<std::string> host = link::HostPath(std::u16string(folder.begin(), folder.end()));
    std::error_code error;
    if (!host) {
        return files;
    }
    for (const auto &entry : fs::directory_iterator(*host, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && inf::EqualNoCase(name.substr(name.size() - 4), ".inf")) {
            files.push_back(folder + "\\" + name);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The hardware and compatible IDs of an element.
std::vector<std::string> IdsOf(const DeviceElement &element)
{
    if (!element.registered) {
        return element.hardwareIds;
    }
    std::vector<std::string> ids = QueryMultiString(HKEY_LOCAL_MACHINE, EnumPath(element.instanceId), "HardwareID");
    for (const std::string &id : QueryMultiString(HKEY_LOCAL_MACHINE, EnumPath(element.instanceId), "CompatibleIDs")) {
        ids.push_back(id);
    }
    return ids;
}

ULONG_PTR nextDriverEntry = 1;

// Where the files of an INF come from: the folder recorded when it was copied into the store
// (its .pnf), else its own folder.
std::string SourceRootOf(const std::string &infPath)
{
    std::string pnf = infPath.substr(0, infPath.size() - 4) + ".pnf";
    std::optional<std::string> host = link::HostPath(std::u16string(pnf.begin(), pnf.end()));
    if (host) {
        if (FILE *in = std::fopen(host->c_str(), "rb")) {
            char line[MAX_PATH + 16] = "";
            bool read = std::fgets(line, sizeof line, in) != nullptr;
            std::fclose(in);
            std::string text = line;
            if (read && text.rfind("SourcePath=", 0) == 0) {
                text = text.substr(11);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                    text.pop_back();
                }
                return text;
            }
        }
    }
    return FolderOf(infPath);
}

bool IsInStore(const std::string &infPath)
{
    std::string folder = FolderOf(infPath);
    return inf::EqualNoCase(folder, std::string(kInfDirectory) + "\\");
}

// The driver key of a node under Control\Class\{guid}: the one it has, or the next free number.
std::string DriverKeyOf(const std::string &instanceId, const GUID &classGuid)
{
    const std::string guid = GuidText(classGuid);
    if (std::optional<std::string> driver = QueryString(HKEY_LOCAL_MACHINE, EnumPath(instanceId), "Driver")) {
        if (driver->size() > guid.size() && inf::EqualNoCase(driver->substr(0, guid.size()), guid)) {
            return *driver;
        }
    }
    for (unsigned n = 0;; ++n) {
        std::string candidate = guid + "\\" + FourDigits(n);
        if (!KeyExists(std::string(kClassKey) + "\\" + candidate)) {
            return candidate;
        }
    }
}

} // namespace

DeviceElement *ElementOf(DeviceSet &set, PSP_DEVINFO_DATA data)
{
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return nullptr;
    }
    for (const auto &element : set.elements) {
        if (element->devInst == data->DevInst && reinterpret_cast<ULONG_PTR>(element.get()) == data->Reserved) {
            return element.get();
        }
    }
    return nullptr;
}

namespace {

// The element DATA names in the device information set HANDLE (and the set, through SET). Without
// one, nullptr with the error set: ERROR_INVALID_HANDLE for a handle that is no device information
// set, ERROR_INVALID_PARAMETER for an element the set does not hold.
DeviceElement *ElementOrError(HDEVINFO handle, PSP_DEVINFO_DATA data, DeviceSet **set = nullptr)
{
    auto *found = Lookup<DeviceSet>(handle, Kind::DeviceSet);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (set) {
        *set = found;
    }
    DeviceElement *element = ElementOf(*found, data);
    if (!element) {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return element;
}

} // namespace

void FillDevInfoData(const DeviceElement &element, PSP_DEVINFO_DATA data)
{
    data->ClassGuid = element.classGuid;
    data->DevInst = element.devInst;
    data->Reserved = reinterpret_cast<ULONG_PTR>(&element);
}

std::vector<DriverEntry> MatchingDrivers(const std::string &infPath, const inf::InfFile &file,
                                         const std::vector<std::string> &ids)
{
    std::vector<DriverEntry> drivers;
    std::optional<InfClass> infClass = ClassOf(file);
    const inf::Section *manufacturers = file.FindSection("Manufacturer");
    if (!manufacturers || !infClass) {
        return drivers;
    }
    for (const inf::Line &maker : manufacturers->lines) {
        std::string models = maker.Field(0);
        for (size_t i = 1; i < maker.fields.size(); ++i) {
            const std::string &decoration = maker.fields[i];
            if ((inf::EqualNoCase(decoration, "NTx86") || inf::EqualNoCase(decoration, "NT")) &&
                file.FindSection(maker.Field(0) + "." + decoration)) {
                models = maker.Field(0) + "." + decoration;
                break;
            }
        }
        const inf::Section *list = file.FindSection(models);
        if (!list) {
            continue;
        }
        for (const inf::Line &model : list->lines) {
            for (size_t i = 1; i < model.fields.size(); ++i) {
                for (const std::string &id : ids) {
                    if (inf::EqualNoCase(model.fields[i], id)) {
                        DriverEntry entry;
                        entry.infPath = infPath;
                        entry.description = model.key.value_or("");
                        entry.manufacturer = maker.key.value_or("");
                        entry.provider = file.Value("Version", "Provider").value_or("");
                        entry.installSection = model.Field(0);
                        entry.matchingId = model.fields[i];
                        entry.classGuid = infClass->guid;
                        entry.className = infClass->name;
                        entry.reserved = nextDriverEntry++;
                        drivers.push_back(entry);
                        goto nextModel;
                    }
                }
            }
        nextModel:;
        }
    }
    return drivers;
}

bool InstallDriverOnDevice(const DriverEntry &driver, const std::string &instanceId, HWND owner, bool *reboot)
{
    UINT errorLine = 0;
    std::optional<OpenInf> opened = ReadInf(driver.infPath, &errorLine);
    if (!opened) {
        return false;
    }
    // The INF in the store, under its stored name; its files from where it came from.
    std::string storedInf = driver.infPath;
    std::string sourceRoot = SourceRootOf(driver.infPath);
    if (!IsInStore(driver.infPath)) {
        char stored[MAX_PATH];
        if (!SetupCopyOEMInfA(driver.infPath.c_str(), nullptr, SPOST_PATH, 0, stored, sizeof stored, nullptr,
                              nullptr)) {
            return false;
        }
        storedInf = stored;
        sourceRoot = FolderOf(driver.infPath);
    }
    const inf::InfFile &file = opened->file;
    const std::string section = DecoratedSection(file, driver.installSection);
    if (!file.FindSection(section)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return false;
    }
    FileQueue queue;
    PVOID context = SetupInitDefaultQueueCallbackEx(owner, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr);
    bool copied = QueueCopyFiles(queue, file, section, sourceRoot, 0) &&
                  CommitQueue(owner, queue, SetupDefaultQueueCallbackA, context);
    DWORD copyError = GetLastError();
    SetupTermDefaultQueueCallback(context);
    if (!copied) {
        SetLastError(copyError);
        return false;
    }
    const std::string driverKey = DriverKeyOf(instanceId, driver.classGuid);
    const std::string driverPath = std::string(kClassKey) + "\\" + driverKey;
    const std::string devicePath = EnumPath(instanceId);
    bool ok = SetString(HKEY_LOCAL_MACHINE, driverPath, "DriverDesc", driver.description) &&
              SetString(HKEY_LOCAL_MACHINE, driverPath, "ProviderName", driver.provider) &&
              SetString(HKEY_LOCAL_MACHINE, driverPath, "InfPath", FileNameOf(storedInf)) &&
              SetString(HKEY_LOCAL_MACHINE, driverPath, "InfSection", section) &&
              SetString(HKEY_LOCAL_MACHINE, driverPath, "MatchingDeviceId", driver.matchingId);
    for (const std::string &addReg : file.Values(section, "AddReg")) {
        ok = ok && ApplyAddReg(file, addReg, HKEY_LOCAL_MACHINE, driverPath);
    }
    for (const std::string &addReg : file.Values(section + ".HW", "AddReg")) {
        ok = ok && ApplyAddReg(file, addReg, HKEY_LOCAL_MACHINE, devicePath);
    }
    std::string service;
    ok = ok && InstallServices(file, section + ".Services", &service);
    if (ok && service.empty()) {
        SetLastError(ERROR_NO_ASSOCIATED_SERVICE);
        ok = false;
    }
    const std::string classGuid = GuidText(driver.classGuid);
    ok = ok && SetString(HKEY_LOCAL_MACHINE, devicePath, "Service", service) &&
         SetString(HKEY_LOCAL_MACHINE, devicePath, "Driver", driverKey) &&
         SetString(HKEY_LOCAL_MACHINE, devicePath, "ClassGUID", classGuid) &&
         SetString(HKEY_LOCAL_MACHINE, devicePath, "Class", driver.className) &&
         SetString(HKEY_LOCAL_MACHINE, devicePath, "DeviceDesc", driver.description) &&
         SetString(HKEY_LOCAL_MACHINE, devicePath, "Mfg", driver.manufacturer);
    if (!ok) {
        return false;
    }
    link::RecordEvent("driver installed " + instanceId + " " + service + " from " + storedInf);
    // The PnP manager restarts the node with its new driver; a stack that will not go leaves the
    // change to the next boot.
    bool removalRefused = false;
    link::RestartDevice(instanceId, &removalRefused);
    if (removalRefused && reboot) {
        *reboot = true;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

} // namespace tapwin32::setup

using namespace tapwin32;
using namespace tapwin32::setup;

extern "C" {

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(CONST GUID *ClassGuid, HWND)
{
    auto *set = new DeviceSet;
    if (ClassGuid) {
        set->classGuid = *ClassGuid;
    }
    Register(set, Kind::DeviceSet);
    return set;
}

// The device nodes of a class (every class with DIGCF_ALLCLASSES), of one enumerator when given;
// DIGCF_PRESENT keeps those present. This system has one hardware profile, in which every node is
// configured, so DIGCF_PROFILE keeps them all.
HDEVINFO WINAPI SetupDiGetClassDevsA(CONST GUID *ClassGuid, PCSTR Enumerator, HWND, DWORD Flags)
{
    if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto *set = new DeviceSet;
    if (ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
        set->classGuid = *ClassGuid;
    }
    for (const std::string &instanceId : link::DeviceInstances()) {
        std::optional<GUID> guid;
        if (std::optional<std::string> text = QueryString(HKEY_LOCAL_MACHINE, EnumPath(instanceId), "ClassGUID")) {
            guid = ParseGuid(*text);
        }
        if (set->classGuid && (!guid || !SameGuid(*guid, *set->classGuid))) {
            continue;
        }
        if (Enumerator && !inf::EqualNoCase(instanceId.substr(0, instanceId.find('\\')), Enumerator)) {
            continue;
        }
        if ((Flags & DIGCF_PRESENT) && !link::DevicePresent(instanceId)) {
            continue;
        }
        std::unique_ptr<DeviceElement> element = NewElement();
        element->instanceId = instanceId;
        element->registered = true;
        element->classGuid = guid.value_or(GUID{});
        element->className = QueryString(HKEY_LOCAL_MACHINE, EnumPath(instanceId), "Class").value_or("");
        set->elements.push_back(std::move(element));
    }
    Register(set, Kind::DeviceSet);
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    auto *set = Lookup<DeviceSet>(DeviceInfoSet, Kind::DeviceSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Unregister(set);
    delete set;
    return TRUE;
}

// A new element. With DICD_GENERATE_ID, DeviceName is the device's name and the instance ID is
// ROOT\<NAME>\NNNN with the next free number; otherwise DeviceName is the instance ID, which must
// not exist yet. The node exists only once DIF_REGISTERDEVICE has registered the element.
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName, CONST GUID *ClassGuid, PCSTR,
                                     HWND, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData)
{
    auto *set = Lookup<DeviceSet>(DeviceInfoSet, Kind::DeviceSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceName || !*DeviceName || !ClassGuid || (CreationFlags & ~0x3u)) {
        SetLastError(!ClassGuid || !DeviceName || !*DeviceName ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (set->classGuid && !SameGuid(*set->classGuid, *ClassGuid)) {
        SetLastError(ERROR_CLASS_MISMATCH);
        return FALSE;
    }
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::string instanceId;
    if (CreationFlags & DICD_GENERATE_ID) {
        if (std::strchr(DeviceName, '\\')) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::string base = "ROOT\\" + Upper(DeviceName) + "\\";
        for (unsigned n = 0; instanceId.empty(); ++n) {
            bool taken = KeyExists(EnumPath(base + FourDigits(n)));
            for (const auto &element : set->elements) {
                taken = taken || inf::EqualNoCase(element->instanceId, base + FourDigits(n));
            }
            if (!taken) {
                instanceId = base + FourDigits(n);
            }
        }
    } else {
        instanceId = Upper(DeviceName);
        if (KeyExists(EnumPath(instanceId))) {
            SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
            return FALSE;
        }
    }
    std::unique_ptr<DeviceElement> element = NewElement();
    element->instanceId = instanceId;
    element->classGuid = *ClassGuid;
    element->className =
        QueryString(HKEY_LOCAL_MACHINE, std::string(kClassKey) + "\\" + GuidText(*ClassGuid), "Class").value_or("");
    if (DeviceInfoData) {
        FillDevInfoData(*element, DeviceInfoData);
    }
    set->elements.push_back(std::move(element));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    auto *set = Lookup<DeviceSet>(DeviceInfoSet, Kind::DeviceSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= set->elements.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    FillDevInfoData(*set->elements[MemberIndex], DeviceInfoData);
    return TRUE;
}

// A property as the registry holds it. The required size is always reported; a missing buffer or
// one too small gives ERROR_INSUFFICIENT_BUFFER, a property the device does not have
// ERROR_INVALID_DATA.
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    const PropertyName *name = FindProperty(Property);
    if (!name) {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return FALSE;
    }
    DWORD type = REG_MULTI_SZ;
    std::optional<std::vector<BYTE>> data;
    if (element->registered) {
        data = QueryValue(HKEY_LOCAL_MACHINE, EnumPath(element->instanceId), name->value, &type);
    } else if (Property == SPDRP_HARDWAREID && !element->hardwareIds.empty()) {
        data = MultiStringData(element->hardwareIds);
    }
    if (!data) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(data->size());
    if (RequiredSize) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType) {
        *PropertyRegDataType = type;
    }
    if (!PropertyBuffer || PropertyBufferSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(PropertyBuffer, data->data(), size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Sets the description, hardware IDs or compatible IDs of an element: kept with a new element
// until it is registered, else written to its node's key.
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              CONST BYTE *PropertyBuffer, DWORD PropertyBufferSize)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    const PropertyName *name = FindProperty(Property);
    if (!name || !name->settable || (!PropertyBuffer && PropertyBufferSize)) {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return FALSE;
    }
    const DWORD type = Property == SPDRP_DEVICEDESC ? REG_SZ : REG_MULTI_SZ;
    if (!element->registered) {
        if (Property == SPDRP_HARDWAREID) {
            element->hardwareIds.clear();
            std::string current;
            for (DWORD i = 0; i < PropertyBufferSize; ++i) {
                if (PropertyBuffer[i]) {
                    current += static_cast<char>(PropertyBuffer[i]);
                } else if (current.empty()) {
                    break;
                } else {
                    element->hardwareIds.push_back(current);
                    current.clear();
                }
            }
            if (!current.empty()) {
                element->hardwareIds.push_back(current);
            }
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (!SetValue(HKEY_LOCAL_MACHINE, EnumPath(element->instanceId), name->value, type, PropertyBuffer,
                  PropertyBufferSize)) {
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiSetSelectedDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    DeviceSet *set = nullptr;
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData, &set);
    if (!element) {
        return FALSE;
    }
    set->selected = element;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (!DeviceInstallParams || DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    *DeviceInstallParams = element->params;
    return TRUE;
}

// DriverPath must be a folder or, with DI_ENUMSINGLEINF, an INF file of the machine's drives.
BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (!DeviceInstallParams || DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::string path(DeviceInstallParams->DriverPath, strnlen(DeviceInstallParams->DriverPath, MAX_PATH));
    if (!path.empty()) {
        std::optional<std::string> host = link::HostPath(std::u16string(path.begin(), path.end()));
        std::error_code error;
        bool single = DeviceInstallParams->Flags & DI_ENUMSINGLEINF;
        if (!host || !(single ? std::filesystem::is_regular_file(*host, error)
                              : std::filesystem::is_directory(*host, error))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    element->params = *DeviceInstallParams;
    return TRUE;
}

// The compatible drivers of an element: the models, in the INF files DriverPath or the INF store
// offers, that list one of its hardware or compatible IDs. An empty list is no failure.
BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (DriverType != SPDIT_COMPATDRIVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    element->compatibleDrivers.clear();
    const std::vector<std::string> ids = IdsOf(*element);
    for (const std::string &path : InfFilesToSearch(element->params)) {
        if (std::optional<OpenInf> opened = ReadInf(path, nullptr); opened && opened->file.IsWin4()) {
            for (DriverEntry &entry : MatchingDrivers(path, opened->file, ids)) {
                element->compatibleDrivers.push_back(std::move(entry));
            }
        }
    }
    element->driverListBuilt = true;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
                                   DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (DriverType != SPDIT_COMPATDRIVER || !DriverInfoData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DriverInfoData->cbSize != sizeof(SP_DRVINFO_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= element->compatibleDrivers.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DriverEntry &entry = element->compatibleDrivers[MemberIndex];
    DWORD size = DriverInfoData->cbSize;
    std::memset(DriverInfoData, 0, sizeof *DriverInfoData);
    DriverInfoData->cbSize = size;
    DriverInfoData->DriverType = SPDIT_COMPATDRIVER;
    DriverInfoData->Reserved = entry.reserved;
    auto copy = [](CHAR *to, const std::string &from) {
        std::strncpy(to, from.c_str(), LINE_LEN - 1);
    };
    copy(DriverInfoData->Description, entry.description);
    copy(DriverInfoData->MfgName, entry.manufacturer);
    copy(DriverInfoData->ProviderName, entry.provider);
    return TRUE;
}

BOOL WINAPI SetupDiSetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      PSP_DRVINFO_DATA_A DriverInfoData)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (!DriverInfoData) {
        element->selectedDriver.reset();
        return TRUE;
    }
    for (const DriverEntry &entry : element->compatibleDrivers) {
        if (entry.reserved == DriverInfoData->Reserved) {
            element->selectedDriver = entry;
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    if (DriverType != SPDIT_COMPATDRIVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    element->compatibleDrivers.clear();
    element->driverListBuilt = false;
    return TRUE;
}

// The class installer requests this system needs, with no class installer or co-installer of
// their own (so each is the system's default handling): DIF_REGISTERDEVICE makes a new element's
// node (its key under Enum with HardwareID, ClassGUID and Class); DIF_ALLOW_INSTALL has no
// objection; DIF_INSTALLDEVICE installs the selected driver on the node and sets DI_NEEDREBOOT
// when the change waits for a restart. Other requests: ERROR_INVALID_PARAMETER.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData)
{
    DeviceElement *element = ElementOrError(DeviceInfoSet, DeviceInfoData);
    if (!element) {
        return FALSE;
    }
    switch (InstallFunction) {
    case DIF_REGISTERDEVICE: {
        if (element->registered) {
            SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
            return FALSE;
        }
        const std::string path = EnumPath(element->instanceId);
        std::vector<BYTE> ids = MultiStringData(element->hardwareIds);
        const std::string guid = GuidText(element->classGuid);
        DWORD configFlags = 0;
        bool ok = (element->hardwareIds.empty() ||
                   SetValue(HKEY_LOCAL_MACHINE, path, "HardwareID", REG_MULTI_SZ, ids.data(),
                            static_cast<DWORD>(ids.size()))) &&
                  SetString(HKEY_LOCAL_MACHINE, path, "ClassGUID", guid) &&
                  SetString(HKEY_LOCAL_MACHINE, path, "Class", element->className) &&
                  SetValue(HKEY_LOCAL_MACHINE, path, "ConfigFlags", REG_DWORD, &configFlags, 4);
        if (!ok) {
            return FALSE;
        }
        element->registered = true;
        link::RecordEvent("device created " + element->instanceId +
                          (element->hardwareIds.empty() ? "" : " " + element->hardwareIds.front()));
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case DIF_ALLOW_INSTALL:
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case DIF_INSTALLDEVICE: {
        if (!element->registered) {
            SetLastError(ERROR_NO_SUCH_DEVINST);
            return FALSE;
        }
        if (!element->selectedDriver) {
            SetLastError(ERROR_NO_DRIVER_SELECTED);
            return FALSE;
        }
        bool reboot = false;
        if (!InstallDriverOnDevice(*element->selectedDriver, element->instanceId, element->params.hwndParent,
                                   &reboot)) {
            return FALSE;
        }
        if (reboot) {
            element->params.Flags |= DI_NEEDREBOOT;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

} // extern "C"
