// What the resource compiler read from a script: the resources in script order, with their
// languages, before they are written out as tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Diagnostics.h"

namespace tap::rc {

struct Control {
    std::u16string windowClass;
    std::u16string text;
    uint16_t textOrdinal = 0;
    int32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
};

struct Dialog {
    uint16_t id = 0;
    uint16_t language = 0;
    bool extended = false;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::u16string caption;
    std::u16string fontFace;
    uint16_t fontPointSize = 0;
    uint16_t fontWeight = 0;
    bool fontItalic = false;
    std::vector<Control> controls;
};

struct StringEntry {
    uint16_t id = 0;
    uint16_t language = 0;
    std::u16string text;
};

struct FileEntry {
    uint16_t id = 0;
    uint16_t language = 0;
    std::string path;        // resolved path of the file
    std::vector<uint8_t> bytes;
};

// A resource of raw bytes (DLGINIT: the list entries of a dialog template).
struct DataEntry {
    uint16_t id = 0;
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
};

struct Script {
    std::vector<Dialog> dialogs;
    std::vector<DataEntry> dialogInits;
    std::vector<StringEntry> strings;
    std::vector<FileEntry> icons;
    std::vector<FileEntry> bitmaps;
    std::vector<std::string> filesRead; // the script, its headers and its icon and bitmap files
};

struct CompileOptions {
    std::vector<std::string> includeDirs;
};

// Reads the script at PATH. Throws CompileError naming the file and line of the first fault.
Script CompileScript(const std::string& path, const CompileOptions& options);
// The same for script text given in memory (PATH names it and anchors relative file names).
Script CompileScriptText(const std::string& path, const std::string& text, const CompileOptions& options);

} // namespace tap::rc
