// What the parts of the Setup API share: the handle registry, reading INF files, GUIDs and the
// registry helpers.
#include "SetupState.h"

#include "../SystemLink.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace tapwin32::setup {

const char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

namespace {

std::mutex handlesMutex;
std::map<const void *, Kind> &Handles()
{
    static std::map<const void *, Kind> handles;
    return handles;
}

} // namespace

void Register(void *object, Kind kind)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    Handles()[object] = kind;
}

void Unregister(void *object)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    Handles().erase(object);
}

bool IsLive(const void *object, Kind kind)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto found = Handles().find(object);
    return found != Handles().end() && found->second == kind;
}

std::optional<OpenInf> ReadInf(const std::string &windowsPath, UINT *errorLine)
{
    std::optional<std::string> host = link::HostPath(std::u16string(windowsPath.begin(), windowsPath.end()));
    std::ifstream in;
    if (host) {
        in.open(*host, std::ios::binary);
    }
    if (!in) {
        SetLastError(host ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    inf::ParseError error{};
    std::optional<inf::InfFile> file = inf::InfFile::Parse(text.str(), &error);
    if (!file) {
        if (errorLine) {
            *errorLine = error.line;
        }
        SetLastError(error.code);
        return std::nullopt;
    }
    return OpenInf{windowsPath, std::move(*file)};
}

std::string FileNameOf(const std::string &path)
{
    size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string FolderOf(const std::string &path)
{
    size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::optional<InfClass> ClassOf(const inf::InfFile &file)
{
    std::optional<std::string> guidText = file.Value("Version", "ClassGUID");
    std::optional<std::string> name = file.Value("Version", "Class");
    if (!guidText && !name) {
        return std::nullopt;
    }
    InfClass result;
    if (guidText) {
        std::optional<GUID> guid = ParseGuid(*guidText);
        if (!guid) {
            return std::nullopt;
        }
        result.guid = *guid;
    }
    result.name = name.value_or("");
    return result;
}

std::string GuidText(const GUID &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> ParseGuid(std::string_view text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return std::nullopt;
    }
    std::string inner(text.substr(1, 36));
    unsigned data1, data2, data3, b[8];
    char tail;
    if (std::sscanf(inner.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &data1, &data2, &data3, &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &tail) != 11 ||
        inner[8] != '-' || inner[13] != '-' || inner[18] != '-' || inner[23] != '-') {
        return std::nullopt;
    }
    GUID guid;
    guid.Data1 = data1;
    guid.Data2 = static_cast<unsigned short>(data2);
    guid.Data3 = static_cast<unsigned short>(data3);
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = static_cast<unsigned char>(b[i]);
    }
    return guid;
}

bool SameGuid(const GUID &a, const GUID &b)
{
    return GuidText(a) == GuidText(b);
}

std::optional<std::vector<BYTE>> QueryValue(HKEY root, const std::string &key, const std::string &name, DWORD *type)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    DWORD valueType = 0;
    std::optional<std::vector<BYTE>> data;
    if (RegQueryValueExA(handle, name.empty() ? nullptr : name.c_str(), nullptr, &valueType, nullptr, &size) ==
        ERROR_SUCCESS) {
        std::vector<BYTE> bytes(size);
        if (RegQueryValueExA(handle, name.empty() ? nullptr : name.c_str(), nullptr, &valueType, bytes.data(),
                             &size) == ERROR_SUCCESS) {
            bytes.resize(size);
            data = std::move(bytes);
            if (type) {
                *type = valueType;
            }
        }
    }
    RegCloseKey(handle);
    return data;
}

std::optional<std::string> QueryString(HKEY root, const std::string &key, const std::string &name)
{
    std::optional<std::vector<BYTE>> data = QueryValue(root, key, name);
    if (!data) {
        return std::nullopt;
    }
    std::string text(data->begin(), data->end());
    size_t nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}

std::vector<std::string> QueryMultiString(HKEY root, const std::string &key, const std::string &name)
{
    std::vector<std::string> strings;
    std::optional<std::vector<BYTE>> data = QueryValue(root, key, name);
    if (!data) {
        return strings;
    }
    std::string current;
    for (BYTE c : *data) {
        if (c != 0) {
            current += static_cast<char>(c);
        } else if (current.empty()) {
            break;
        } else {
            strings.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) {
        strings.push_back(current);
    }
    return strings;
}

bool SetValue(HKEY root, const std::string &key, const std::string &name, DWORD type, const void *data, DWORD size)
{
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG result = RegSetValueExA(handle, name.empty() ? nullptr : name.c_str(), 0, type,
                                 static_cast<const BYTE *>(data), size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
    }
    return result == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::string &key, const std::string &name, const std::string &value)
{
    return SetValue(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

std::vector<BYTE> MultiStringData(const std::vector<std::string> &strings)
{
    std::vector<BYTE> data;
    for (const std::string &s : strings) {
        data.insert(data.end(), s.begin(), s.end());
        data.push_back(0);
    }
    data.push_back(0);
    return data;
}

} // namespace tapwin32::setup
