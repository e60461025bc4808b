#include <machine/FileSystem.h>
#include <tapkernel/Text.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace tapmachine {

namespace {

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && tapkernel::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::vector<std::u16string> Components(std::u16string_view path)
{
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : path) {
        if (c == u'\\' || c == u'/') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

struct DrivePath {
    char16_t drive;
    std::u16string below;  // the path below the drive's root
};

// The drive and the path below its root that a Windows path names, or nothing when it names no
// file on a drive.
std::optional<DrivePath> PathOnDrive(std::u16string_view path)
{
    for (std::u16string_view prefix : {u"\\??\\", u"\\DosDevices\\", u"\\\\?\\"}) {
        if (StartsWithNoCase(path, prefix)) {
            path.remove_prefix(prefix.size());
            break;
        }
    }
    if (StartsWithNoCase(path, u"\\SystemRoot\\") || tapkernel::EqualsNoCase(path, u"\\SystemRoot")) {
        return DrivePath{u'C', u"WINDOWS" + std::u16string(path.substr(11))};
    }
    if (path.size() >= 2 && path[1] == u':') {
        return DrivePath{tapkernel::UpcaseChar(path[0]), std::u16string(path.substr(2))};
    }
    if (!path.empty() && (path[0] == u'\\' || path[0] == u'/')) {
        return std::nullopt;  // another object-manager path, not a file
    }
    // Relative: below the Windows directory, as ImagePath values are.
    return DrivePath{u'C', u"WINDOWS\\" + std::u16string(path)};
}

}  // namespace

FileSystem::FileSystem(std::string rootDirectory) : root_(std::move(rootDirectory))
{
    if (root_.empty()) {
        std::string pattern = (fs::temp_directory_path() / "tapmachine-c-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a temporary folder for drive C:");
        }
        root_ = pattern;
        ownsRoot_ = true;
    }
    fs::create_directories(fs::path(root_) / "WINDOWS" / "system32" / "drivers");
    fs::create_directories(fs::path(root_) / "WINDOWS" / "inf");
}

FileSystem::~FileSystem()
{
    if (ownsRoot_) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

std::optional<std::string> FileSystem::HostPath(std::u16string_view windowsPath) const
{
    auto onDrive = PathOnDrive(windowsPath);
    if (!onDrive) {
        return std::nullopt;
    }
    std::string root = root_;
    if (onDrive->drive != u'C') {
        auto mounted = drives_.find(onDrive->drive);
        if (mounted == drives_.end()) {
            return std::nullopt;
        }
        root = mounted->second;
    }
    fs::path host(root);
    for (const std::u16string &part : Components(onDrive->below)) {
        if (part == u".") {
            continue;
        }
        if (part == u"..") {
            if (host != fs::path(root)) {
                host = host.parent_path();
            }
            continue;
        }
        std::string name = tapkernel::ToUtf8(part);
        std::error_code error;
        if (fs::is_directory(host, error)) {
            for (const auto &entry : fs::directory_iterator(host, error)) {
                std::string candidate = entry.path().filename().string();
                if (tapkernel::EqualsNoCase(tapkernel::ToUtf16(candidate), part)) {
                    name = candidate;
                    break;
                }
            }
        }
        host /= name;
    }
    return host.string();
}

void FileSystem::MountDrive(char16_t letter, std::string hostFolder)
{
    letter = tapkernel::UpcaseChar(letter);
    if (letter == u'C' || letter < u'A' || letter > u'Z') {
        throw std::invalid_argument("drive C: is the machine's own; another drive is a letter A..Z");
    }
    fs::create_directories(hostFolder);
    drives_[letter] = std::move(hostFolder);
}

std::string FileSystem::RequireHostPath(std::u16string_view windowsPath) const
{
    auto host = HostPath(windowsPath);
    if (!host) {
        throw std::invalid_argument("not a path on a drive of the machine: " + tapkernel::ToUtf8(windowsPath));
    }
    return *host;
}

bool FileSystem::Exists(std::u16string_view windowsPath) const
{
    auto host = HostPath(windowsPath);
    std::error_code error;
    return host && fs::exists(*host, error);
}

void FileSystem::CopyIn(const std::string &hostSource, std::u16string_view windowsPath)
{
    fs::path target = RequireHostPath(windowsPath);
    fs::create_directories(target.parent_path());
    fs::copy_file(hostSource, target, fs::copy_options::overwrite_existing);
}

void FileSystem::LinkIn(const std::string &hostSource, std::u16string_view windowsPath)
{
    fs::path target = RequireHostPath(windowsPath);
    fs::create_directories(target.parent_path());
    std::error_code ignored;
    fs::remove(target, ignored);
    fs::create_symlink(fs::absolute(hostSource), target);
}

void FileSystem::WriteText(std::u16string_view windowsPath, const std::string &contents)
{
    fs::path target = RequireHostPath(windowsPath);
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + target.string());
    }
}

std::string FileSystem::ReadText(std::u16string_view windowsPath) const
{
    std::ifstream in(RequireHostPath(windowsPath), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + tapkernel::ToUtf8(windowsPath));
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void FileSystem::Remove(std::u16string_view windowsPath)
{
    std::error_code ignored;
    fs::remove(RequireHostPath(windowsPath), ignored);
}

}  // namespace tapmachine
