// Windows of the host window system: creation and destruction, place and Z order, visibility,
// invalidation and painting, timers, metrics, resources, and the frame and caption.
#include <algorithm>

#include "Host.h"
#include "tap/desktop/Font.h"
#include "tap/desktop/Icon.h"

namespace tap::ui::host {
namespace {

// The classic (Windows 2000 / XP classic style) metrics of the window frame, in pixels.
constexpr int kCaptionHeight = 19;      // SM_CYCAPTION
constexpr int kSmallCaptionHeight = 15; // SM_CYSMCAPTION
constexpr int kFixedFrame = 3;          // SM_CXFIXEDFRAME: a dialog frame
constexpr int kSizingFrame = 4;         // SM_CXFRAME
constexpr int kBorderWidth = 1;         // SM_CXBORDER
constexpr int kEdge = 2;                // SM_CXEDGE: a client edge
constexpr desktop::Size kMinimizedSize{160, 24};

const res::ResourceModule* ResourcesOf(ModuleHandle module)
{
    return reinterpret_cast<const res::ResourceModule*>(module);
}

// The windows the session's log follows: top-level dialogs and sheets (message boxes have entries
// of their own; drop-down lists are part of their combo box).
bool IsLoggedWindow(const HostWindow& w)
{
    return !w.parent && (w.kind == WindowKind::Dialog || w.kind == WindowKind::Sheet);
}

desktop::Rect ToDesktop(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }
Rect FromDesktop(const desktop::Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

int FrameWidth(uint32_t style, uint32_t exStyle)
{
    int frame = (style & kThickFrame)                                        ? kSizingFrame
              : ((style & kDlgFrame) || (exStyle & kExDlgModalFrame))       ? kFixedFrame
              : (style & kBorder)                                           ? kBorderWidth
                                                                            : 0;
    frame += (exStyle & kExClientEdge) ? kEdge : 0;
    frame += (exStyle & kExStaticEdge) ? kBorderWidth : 0;
    return frame;
}

int CaptionHeight(uint32_t style, uint32_t exStyle)
{
    if ((style & kCaption) != kCaption) {
        return 0;
    }
    return (exStyle & kExToolWindow) ? kSmallCaptionHeight : kCaptionHeight;
}

desktop::Rect ClientFromWindow(const desktop::Rect& window, uint32_t style, uint32_t exStyle, bool child)
{
    if (child) {
        return window;
    }
    int frame = FrameWidth(style, exStyle);
    desktop::Rect client{window.left + frame, window.top + frame + CaptionHeight(style, exStyle),
                         window.right - frame, window.bottom - frame};
    client.right = std::max(client.left, client.right);
    client.bottom = std::max(client.top, client.bottom);
    return client;
}

// Adds REGION (client coordinates of W) to the update regions of W and, when CHILDREN, of the
// children it overlaps.
void InvalidateLocked(HostWindow& w, const desktop::Region& region, bool erase, bool children)
{
    Session::State& state = CurrentState();
    desktop::Rect clientRect = state.desktop.ScreenClientRect(w.id);
    desktop::Region inside = region;
    inside.Intersect(desktop::Rect{0, 0, clientRect.Width(), clientRect.Height()});
    if (inside.Empty()) {
        return;
    }
    w.update.Add(inside);
    w.erase = w.erase || erase;
    w.thread->WakeLocked();
    if (!children) {
        return;
    }
    for (WindowHandle c : w.children) {
        HostWindow* child = FindLocked(c);
        if (!child) {
            continue;
        }
        desktop::WindowPlace place = state.desktop.Place(child->id);
        desktop::Region part = inside.Offset(-place.client.left, -place.client.top);
        InvalidateLocked(*child, part, erase, !(child->style & kClipChildren));
    }
}

void ValidateLocked(HostWindow& w, const desktop::Region& region, bool children)
{
    w.update.Subtract(region);
    if (w.update.Empty()) {
        w.erase = false;
    }
    if (!children) {
        return;
    }
    for (WindowHandle c : w.children) {
        if (HostWindow* child = FindLocked(c)) {
            desktop::WindowPlace place = CurrentState().desktop.Place(child->id);
            ValidateLocked(*child, region.Offset(-place.client.left, -place.client.top), true);
        }
    }
}

// Sends WM_PAINT now when the window has something to paint (UpdateWindow).
void PaintNowIfNeeded(WindowHandle window)
{
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        if (!w || (w->update.Empty() && !w->erase) || !CurrentState().desktop.IsShown(w->id)) {
            return;
        }
    }
    CallProcedure(window, msg::Paint, 0, 0);
}

std::vector<WindowHandle> ChildrenOf(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    return w ? w->children : std::vector<WindowHandle>{};
}

void CollectForDestroy(WindowHandle window, std::vector<WindowHandle>& order)
{
    order.push_back(window);
    for (WindowHandle child : ChildrenOf(window)) {
        CollectForDestroy(child, order);
    }
}

} // namespace

desktop::Rect AdjustedWindowRect(const desktop::Rect& client, uint32_t style, uint32_t exStyle)
{
    int frame = FrameWidth(style, exStyle);
    return {client.left - frame, client.top - frame - CaptionHeight(style, exStyle), client.right + frame,
            client.bottom + frame};
}

// Dialog base units of the host's fonts. The built-in font has 6-pixel cells; the heights are
// those of the Windows fonts at 96 dpi: "MS Shell Dlg"/"MS Sans Serif"/"Microsoft Sans Serif"/
// "Tahoma" 8 pt give 6 x 13, SimSun ("宋体") 9 pt gives 6 x 12. Other faces and sizes: height
// round(pt * 4 / 3) (+2 for the sans-serif faces' leading), width height * 6 / 13.
desktop::Size DialogBaseUnits(const std::u16string& face, int pointSize)
{
    const bool simSun = face == u"\u5B8B\u4F53" || face == u"SimSun" || face == u"\u65B0\u5B8B\u4F53" || face == u"NSimSun";
    if (pointSize <= 0) {
        return {8, 16}; // the system font
    }
    int height = (pointSize * 4 + 1) / 3;
    if (simSun) {
        return {std::max(1, height / 2), height};
    }
    height += 2;
    return {std::max(1, (height * 6 + 6) / 13), height};
}

desktop::Rect DialogUnitsToPixels(const desktop::Size& base, int x, int y, int cx, int cy)
{
    auto scaleX = [&base](int v) { return (v * base.cx) / 4; };
    auto scaleY = [&base](int v) { return (v * base.cy) / 8; };
    return {scaleX(x), scaleY(y), scaleX(x) + scaleX(cx), scaleY(y) + scaleY(cy)};
}

WindowHandle CreateHostWindow(const CreateParams& params)
{
    Session::State& state = CurrentState();
    UiThread& thread = ThisThread();
    const bool child = params.style & kChild;
    desktop::WindowPlace place;
    auto record = std::make_unique<HostWindow>();
    WindowHandle handle;
    {
        Lock lock(state.mutex);
        handle = reinterpret_cast<WindowHandle>(state.nextHandle);
        state.nextHandle += 4;
        record->handle = handle;
        record->kind = params.kind;
        record->thread = &thread;
        record->style = params.style;
        record->exStyle = params.exStyle | ((params.style & kDsModalFrame) && !child ? kExDlgModalFrame : 0);
        record->text = params.text;
        record->controlId = params.controlId;
        record->target = params.target;
        record->baseUnits = params.baseUnits;
        HostWindow* parent = child ? FindLocked(params.parent) : nullptr;
        HostWindow* owner = FindLocked(params.owner);
        record->parent = parent ? parent->handle : nullptr;
        record->owner = owner && owner->kind != WindowKind::Desktop ? owner->handle : nullptr;
        place.parent = parent ? parent->id : desktop::kNoWindow;
        place.owner = record->owner ? FindLocked(record->owner)->id : desktop::kNoWindow;
        place.window = params.rect;
        place.client = ClientFromWindow(params.rect, params.style, record->exStyle, child);
        place.visible = false;
        place.enabled = !(params.style & kDisabled);
        place.topmost = (params.exStyle & kExTopmost) != 0;
        place.clipChildren = (params.style & kClipChildren) != 0;
        if (parent) {
            parent->children.push_back(handle);
        }
        state.windows[handle] = std::move(record);
    }
    desktop::WindowId id = state.desktop.Create(place);
    const uint64_t now = state.desktop.Clock().Now();
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(handle);
        w->id = id;
        state.byDesktopId[id] = handle;
        if (IsLoggedWindow(*w)) {
            LogWindowEventLocked(WindowEvent::Kind::WindowCreated, *w, now);
        }
    }
    if (params.style & kVisible) {
        sys::ShowWindowCommand(handle, show::Show);
    }
    return handle;
}

// ---- Frame and caption --------------------------------------------------------------------------

void PaintNonClient(WindowHandle window)
{
    Session::State& state = CurrentState();
    uint32_t style, exStyle;
    std::u16string text;
    IconHandle icon;
    desktop::WindowId id;
    bool active;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->parent) {
            return;
        }
        style = w->style;
        exStyle = w->exStyle;
        text = w->text;
        icon = w->smallIcon ? w->smallIcon : w->bigIcon;
        id = w->id;
    }
    active = state.desktop.Active() == id;
    desktop::Rect frame = state.desktop.ScreenWindowRect(id);
    desktop::Rect client = state.desktop.ScreenClientRect(id);
    desktop::Region clip = state.desktop.VisibleRegion(id, false);
    clip.Subtract(client);
    if (clip.Empty()) {
        return;
    }
    auto screenLock = state.desktop.LockScreen();
    desktop::Canvas canvas(state.desktop.Screen(), {frame.left, frame.top}, clip);
    desktop::Rect local{0, 0, frame.Width(), frame.Height()};
    canvas.FillRect(local, kFaceColor);
    if (FrameWidth(style, exStyle) >= 2) {
        canvas.Edge(local, kFaceColor, kDarkShadowColor, kLightColor, kShadowColor);
    } else if (FrameWidth(style, exStyle) == 1) {
        canvas.Rectangle(local, desktop::Pen{true, 1, 0}, desktop::Brush{true, 0});
    }
    int captionHeight = CaptionHeight(style, exStyle);
    if (captionHeight == 0) {
        return;
    }
    int inset = FrameWidth(style, exStyle);
    desktop::Rect bar{inset, inset, frame.Width() - inset, inset + captionHeight - 1};
    canvas.FillRect(bar, active ? kCaptionColor : kGrayText);
    int textLeft = bar.left + 3;
    if (icon && (style & kSysMenu) && !(exStyle & kExToolWindow)) {
        const desktop::IconImage& image = reinterpret_cast<HostIcon*>(icon)->image;
        if (image.width <= 16) {
            canvas.DrawIcon({bar.left + 1, bar.top + 1}, image);
        }
        textLeft += 18;
    }
    canvas.DrawString({textLeft, bar.top + 2}, text, kLightColor, captionHeight - 4);
    if (style & kSysMenu) {
        desktop::Rect box{bar.right - 2 - (captionHeight - 4), bar.top + 2, bar.right - 2, bar.bottom - 2};
        canvas.FillRect(box, kFaceColor);
        canvas.Edge(box, kLightColor, kDarkShadowColor, kFaceColor, kShadowColor);
        desktop::Pen cross{true, 1, 0};
        canvas.Line({box.left + 4, box.top + 3}, {box.right - 4, box.bottom - 3}, cross);
        canvas.Line({box.right - 5, box.top + 3}, {box.left + 3, box.bottom - 3}, cross);
    }
}

// ---- Default window procedures ------------------------------------------------------------------

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Session::State& state = CurrentState();
    switch (message) {
    case msg::Paint: {
        DeviceContextHandle dc = sys::BeginPaintDC(window);
        sys::EndPaintDC(window, dc);
        return 0;
    }
    case msg::EraseBackground:
    case msg::IconEraseBackground: {
        HostDC* dc = DCOf(reinterpret_cast<DeviceContextHandle>(wParam));
        if (!dc) {
            return 0;
        }
        desktop::Canvas canvas = ClientCanvas(window, reinterpret_cast<DeviceContextHandle>(wParam));
        auto screenLock = state.desktop.LockScreen();
        canvas.FillRect({-10000, -10000, 10000, 10000},
                        message == msg::EraseBackground ? kFaceColor : desktop::kDesktopColor);
        return 1;
    }
    case msg::Close:
        sys::DestroyWindowHandle(window);
        return 0;
    case msg::SysCommand:
        switch (wParam & syscommand::Mask) {
        case syscommand::Close: return sys::SendTo(window, msg::Close, 0, 0);
        case syscommand::Minimize: sys::ShowWindowCommand(window, show::Minimize); return 0;
        case syscommand::Restore: sys::ShowWindowCommand(window, show::Restore); return 0;
        default: return 0;
        }
    case msg::SetText: {
        {
            Lock lock(state.mutex);
            HostWindow* w = FindLocked(window);
            if (!w) {
                return 0;
            }
            w->text = lParam ? std::u16string(reinterpret_cast<const char16_t*>(lParam)) : std::u16string();
        }
        PaintNonClient(window);
        return 1;
    }
    case msg::GetText:
    case msg::GetTextLength: {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return 0;
        }
        if (message == msg::GetTextLength) {
            return static_cast<intptr_t>(w->text.size());
        }
        if (wParam == 0) {
            return 0;
        }
        size_t count = std::min<size_t>(w->text.size(), wParam - 1);
        char16_t* out = reinterpret_cast<char16_t*>(lParam);
        std::copy_n(w->text.begin(), count, out);
        out[count] = u'\0';
        return static_cast<intptr_t>(count);
    }
    case msg::SetIcon:
    case msg::GetIcon: {
        IconHandle previous;
        {
            Lock lock(state.mutex);
            HostWindow* w = FindLocked(window);
            if (!w) {
                return 0;
            }
            IconHandle& slot = wParam ? w->bigIcon : w->smallIcon;
            previous = slot;
            if (message == msg::SetIcon) {
                slot = reinterpret_cast<IconHandle>(lParam);
            }
        }
        if (message == msg::SetIcon) {
            PaintNonClient(window);
        }
        return reinterpret_cast<intptr_t>(previous);
    }
    default:
        return 0;
    }
}

// DefDlgProc: what a dialog does with the messages its procedure leaves alone.
intptr_t DefaultDialogProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case msg::Close: {
        // As the Cancel button: WM_COMMAND IDCANCEL, unless that button is there and disabled.
        WindowHandle cancel = sys::DialogItem(window, answer::Cancel);
        if (cancel && !sys::IsWindowEnabledForInput(cancel)) {
            return 0;
        }
        sys::SendTo(window, msg::Command, answer::Cancel, reinterpret_cast<intptr_t>(cancel));
        return 0;
    }
    case msg::InitDialog:
    case msg::Command:
    case msg::Notify:
        return 0;
    default:
        return DefaultWindowProcedure(window, message, wParam, lParam);
    }
}

} // namespace tap::ui::host

namespace tap::ui::sys {

using namespace host;

intptr_t DefaultProcessing(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    WindowKind kind;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return 0;
        }
        kind = w->kind;
    }
    return kind == WindowKind::Dialog ? DefaultDialogProcedure(window, message, wParam, lParam)
                                      : DefaultWindowProcedure(window, message, wParam, lParam);
}

bool IsWindowHandle(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    return FindLocked(window) != nullptr;
}

bool DestroyWindowHandle(WindowHandle window)
{
    Session::State& state = CurrentState();
    desktop::WindowId id;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->kind == WindowKind::Desktop) {
            return false;
        }
        id = w->id;
    }
    std::vector<WindowHandle> order;
    CollectForDestroy(window, order);
    for (WindowHandle w : order) {
        CallProcedure(w, msg::Destroy, 0, 0); // the parent first, then its children
    }
    state.desktop.Destroy(id);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        CallProcedure(*it, msg::NcDestroy, 0, 0); // the children first
    }
    const uint64_t now = state.desktop.Clock().Now();
    Lock lock(state.mutex);
    if (HostWindow* w = FindLocked(window); w && IsLoggedWindow(*w)) {
        LogWindowEventLocked(WindowEvent::Kind::WindowDestroyed, *w, now);
    }
    for (WindowHandle w : order) {
        HostWindow* record = FindLocked(w);
        if (!record) {
            continue;
        }
        auto& timers = record->thread->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(), [w](const Timer& t) { return t.window == w; }),
                     timers.end());
        if (HostWindow* parent = FindLocked(record->parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
        }
        state.byDesktopId.erase(record->id);
        state.windows.erase(w);
    }
    return true;
}

WindowHandle DesktopHandle()
{
    return CurrentState().root;
}

WindowHandle DialogItem(WindowHandle dialog, int id)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(dialog);
    if (!w) {
        return nullptr;
    }
    for (WindowHandle c : w->children) {
        if (FindLocked(c)->controlId == id) {
            return c;
        }
    }
    return nullptr;
}

WindowHandle ParentOf(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    return w ? (w->parent ? w->parent : w->owner) : nullptr;
}

Rect ClientRectOf(WindowHandle window)
{
    Session::State& state = CurrentState();
    if (window == state.root) {
        return FromDesktop(state.desktop.ScreenRect());
    }
    desktop::WindowId id;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return {};
        }
        id = w->id;
    }
    desktop::Rect client = state.desktop.ScreenClientRect(id);
    return {0, 0, client.Width(), client.Height()};
}

Rect WindowRectOf(WindowHandle window)
{
    Session::State& state = CurrentState();
    if (window == state.root) {
        return FromDesktop(state.desktop.ScreenRect());
    }
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    return w ? FromDesktop(state.desktop.ScreenWindowRect(w->id)) : Rect{};
}

Point ClientToScreenPoint(WindowHandle window, Point p)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    if (!w || w->kind == WindowKind::Desktop) {
        return p;
    }
    desktop::Rect client = state.desktop.ScreenClientRect(w->id);
    return {p.x + client.left, p.y + client.top};
}

bool SetPosition(WindowHandle window, WindowHandle insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy,
                 uint32_t flags)
{
    Session::State& state = CurrentState();
    desktop::WindowId id;
    desktop::WindowPlace place;
    desktop::WindowId after = desktop::kNoWindow;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->kind == WindowKind::Desktop) {
            return false;
        }
        id = w->id;
        place = state.desktop.Place(id);
        desktop::Rect r = place.window;
        if (!(flags & position::NoMove)) {
            r = r.Offset(x - r.left, y - r.top);
        }
        if (!(flags & position::NoSize)) {
            r.right = r.left + std::max(0, cx);
            r.bottom = r.top + std::max(0, cy);
        }
        place.window = r;
        place.client = ClientFromWindow(r, w->style, w->exStyle, w->parent != nullptr);
        if (flags & position::ShowWindow) {
            place.visible = true;
            w->style |= kVisible;
        } else if (flags & position::HideWindow) {
            place.visible = false;
            w->style &= ~kVisible;
        }
        if (HostWindow* a = FindLocked(insertAfter)) {
            after = a->id;
        }
    }
    state.desktop.Move(id, place);
    if (!(flags & position::NoZOrder)) {
        intptr_t special = reinterpret_cast<intptr_t>(insertAfter);
        if (after != desktop::kNoWindow) {
            state.desktop.PlaceBelow(id, after);
        } else if (special == 0) {
            state.desktop.SetZOrder(id, desktop::ZPlace::Top);
        } else if (special == 1) {
            state.desktop.SetZOrder(id, desktop::ZPlace::Bottom);
        } else if (special == -1) {
            state.desktop.SetZOrder(id, desktop::ZPlace::Topmost);
        } else if (special == -2) {
            if (state.desktop.Place(id).topmost) {
                state.desktop.SetZOrder(id, desktop::ZPlace::NoTopmost);
            }
        }
        Lock lock(state.mutex);
        if (HostWindow* w = FindLocked(window)) {
            w->exStyle = state.desktop.Place(id).topmost ? (w->exStyle | kExTopmost) : (w->exStyle & ~kExTopmost);
        }
    }
    if ((flags & position::ShowWindow) && !(flags & position::NoActivate) && place.parent == desktop::kNoWindow) {
        state.desktop.SetActive(id);
    }
    return true;
}

bool ShowWindowCommand(WindowHandle window, int command)
{
    Session::State& state = CurrentState();
    desktop::WindowId id;
    desktop::WindowPlace place;
    bool wasVisible;
    bool topLevel;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->kind == WindowKind::Desktop) {
            return false;
        }
        id = w->id;
        topLevel = !w->parent;
        place = state.desktop.Place(id);
        wasVisible = place.visible;
        place.visible = command != show::Hide;
        w->style = place.visible ? (w->style | kVisible) : (w->style & ~kVisible);
        bool minimize = command == show::Minimize || command == show::Minimized;
        if (minimize && !w->minimized && topLevel) {
            w->minimized = true;
            w->restoreRect = place.window;
            desktop::Size screen = state.desktop.ScreenSize();
            place.window = {0, screen.cy - kMinimizedSize.cy, kMinimizedSize.cx, screen.cy};
            place.client = {place.window.left, place.window.top, place.window.left, place.window.top};
        } else if ((command == show::Restore || command == show::Normal) && w->minimized) {
            w->minimized = false;
            place.window = w->restoreRect;
            place.client = ClientFromWindow(place.window, w->style, w->exStyle, false);
        }
    }
    state.desktop.Move(id, place);
    if (place.visible && topLevel && command != show::NoActivate) {
        state.desktop.SetActive(id);
    }
    return wasVisible;
}

bool IsWindowShown(WindowHandle window)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    return w && (w->kind == WindowKind::Desktop || state.desktop.IsShown(w->id));
}

bool IsWindowMinimized(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    return w && w->minimized;
}

bool EnableWindowInput(WindowHandle window, bool enable)
{
    Session::State& state = CurrentState();
    desktop::WindowId id;
    desktop::WindowPlace place;
    bool wasDisabled;
    bool child = false;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->kind == WindowKind::Desktop) {
            return false;
        }
        wasDisabled = (w->style & kDisabled) != 0;
        w->style = enable ? (w->style & ~kDisabled) : (w->style | kDisabled);
        id = w->id;
        child = w->parent != nullptr;
        place = state.desktop.Place(id);
        place.enabled = enable;
    }
    state.desktop.Move(id, place);
    if (wasDisabled == enable) {
        CallProcedure(window, msg::Enable, enable ? 1 : 0, 0);
        // A control shows its state and is drawn again; a top-level window looks the same
        // (what a program drew on it stays, as on Windows).
        if (child) {
            InvalidateArea(window, nullptr, true);
        }
    }
    return wasDisabled;
}

bool IsWindowEnabledForInput(WindowHandle window)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    return w && !(w->style & kDisabled);
}

bool CheckRadioButtons(WindowHandle dialog, int first, int last, int id)
{
    for (WindowHandle child : ChildrenOf(dialog)) {
        int childId;
        {
            Lock lock(CurrentState().mutex);
            childId = FindLocked(child)->controlId;
        }
        if (childId >= first && childId <= last) {
            SendTo(child, msg::ButtonSetCheck, childId == id ? 1 : 0, 0);
        }
    }
    return true;
}

bool AppendSystemMenuSeparator(WindowHandle window)
{
    return AppendSystemMenuItem(window, 0, {});
}

// Every top-level window has a system menu to append to, whether or not its frame shows one.
bool AppendSystemMenuItem(WindowHandle window, uint32_t command, const std::u16string& text)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    if (!w || w->kind == WindowKind::Desktop || w->parent) {
        return false;
    }
    w->systemMenu.emplace_back(command, text);
    return true;
}

bool InvalidateArea(WindowHandle window, const Rect* area, bool erase)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    if (!w || w->kind == WindowKind::Desktop || !state.desktop.IsShown(w->id)) {
        return w != nullptr;
    }
    desktop::Region region(area ? ToDesktop(*area) : desktop::Rect{0, 0, 1 << 16, 1 << 16});
    InvalidateLocked(*w, region, erase, !(w->style & kClipChildren));
    return true;
}

bool UpdateWindowNow(WindowHandle window)
{
    PaintNowIfNeeded(window);
    return true;
}

bool RedrawArea(WindowHandle window, const Rect* area, uint32_t flags)
{
    Session::State& state = CurrentState();
    bool children;
    {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (!w || w->kind == WindowKind::Desktop) {
            return false;
        }
        children = (flags & redraw::AllChildren) ||
                   (!(flags & redraw::NoChildren) && !(w->style & kClipChildren));
        desktop::Region region(area ? ToDesktop(*area) : desktop::Rect{0, 0, 1 << 16, 1 << 16});
        if ((flags & redraw::Invalidate) && state.desktop.IsShown(w->id)) {
            InvalidateLocked(*w, region, (flags & redraw::Erase) && !(flags & redraw::NoErase), children);
        } else if (flags & redraw::Validate) {
            ValidateLocked(*w, region, children);
        }
    }
    if (flags & redraw::Frame) {
        PaintNonClient(window);
    }
    if (flags & redraw::EraseNow) {
        Lock lock(state.mutex);
        HostWindow* w = FindLocked(window);
        if (w && w->erase) {
            lock.unlock();
            DeviceContextHandle dc = AcquireDC(window);
            CallProcedure(window, msg::EraseBackground, reinterpret_cast<uintptr_t>(dc), 0);
            ReleaseDC(window, dc);
            lock.lock();
            if ((w = FindLocked(window))) {
                w->erase = false;
            }
        }
    }
    if (flags & redraw::UpdateNow) {
        std::vector<WindowHandle> order{window};
        for (size_t i = 0; children && i < order.size(); ++i) {
            for (WindowHandle c : ChildrenOf(order[i])) {
                order.push_back(c);
            }
        }
        for (WindowHandle w : order) {
            PaintNowIfNeeded(w);
        }
    }
    return true;
}

TimerId StartTimer(WindowHandle window, TimerId id, uint32_t elapse)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    if (!w || id == 0) {
        return 0;
    }
    elapse = std::max<uint32_t>(elapse, 10); // USER_TIMER_MINIMUM
    auto& timers = w->thread->timers;
    const uint64_t deadline = state.desktop.Clock().Now() + elapse;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it != timers.end()) {
        *it = {window, id, elapse, deadline};
    } else {
        timers.push_back({window, id, elapse, deadline});
    }
    return id;
}

bool StopTimer(WindowHandle window, TimerId id)
{
    Lock lock(CurrentState().mutex);
    HostWindow* w = FindLocked(window);
    if (!w) {
        return false;
    }
    auto& timers = w->thread->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers.end()) {
        return false;
    }
    timers.erase(it);
    return true;
}

int CursorShowCounter(bool show)
{
    Lock lock(CurrentState().mutex);
    CurrentState().cursorCount += show ? 1 : -1;
    return CurrentState().cursorCount;
}

int SystemMetric(int index)
{
    desktop::Size screen = CurrentState().desktop.ScreenSize();
    switch (index) {
    case metric::CxScreen: return screen.cx;
    case metric::CyScreen: return screen.cy;
    case metric::CyCaption: return kCaptionHeight;
    case metric::CxBorder:
    case metric::CyBorder: return kBorderWidth;
    case metric::CxFixedFrame:
    case metric::CyFixedFrame: return kFixedFrame;
    case metric::CxFrame:
    case metric::CyFrame: return kSizingFrame;
    case metric::CxEdge:
    case metric::CyEdge: return kEdge;
    case metric::CxIcon:
    case metric::CyIcon: return 32;
    case metric::CxSmIcon:
    case metric::CySmIcon: return 16;
    case metric::CySmCaption: return kSmallCaptionHeight;
    default: return 0;
    }
}

IconHandle LoadIconImage(ModuleHandle module, ResourceId id, int size)
{
    const res::ResourceModule* resources = ResourcesOf(module);
    if (!resources) {
        return nullptr;
    }
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    auto key = std::make_tuple(module, id, size);
    auto it = state.icons.find(key);
    if (it != state.icons.end()) {
        return reinterpret_cast<IconHandle>(it->second.get());
    }
    const res::FileResource* file = resources->FindIcon(id);
    if (!file) {
        return nullptr;
    }
    std::optional<desktop::IconImage> image = desktop::DecodeIcon(file->data, file->size, size);
    if (!image) {
        return nullptr;
    }
    auto icon = std::make_unique<HostIcon>(HostIcon{std::move(*image)});
    HostIcon* raw = icon.get();
    state.icons[key] = std::move(icon);
    state.iconSet.insert(raw);
    return reinterpret_cast<IconHandle>(raw);
}

bool LoadStringText(ModuleHandle module, ResourceId id, std::u16string& text)
{
    const res::ResourceModule* resources = ResourcesOf(module);
    const res::StringResource* found = resources ? resources->FindString(id) : nullptr;
    if (!found) {
        return false;
    }
    text = found->text;
    return true;
}

bool LoadDialogInit(ModuleHandle module, ResourceId templateId, std::vector<uint8_t>& data)
{
    const res::ResourceModule* resources = ResourcesOf(module);
    const res::FileResource* found = resources ? resources->FindDialogInit(templateId) : nullptr;
    if (!found) {
        return false;
    }
    data.assign(found->data, found->data + found->size);
    return true;
}

std::string ModuleBaseName(ModuleHandle module)
{
    const res::ResourceModule* resources = ResourcesOf(module);
    if (!resources) {
        return {};
    }
    std::string name = resources->name;
    return name.substr(0, name.find_last_of('.'));
}

} // namespace tap::ui::sys
