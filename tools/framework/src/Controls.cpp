#include "tap/ui/Controls.h"

#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/ui/backend/Text.h"

namespace tap::ui {
namespace {

const ListControl::Messages kComboMessages = {
    msg::ComboAddString, msg::ComboInsertString, msg::ComboDeleteString, msg::ComboResetContent,
    msg::ComboGetCount,  msg::ComboGetCurSel,    msg::ComboSetCurSel,    msg::ComboGetLbText,
    msg::ComboGetLbTextLen, msg::ComboFindStringExact};

const ListControl::Messages kListMessages = {
    msg::ListAddString, msg::ListInsertString, msg::ListDeleteString, msg::ListResetContent,
    msg::ListGetCount,  msg::ListGetCurSel,    msg::ListSetCurSel,    msg::ListGetText,
    msg::ListGetTextLen, msg::ListFindStringExact};

intptr_t Text16(const std::u16string& text)
{
    return reinterpret_cast<intptr_t>(text.c_str());
}

} // namespace

Control::Control(const WindowRef& dialog, int id) : WindowRef(sys::DialogItem(dialog.Handle(), id)), id_(id) {}

bool Button::IsChecked() const
{
    return Send(msg::ButtonGetCheck) == 1;
}

void Button::SetCheck(bool checked)
{
    Send(msg::ButtonSetCheck, checked ? 1 : 0);
}

IconHandle Button::SetIcon(IconHandle icon)
{
    return reinterpret_cast<IconHandle>(Send(msg::ButtonSetImage, msg::ImageIcon, reinterpret_cast<intptr_t>(icon)));
}

void Button::Click()
{
    Send(msg::ButtonClick);
}

void Edit::SetReadOnly(bool readOnly)
{
    Send(msg::EditSetReadOnly, readOnly ? 1 : 0);
}

ListControl::ListControl(const WindowRef& dialog, int id, const Messages& messages)
    : Control(dialog, id), messages_(messages)
{
}

int ListControl::AddString(std::string_view text)
{
    return static_cast<int>(Send(messages_.add, 0, Text16(ToUtf16(text))));
}

int ListControl::InsertString(int index, std::string_view text)
{
    return static_cast<int>(Send(messages_.insert, static_cast<uintptr_t>(index), Text16(ToUtf16(text))));
}

int ListControl::DeleteString(int index)
{
    return static_cast<int>(Send(messages_.erase, static_cast<uintptr_t>(index)));
}

void ListControl::ResetContent()
{
    Send(messages_.reset);
}

int ListControl::Count() const
{
    return static_cast<int>(Send(messages_.count));
}

int ListControl::CurrentSelection() const
{
    return static_cast<int>(Send(messages_.getSelection));
}

int ListControl::SetCurrentSelection(int index)
{
    return static_cast<int>(Send(messages_.setSelection, static_cast<uintptr_t>(index)));
}

std::string ListControl::ItemText(int index) const
{
    intptr_t length = Send(messages_.getTextLength, static_cast<uintptr_t>(index));
    if (length < 0) {
        return {};
    }
    std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
    Send(messages_.getText, static_cast<uintptr_t>(index), reinterpret_cast<intptr_t>(&buffer[0]));
    buffer.resize(static_cast<size_t>(length));
    return ToUtf8(buffer);
}

int ListControl::FindStringExact(std::string_view text, int after) const
{
    return static_cast<int>(Send(messages_.findExact, static_cast<uintptr_t>(after), Text16(ToUtf16(text))));
}

ComboBox::ComboBox(const WindowRef& dialog, int id) : ListControl(dialog, id, kComboMessages) {}

ListBox::ListBox(const WindowRef& dialog, int id) : ListControl(dialog, id, kListMessages) {}

WindowRef UpDown::SetBuddy(const WindowRef& buddy)
{
    return WindowRef(reinterpret_cast<WindowHandle>(Send(msg::UpDownSetBuddy, reinterpret_cast<uintptr_t>(buddy.Handle()))));
}

void UpDown::SetRange(int lower, int upper)
{
    Send(msg::UpDownSetRange32, static_cast<uintptr_t>(lower), upper);
}

int UpDown::SetPosition(int position)
{
    return static_cast<int>(Send(msg::UpDownSetPos32, 0, position));
}

int UpDown::Position() const
{
    return static_cast<int>(Send(msg::UpDownGetPos32));
}

void Trackbar::SetRange(int minimum, int maximum, bool redraw)
{
    Send(msg::TrackbarSetRangeMin, 0, minimum);
    Send(msg::TrackbarSetRangeMax, redraw ? 1 : 0, maximum);
}

void Trackbar::SetPosition(int position, bool redraw)
{
    Send(msg::TrackbarSetPos, redraw ? 1 : 0, position);
}

int Trackbar::Position() const
{
    return static_cast<int>(Send(msg::TrackbarGetPos));
}

int Trackbar::RangeMin() const
{
    return static_cast<int>(Send(msg::TrackbarGetRangeMin));
}

int Trackbar::RangeMax() const
{
    return static_cast<int>(Send(msg::TrackbarGetRangeMax));
}

void ProgressBar::SetRange(int minimum, int maximum)
{
    Send(msg::ProgressSetRange32, static_cast<uintptr_t>(minimum), maximum);
}

int ProgressBar::SetPosition(int position)
{
    return static_cast<int>(Send(msg::ProgressSetPos, static_cast<uintptr_t>(position)));
}

int ProgressBar::SetStep(int step)
{
    return static_cast<int>(Send(msg::ProgressSetStep, static_cast<uintptr_t>(step)));
}

int ProgressBar::StepIt()
{
    return static_cast<int>(Send(msg::ProgressStepIt));
}

int ProgressBar::Position() const
{
    return static_cast<int>(Send(msg::ProgressGetPos));
}

} // namespace tap::ui
