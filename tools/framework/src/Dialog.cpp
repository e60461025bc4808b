#include "tap/ui/Dialog.h"

#include "DialogDispatch.h"
#include "tap/ui/backend/Messages.h"
#include "tap/ui/backend/System.h"
#include "tap/ui/Application.h"
#include "tap/ui/Controls.h"

namespace tap::ui {
namespace {

uint16_t Low(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
uint16_t High(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

// The client point of a mouse message: signed 16-bit x and y in lParam.
Point MousePoint(intptr_t lParam)
{
    return {static_cast<int16_t>(Low(static_cast<uintptr_t>(lParam))),
            static_cast<int16_t>(High(static_cast<uintptr_t>(lParam)))};
}

ModuleHandle CurrentModule()
{
    Application* application = Application::Current();
    return application ? application->Module() : nullptr;
}

// Text of a DLGINIT record: single-byte characters (Latin-1) as UTF-8.
std::string EntryText(const uint8_t* bytes, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length && bytes[i]; ++i) {
        if (bytes[i] < 0x80) {
            text += static_cast<char>(bytes[i]);
        } else {
            text += static_cast<char>(0xC0 | (bytes[i] >> 6));
            text += static_cast<char>(0x80 | (bytes[i] & 0x3F));
        }
    }
    return text;
}

// The list entries the dialog template carries (its DLGINIT resource), added to its combo and
// list boxes before OnInitDialog runs: records of control id (16 bits), message (16 bits: 0x403
// a combo box's entry, 0x401 a list box's), length (32 bits) and text, ended by a zero id.
void AddTemplateEntries(const WindowRef& dialog, ResourceId templateId)
{
    constexpr uint16_t kComboEntry = 0x403, kListEntry = 0x401;
    std::vector<uint8_t> data;
    if (!sys::LoadDialogInit(CurrentModule(), templateId, data)) {
        return;
    }
    size_t at = 0;
    auto word = [&data](size_t i) { return static_cast<uint16_t>(data[i] | (data[i + 1] << 8)); };
    while (at + 8 <= data.size()) {
        const uint16_t id = word(at);
        const uint16_t kind = word(at + 2);
        const uint32_t length = word(at + 4) | (static_cast<uint32_t>(word(at + 6)) << 16);
        at += 8;
        if (id == 0 || length > data.size() - at) {
            return;
        }
        const std::string text = EntryText(&data[at], length);
        if (kind == kComboEntry) {
            ComboBox(dialog, id).AddString(text);
        } else if (kind == kListEntry) {
            ListBox(dialog, id).AddString(text);
        }
        at += length;
    }
}

} // namespace

namespace detail {

intptr_t DialogDispatch::Dispatch(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (!dialog_.Handle()) {
        dialog_.Attach(window);
    }
    return dialog_.Dispatch(message, wParam, lParam);
}

} // namespace detail

Dialog::Dialog(ResourceId templateId, WindowHandle parent)
    : templateId_(templateId), parent_(parent), dispatch_(std::make_unique<detail::DialogDispatch>(*this))
{
}

Dialog::~Dialog()
{
    if (Exists()) {
        sys::DestroyWindowHandle(Handle());
    }
}

intptr_t Dialog::RunModal()
{
    return sys::RunDialog(CurrentModule(), templateId_, parent_, dispatch_.get());
}

bool Dialog::CreateModeless()
{
    return sys::CreateDialogWindow(CurrentModule(), templateId_, parent_, dispatch_.get()) != nullptr;
}

void Dialog::EndDialog(intptr_t result)
{
    sys::EndDialogRun(Handle(), result);
}

WindowRef Dialog::Item(int id) const
{
    return WindowRef(sys::DialogItem(Handle(), id));
}

void Dialog::CheckRadioButton(int first, int last, int id)
{
    sys::CheckRadioButtons(Handle(), first, last, id);
}

intptr_t Dialog::Default()
{
    return sys::DefaultProcessing(Handle(), current_.message, current_.wParam, current_.lParam);
}

intptr_t Dialog::Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    const CurrentMessage outer = current_;
    current_ = {message, wParam, lParam};
    intptr_t result = 0;
    switch (message) {
    case msg::InitDialog:
        AddTemplateEntries(*this, templateId_);
        result = OnInitDialog() ? 1 : 0;
        break;
    case msg::Paint: OnPaint(); break;
    case msg::LButtonDown: OnLButtonDown(static_cast<uint32_t>(wParam), MousePoint(lParam)); break;
    case msg::LButtonUp: OnLButtonUp(static_cast<uint32_t>(wParam), MousePoint(lParam)); break;
    case msg::RButtonUp: OnRButtonUp(static_cast<uint32_t>(wParam), MousePoint(lParam)); break;
    case msg::MButtonUp: OnMButtonUp(static_cast<uint32_t>(wParam), MousePoint(lParam)); break;
    case msg::Timer: OnTimer(wParam); break;
    case msg::Command:
        if (!OnCommand(Low(wParam), High(wParam))) {
            result = Default();
        }
        break;
    case msg::Notify: {
        const auto* header = reinterpret_cast<const msg::NotifyHeader*>(lParam);
        result = OnNotify(static_cast<int>(header->id), header->code, lParam);
        break;
    }
    case msg::HScroll:
    case msg::VScroll:
        OnScroll(message == msg::HScroll, Low(wParam), static_cast<int16_t>(High(wParam)),
                 reinterpret_cast<WindowHandle>(lParam));
        break;
    case msg::SysCommand: OnSysCommand(static_cast<uint32_t>(wParam), lParam); break;
    case msg::QueryDragIcon: result = reinterpret_cast<intptr_t>(OnQueryDragIcon()); break;
    case msg::CancelMode: OnCancelMode(); break;
    case msg::Close: OnClose(); break;
    case msg::Destroy: OnDestroy(); break;
    case msg::NcDestroy:
        result = Default();
        Attach(nullptr);
        break;
    default: result = Default(); break;
    }
    current_ = outer;
    return result;
}

bool Dialog::OnInitDialog()
{
    Default();
    return true;
}

void Dialog::OnPaint() { Default(); }
void Dialog::OnLButtonDown(uint32_t, Point) { Default(); }
void Dialog::OnLButtonUp(uint32_t, Point) { Default(); }
void Dialog::OnRButtonUp(uint32_t, Point) { Default(); }
void Dialog::OnMButtonUp(uint32_t, Point) { Default(); }
void Dialog::OnTimer(TimerId) { Default(); }

bool Dialog::OnCommand(int id, int)
{
    if (id == answer::Ok) {
        OnOK();
        return true;
    }
    if (id == answer::Cancel) {
        OnCancel();
        return true;
    }
    return false;
}

intptr_t Dialog::OnNotify(int, int, intptr_t) { return Default(); }
void Dialog::OnScroll(bool, int, int, WindowHandle) { Default(); }
void Dialog::OnSysCommand(uint32_t, intptr_t) { Default(); }
IconHandle Dialog::OnQueryDragIcon() { return reinterpret_cast<IconHandle>(Default()); }
void Dialog::OnCancelMode() { Default(); }
void Dialog::OnClose() { Default(); }
void Dialog::OnDestroy() { Default(); }
void Dialog::OnOK() { EndDialog(answer::Ok); }
void Dialog::OnCancel() { EndDialog(answer::Cancel); }

} // namespace tap::ui
