// Dialogs from templates, the modal loop, the dialog manager's keys, and message boxes.
#include <algorithm>

#include "tap/ui/backend/Text.h"
#include "Host.h"
#include "tap/desktop/Font.h"

namespace tap::ui::host {
namespace {

constexpr uint32_t kDefPushButton = 0x1;
constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kAutoRadioButton = 0x9;
constexpr uint32_t kStaticIcon = 0x3;
constexpr uint32_t kStaticTypeMask = 0x1F;

std::optional<WindowKind> KindOfClass(const std::u16string& name)
{
    static const std::map<std::u16string, WindowKind> classes = {
        {u"BUTTON", WindowKind::Button},          {u"STATIC", WindowKind::Static},
        {u"EDIT", WindowKind::Edit},              {u"COMBOBOX", WindowKind::ComboBox},
        {u"LISTBOX", WindowKind::ListBox},        {u"MSCTLS_UPDOWN32", WindowKind::UpDown},
        {u"MSCTLS_TRACKBAR32", WindowKind::Trackbar}, {u"MSCTLS_PROGRESS32", WindowKind::Progress},
    };
    auto it = classes.find(name);
    return it == classes.end() ? std::nullopt : std::optional<WindowKind>(it->second);
}

// The top-level window a window belongs to, and whether that is a dialog-like window.
WindowHandle DialogOfLocked(WindowHandle window)
{
    HostWindow* w = FindLocked(window);
    while (w && w->parent && w->kind != WindowKind::Dialog && w->kind != WindowKind::Sheet &&
           w->kind != WindowKind::MessageBox) {
        w = FindLocked(w->parent);
    }
    // A property page is a child dialog: its keys belong to the sheet.
    while (w && w->parent && w->kind == WindowKind::Dialog) {
        HostWindow* parent = FindLocked(w->parent);
        if (!parent || parent->kind != WindowKind::Sheet) {
            break;
        }
        w = parent;
    }
    if (!w || (w->kind != WindowKind::Dialog && w->kind != WindowKind::Sheet && w->kind != WindowKind::MessageBox)) {
        return nullptr;
    }
    return w->handle;
}

bool CanTakeFocusLocked(const HostWindow& w)
{
    return (w.style & kTabStop) && (w.style & kVisible) && !(w.style & kDisabled);
}

// Controls of DIALOG in tab order, pages' controls included for a sheet.
void TabOrderLocked(WindowHandle dialog, std::vector<WindowHandle>& out)
{
    HostWindow* d = FindLocked(dialog);
    if (!d) {
        return;
    }
    for (WindowHandle c : d->children) {
        HostWindow* child = FindLocked(c);
        if (child->kind == WindowKind::Dialog) {
            if (child->style & kVisible) {
                TabOrderLocked(c, out);
            }
        } else if (CanTakeFocusLocked(*child)) {
            out.push_back(c);
        }
    }
}

// GetNextDlgGroupItem: the next (or previous) control of CONTROL's group that is shown and
// enabled, wrapping round within the group; a group runs from a WS_GROUP control to the next.
WindowHandle NextInGroupLocked(WindowHandle control, bool previous)
{
    HostWindow* w = FindLocked(control);
    HostWindow* parent = w ? FindLocked(w->parent) : nullptr;
    if (!parent) {
        return nullptr;
    }
    const std::vector<WindowHandle>& siblings = parent->children;
    size_t at = std::find(siblings.begin(), siblings.end(), control) - siblings.begin();
    if (at == siblings.size()) {
        return nullptr;
    }
    size_t first = at;
    while (first > 0 && !(FindLocked(siblings[first])->style & kGroup)) {
        --first;
    }
    size_t end = first + 1;
    while (end < siblings.size() && !(FindLocked(siblings[end])->style & kGroup)) {
        ++end;
    }
    const size_t size = end - first;
    for (size_t step = 1; step < size; ++step) {
        size_t i = first + (previous ? (at - first + size - step) : (at - first + step)) % size;
        HostWindow* candidate = FindLocked(siblings[i]);
        if ((candidate->style & kVisible) && !(candidate->style & kDisabled)) {
            return siblings[i];
        }
    }
    return nullptr;
}

bool IsArrowKey(uintptr_t key)
{
    return key == desktop::kKeyLeft || key == desktop::kKeyUp || key == desktop::kKeyRight || key == desktop::kKeyDown;
}

// An arrow key on a control that does not take arrows: the focus moves within its group, and an
// auto radio button reached that way is clicked, as the dialog manager does.
void MoveInGroup(WindowHandle focus, uintptr_t key)
{
    const bool previous = key == desktop::kKeyLeft || key == desktop::kKeyUp;
    WindowHandle next;
    bool clickIt = false;
    {
        Lock lock(CurrentState().mutex);
        next = NextInGroupLocked(focus, previous);
        HostWindow* n = next ? FindLocked(next) : nullptr;
        clickIt = n && n->kind == WindowKind::Button && (n->style & kButtonTypeMask) == kAutoRadioButton && !n->check;
    }
    if (!next) {
        return;
    }
    FocusControl(next);
    if (clickIt) {
        sys::SendTo(next, msg::ButtonClick, 1, 0);
    }
}

WindowHandle FirstTabStop(WindowHandle dialog)
{
    Lock lock(CurrentState().mutex);
    std::vector<WindowHandle> order;
    TabOrderLocked(dialog, order);
    return order.empty() ? nullptr : order.front();
}

// The id Enter stands for: the focused push button, else the default push button, else IDOK.
int EnterCommandLocked(WindowHandle dialog, WindowHandle focus)
{
    HostWindow* f = FindLocked(focus);
    if (f && f->kind == WindowKind::Button && (f->style & kButtonTypeMask) <= kDefPushButton) {
        return f->controlId;
    }
    std::vector<WindowHandle> order;
    TabOrderLocked(dialog, order);
    for (WindowHandle c : FindLocked(dialog)->children) {
        order.push_back(c);
    }
    for (WindowHandle c : order) {
        HostWindow* w = FindLocked(c);
        if (w->kind == WindowKind::Button && (w->style & kButtonTypeMask) == kDefPushButton) {
            return w->controlId;
        }
    }
    return answer::Ok;
}

WindowHandle OwnerTopLevel(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    while (w && w->parent) {
        w = FindLocked(w->parent);
    }
    return w && w->kind != WindowKind::Desktop ? w->handle : nullptr;
}

} // namespace

void FocusControl(WindowHandle control)
{
    Session::State& state = CurrentState();
    desktop::WindowId id;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(control);
        if (!w) {
            return;
        }
        id = w->id;
    }
    state.desktop.SetFocus(id);
}

WindowHandle CreateDialogFromTemplate(ModuleHandle module, ResourceId templateId, WindowHandle parent,
                                      sys::MessageTarget* target, bool child, desktop::Point at)
{
    const auto* resources = reinterpret_cast<const res::ResourceModule*>(module);
    const res::DialogTemplate* t = resources ? resources->FindDialog(templateId) : nullptr;
    if (!t) {
        return nullptr;
    }
    const desktop::Size base = (t->style & 0x40) ? DialogBaseUnits(t->fontFace, t->fontPointSize) : desktop::Size{8, 16};
    desktop::Rect client = DialogUnitsToPixels(base, t->x, t->y, t->cx, t->cy);
    uint32_t style = t->style & ~kVisible;
    desktop::Rect rect;
    if (child) {
        style = (style | kChild) & ~(kPopup | kCaption | kDisabled); // a property page
        rect = client.Offset(at.x - client.left, at.y - client.top);
    } else {
        // A top-level dialog's position is relative to its owner's client area.
        Point origin = parent ? sys::ClientToScreenPoint(parent, {0, 0}) : Point{};
        rect = AdjustedWindowRect(client.Offset(origin.x, origin.y), style, t->exStyle);
        const desktop::Size screen = CurrentState().desktop.ScreenSize();
        if (t->style & kDsCenter) {
            rect = rect.Offset((screen.cx - rect.Width()) / 2 - rect.left, (screen.cy - rect.Height()) / 2 - rect.top);
        }
        // As on Windows, the dialog is kept on the screen: moved back from the right and bottom
        // edges (Windows counts one dialog frame, 3 pixels, beyond them), then its top-left corner
        // onto the screen. A template at 0, 0 thus puts the window, not the client area, there.
        const int dialogFrame = 3;
        rect = rect.Offset(-std::max(0, rect.right + dialogFrame - screen.cx), -std::max(0, rect.bottom + dialogFrame - screen.cy));
        rect = rect.Offset(std::max(0, -rect.left), std::max(0, -rect.top));
    }
    CreateParams params{WindowKind::Dialog, style, t->exStyle, t->caption};
    params.parent = child ? parent : nullptr;
    params.owner = child ? nullptr : OwnerTopLevel(parent);
    params.rect = rect;
    params.target = target;
    params.baseUnits = base;
    WindowHandle dialog = CreateHostWindow(params);

    WindowHandle previous = nullptr;
    for (size_t i = 0; i < t->controlCount; ++i) {
        const res::DialogControl& c = t->controls[i];
        std::optional<WindowKind> kind = KindOfClass(c.windowClass);
        if (!kind) {
            sys::DestroyWindowHandle(dialog);
            return nullptr;
        }
        CreateParams control{*kind, c.style | kChild, c.exStyle, c.text};
        control.controlId = c.id;
        control.parent = dialog;
        control.rect = DialogUnitsToPixels(base, c.x, c.y, c.cx, c.cy);
        control.baseUnits = base;
        WindowHandle handle = CreateHostWindow(control);
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(handle);
        if (*kind == WindowKind::Static && (c.style & kStaticTypeMask) == kStaticIcon && c.textOrdinal) {
            lock.unlock();
            IconHandle icon = sys::LoadIconImage(module, c.textOrdinal, 32);
            lock.lock();
            w = FindLocked(handle);
            w->image = icon;
        }
        if (*kind == WindowKind::UpDown && (c.style & 0x10) && previous) { // UDS_AUTOBUDDY
            w->buddy = previous;
        }
        previous = handle;
    }
    WindowHandle focus = FirstTabStop(dialog);
    if (CallProcedure(dialog, msg::InitDialog, reinterpret_cast<uintptr_t>(focus), 0) && focus) {
        FocusControl(focus);
    }
    bool ended;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(dialog);
        ended = !w || w->dialogEnded;
    }
    if ((t->style & kVisible) && !ended) {
        sys::ShowWindowCommand(dialog, show::Show);
    }
    return dialog;
}

bool DialogKeyMessage(const Posted& message)
{
    if (message.message != msg::KeyDown && message.message != msg::KeyUp) {
        return false;
    }
    Session::State& state = CurrentState();
    WindowHandle dialog;
    int command = 0;
    WindowHandle focus = message.window;
    WindowHandle next = nullptr;
    {
        Lock lock(state.mutex);
        dialog = DialogOfLocked(message.window);
        if (!dialog) {
            return false;
        }
        const uintptr_t key = message.wParam;
        const bool dialogKey = key == desktop::kKeyEscape || key == desktop::kKeyEnter || key == desktop::kKeyTab ||
                               key == desktop::kKeySpace;
        if (message.message == msg::KeyUp) {
            // The release of another key goes to the control (a trackbar ends its scroll there).
            return dialogKey;
        }
        HostWindow* f = FindLocked(focus);
        if (!dialogKey) {
            if (!IsArrowKey(key) || !f) {
                return false;
            }
            lock.unlock();
            if (WantsArrowKeys(focus)) {
                return false;
            }
            MoveInGroup(focus, key);
            return true;
        }
        switch (message.wParam) {
        case desktop::kKeyEscape: command = answer::Cancel; break;
        case desktop::kKeyEnter: command = EnterCommandLocked(dialog, focus); break;
        case desktop::kKeyTab: {
            std::vector<WindowHandle> order;
            TabOrderLocked(dialog, order);
            auto it = std::find(order.begin(), order.end(), focus);
            next = order.empty() ? nullptr : (it == order.end() || it + 1 == order.end()) ? order.front() : *(it + 1);
            break;
        }
        case desktop::kKeySpace:
            if (f && f->kind == WindowKind::Button) {
                lock.unlock();
                sys::SendTo(focus, msg::ButtonClick, 0, 0);
            }
            return true;
        default: return false;
        }
    }
    if (next) {
        FocusControl(next);
    } else if (command) {
        WindowHandle control = sys::DialogItem(dialog, command);
        if (control && !sys::IsWindowEnabledForInput(control)) {
            return true;
        }
        sys::SendTo(dialog, msg::Command, static_cast<uintptr_t>(command), reinterpret_cast<intptr_t>(control));
    }
    return true;
}

void Notify(WindowHandle control, int code)
{
    WindowHandle parent;
    int id;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(control);
        if (!w || !w->parent) {
            return;
        }
        parent = w->parent;
        id = w->controlId;
    }
    uintptr_t wParam = (static_cast<uintptr_t>(static_cast<uint16_t>(code)) << 16) | static_cast<uint16_t>(id);
    sys::SendTo(parent, msg::Command, wParam, reinterpret_cast<intptr_t>(control));
}

// Disables the owner while a modal window runs, as DialogBox and MessageBox do; returns the
// owner that was disabled.
WindowHandle DisableOwner(WindowHandle parent)
{
    WindowHandle owner = OwnerTopLevel(parent);
    if (owner && sys::IsWindowEnabledForInput(owner)) {
        sys::EnableWindowInput(owner, false);
        return owner;
    }
    return nullptr;
}

intptr_t FinishModal(WindowHandle window, WindowHandle disabledOwner)
{
    intptr_t result = -1;
    {
        Lock lock(CurrentState().mutex);
        if (HostWindow* w = FindLocked(window)) {
            result = w->dialogEnded ? w->dialogResult : -1;
        }
    }
    if (disabledOwner) {
        sys::EnableWindowInput(disabledOwner, true);
    }
    sys::DestroyWindowHandle(window);
    if (disabledOwner) {
        Lock lock(CurrentState().mutex);
        if (HostWindow* owner = FindLocked(disabledOwner)) {
            desktop::WindowId id = owner->id;
            lock.unlock();
            CurrentState().desktop.SetActive(id);
        }
    }
    return result;
}

static intptr_t RunModalWindow(WindowHandle window, WindowHandle parent)
{
    WindowHandle disabledOwner = DisableOwner(parent);
    RunModalLoop(window);
    return FinishModal(window, disabledOwner);
}

// ---- Message boxes ------------------------------------------------------------------------------

namespace {

struct BoxButton {
    int id;
    const char16_t* text;
};

std::vector<BoxButton> ButtonsOf(uint32_t style)
{
    switch (style & 0xF) {
    case box::OkCancel: return {{answer::Ok, u"OK"}, {answer::Cancel, u"Cancel"}};
    case box::AbortRetryIgnore: return {{answer::Abort, u"&Abort"}, {answer::Retry, u"&Retry"}, {answer::Ignore, u"&Ignore"}};
    case box::YesNoCancel: return {{answer::Yes, u"&Yes"}, {answer::No, u"&No"}, {answer::Cancel, u"Cancel"}};
    case box::YesNo: return {{answer::Yes, u"&Yes"}, {answer::No, u"&No"}};
    case box::RetryCancel: return {{answer::Retry, u"&Retry"}, {answer::Cancel, u"Cancel"}};
    default: return {{answer::Ok, u"OK"}};
    }
}

} // namespace

intptr_t MessageBoxProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto end = [window](int answer) {
        Lock lock(CurrentState().mutex);
        if (HostWindow* w = FindLocked(window)) {
            w->dialogEnded = true;
            w->dialogResult = answer;
        }
    };
    if (message == msg::Command) {
        int id = static_cast<int>(wParam & 0xFFFF);
        if (id == answer::Cancel && !sys::DialogItem(window, answer::Cancel)) {
            // Esc or the close box: a box without Cancel ends only when it has just OK.
            if (!sys::DialogItem(window, answer::Ok) || sys::DialogItem(window, answer::Yes)) {
                return 0;
            }
            id = answer::Ok;
        }
        if (id != 0 && sys::DialogItem(window, id)) {
            end(id);
        }
        return 0;
    }
    if (message == msg::Close) {
        sys::SendTo(window, msg::Command, answer::Cancel, 0);
        return 0;
    }
    return DefaultWindowProcedure(window, message, wParam, lParam);
}

} // namespace tap::ui::host

namespace tap::ui::sys {

using namespace host;

WindowHandle CreateDialogWindow(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target)
{
    return CreateDialogFromTemplate(module, templateId, parent, target, false, {});
}

intptr_t RunDialog(ModuleHandle module, ResourceId templateId, WindowHandle parent, MessageTarget* target)
{
    WindowHandle dialog = CreateDialogFromTemplate(module, templateId, parent, target, false, {});
    if (!dialog) {
        return -1;
    }
    // DialogBox shows its dialog even when the template does not say WS_VISIBLE (Windows does so
    // when the modal loop first finds the queue empty), unless it has already ended.
    bool mustShow;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(dialog);
        mustShow = w && !w->dialogEnded && !(w->style & kVisible);
    }
    if (mustShow) {
        ShowWindowCommand(dialog, show::Normal);
    }
    return RunModalWindow(dialog, parent);
}

bool EndDialogRun(WindowHandle dialog, intptr_t result)
{
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(dialog);
        if (!w) {
            return false;
        }
        w->dialogEnded = true;
        w->dialogResult = result;
    }
    ShowWindowCommand(dialog, show::Hide);
    return true;
}

int ShowBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption, uint32_t style)
{
    Session::State& state = CurrentState();
    MessageBoxRecord record{owner, ToUtf8(text), ToUtf8(caption), style, 0};
    std::optional<int> automatic;
    size_t index;
    {
        Lock lock(state.mutex);
        index = state.boxes.size();
        state.boxes.push_back(record);
        if (state.boxPolicy) {
            automatic = state.boxPolicy(record);
        }
    }
    // Lay the box out: the text, then a row of 75 x 23 buttons, centred on the screen.
    const std::vector<BoxButton> buttons = ButtonsOf(style);
    const int lineHeight = 13;
    int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), u'\n'));
    int textWidth = desktop::TextWidth(text);
    int buttonsWidth = static_cast<int>(buttons.size()) * 81 - 6;
    desktop::Size clientSize{std::max({textWidth + 24, buttonsWidth + 24, 120}), lines * lineHeight + 24 + 23 + 12};
    desktop::Size screen = state.desktop.ScreenSize();
    desktop::Rect client{(screen.cx - clientSize.cx) / 2, (screen.cy - clientSize.cy) / 2, 0, 0};
    client.right = client.left + clientSize.cx;
    client.bottom = client.top + clientSize.cy;
    const uint32_t boxStyle = kPopup | kCaption | kSysMenu | kDsModalFrame;
    CreateParams params{WindowKind::MessageBox, boxStyle, kExDlgModalFrame, caption};
    params.owner = OwnerTopLevel(owner);
    params.rect = AdjustedWindowRect(client, boxStyle, kExDlgModalFrame);
    WindowHandle window = CreateHostWindow(params);
    CreateParams label{WindowKind::Static, kChild | kVisible, 0, text};
    label.controlId = 0xFFFF;
    label.parent = window;
    label.rect = {12, 12, clientSize.cx - 12, 12 + lines * lineHeight};
    CreateHostWindow(label);
    int x = (clientSize.cx - buttonsWidth) / 2;
    for (size_t i = 0; i < buttons.size(); ++i) {
        CreateParams button{WindowKind::Button, kChild | kVisible | kTabStop | (i == 0 ? 1u : 0u), 0, buttons[i].text};
        button.controlId = buttons[i].id;
        button.parent = window;
        button.rect = {x, clientSize.cy - 12 - 23, x + 75, clientSize.cy - 12};
        CreateHostWindow(button);
        x += 81;
    }
    if (WindowHandle first = sys::DialogItem(window, buttons[0].id)) {
        FocusControl(first);
    }
    {
        const uint64_t now = state.desktop.Clock().Now();
        Lock lock(state.mutex);
        state.openBoxes[window] = index;
        LogWindowEventLocked(WindowEvent::Kind::MessageBoxShown, *FindLocked(window), now, text);
    }
    ShowWindowCommand(window, show::Show);
    if (automatic) {
        PostTo(window, msg::Command, static_cast<uintptr_t>(*automatic), 0);
    }
    WindowHandle disabledOwner = DisableOwner(owner);
    RunModalLoop(window);
    // The log keeps the box's own record: the window is gone once the modal run has finished.
    HostWindow closed;
    {
        Lock lock(state.mutex);
        closed.handle = window;
        closed.text = FindLocked(window)->text;
        closed.thread = FindLocked(window)->thread;
    }
    intptr_t result = FinishModal(window, disabledOwner);
    const uint64_t now = state.desktop.Clock().Now();
    Lock lock(state.mutex);
    state.openBoxes.erase(window);
    state.boxes[index].answer = static_cast<int>(result);
    LogWindowEventLocked(WindowEvent::Kind::MessageBoxClosed, closed, now, text, static_cast<int>(result));
    return static_cast<int>(result);
}

} // namespace tap::ui::sys
