// What a test or the bench sees of the windows: the facts of one window, children, sheet pages
// and tabs, and the places a person would point at.
#include "tap/ui/backend/Text.h"
#include "Host.h"

namespace tap::ui::host {
namespace {

constexpr uint32_t kButtonTypeMask = 0xF;

std::string KindName(const HostWindow& w)
{
    switch (w.kind) {
    case WindowKind::Desktop: return "desktop";
    case WindowKind::Dialog: return "dialog";
    case WindowKind::MessageBox: return "messagebox";
    case WindowKind::Button:
        switch (w.style & kButtonTypeMask) {
        case 2: case 3: case 5: case 6: return "checkbox";
        case 4: case 9: return "radiobutton";
        case 7: return "groupbox";
        default: return "button";
        }
    case WindowKind::Static: return "static";
    case WindowKind::Edit: return "edit";
    case WindowKind::ComboBox: return "combobox";
    case WindowKind::ListBox: return "listbox";
    case WindowKind::UpDown: return "updown";
    case WindowKind::Trackbar: return "trackbar";
    case WindowKind::Progress: return "progress";
    case WindowKind::Sheet: return "sheet";
    case WindowKind::DropList: return "droplist";
    }
    return "window";
}

} // namespace

std::vector<WindowHandle> Session::ChildWindows(WindowHandle window) const
{
    Lock lock(state_->mutex);
    HostWindow* w = FindLocked(window);
    return w ? w->children : std::vector<WindowHandle>{};
}

std::optional<ControlFacts> Session::Facts(WindowHandle window) const
{
    ControlFacts facts;
    desktop::WindowId id;
    {
        Lock lock(state_->mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return std::nullopt;
        }
        facts.handle = window;
        facts.id = w->controlId;
        facts.kind = KindName(*w);
        facts.text = ToUtf8(w->text);
        facts.enabled = !(w->style & kDisabled);
        facts.check = w->check;
        for (const std::u16string& item : w->items) {
            facts.items.push_back(ToUtf8(item));
        }
        facts.selection = w->selection;
        facts.position = w->position;
        facts.low = w->low;
        facts.high = w->high;
        facts.lineHeight = w->baseUnits.cy;
        id = w->id;
    }
    facts.shown = state_->desktop.IsShown(id);
    facts.focused = state_->desktop.Focus() == id;
    facts.screen = state_->desktop.ScreenWindowRect(id);
    return facts;
}

WindowHandle Session::CurrentSheetPage(WindowHandle sheet) const
{
    return SheetCurrentPage(sheet);
}

std::vector<std::pair<std::string, desktop::Rect>> Session::SheetTabs(WindowHandle sheet) const
{
    std::vector<std::u16string> titles;
    desktop::WindowId id;
    {
        Lock lock(state_->mutex);
        HostWindow* w = FindLocked(sheet);
        if (!w || !w->sheet) {
            return {};
        }
        titles = w->sheet->titles;
        id = w->id;
    }
    const desktop::Rect client = state_->desktop.ScreenClientRect(id);
    std::vector<desktop::Rect> rects = SheetTabRects(sheet);
    std::vector<std::pair<std::string, desktop::Rect>> tabs;
    for (size_t i = 0; i < rects.size() && i < titles.size(); ++i) {
        tabs.emplace_back(ToUtf8(titles[i]), rects[i].Offset(client.left, client.top));
    }
    return tabs;
}

desktop::Point Session::TrackbarPoint(WindowHandle trackbar, int position) const
{
    int low, high;
    desktop::WindowId id;
    {
        Lock lock(state_->mutex);
        HostWindow* w = FindLocked(trackbar);
        if (!w) {
            return {};
        }
        low = w->low;
        high = w->high;
        id = w->id;
    }
    const desktop::Rect client = state_->desktop.ScreenClientRect(id);
    const desktop::Rect local{0, 0, client.Width(), client.Height()};
    return {client.left + TrackbarX(local, low, high, position), client.top + client.Height() / 2};
}

WindowHandle Session::OpenDropList(WindowHandle combo) const
{
    Lock lock(state_->mutex);
    HostWindow* w = FindLocked(combo);
    return w ? w->dropList : nullptr;
}

} // namespace tap::ui::host
