// How CreateFileA reads a file name: a device in the object namespace (\\.\Name, or a DOS device
// name such as COM3) or a path on a drive, made absolute against the process's current directory.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tapwin32 {

struct ResolvedName {
    enum class Kind { Device, Disk, Invalid };
    Kind kind = Kind::Invalid;
    std::u16string kernelName; // Device: \??\Name
    std::string path;          // Disk: X:\dir\file, normalised
    DWORD error = ERROR_SUCCESS; // Invalid: the error CreateFileA reports
};

ResolvedName ResolveFileName(std::string_view name, std::string_view currentDirectory);

} // namespace tapwin32
