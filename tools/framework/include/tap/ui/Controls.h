// The controls of a dialog, reached by their resource id. Each is a thin view of the control
// window; creating one does not create a control.
#pragma once

#include <string>
#include <string_view>

#include "tap/ui/Window.h"

namespace tap::ui {

class Dialog;

class Control : public WindowRef {
public:
    Control(const WindowRef& dialog, int id);
    int Id() const { return id_; }

private:
    int id_;
};

// Push buttons, check boxes, radio buttons (auto radio buttons check themselves and uncheck the
// others of their group when clicked), group boxes, and buttons that show an icon.
class Button : public Control {
public:
    using Control::Control;
    bool IsChecked() const;
    void SetCheck(bool checked);
    // BM_SETIMAGE with an icon; returns the previous one.
    IconHandle SetIcon(IconHandle icon);
    // BM_CLICK: as if the user clicked the button.
    void Click();
};

class StaticText : public Control {
public:
    using Control::Control;
};

class Edit : public Control {
public:
    using Control::Control;
    void SetReadOnly(bool readOnly);
};

// A list of strings: list boxes and combo boxes (drop-down and drop-down list) share it.
// Indexes start at 0; -1 means "no selection".
class ListControl : public Control {
public:
    // The message numbers of one kind of list (CB_* or LB_*).
    struct Messages {
        uint32_t add, insert, erase, reset, count, getSelection, setSelection, getText, getTextLength, findExact;
    };

    int AddString(std::string_view text);
    int InsertString(int index, std::string_view text);
    int DeleteString(int index);
    void ResetContent();
    int Count() const;
    int CurrentSelection() const;
    // Selects INDEX (-1 clears the selection); returns the index, or -1 when out of range.
    int SetCurrentSelection(int index);
    std::string ItemText(int index) const;
    int FindStringExact(std::string_view text, int after = -1) const;

protected:
    ListControl(const WindowRef& dialog, int id, const Messages& messages);

private:
    const Messages& messages_;
};

class ComboBox : public ListControl {
public:
    ComboBox(const WindowRef& dialog, int id);
};

class ListBox : public ListControl {
public:
    ListBox(const WindowRef& dialog, int id);
};

// An up-down (spin) control; with a buddy edit it writes its position there as a number.
class UpDown : public Control {
public:
    using Control::Control;
    WindowRef SetBuddy(const WindowRef& buddy);
    void SetRange(int lower, int upper);
    int SetPosition(int position);
    int Position() const;
};

class Trackbar : public Control {
public:
    using Control::Control;
    void SetRange(int minimum, int maximum, bool redraw = true);
    void SetPosition(int position, bool redraw = true);
    int Position() const;
    int RangeMin() const;
    int RangeMax() const;
};

class ProgressBar : public Control {
public:
    using Control::Control;
    void SetRange(int minimum, int maximum);
    int SetPosition(int position);
    int SetStep(int step);
    int StepIt();
    int Position() const;
};

} // namespace tap::ui
