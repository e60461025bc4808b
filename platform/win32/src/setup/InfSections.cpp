// INF files and their install sections: opening an INF, the system's INF store, registry
// sections (AddReg), services (AddService), the class of an INF, and the reboot prompt.
#include "SetupState.h"

#include "../SystemLink.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tapwin32::setup {

namespace {

constexpr char kWindowsDirectory[] = "C:\\WINDOWS";
constexpr char kInfDirectory[] = "C:\\WINDOWS\\inf\\";

// AddReg flags.
constexpr DWORD kBinaryValue = 0x00000001;   // FLG_ADDREG_BINVALUETYPE
constexpr DWORD kNoClobber = 0x00000002;     // FLG_ADDREG_NOCLOBBER
constexpr DWORD kDeleteValue = 0x00000004;   // FLG_ADDREG_DELVAL
constexpr DWORD kAppend = 0x00000008;        // FLG_ADDREG_APPEND
constexpr DWORD kKeyOnly = 0x00000010;       // FLG_ADDREG_KEYONLY
constexpr DWORD kOverwriteOnly = 0x00000020; // FLG_ADDREG_OVERWRITEONLY
constexpr DWORD kTypeMask = 0xFFFF0001;
// The value types of the flags' high word and low bit (0: FLG_ADDREG_TYPE_SZ, the default).
constexpr DWORD kTypeMultiSz = 0x00010000, kTypeExpandSz = 0x00020000, kTypeDword = 0x00010001,
                kTypeNone = 0x00020001;

constexpr DWORD kAssociatedService = 0x00000002; // SPSVCINST_ASSOCSERVICE

DWORD Number(const std::string &text)
{
    return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 0));
}

bool HasValue(HKEY root, const std::string &key, const std::string &name)
{
    return QueryValue(root, key, name).has_value();
}

// One AddReg line: reg-root, [subkey], [value-entry-name], [flags], [value]...
bool AddRegLine(const inf::Line &line, HKEY relativeRoot, const std::string &relativePath)
{
    const std::string rootName = line.Field(0);
    HKEY root = nullptr;
    std::string path = line.Field(1);
    if (inf::EqualNoCase(rootName, "HKR")) {
        if (!relativeRoot) {
            return true; // no relative key: the line does not apply here
        }
        root = relativeRoot;
        path = relativePath + (path.empty() || relativePath.empty() ? "" : "\\") + path;
    } else if (inf::EqualNoCase(rootName, "HKLM")) {
        root = HKEY_LOCAL_MACHINE;
    } else if (inf::EqualNoCase(rootName, "HKCU")) {
        root = HKEY_CURRENT_USER;
    } else if (inf::EqualNoCase(rootName, "HKCR")) {
        root = HKEY_CLASSES_ROOT;
    } else if (inf::EqualNoCase(rootName, "HKU")) {
        root = HKEY_USERS;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const bool hasName = line.fields.size() > 2;
    const std::string name = line.Field(2);
    const DWORD flags = Number(line.Field(3));
    if (!hasName || (flags & kKeyOnly)) {
        HKEY key;
        if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    if (flags & kDeleteValue) {
        return true; // nothing this system's INF files need
    }
    if ((flags & kNoClobber) && HasValue(root, path, name)) {
        return true;
    }
    if ((flags & kOverwriteOnly) && !HasValue(root, path, name)) {
        return true;
    }
    const DWORD type = flags & kTypeMask;
    std::vector<BYTE> data;
    DWORD regType = REG_SZ;
    if (type == kTypeDword) {
        regType = REG_DWORD;
        DWORD value = Number(line.Field(4));
        data.resize(4);
        std::memcpy(data.data(), &value, 4);
    } else if (type == kTypeMultiSz) {
        regType = REG_MULTI_SZ;
        std::vector<std::string> strings(line.fields.begin() + std::min<size_t>(4, line.fields.size()), line.fields.end());
        if (flags & kAppend) {
            std::vector<std::string> existing = QueryMultiString(root, path, name);
            for (const std::string &s : strings) {
                bool present = false;
                for (const std::string &e : existing) {
                    present = present || inf::EqualNoCase(e, s);
                }
                if (!present) {
                    existing.push_back(s);
                }
            }
            strings = existing;
        }
        data = MultiStringData(strings);
    } else if (type == kTypeNone || (type & kBinaryValue)) {
        regType = type == kTypeNone ? REG_NONE : (type >> 16 ? type >> 16 : REG_BINARY);
        for (size_t i = 4; i < line.fields.size(); ++i) {
            data.push_back(static_cast<BYTE>(std::strtoul(line.fields[i].c_str(), nullptr, 16)));
        }
    } else {
        regType = type == kTypeExpandSz ? REG_EXPAND_SZ : REG_SZ;
        std::string value = line.Field(4);
        data.assign(value.begin(), value.end());
        data.push_back(0);
    }
    return SetValue(root, path, name, regType, data.data(), static_cast<DWORD>(data.size()));
}

// The ImagePath of a ServiceBinary: relative to the Windows directory when it lies below it, as
// the system writes the path of a kernel driver.
std::string ImagePathOf(const std::string &binary)
{
    std::string full = inf::ExpandDirectoryIds(binary);
    const std::string prefix = std::string(kWindowsDirectory) + "\\";
    if (full.size() > prefix.size() && inf::EqualNoCase(full.substr(0, prefix.size()), prefix)) {
        return full.substr(prefix.size());
    }
    return full;
}

bool InstallService(const inf::InfFile &file, const inf::Line &line)
{
    const std::string service = line.Field(0);
    const std::string section = line.Field(2);
    if (service.empty() || !file.FindSection(section)) {
        SetLastError(service.empty() ? ERROR_INVALID_PARAMETER : ERROR_SECTION_NOT_FOUND);
        return false;
    }
    const std::string key = std::string(kServicesKey) + "\\" + service;
    auto dword = [&](const char *name, const char *entry) {
        std::optional<std::string> value = file.Value(section, entry);
        if (!value) {
            return true;
        }
        DWORD number = Number(*value);
        return SetValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &number, 4);
    };
    std::optional<std::string> binary = file.Value(section, "ServiceBinary");
    std::optional<std::string> type = file.Value(section, "ServiceType");
    std::optional<std::string> start = file.Value(section, "StartType");
    if (!binary || !type || !start) {
        SetLastError(ERROR_BAD_SECTION_NAME_LINE);
        return false;
    }
    bool ok = dword("Type", "ServiceType") && dword("Start", "StartType") && dword("ErrorControl", "ErrorControl");
    std::string imagePath = ImagePathOf(*binary);
    ok = ok && SetValue(HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ, imagePath.c_str(),
                        static_cast<DWORD>(imagePath.size() + 1));
    for (const auto &[name, entry] : {std::pair<const char *, const char *>{"DisplayName", "DisplayName"},
                                      {"Description", "Description"}, {"Group", "LoadOrderGroup"}}) {
        if (std::optional<std::string> value = file.Value(section, entry)) {
            ok = ok && SetString(HKEY_LOCAL_MACHINE, key, name, *value);
        }
    }
    for (const std::string &addReg : file.Values(section, "AddReg")) {
        ok = ok && ApplyAddReg(file, addReg, HKEY_LOCAL_MACHINE, key);
    }
    return ok;
}

std::string ReadHostFile(const std::string &host)
{
    std::ifstream in(host, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The INF in the store with the same contents as TEXT, or nothing.
std::optional<std::string> StoredCopyOf(const std::string &text, const std::string &storeHost)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(storeHost, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 7 && inf::EqualNoCase(name.substr(0, 3), "oem") &&
            inf::EqualNoCase(name.substr(name.size() - 4), ".inf") && ReadHostFile(entry.path().string()) == text) {
            return name;
        }
    }
    return std::nullopt;
}

} // namespace

bool ApplyAddReg(const inf::InfFile &file, const std::string &section, HKEY relativeRoot,
                 const std::string &relativePath)
{
    const inf::Section *s = file.FindSection(section);
    if (!s) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return false;
    }
    for (const inf::Line &line : s->lines) {
        if (!AddRegLine(line, relativeRoot, relativePath)) {
            return false;
        }
    }
    return true;
}

bool InstallServices(const inf::InfFile &file, const std::string &section, std::string *associated)
{
    const inf::Section *s = file.FindSection(section);
    if (!s) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return false;
    }
    for (const inf::Line &line : s->lines) {
        if (!line.key || !inf::EqualNoCase(*line.key, "AddService")) {
            continue;
        }
        if (!InstallService(file, line)) {
            return false;
        }
        if (associated && (Number(line.Field(1)) & kAssociatedService)) {
            *associated = line.Field(0);
        }
    }
    return true;
}

std::string DecoratedSection(const inf::InfFile &file, const std::string &section)
{
    for (const char *decoration : {".NTx86", ".NT"}) {
        if (file.FindSection(section + decoration)) {
            return section + decoration;
        }
    }
    return section;
}

} // namespace tapwin32::setup

using namespace tapwin32;
using namespace tapwin32::setup;

extern "C" {

// Opens an INF: a name without a folder is looked for in the system's INF directory. With
// INF_STYLE_WIN4 the [Version] signature must be a Windows 4.0 one (ERROR_WRONG_INF_STYLE); with
// InfClass the INF's class must be that one (ERROR_CLASS_MISMATCH). A syntax error gives its code
// and line in *ErrorLine. INVALID_HANDLE_VALUE on failure.
HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    if (!FileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = FileName;
    if (path.find_first_of("\\/:") == std::string::npos) {
        path = kInfDirectory + path;
    }
    std::optional<OpenInf> opened = ReadInf(path, ErrorLine);
    if (!opened) {
        return INVALID_HANDLE_VALUE;
    }
    if ((InfStyle & INF_STYLE_WIN4) && !opened->file.IsWin4()) {
        SetLastError(ERROR_WRONG_INF_STYLE);
        return INVALID_HANDLE_VALUE;
    }
    if (InfClass) {
        std::optional<std::string> name = opened->file.Value("Version", "Class");
        if (!name || !inf::EqualNoCase(*name, InfClass)) {
            SetLastError(ERROR_CLASS_MISMATCH);
            return INVALID_HANDLE_VALUE;
        }
    }
    auto *handle = new OpenInf(std::move(*opened));
    Register(handle, Kind::Inf);
    return handle;
}

VOID WINAPI SetupCloseInfFile(HINF InfHandle)
{
    if (auto *inf = Lookup<OpenInf>(InfHandle, Kind::Inf)) {
        Unregister(inf);
        delete inf;
    }
}

// Copies an INF into the system's store as oemN.inf (the lowest free N), and remembers where it
// came from (oemN.pnf holds its source folder, the media its files are copied from later). An INF
// the store holds already (the same contents) is not copied again: its stored name is returned,
// and with SP_COPY_NOOVERWRITE the call fails with ERROR_FILE_EXISTS, the stored name filled in
// all the same. The destination receives the full path, or ERROR_INSUFFICIENT_BUFFER and
// *RequiredSize.
BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                             DWORD CopyStyle, PSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PSTR *DestinationInfFileNameComponent)
{
    if (!SourceInfFileName || OEMSourceMediaType > SPOST_PATH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string source = SourceInfFileName;
    std::optional<std::string> sourceHost = link::HostPath(std::u16string(source.begin(), source.end()));
    std::optional<std::string> storeHost = link::HostPath(u"C:\\WINDOWS\\inf");
    std::error_code error;
    if (!sourceHost || !std::filesystem::is_regular_file(*sourceHost, error)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!storeHost) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::string text = ReadHostFile(*sourceHost);
    std::optional<std::string> stored = StoredCopyOf(text, *storeHost);
    const bool existed = stored.has_value();
    if (!stored) {
        for (unsigned n = 0; !stored; ++n) {
            std::string name = "oem" + std::to_string(n) + ".inf";
            if (!std::filesystem::exists(std::filesystem::path(*storeHost) / name, error)) {
                stored = name;
            }
        }
        std::ofstream(std::filesystem::path(*storeHost) / *stored, std::ios::binary) << text;
        std::string media = OEMSourceMediaLocation && *OEMSourceMediaLocation ? OEMSourceMediaLocation
                                                                              : FolderOf(source);
        std::string pnf = stored->substr(0, stored->size() - 4) + ".pnf";
        std::ofstream(std::filesystem::path(*storeHost) / pnf, std::ios::binary) << "SourcePath=" << media << "\r\n";
        link::RecordEvent("inf stored " + source + " as " + kInfDirectory + *stored);
    }
    const std::string full = kInfDirectory + *stored;
    if (RequiredSize) {
        *RequiredSize = static_cast<DWORD>(full.size() + 1);
    }
    if (DestinationInfFileName) {
        if (DestinationInfFileNameSize < full.size() + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(DestinationInfFileName, full.c_str(), full.size() + 1);
        if (DestinationInfFileNameComponent) {
            *DestinationInfFileNameComponent = DestinationInfFileName + (full.size() - stored->size());
        }
    }
    if (existed && (CopyStyle & SP_COPY_NOOVERWRITE)) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Queues the CopyFiles of an install section; the source root defaults to the INF's folder.
BOOL WINAPI SetupInstallFilesFromInfSectionA(HINF InfHandle, HINF, HSPFILEQ FileQueue, PCSTR SectionName,
                                             PCSTR SourceRootPath, UINT CopyFlags)
{
    auto *inf = Lookup<OpenInf>(InfHandle, Kind::Inf);
    auto *queue = Lookup<setup::FileQueue>(FileQueue, Kind::Queue);
    if (!inf || !queue) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!SectionName || !inf->file.FindSection(SectionName)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return FALSE;
    }
    std::string root = SourceRootPath ? SourceRootPath : FolderOf(inf->path);
    return QueueCopyFiles(*queue, inf->file, SectionName, root, CopyFlags) ? TRUE : FALSE;
}

// Carries out the parts of an install section that Flags names: SPINST_FILES (its CopyFiles,
// committed at once with MsgHandler), SPINST_REGISTRY (its AddReg; HKR is RelativeKeyRoot, and
// lines for HKR are skipped without one) and SPINST_INIFILES (this system's INF files have no INI
// entries, so there is nothing to do).
BOOL WINAPI SetupInstallFromInfSectionA(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
                                        HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags,
                                        PSP_FILE_CALLBACK_A MsgHandler, PVOID Context, HDEVINFO, PSP_DEVINFO_DATA)
{
    auto *inf = Lookup<OpenInf>(InfHandle, Kind::Inf);
    if (!inf) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!SectionName || !inf->file.FindSection(SectionName)) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return FALSE;
    }
    if (Flags & SPINST_FILES) {
        setup::FileQueue queue;
        std::string root = SourceRootPath ? SourceRootPath : FolderOf(inf->path);
        if (!MsgHandler || !QueueCopyFiles(queue, inf->file, SectionName, root, CopyFlags) ||
            !CommitQueue(Owner, queue, MsgHandler, Context)) {
            if (!MsgHandler) {
                SetLastError(ERROR_INVALID_PARAMETER);
            }
            return FALSE;
        }
    }
    if (Flags & SPINST_REGISTRY) {
        for (const std::string &section : inf->file.Values(SectionName, "AddReg")) {
            if (!ApplyAddReg(inf->file, section, RelativeKeyRoot, "")) {
                return FALSE;
            }
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Installs the services of a services section (AddService): each service's key with Type,
// Start, ErrorControl, ImagePath, DisplayName, Group, and its AddReg with HKR as the service key.
BOOL WINAPI SetupInstallServicesFromInfSectionA(HINF InfHandle, PCSTR SectionName, DWORD Flags)
{
    auto *inf = Lookup<OpenInf>(InfHandle, Kind::Inf);
    if (!inf) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Flags != 0 && (Flags & ~0x0FFFu)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (!SectionName || !InstallServices(inf->file, SectionName, nullptr)) {
        if (!SectionName) {
            SetLastError(ERROR_SECTION_NOT_FOUND);
        }
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The setup class of an INF: [Version] ClassGUID, and Class (or the class key's name for the GUID
// when the INF names none). ERROR_INSUFFICIENT_BUFFER with *RequiredSize when ClassName is short.
BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName, DWORD ClassNameSize,
                                PDWORD RequiredSize)
{
    if (!InfName || !ClassGuid || !ClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<OpenInf> opened = ReadInf(InfName, nullptr);
    if (!opened) {
        return FALSE;
    }
    std::optional<InfClass> infClass = ClassOf(opened->file);
    if (!infClass) {
        SetLastError(ERROR_NO_ASSOCIATED_CLASS);
        return FALSE;
    }
    if (infClass->name.empty()) {
        infClass->name = QueryString(HKEY_LOCAL_MACHINE, std::string(kClassKey) + "\\" + GuidText(infClass->guid), "Class")
                             .value_or("");
    }
    if (RequiredSize) {
        *RequiredSize = static_cast<DWORD>(infClass->name.size() + 1);
    }
    if (ClassNameSize < infClass->name.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(ClassName, infClass->name.c_str(), infClass->name.size() + 1);
    *ClassGuid = infClass->guid;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The system's question whether to restart now ("System Settings Change", Yes and No), owned by
// Owner. With a file queue and ScanOnly it only says whether the queue left files in use (here
// never: 0). Yes: SPFILEQ_REBOOT_IN_PROGRESS, and the machine logs the restart it would begin; No:
// SPFILEQ_REBOOT_RECOMMENDED.
INT WINAPI SetupPromptReboot(HSPFILEQ FileQueue, HWND Owner, BOOL ScanOnly)
{
    if (FileQueue && !Lookup<setup::FileQueue>(FileQueue, Kind::Queue)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (FileQueue && ScanOnly) {
        return 0;
    }
    constexpr uint32_t kYesNoQuestion = 0x04 | 0x20; // MB_YESNO | MB_ICONQUESTION
    constexpr int kYes = 6;                          // IDYES
    link::RecordEvent("reboot prompt");
    int answer = link::ShowMessageBox(Owner,
                                      "You must restart your computer before the new settings will take effect.\n\n"
                                      "Do you want to restart your computer now?",
                                      "System Settings Change", kYesNoQuestion);
    if (answer == kYes) {
        link::RecordEvent("reboot started");
        return SPFILEQ_REBOOT_IN_PROGRESS;
    }
    return SPFILEQ_REBOOT_RECOMMENDED;
}

} // extern "C"
