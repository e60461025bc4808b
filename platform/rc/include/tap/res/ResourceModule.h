// The resources of one program as the host resource compiler (taprc) lays them out: dialog
// templates, string tables, icons and bitmaps of one .rc script, as constant tables compiled into
// the program. On Windows the same script goes through windres into the module's resource
// section; on host the framework finds a program's resources through its ResourceModule.
//
// Dialog geometry stays in dialog units here, exactly as written in the script; the window system
// turns it into pixels with the base units of the dialog's font when it builds the dialog.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tap::res {

// One control of a dialog template (a DLGITEMTEMPLATEEX in the Windows binary form).
struct DialogControl {
    const char16_t* windowClass; // "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"
                                 // or another class name, in upper case as windres writes it
    const char16_t* text;        // window text; empty when the text is an ordinal
    uint16_t textOrdinal;        // resource id named instead of a text (icon of an ICON control), else 0
    int32_t id;
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;        // dialog units
};

// One DIALOG or DIALOGEX resource.
struct DialogTemplate {
    uint16_t id;
    uint16_t language;           // MAKELANGID(primary, sub)
    bool extended;               // DIALOGEX
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;        // dialog units
    const char16_t* caption;
    const char16_t* fontFace;    // empty without DS_SETFONT
    uint16_t fontPointSize;
    uint16_t fontWeight;
    bool fontItalic;
    const DialogControl* controls;
    size_t controlCount;
};

struct StringResource {
    uint16_t id;
    uint16_t language;
    const char16_t* text;
};

// An ICON or BITMAP resource: the bytes of the .ico or .bmp file the script names.
struct FileResource {
    uint16_t id;
    uint16_t language;
    const uint8_t* data;
    size_t size;
};

struct ResourceModule {
    const char* name;            // the script's file name, for messages
    const DialogTemplate* dialogs;
    size_t dialogCount;
    const StringResource* strings;
    size_t stringCount;
    const FileResource* icons;
    size_t iconCount;
    const FileResource* bitmaps;
    size_t bitmapCount;
    // DLGINIT resources: the list entries of a dialog template, by the dialog's id (records of
    // control id, message, length and text, ended by a zero id, as Windows stores them).
    const FileResource* dialogInits;
    size_t dialogInitCount;

    // The lookups return nullptr when the module has no resource of that id; like FindResource
    // they take the first one in script order when several languages carry the same id.
    const DialogTemplate* FindDialog(uint16_t id) const;
    const StringResource* FindString(uint16_t id) const;
    const FileResource* FindIcon(uint16_t id) const;
    const FileResource* FindBitmap(uint16_t id) const;
    const FileResource* FindDialogInit(uint16_t id) const;
};

} // namespace tap::res
