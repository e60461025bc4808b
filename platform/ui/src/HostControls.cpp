// The built-in control classes: buttons, static text, edit fields, combo boxes with their drop-down
// list, list boxes, up-down controls, trackbars and progress bars; their messages, their reaction
// to the mouse and how they look.
#include <algorithm>
#include <string>

#include "Host.h"
#include "tap/desktop/Font.h"

namespace tap::ui::host {
namespace {

constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kDefPush = 1, kCheckBox = 2, kAutoCheckBox = 3, kRadio = 4, kGroupBox = 7, kAutoRadio = 9;
constexpr uint32_t kIconStyle = 0x40;             // BS_ICON
constexpr uint32_t kStaticTypeMask = 0x1F, kStaticCenter = 1, kStaticRight = 2, kStaticIcon = 3;
constexpr uint32_t kEditCenter = 1, kEditRight = 2;
constexpr uint32_t kListNotify = 1, kListSort = 2;
constexpr uint32_t kComboSort = 0x100;
constexpr uint32_t kUpDownWrap = 1, kUpDownSetBuddyInt = 2, kUpDownArrowKeys = 0x20, kUpDownHorizontal = 0x40;
constexpr int kUpDownPosition = 4;                 // SB_THUMBPOSITION
constexpr int kUpDownEndScroll = 8;                // SB_ENDSCROLL
constexpr int kTrackLineUp = 0, kTrackLineDown = 1, kTrackPageUp = 2, kTrackPageDown = 3;
constexpr int kTrackThumbPosition = 4, kTrackThumbTrack = 5, kTrackTop = 6, kTrackBottom = 7, kTrackEnd = 8;
constexpr int kTrackMargin = 8;                     // channel inset from each end, in pixels
constexpr int kListError = -1;                      // LB_ERR, CB_ERR
constexpr int kComboDropDown = 7;                   // CBN_DROPDOWN
constexpr int kComboCloseUp = 8;                    // CBN_CLOSEUP

struct Snapshot {
    WindowKind kind;
    uint32_t style;
    std::u16string text;
    int check;
    bool pressed;
    IconHandle image;
    std::vector<std::u16string> items;
    int selection;
    int low, high, position;
    bool enabled;
    bool focused;
    int lineHeight;
};

Snapshot Take(WindowHandle window)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    return {w->kind, w->style, w->text, w->check, w->pressed, w->image, w->items, w->selection,
            w->low, w->high, w->position, !(w->style & kDisabled), state.desktop.Focus() == w->id,
            w->baseUnits.cy};
}

template <typename Change>
void Modify(WindowHandle window, Change change)
{
    Lock lock(CurrentState().mutex);
    if (HostWindow* w = FindLocked(window)) {
        change(*w);
    }
}

void Repaint(WindowHandle window)
{
    sys::InvalidateArea(window, nullptr, true);
}

desktop::Point Unpack(intptr_t lParam)
{
    return {static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
}

desktop::Rect ClientOf(WindowHandle window)
{
    Rect r = sys::ClientRectOf(window);
    return {r.left, r.top, r.right, r.bottom};
}

// ---- Painting -------------------------------------------------------------------------------------

void DrawText(desktop::Canvas& c, const desktop::Rect& box, const std::u16string& text, uint32_t align,
              desktop::Rgb color, int lineHeight, bool vcenter)
{
    std::u16string shown = WithoutMnemonics(text);
    int lines = 1 + static_cast<int>(std::count(shown.begin(), shown.end(), u'\n'));
    int top = vcenter ? box.top + (box.Height() - lines * lineHeight) / 2 : box.top;
    size_t start = 0;
    for (int line = 0; line < lines; ++line) {
        size_t end = shown.find(u'\n', start);
        std::u16string part = shown.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        int width = desktop::TextWidth(part);
        int left = align == 1 ? box.left + (box.Width() - width) / 2 : align == 2 ? box.right - width : box.left;
        c.DrawString({left, top + line * lineHeight}, part, color, lineHeight);
        start = end == std::u16string::npos ? shown.size() : end + 1;
    }
}

void Sunken(desktop::Canvas& c, const desktop::Rect& r, desktop::Rgb inside)
{
    c.FillRect(r, inside);
    c.Edge(r, kShadowColor, kLightColor, kDarkShadowColor, kFaceColor);
}

void Raised(desktop::Canvas& c, const desktop::Rect& r, bool pressed)
{
    c.FillRect(r, kFaceColor);
    if (pressed) {
        c.Edge(r, kDarkShadowColor, kLightColor, kShadowColor, kFaceColor);
    } else {
        c.Edge(r, kLightColor, kDarkShadowColor, kFaceColor, kShadowColor);
    }
}

void Arrow(desktop::Canvas& c, const desktop::Rect& r, bool up, desktop::Rgb color)
{
    int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    for (int i = 0; i < 3; ++i) {
        int y = up ? cy - 1 + i : cy + 1 - i;
        c.FillRect({cx - i, y, cx + i + 1, y + 1}, color);
    }
}

void PaintButton(desktop::Canvas& c, const desktop::Rect& r, const Snapshot& s)
{
    const desktop::Rgb ink = s.enabled ? 0 : kGrayText;
    const uint32_t type = s.style & kButtonTypeMask;
    if (type == kGroupBox) {
        c.FillRect(r, kFaceColor);
        desktop::Rect frame{r.left, r.top + s.lineHeight / 2, r.right, r.bottom};
        c.Edge(frame, kShadowColor, kLightColor, kLightColor, kShadowColor);
        std::u16string text = WithoutMnemonics(s.text);
        c.FillRect({r.left + 6, r.top, r.left + 10 + desktop::TextWidth(text), r.top + s.lineHeight}, kFaceColor);
        c.DrawString({r.left + 8, r.top}, text, ink, s.lineHeight);
        return;
    }
    if (type == kCheckBox || type == kAutoCheckBox || type == kRadio || type == kAutoRadio) {
        c.FillRect(r, kFaceColor);
        const int size = 13;
        desktop::Rect mark{r.left, r.top + (r.Height() - size) / 2, r.left + size, r.top + (r.Height() - size) / 2 + size};
        if (type == kRadio || type == kAutoRadio) {
            c.Ellipse(mark, desktop::Pen{true, 1, kShadowColor}, desktop::Brush{false, kLightColor});
            if (s.check) {
                c.Ellipse({mark.left + 4, mark.top + 4, mark.right - 4, mark.bottom - 4}, desktop::Pen{true, 1, ink},
                          desktop::Brush{false, ink});
            }
        } else {
            Sunken(c, mark, kLightColor);
            if (s.check) {
                c.Line({mark.left + 3, mark.top + 6}, {mark.left + 5, mark.top + 9}, desktop::Pen{true, 2, ink});
                c.Line({mark.left + 5, mark.top + 9}, {mark.left + 10, mark.top + 3}, desktop::Pen{true, 2, ink});
            }
        }
        DrawText(c, {mark.right + 4, r.top, r.right, r.bottom}, s.text, 0, ink, s.lineHeight, true);
        return;
    }
    Raised(c, r, s.pressed);
    if (type == kDefPush || s.focused) {
        c.Rectangle(r, desktop::Pen{true, 1, 0}, desktop::Brush{true, 0});
    }
    desktop::Rect inside = s.pressed ? r.Offset(1, 1) : r;
    if ((s.style & kIconStyle) && s.image) {
        const desktop::IconImage& icon = reinterpret_cast<HostIcon*>(s.image)->image;
        c.DrawIcon({inside.left + (r.Width() - icon.width) / 2, inside.top + (r.Height() - icon.height) / 2}, icon);
    } else {
        DrawText(c, inside, s.text, 1, ink, s.lineHeight, true);
    }
}

void PaintControl(WindowHandle window, DeviceContextHandle dc)
{
    Snapshot s = Take(window);
    desktop::Rect r = ClientOf(window);
    desktop::Canvas c = ClientCanvas(window, dc);
    auto screenLock = CurrentState().desktop.LockScreen();
    const desktop::Rgb ink = s.enabled ? 0 : kGrayText;
    switch (s.kind) {
    case WindowKind::Button: PaintButton(c, r, s); break;
    case WindowKind::Static:
        c.FillRect(r, kFaceColor);
        if ((s.style & kStaticTypeMask) == kStaticIcon) {
            if (s.image) {
                c.DrawIcon({0, 0}, reinterpret_cast<HostIcon*>(s.image)->image);
            }
        } else {
            uint32_t type = s.style & kStaticTypeMask;
            DrawText(c, r, s.text, type == kStaticCenter ? 1 : type == kStaticRight ? 2 : 0, ink, s.lineHeight, false);
        }
        break;
    case WindowKind::Edit: {
        bool readOnly = Take(window).style & 0x800;
        Sunken(c, r, readOnly || !s.enabled ? kFaceColor : kLightColor);
        uint32_t align = s.style & 3;
        DrawText(c, {r.left + 3, r.top, r.right - 3, r.bottom}, s.text,
                 align == kEditCenter ? 1 : align == kEditRight ? 2 : 0, ink, s.lineHeight, true);
        break;
    }
    case WindowKind::ComboBox: {
        desktop::Rect field{r.left, r.top, r.right, std::min(r.bottom, r.top + s.lineHeight + 8)};
        Sunken(c, field, s.enabled ? kLightColor : kFaceColor);
        desktop::Rect button{field.right - 18, field.top + 2, field.right - 2, field.bottom - 2};
        Raised(c, button, false);
        Arrow(c, button, false, ink);
        if (s.selection >= 0 && s.selection < static_cast<int>(s.items.size())) {
            DrawText(c, {field.left + 3, field.top, button.left, field.bottom}, s.items[s.selection], 0, ink,
                     s.lineHeight, true);
        }
        break;
    }
    case WindowKind::ListBox:
    case WindowKind::DropList: {
        Sunken(c, r, kLightColor);
        for (size_t i = 0; i < s.items.size(); ++i) {
            desktop::Rect row{r.left + 2, r.top + 2 + static_cast<int>(i) * s.lineHeight, r.right - 2,
                              r.top + 2 + static_cast<int>(i + 1) * s.lineHeight};
            bool selected = static_cast<int>(i) == s.selection;
            if (selected) {
                c.FillRect(row, kHighlight);
            }
            DrawText(c, {row.left + 2, row.top, row.right, row.bottom}, s.items[i], 0, selected ? kLightColor : ink,
                     s.lineHeight, true);
        }
        break;
    }
    case WindowKind::UpDown: {
        desktop::Rect upper{r.left, r.top, r.right, r.top + r.Height() / 2};
        desktop::Rect lower{r.left, upper.bottom, r.right, r.bottom};
        Raised(c, upper, false);
        Raised(c, lower, false);
        Arrow(c, upper, true, ink);
        Arrow(c, lower, false, ink);
        break;
    }
    case WindowKind::Trackbar: {
        c.FillRect(r, kFaceColor);
        int mid = r.Height() / 2;
        Sunken(c, {r.left + 8, mid - 2, r.right - 8, mid + 2}, kLightColor);
        for (int tick = s.low; tick <= s.high && s.high - s.low <= 100; ++tick) {
            int x = TrackbarX(r, s.low, s.high, tick);
            c.FillRect({x, r.top + 2, x + 1, r.top + 5}, ink);
            c.FillRect({x, r.bottom - 5, x + 1, r.bottom - 2}, ink);
        }
        int x = TrackbarX(r, s.low, s.high, s.position);
        Raised(c, {x - 5, mid - 9, x + 6, mid + 10}, false);
        break;
    }
    case WindowKind::Progress: {
        Sunken(c, r, kFaceColor);
        int span = std::max(1, s.high - s.low);
        int filled = (std::clamp(s.position, s.low, s.high) - s.low) * std::max(0, r.Width() - 4) / span;
        c.FillRect({r.left + 2, r.top + 2, r.left + 2 + filled, r.bottom - 2}, kHighlight);
        break;
    }
    default: break;
    }
}

// ---- Behaviour ----------------------------------------------------------------------------------

// The siblings in BUTTON's group: from the nearest WS_GROUP control at or before it, up to the
// next WS_GROUP control.
std::vector<WindowHandle> GroupOf(WindowHandle button)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(button);
    HostWindow* parent = w ? FindLocked(w->parent) : nullptr;
    if (!parent) {
        return {button};
    }
    const auto& siblings = parent->children;
    size_t at = std::find(siblings.begin(), siblings.end(), button) - siblings.begin();
    size_t first = at;
    while (first > 0 && !(FindLocked(siblings[first])->style & kGroup)) {
        --first;
    }
    std::vector<WindowHandle> group{siblings[first]};
    for (size_t i = first + 1; i < siblings.size() && !(FindLocked(siblings[i])->style & kGroup); ++i) {
        group.push_back(siblings[i]);
    }
    return group;
}

void Clicked(WindowHandle button)
{
    Snapshot s = Take(button);
    uint32_t type = s.style & kButtonTypeMask;
    if (type == kAutoCheckBox) {
        Modify(button, [](HostWindow& w) { w.check = w.check ? 0 : 1; });
        Repaint(button);
    } else if (type == kAutoRadio) {
        for (WindowHandle other : GroupOf(button)) {
            Snapshot o = Take(other);
            if (o.kind == WindowKind::Button && (o.style & kButtonTypeMask) == kAutoRadio) {
                Modify(other, [&](HostWindow& w) { w.check = other == button ? 1 : 0; });
                Repaint(other);
            }
        }
    }
    Notify(button, notify::ButtonClicked);
}

void SetTextAndNotify(WindowHandle window, const std::u16string& text, bool notifyChange)
{
    Modify(window, [&](HostWindow& w) { w.text = text; });
    Repaint(window);
    if (notifyChange) {
        Notify(window, notify::EditChange);
    }
}

void SyncBuddy(WindowHandle upDown)
{
    WindowHandle buddy = nullptr;
    int position = 0;
    bool setInt = false;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(upDown);
        buddy = w->buddy;
        position = w->position;
        setInt = w->style & kUpDownSetBuddyInt;
    }
    if (!buddy || !setInt) {
        return;
    }
    std::string digits = std::to_string(position);
    std::u16string text(digits.begin(), digits.end());
    {
        // As the real control, it leaves a buddy alone that already shows the number: no
        // EN_CHANGE follows then.
        Lock lock(CurrentState().mutex);
        HostWindow* b = FindLocked(buddy);
        if (!b || b->text == text) {
            return;
        }
    }
    sys::SendTo(buddy, msg::SetText, 0, reinterpret_cast<intptr_t>(text.c_str()));
}

intptr_t SetUpDownPosition(WindowHandle window, int position)
{
    int previous = 0;
    Modify(window, [&](HostWindow& w) {
        previous = w.position;
        w.position = std::clamp(position, std::min(w.low, w.high), std::max(w.low, w.high));
    });
    SyncBuddy(window);
    return previous;
}

void StepUpDown(WindowHandle window, int delta)
{
    Snapshot s = Take(window);
    int lo = std::min(s.low, s.high), hi = std::max(s.low, s.high);
    int direction = s.high >= s.low ? delta : -delta;
    int next = s.position + direction;
    if (next > hi || next < lo) {
        if (!(s.style & kUpDownWrap)) {
            return;
        }
        next = next > hi ? lo : hi;
    }
    SetUpDownPosition(window, next);
    WindowHandle parent = sys::ParentOf(window);
    uintptr_t wParam = (static_cast<uintptr_t>(static_cast<uint16_t>(next)) << 16) | kUpDownPosition;
    sys::SendTo(parent, (s.style & kUpDownHorizontal) ? msg::HScroll : msg::VScroll, wParam,
                reinterpret_cast<intptr_t>(window));
}

int ListIndexAt(const Snapshot& s, int y)
{
    int index = (y - 2) / std::max(1, s.lineHeight);
    return index >= 0 && index < static_cast<int>(s.items.size()) ? index : -1;
}

int InsertItem(HostWindow& w, int index, const std::u16string& text, bool sorted)
{
    if (sorted) {
        index = static_cast<int>(std::upper_bound(w.items.begin(), w.items.end(), text) - w.items.begin());
    } else if (index < 0 || index > static_cast<int>(w.items.size())) {
        index = static_cast<int>(w.items.size());
    }
    w.items.insert(w.items.begin() + index, text);
    if (w.selection >= index) {
        ++w.selection;
    }
    return index;
}

// The list messages shared by combo boxes and list boxes; nullopt when MESSAGE is not one of them.
std::optional<intptr_t> ListMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    struct Codes {
        uint32_t add, insert, erase, reset, count, getSel, setSel, getText, getTextLen, find;
    };
    static const Codes combo{msg::ComboAddString, msg::ComboInsertString, msg::ComboDeleteString,
                             msg::ComboResetContent, msg::ComboGetCount, msg::ComboGetCurSel, msg::ComboSetCurSel,
                             msg::ComboGetLbText, msg::ComboGetLbTextLen, msg::ComboFindStringExact};
    static const Codes list{msg::ListAddString, msg::ListInsertString, msg::ListDeleteString, msg::ListResetContent,
                            msg::ListGetCount, msg::ListGetCurSel, msg::ListSetCurSel, msg::ListGetText,
                            msg::ListGetTextLen, msg::ListFindStringExact};
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    const Codes& c = w->kind == WindowKind::ComboBox ? combo : list;
    const bool sorted = w->kind == WindowKind::ComboBox ? (w->style & kComboSort) : (w->style & kListSort);
    const int count = static_cast<int>(w->items.size());
    const int index = static_cast<int>(static_cast<intptr_t>(wParam));
    auto text = [lParam] { return std::u16string(reinterpret_cast<const char16_t*>(lParam)); };
    std::optional<intptr_t> result;
    if (message == c.add) {
        result = InsertItem(*w, -1, text(), sorted);
    } else if (message == c.insert) {
        result = InsertItem(*w, index, text(), false);
    } else if (message == c.erase) {
        if (index < 0 || index >= count) return kListError;
        w->items.erase(w->items.begin() + index);
        w->selection = w->selection == index ? -1 : w->selection > index ? w->selection - 1 : w->selection;
        result = count - 1;
    } else if (message == c.reset) {
        w->items.clear();
        w->selection = -1;
        result = 0;
    } else if (message == c.count) {
        return count;
    } else if (message == c.getSel) {
        return w->selection;
    } else if (message == c.setSel) {
        w->selection = index >= 0 && index < count ? index : -1;
        result = index >= 0 && index < count ? index : kListError;
    } else if (message == c.getText || message == c.getTextLen) {
        if (index < 0 || index >= count) return kListError;
        const std::u16string& item = w->items[index];
        if (message == c.getText) {
            char16_t* out = reinterpret_cast<char16_t*>(lParam);
            std::copy(item.begin(), item.end(), out);
            out[item.size()] = u'\0';
        }
        return static_cast<intptr_t>(item.size());
    } else if (message == c.find) {
        std::u16string wanted = text();
        auto lower = [](std::u16string s) {
            for (char16_t& ch : s) ch = (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
            return s;
        };
        for (int k = 0; k < count; ++k) {
            int i = (index + 1 + k + count) % count;
            if (lower(w->items[i]) == lower(wanted)) return i;
        }
        return kListError;
    } else {
        return std::nullopt;
    }
    lock.unlock();
    Repaint(window);
    return result;
}

void OpenDropList(WindowHandle combo)
{
    Snapshot s = Take(combo);
    if (!s.enabled || s.items.empty()) {
        return;
    }
    Rect screen = sys::WindowRectOf(combo);
    desktop::Rect rect{screen.left, screen.top + s.lineHeight + 8, screen.right,
                       screen.top + s.lineHeight + 8 + static_cast<int>(s.items.size()) * s.lineHeight + 4};
    CreateParams params{WindowKind::DropList, kPopup, kExTopmost, u""};
    params.rect = rect;
    params.baseUnits = {6, s.lineHeight};
    Notify(combo, kComboDropDown);
    WindowHandle list = CreateHostWindow(params);
    Modify(list, [&](HostWindow& w) {
        w.items = s.items;
        w.selection = s.selection;
        w.comboOwner = combo;
    });
    Modify(combo, [&](HostWindow& w) { w.dropList = list; });
    sys::ShowWindowCommand(list, show::NoActivate);
    Lock lock(CurrentState().mutex);
    desktop::WindowId id = FindLocked(list)->id;
    lock.unlock();
    CurrentState().desktop.SetCapture(id);
}

// ---- Keys ------------------------------------------------------------------------------------

// The trackbar's step for PageUp and PageDown: a fifth of its range, as the real control's
// automatic page size.
int TrackbarPage(const Snapshot& s)
{
    return std::max(1, (s.high - s.low) / 5);
}

void TrackbarScrolled(WindowHandle window, int code)
{
    sys::SendTo(sys::ParentOf(window), msg::HScroll, static_cast<uintptr_t>(code), reinterpret_cast<intptr_t>(window));
}

// Moves the thumb to POSITION (clamped) and tells the parent with CODE; nothing at all when the
// thumb is there already.
void MoveTrackbar(WindowHandle window, int position, int code)
{
    bool moved = false;
    Modify(window, [&](HostWindow& w) {
        int next = std::clamp(position, w.low, std::max(w.low, w.high));
        moved = next != w.position;
        w.position = next;
    });
    if (moved) {
        Repaint(window);
        TrackbarScrolled(window, code);
    }
}

bool TrackbarKey(WindowHandle window, uint32_t key)
{
    Snapshot s = Take(window);
    switch (key) {
    case desktop::kKeyLeft:
    case desktop::kKeyUp: MoveTrackbar(window, s.position - 1, kTrackLineUp); return true;
    case desktop::kKeyRight:
    case desktop::kKeyDown: MoveTrackbar(window, s.position + 1, kTrackLineDown); return true;
    case desktop::kKeyPageUp: MoveTrackbar(window, s.position - TrackbarPage(s), kTrackPageUp); return true;
    case desktop::kKeyPageDown: MoveTrackbar(window, s.position + TrackbarPage(s), kTrackPageDown); return true;
    case desktop::kKeyHome: MoveTrackbar(window, s.low, kTrackTop); return true;
    case desktop::kKeyEnd: MoveTrackbar(window, s.high, kTrackBottom); return true;
    default: return false;
    }
}

bool IsTrackbarKey(uint32_t key)
{
    return (key >= desktop::kKeyPageUp && key <= desktop::kKeyDown);
}

// The rows a list shows at once: what fits in its client area (a combo box: in its drop-down
// part), at least one.
int VisibleRows(WindowHandle window, const Snapshot& s)
{
    int height = ClientOf(window).Height() - 4;
    if (s.kind == WindowKind::ComboBox) {
        height -= s.lineHeight + 8;
    }
    return std::max(1, height / std::max(1, s.lineHeight));
}

// Up, Down (Left, Right) and PageUp, PageDown in a list box or a closed combo box: the selection
// moves by one or by a page less one row and the parent hears of it; at either end nothing
// happens.
bool ListKey(WindowHandle window, uint32_t key)
{
    Snapshot s = Take(window);
    const int count = static_cast<int>(s.items.size());
    const int page = std::max(1, VisibleRows(window, s) - 1);
    int next;
    switch (key) {
    case desktop::kKeyLeft:
    case desktop::kKeyUp: next = s.selection - 1; break;
    case desktop::kKeyRight:
    case desktop::kKeyDown: next = s.selection + 1; break;
    case desktop::kKeyPageUp: next = s.selection - page; break;
    case desktop::kKeyPageDown: next = s.selection + page; break;
    case desktop::kKeyHome: next = 0; break;
    case desktop::kKeyEnd: next = count - 1; break;
    default: return false;
    }
    if (count == 0) {
        return true;
    }
    next = std::clamp(next, 0, count - 1);
    if (next == s.selection) {
        return true;
    }
    Modify(window, [&](HostWindow& w) { w.selection = next; });
    Repaint(window);
    if (s.kind == WindowKind::ComboBox) {
        Notify(window, notify::ComboSelectionChange);
    } else if (s.style & kListNotify) {
        Notify(window, notify::ListSelectionChange);
    }
    return true;
}

// The up-down control with UDS_ARROWKEYS whose buddy is EDIT, if any.
WindowHandle ArrowKeysUpDownOf(WindowHandle edit)
{
    Lock lock(CurrentState().mutex);
    HostWindow* e = FindLocked(edit);
    HostWindow* parent = e ? FindLocked(e->parent) : nullptr;
    if (!parent) {
        return nullptr;
    }
    for (WindowHandle c : parent->children) {
        HostWindow* w = FindLocked(c);
        if (w && w->kind == WindowKind::UpDown && w->buddy == edit && (w->style & kUpDownArrowKeys)) {
            return c;
        }
    }
    return nullptr;
}

// Up and Down step an up-down control (also from its buddy, with UDS_ARROWKEYS); the key's
// release ends the scroll.
bool UpDownKey(WindowHandle upDown, uint32_t key, bool down)
{
    if (key != desktop::kKeyUp && key != desktop::kKeyDown) {
        return false;
    }
    if (down) {
        StepUpDown(upDown, key == desktop::kKeyUp ? 1 : -1);
    } else {
        Snapshot s = Take(upDown);
        sys::SendTo(sys::ParentOf(upDown), (s.style & kUpDownHorizontal) ? msg::HScroll : msg::VScroll,
                    kUpDownEndScroll, reinterpret_cast<intptr_t>(upDown));
    }
    return true;
}

// WM_KEYDOWN and WM_KEYUP of the controls that take keys themselves; false when the key means
// nothing to the control.
bool ControlKey(WindowHandle window, WindowKind kind, uint32_t key, bool down)
{
    switch (kind) {
    case WindowKind::Trackbar:
        if (!down) {
            if (IsTrackbarKey(key)) {
                TrackbarScrolled(window, kTrackEnd);
                return true;
            }
            return false;
        }
        return TrackbarKey(window, key);
    case WindowKind::ComboBox:
    case WindowKind::ListBox: return down && ListKey(window, key);
    case WindowKind::UpDown: return UpDownKey(window, key, down);
    case WindowKind::Edit:
        if (WindowHandle upDown = ArrowKeysUpDownOf(window)) {
            return UpDownKey(upDown, key, down);
        }
        return false;
    default: return false;
    }
}

// ---- Dragging a trackbar's thumb ---------------------------------------------------------------

int TrackbarPositionAt(const desktop::Rect& client, int low, int high, int x)
{
    int usable = std::max(1, client.Width() - 2 * kTrackMargin);
    int span = std::max(1, high - low);
    int offset = x - client.left - kTrackMargin;
    // The nearest position: half a step rounds up.
    int position = low + (offset * span + usable / 2) / usable;
    return std::clamp(position, low, std::max(low, high));
}

bool OnTrackbarThumb(WindowHandle window, const Snapshot& s, desktop::Point p)
{
    desktop::Rect r = ClientOf(window);
    int x = TrackbarX(r, s.low, s.high, s.position);
    int mid = r.Height() / 2;
    return p.x >= x - 5 && p.x < x + 6 && p.y >= mid - 9 && p.y < mid + 10;
}

void StartThumbDrag(WindowHandle window)
{
    desktop::WindowId id;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        w->tracking = true;
        id = w->id;
    }
    CurrentState().desktop.SetCapture(id);
}

void DragThumb(WindowHandle window, desktop::Point p)
{
    Snapshot s = Take(window);
    MoveTrackbar(window, TrackbarPositionAt(ClientOf(window), s.low, s.high, p.x), kTrackThumbTrack);
}

void EndThumbDrag(WindowHandle window)
{
    int position = 0;
    Modify(window, [&](HostWindow& w) {
        w.tracking = false;
        position = w.position;
    });
    CurrentState().desktop.ReleaseCapture();
    uintptr_t wParam = (static_cast<uintptr_t>(static_cast<uint16_t>(position)) << 16) | kTrackThumbPosition;
    sys::SendTo(sys::ParentOf(window), msg::HScroll, wParam, reinterpret_cast<intptr_t>(window));
    TrackbarScrolled(window, kTrackEnd);
}

bool IsTracking(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    return w && w->tracking;
}

} // namespace

int TrackbarX(const desktop::Rect& client, int low, int high, int position)
{
    int span = std::max(1, high - low);
    return client.left + kTrackMargin + (position - low) * std::max(0, client.Width() - 2 * kTrackMargin) / span;
}

bool WantsArrowKeys(WindowHandle control)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(control);
    if (!w) {
        return false;
    }
    switch (w->kind) {
    case WindowKind::Edit:
    case WindowKind::ComboBox:
    case WindowKind::ListBox:
    case WindowKind::UpDown:
    case WindowKind::Trackbar: return true;
    default: return false;
    }
}

intptr_t DropListProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case msg::Paint: {
        DeviceContextHandle dc = sys::BeginPaintDC(window);
        PaintControl(window, dc);
        sys::EndPaintDC(window, dc);
        return 0;
    }
    case msg::LButtonUp: {
        Snapshot s = Take(window);
        desktop::Point p = Unpack(lParam);
        int index = ClientOf(window).Contains(p) ? ListIndexAt(s, p.y) : -1;
        WindowHandle combo = nullptr;
        Modify(window, [&](HostWindow& w) { combo = w.comboOwner; });
        CurrentState().desktop.ReleaseCapture();
        sys::DestroyWindowHandle(window);
        Modify(combo, [](HostWindow& w) { w.dropList = nullptr; });
        bool changed = false;
        if (index >= 0) {
            Modify(combo, [&](HostWindow& w) {
                changed = w.selection != index;
                w.selection = index;
            });
            Repaint(combo);
        }
        Notify(combo, kComboCloseUp);
        if (changed) {
            Notify(combo, notify::ComboSelectionChange);
        }
        return 0;
    }
    default:
        return DefaultWindowProcedure(window, message, wParam, lParam);
    }
}

intptr_t ControlProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    const WindowKind kind = Take(window).kind;
    if (kind == WindowKind::ComboBox || kind == WindowKind::ListBox) {
        if (std::optional<intptr_t> result = ListMessage(window, message, wParam, lParam)) {
            return *result;
        }
    }
    switch (message) {
    case msg::Paint: {
        DeviceContextHandle dc = sys::BeginPaintDC(window);
        PaintControl(window, dc);
        sys::EndPaintDC(window, dc);
        return 0;
    }
    case msg::EraseBackground:
        return 1; // every control paints all of itself
    case msg::SetText:
        SetTextAndNotify(window, lParam ? reinterpret_cast<const char16_t*>(lParam) : u"", kind == WindowKind::Edit);
        return 1;
    case msg::Enable:
        Repaint(window);
        return 0;
    case msg::LButtonDown: {
        Snapshot s = Take(window);
        desktop::Point p = Unpack(lParam);
        if (kind == WindowKind::Button && (s.style & kButtonTypeMask) != kGroupBox) {
            Modify(window, [](HostWindow& w) { w.pressed = true; });
            Lock lock(CurrentState().mutex);
            desktop::WindowId id = FindLocked(window)->id;
            lock.unlock();
            CurrentState().desktop.SetCapture(id);
            FocusControl(window);
            Repaint(window);
        } else if (kind == WindowKind::ComboBox) {
            FocusControl(window);
            OpenDropList(window);
        } else if (kind == WindowKind::Edit) {
            FocusControl(window);
        } else if (kind == WindowKind::ListBox) {
            FocusControl(window);
            int index = ListIndexAt(s, p.y);
            if (index >= 0 && index != s.selection) {
                Modify(window, [&](HostWindow& w) { w.selection = index; });
                Repaint(window);
                if (s.style & kListNotify) {
                    Notify(window, notify::ListSelectionChange);
                }
            }
        } else if (kind == WindowKind::UpDown) {
            desktop::Rect r = ClientOf(window);
            StepUpDown(window, p.y < r.Height() / 2 ? 1 : -1);
        } else if (kind == WindowKind::Trackbar) {
            FocusControl(window);
            if (OnTrackbarThumb(window, s, p)) {
                StartThumbDrag(window);
                return 0;
            }
            desktop::Rect r = ClientOf(window);
            int page = TrackbarPage(s);
            bool up = p.x > TrackbarX(r, s.low, s.high, s.position);
            Modify(window, [&](HostWindow& w) { w.position = std::clamp(w.position + (up ? page : -page), w.low, w.high); });
            Repaint(window);
            WindowHandle parent = sys::ParentOf(window);
            sys::SendTo(parent, msg::HScroll, up ? kTrackPageDown : kTrackPageUp, reinterpret_cast<intptr_t>(window));
            sys::SendTo(parent, msg::HScroll, kTrackEnd, reinterpret_cast<intptr_t>(window));
        }
        return 0;
    }
    case msg::MouseMove:
        if (kind == WindowKind::Trackbar && IsTracking(window)) {
            DragThumb(window, Unpack(lParam));
        }
        return 0;
    case msg::KeyDown:
    case msg::KeyUp:
        if (ControlKey(window, kind, static_cast<uint32_t>(wParam), message == msg::KeyDown)) {
            return 0;
        }
        return DefaultWindowProcedure(window, message, wParam, lParam);
    case msg::LButtonUp: {
        Snapshot s = Take(window);
        if (kind == WindowKind::Trackbar && IsTracking(window)) {
            DragThumb(window, Unpack(lParam));
            EndThumbDrag(window);
            return 0;
        }
        if (kind == WindowKind::Button && s.pressed) {
            Modify(window, [](HostWindow& w) { w.pressed = false; });
            CurrentState().desktop.ReleaseCapture();
            Repaint(window);
            if (ClientOf(window).Contains(Unpack(lParam))) {
                Clicked(window);
            }
        }
        return 0;
    }
    case msg::ButtonGetCheck: return Take(window).check;
    case msg::ButtonSetCheck:
        Modify(window, [&](HostWindow& w) { w.check = static_cast<int>(wParam); });
        Repaint(window);
        return 0;
    case msg::ButtonClick:
        if (Take(window).enabled) {
            Clicked(window);
        }
        return 0;
    case msg::ButtonGetImage: return reinterpret_cast<intptr_t>(Take(window).image);
    case msg::ButtonSetImage: {
        IconHandle previous = Take(window).image;
        Modify(window, [&](HostWindow& w) { w.image = reinterpret_cast<IconHandle>(lParam); });
        Repaint(window);
        return reinterpret_cast<intptr_t>(previous);
    }
    case msg::EditSetReadOnly:
        Modify(window, [&](HostWindow& w) { w.style = wParam ? (w.style | 0x800) : (w.style & ~0x800u); });
        Repaint(window);
        return 1;
    default: break;
    }
    if (kind == WindowKind::UpDown) {
        switch (message) {
        case msg::UpDownSetBuddy: {
            WindowHandle previous = nullptr;
            Modify(window, [&](HostWindow& w) {
                previous = w.buddy;
                w.buddy = reinterpret_cast<WindowHandle>(wParam);
            });
            return reinterpret_cast<intptr_t>(previous);
        }
        case msg::UpDownSetRange32:
            Modify(window, [&](HostWindow& w) {
                w.low = static_cast<int>(static_cast<intptr_t>(wParam));
                w.high = static_cast<int>(lParam);
            });
            return 0;
        case msg::UpDownGetRange32: return 0;
        case msg::UpDownSetPos32: return SetUpDownPosition(window, static_cast<int>(lParam));
        case msg::UpDownGetPos32: return Take(window).position;
        default: break;
        }
    }
    if (kind == WindowKind::Trackbar) {
        auto set = [&](auto change) {
            Modify(window, change);
            if (wParam) {
                Repaint(window);
            }
            return 0;
        };
        switch (message) {
        case msg::TrackbarGetPos: return Take(window).position;
        case msg::TrackbarGetRangeMin: return Take(window).low;
        case msg::TrackbarGetRangeMax: return Take(window).high;
        case msg::TrackbarSetPos:
            return set([&](HostWindow& w) { w.position = std::clamp(static_cast<int>(lParam), w.low, std::max(w.low, w.high)); });
        case msg::TrackbarSetRangeMin:
            return set([&](HostWindow& w) { w.low = static_cast<int>(lParam); w.position = std::max(w.position, w.low); });
        case msg::TrackbarSetRangeMax:
            return set([&](HostWindow& w) { w.high = static_cast<int>(lParam); w.position = std::min(w.position, w.high); });
        default: break;
        }
    }
    if (kind == WindowKind::Progress) {
        intptr_t previous = 0;
        switch (message) {
        case msg::ProgressSetRange32:
            Modify(window, [&](HostWindow& w) {
                previous = (w.high << 16) | (w.low & 0xFFFF);
                w.low = static_cast<int>(static_cast<intptr_t>(wParam));
                w.high = static_cast<int>(lParam);
            });
            break;
        case msg::ProgressSetPos:
            Modify(window, [&](HostWindow& w) {
                previous = w.position;
                w.position = std::clamp(static_cast<int>(wParam), w.low, w.high);
            });
            break;
        case msg::ProgressSetStep:
            Modify(window, [&](HostWindow& w) {
                previous = w.step;
                w.step = static_cast<int>(wParam);
            });
            return previous;
        case msg::ProgressStepIt:
            // Past the end the bar starts over from the beginning.
            Modify(window, [&](HostWindow& w) {
                previous = w.position;
                w.position += w.step;
                if (w.position > w.high) w.position = w.low + (w.position - w.high);
            });
            break;
        case msg::ProgressGetPos: return Take(window).position;
        default: return DefaultWindowProcedure(window, message, wParam, lParam);
        }
        Repaint(window);
        return previous;
    }
    return DefaultWindowProcedure(window, message, wParam, lParam);
}

} // namespace tap::ui::host
