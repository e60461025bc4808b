// The simulated PC's drive C:, kept in a host folder, and further drives (the installation media
// at D:) mounted from host folders.
//
// The Windows directory is C:\WINDOWS with system32, system32\drivers and inf below it. Windows
// paths name files on it in the forms the system uses: C:\..., \??\C:\..., \DosDevices\C:\...,
// \SystemRoot\... (the Windows directory), and paths relative to the Windows directory
// (system32\drivers\x.sys, as a service's ImagePath may be). Names are matched without regard to
// case against what exists, as on Windows; new components keep the case they are given in.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tapmachine {

class FileSystem {
public:
    // An empty root makes a fresh temporary folder, removed again with the file system.
    explicit FileSystem(std::string rootDirectory = {});
    ~FileSystem();
    FileSystem(const FileSystem &) = delete;
    FileSystem &operator=(const FileSystem &) = delete;

    const std::string &root() const { return root_; }

    // Makes drive LETTER (not C) the host folder given (made if missing); a drive mounted again
    // moves to the new folder.
    void MountDrive(char16_t letter, std::string hostFolder);

    // The host path of a Windows path on drive C: or a mounted drive, or nothing for any other
    // drive or form.
    std::optional<std::string> HostPath(std::u16string_view windowsPath) const;
    // Same, throwing std::invalid_argument when the path is not on C:.
    std::string RequireHostPath(std::u16string_view windowsPath) const;

    bool Exists(std::u16string_view windowsPath) const;
    // Copies a host file to a Windows path, making the folders on the way.
    void CopyIn(const std::string &hostSource, std::u16string_view windowsPath);
    // Makes the Windows path a symbolic link to a host file (a build output, say).
    void LinkIn(const std::string &hostSource, std::u16string_view windowsPath);
    void WriteText(std::u16string_view windowsPath, const std::string &contents);
    std::string ReadText(std::u16string_view windowsPath) const;
    void Remove(std::u16string_view windowsPath);

private:
    std::string root_;
    bool ownsRoot_ = false;
    std::map<char16_t, std::string> drives_;  // mounted drives other than C:
};

}  // namespace tapmachine
