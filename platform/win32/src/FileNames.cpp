#include "FileNames.h"

#include "Ansi.h"

#include <cctype>
#include <vector>

namespace tapwin32 {

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsDriveLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char &c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

// CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9, with an optional colon and trailing spaces, in
// any case: the names that every directory holds. (COM10 and above are reached only as \\.\COM10.)
bool IsDosDeviceName(std::string_view name, std::string *device)
{
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    if (!name.empty() && name.back() == ':') {
        name.remove_suffix(1);
    }
    std::string upper = Upper(name);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") {
        *device = upper;
        return true;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) && upper[3] >= '1' &&
        upper[3] <= '9') {
        *device = upper;
        return true;
    }
    return false;
}

ResolvedName Invalid(DWORD error)
{
    ResolvedName resolved;
    resolved.kind = ResolvedName::Kind::Invalid;
    resolved.error = error;
    return resolved;
}

// "X:" followed by components: '.' and '..' resolved, separators made single backslashes.
ResolvedName NormaliseDiskPath(const std::string &absolute)
{
    for (size_t i = 2; i < absolute.size(); ++i) {
        char c = absolute[i];
        if (c == '<' || c == '>' || c == '|' || c == '"' || c == '*' || c == '?' || c == ':' ||
            static_cast<unsigned char>(c) < 0x20) {
            return Invalid(ERROR_INVALID_NAME);
        }
    }
    std::vector<std::string> components;
    std::string component;
    auto flush = [&]() {
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        component.clear();
    };
    for (size_t i = 2; i < absolute.size(); ++i) {
        if (IsSeparator(absolute[i])) {
            flush();
        } else {
            component.push_back(absolute[i]);
        }
    }
    flush();
    ResolvedName resolved;
    resolved.kind = ResolvedName::Kind::Disk;
    resolved.path = Upper(absolute.substr(0, 1)) + ":";
    if (components.empty()) {
        resolved.path += '\\';
    }
    for (const std::string &part : components) {
        resolved.path += '\\';
        resolved.path += part;
    }
    return resolved;
}

} // namespace

ResolvedName ResolveFileName(std::string_view name, std::string_view currentDirectory)
{
    if (name.empty()) {
        return Invalid(ERROR_PATH_NOT_FOUND);
    }
    // \\.\Name: the object namespace, through \??. \\.\C:\... and \\?\C:\... are paths.
    if (name.size() >= 4 && IsSeparator(name[0]) && IsSeparator(name[1]) && (name[2] == '.' || name[2] == '?') &&
        IsSeparator(name[3])) {
        std::string_view rest = name.substr(4);
        if (rest.size() >= 3 && IsDriveLetter(rest[0]) && rest[1] == ':' && IsSeparator(rest[2])) {
            return NormaliseDiskPath(std::string(rest));
        }
        if (rest.empty()) {
            return Invalid(ERROR_PATH_NOT_FOUND);
        }
        ResolvedName resolved;
        resolved.kind = ResolvedName::Kind::Device;
        resolved.kernelName = u"\\??\\" + AnsiToUtf16(rest);
        return resolved;
    }
    std::string device;
    if (IsDosDeviceName(name, &device)) {
        ResolvedName resolved;
        resolved.kind = ResolvedName::Kind::Device;
        resolved.kernelName = u"\\??\\" + AnsiToUtf16(device);
        return resolved;
    }
    if (IsSeparator(name[0]) && name.size() >= 2 && IsSeparator(name[1])) {
        return Invalid(ERROR_PATH_NOT_FOUND); // \\server\share: no network on this machine
    }
    std::string absolute;
    if (name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == ':') {
        if (name.size() >= 3 && IsSeparator(name[2])) {
            absolute = std::string(name);
        } else if (currentDirectory.size() >= 2 && std::toupper(static_cast<unsigned char>(currentDirectory[0])) ==
                                                       std::toupper(static_cast<unsigned char>(name[0]))) {
            absolute = std::string(currentDirectory) + "\\" + std::string(name.substr(2)); // X:file
        } else {
            absolute = std::string(name.substr(0, 2)) + "\\" + std::string(name.substr(2));
        }
    } else if (IsSeparator(name[0])) {
        absolute = std::string(currentDirectory.substr(0, 2)) + std::string(name); // root of the current drive
    } else {
        absolute = std::string(currentDirectory) + "\\" + std::string(name);
    }
    return NormaliseDiskPath(absolute);
}

} // namespace tapwin32
