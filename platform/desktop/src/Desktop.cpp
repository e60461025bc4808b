#include "tap/desktop/Desktop.h"

#include <algorithm>

#include "tap/desktop/Png.h"

namespace tap::desktop {

Desktop::Desktop(Scheduler& scheduler, Size screen)
    : scheduler_(scheduler), screen_(screen.cx, screen.cy, kDesktopColor)
{
}

void Desktop::SetWindowSystem(WindowSystem* system)
{
    std::lock_guard<std::mutex> lock(mutex_);
    system_ = system;
}

bool Desktop::SavePng(const std::string& path)
{
    auto lock = LockScreen();
    return WritePng(screen_, path);
}

// ---- Tree bookkeeping ---------------------------------------------------------------------------

std::vector<WindowId>& Desktop::SiblingsLocked(WindowId parent)
{
    return parent == kNoWindow ? topLevel_ : nodes_.at(parent).children;
}

const Desktop::Node* Desktop::FindLocked(WindowId window) const
{
    auto it = nodes_.find(window);
    return it == nodes_.end() ? nullptr : &it->second;
}

Point Desktop::OriginLocked(WindowId parent) const
{
    if (parent == kNoWindow) {
        return {};
    }
    Rect client = ScreenClientRectLocked(parent);
    return {client.left, client.top};
}

Rect Desktop::ScreenWindowRectLocked(WindowId window) const
{
    const Node* node = FindLocked(window);
    if (!node) {
        return {};
    }
    Point origin = OriginLocked(node->place.parent);
    return node->place.window.Offset(origin.x, origin.y);
}

Rect Desktop::ScreenClientRectLocked(WindowId window) const
{
    const Node* node = FindLocked(window);
    if (!node) {
        return {};
    }
    Point origin = OriginLocked(node->place.parent);
    return node->place.client.Offset(origin.x, origin.y);
}

bool Desktop::IsShownLocked(WindowId window) const
{
    for (const Node* node = FindLocked(window); node; node = FindLocked(node->place.parent)) {
        if (!node->place.visible) {
            return false;
        }
        if (node->place.parent == kNoWindow) {
            return true;
        }
    }
    return false;
}

void Desktop::CollectLocked(WindowId window, std::vector<WindowId>& out) const
{
    out.push_back(window);
    for (WindowId child : nodes_.at(window).children) {
        CollectLocked(child, out);
    }
}

// Topmost windows first, and every owned window right above its owner.
void Desktop::SortTopLevelLocked()
{
    std::stable_partition(topLevel_.begin(), topLevel_.end(),
                          [this](WindowId w) { return nodes_.at(w).place.topmost; });
    for (bool moved = true; moved;) {
        moved = false;
        for (size_t i = 0; i < topLevel_.size() && !moved; ++i) {
            WindowId owner = nodes_.at(topLevel_[i]).place.owner;
            auto ownerAt = std::find(topLevel_.begin(), topLevel_.begin() + i, owner);
            if (owner != kNoWindow && ownerAt != topLevel_.begin() + i) {
                WindowId owned = topLevel_[i];
                topLevel_.erase(topLevel_.begin() + i);
                topLevel_.insert(std::find(topLevel_.begin(), topLevel_.end(), owner), owned);
                moved = true;
            }
        }
    }
}

// ---- Visibility and exposure --------------------------------------------------------------------

Region Desktop::VisibleRegionLocked(WindowId window, bool clientOnly) const
{
    const Node* node = FindLocked(window);
    if (!node || !IsShownLocked(window)) {
        return {};
    }
    Region region(clientOnly ? ScreenClientRectLocked(window) : ScreenWindowRectLocked(window));
    region.Intersect(screen_.Bounds());
    for (WindowId w = window; w != kNoWindow; w = nodes_.at(w).place.parent) {
        WindowId parent = nodes_.at(w).place.parent;
        if (parent != kNoWindow) {
            region.Intersect(ScreenClientRectLocked(parent));
        }
        const std::vector<WindowId>& siblings = parent == kNoWindow ? topLevel_ : nodes_.at(parent).children;
        for (WindowId above : siblings) {
            if (above == w) {
                break;
            }
            if (nodes_.at(above).place.visible) {
                region.Subtract(ScreenWindowRectLocked(above));
            }
        }
    }
    return region;
}

Region Desktop::VisibleRegion(WindowId window, bool clientOnly) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Region region = VisibleRegionLocked(window, clientOnly);
    const Node* node = FindLocked(window);
    if (node && node->place.clipChildren) {
        for (WindowId child : node->children) {
            if (nodes_.at(child).place.visible) {
                region.Subtract(ScreenWindowRectLocked(child));
            }
        }
    }
    return region;
}

// What each window shows of itself, its children's areas excluded.
Desktop::Snapshot Desktop::VisibilityLocked() const
{
    Snapshot snapshot;
    for (const auto& [id, node] : nodes_) {
        Region region = VisibleRegionLocked(id, false);
        for (WindowId child : node.children) {
            if (nodes_.at(child).place.visible) {
                region.Subtract(ScreenWindowRectLocked(child));
            }
        }
        snapshot[id] = region;
    }
    return snapshot;
}

Region Desktop::BackgroundLocked() const
{
    Region background(screen_.Bounds());
    for (WindowId w : topLevel_) {
        if (nodes_.at(w).place.visible) {
            background.Subtract(ScreenWindowRectLocked(w));
        }
    }
    return background;
}

void Desktop::Expose(const Snapshot& before, const Region& backgroundBefore, const std::vector<WindowId>& moved)
{
    std::vector<std::pair<WindowId, Region>> exposed;
    Region background;
    WindowSystem* system;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        system = system_;
        for (const auto& [id, region] : VisibilityLocked()) {
            Region fresh = region;
            auto old = before.find(id);
            bool whole = std::find(moved.begin(), moved.end(), id) != moved.end();
            if (old != before.end() && !whole) {
                fresh.Subtract(old->second);
            }
            if (!fresh.Empty()) {
                exposed.emplace_back(id, fresh);
            }
        }
        background = BackgroundLocked();
        background.Subtract(backgroundBefore);
    }
    if (!background.Empty()) {
        auto screenLock = LockScreen();
        for (const Rect& r : background.Rects()) {
            for (int32_t y = r.top; y < r.bottom; ++y) {
                for (int32_t x = r.left; x < r.right; ++x) {
                    screen_.SetPixel(x, y, kDesktopColor);
                }
            }
        }
    }
    if (system) {
        for (const auto& [id, region] : exposed) {
            system->Exposed(id, region);
        }
    }
}

// ---- Changes ------------------------------------------------------------------------------------

WindowId Desktop::Create(const WindowPlace& place)
{
    Snapshot before;
    Region backgroundBefore;
    WindowId id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        before = VisibilityLocked();
        backgroundBefore = BackgroundLocked();
        id = nextId_++;
        Node node;
        node.place = place;
        if (place.parent == kNoWindow && place.owner != kNoWindow && FindLocked(place.owner)) {
            node.place.topmost = node.place.topmost || nodes_.at(place.owner).place.topmost;
        }
        nodes_[id] = node;
        std::vector<WindowId>& siblings = SiblingsLocked(place.parent);
        siblings.insert(siblings.begin(), id);
        if (place.parent == kNoWindow) {
            SortTopLevelLocked();
        }
    }
    Expose(before, backgroundBefore, {id});
    return id;
}

void Desktop::Destroy(WindowId window)
{
    Snapshot before;
    Region backgroundBefore;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!FindLocked(window)) {
            return;
        }
        before = VisibilityLocked();
        backgroundBefore = BackgroundLocked();
        std::vector<WindowId> doomed;
        CollectLocked(window, doomed);
        std::vector<WindowId>& siblings = SiblingsLocked(nodes_.at(window).place.parent);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
        for (WindowId w : doomed) {
            nodes_.erase(w);
            for (WindowId* slot : {&focus_, &active_, &capture_}) {
                *slot = *slot == w ? kNoWindow : *slot;
            }
        }
    }
    Expose(before, backgroundBefore, {});
}

void Desktop::Move(WindowId window, const WindowPlace& place)
{
    Snapshot before;
    Region backgroundBefore;
    std::vector<WindowId> moved;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = nodes_.find(window);
        if (it == nodes_.end()) {
            return;
        }
        before = VisibilityLocked();
        backgroundBefore = BackgroundLocked();
        WindowPlace& current = it->second.place;
        bool geometryChanged = current.window != place.window || current.client != place.client;
        current.window = place.window;
        current.client = place.client;
        current.visible = place.visible;
        current.enabled = place.enabled;
        current.clipChildren = place.clipChildren;
        if (geometryChanged) {
            CollectLocked(window, moved);
        }
    }
    Expose(before, backgroundBefore, moved);
}

void Desktop::SetZOrder(WindowId window, ZPlace zplace)
{
    Snapshot before;
    Region backgroundBefore;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = nodes_.find(window);
        if (it == nodes_.end()) {
            return;
        }
        before = VisibilityLocked();
        backgroundBefore = BackgroundLocked();
        WindowPlace& place = it->second.place;
        std::vector<WindowId>& siblings = SiblingsLocked(place.parent);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
        bool topLevel = place.parent == kNoWindow;
        if (topLevel && zplace == ZPlace::Topmost) {
            place.topmost = true;
        } else if (topLevel && (zplace == ZPlace::NoTopmost || zplace == ZPlace::Bottom)) {
            place.topmost = false;
        }
        if (zplace == ZPlace::Bottom) {
            siblings.push_back(window);
        } else if (topLevel && !place.topmost) {
            // The top of the band below the topmost windows.
            auto firstPlain = std::find_if(siblings.begin(), siblings.end(),
                                           [this](WindowId w) { return !nodes_.at(w).place.topmost; });
            siblings.insert(firstPlain, window);
        } else {
            siblings.insert(siblings.begin(), window);
        }
        if (topLevel) {
            for (auto& [id, node] : nodes_) {
                if (node.place.owner == window && place.topmost) {
                    node.place.topmost = true;
                }
            }
            SortTopLevelLocked();
        }
    }
    Expose(before, backgroundBefore, {});
}

void Desktop::PlaceBelow(WindowId window, WindowId after)
{
    Snapshot before;
    Region backgroundBefore;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Node* node = FindLocked(window);
        const Node* other = FindLocked(after);
        if (!node || !other || node->place.parent != other->place.parent || window == after) {
            return;
        }
        before = VisibilityLocked();
        backgroundBefore = BackgroundLocked();
        std::vector<WindowId>& siblings = SiblingsLocked(node->place.parent);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
        siblings.insert(std::find(siblings.begin(), siblings.end(), after) + 1, window);
        if (node->place.parent == kNoWindow) {
            nodes_.at(window).place.topmost = other->place.topmost;
            SortTopLevelLocked();
        }
    }
    Expose(before, backgroundBefore, {});
}

// ---- Queries ------------------------------------------------------------------------------------

bool Desktop::Exists(WindowId window) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return FindLocked(window) != nullptr;
}

WindowPlace Desktop::Place(WindowId window) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Node* node = FindLocked(window);
    return node ? node->place : WindowPlace{};
}

Rect Desktop::ScreenWindowRect(WindowId window) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ScreenWindowRectLocked(window);
}

Rect Desktop::ScreenClientRect(WindowId window) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ScreenClientRectLocked(window);
}

bool Desktop::IsShown(WindowId window) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return IsShownLocked(window);
}

std::vector<WindowId> Desktop::Children(WindowId parent) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (parent == kNoWindow) {
        return topLevel_;
    }
    const Node* node = FindLocked(parent);
    return node ? node->children : std::vector<WindowId>{};
}

WindowId Desktop::WindowAtLocked(WindowId parent, Point screen) const
{
    const std::vector<WindowId>& siblings = parent == kNoWindow ? topLevel_ : nodes_.at(parent).children;
    for (WindowId w : siblings) {
        const WindowPlace& place = nodes_.at(w).place;
        bool skip = !place.visible || (parent != kNoWindow && !place.enabled);
        if (!skip && ScreenWindowRectLocked(w).Contains(screen)) {
            if (!ScreenClientRectLocked(w).Contains(screen)) {
                return w;
            }
            WindowId child = WindowAtLocked(w, screen);
            return child != kNoWindow ? child : w;
        }
    }
    return kNoWindow;
}

WindowId Desktop::WindowAt(Point screen) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_.Bounds().Contains(screen) ? WindowAtLocked(kNoWindow, screen) : kNoWindow;
}

// ---- Focus, capture, input ----------------------------------------------------------------------

void Desktop::SetFocus(WindowId window)
{
    std::lock_guard<std::mutex> lock(mutex_);
    focus_ = window;
}

WindowId Desktop::Focus() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return focus_;
}

void Desktop::SetActive(WindowId window)
{
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = window;
    // An activated window takes the keyboard: a focus left in another window (another program's
    // included) moves to it, as the default handling of the activation does.
    if (focus_ == kNoWindow || TopLevelOfLocked(focus_) != window) {
        focus_ = window;
    }
}

WindowId Desktop::Active() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

void Desktop::SetCapture(WindowId window)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capture_ = window;
}

void Desktop::ReleaseCapture()
{
    std::lock_guard<std::mutex> lock(mutex_);
    capture_ = kNoWindow;
}

WindowId Desktop::Capture() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return capture_;
}

Point Desktop::Cursor() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cursor_;
}

WindowId Desktop::InputTarget(Point screen) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (capture_ != kNoWindow) {
        return capture_;
    }
    return screen_.Bounds().Contains(screen) ? WindowAtLocked(kNoWindow, screen) : kNoWindow;
}

void Desktop::MouseMoveTo(Point screen)
{
    WindowSystem* system;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        screen.x = std::clamp(screen.x, 0, screen_.Width() - 1);
        screen.y = std::clamp(screen.y, 0, screen_.Height() - 1);
        if (cursor_ == screen) {
            return;
        }
        cursor_ = screen;
        system = system_;
    }
    WindowId target = InputTarget(screen);
    if (system && target != kNoWindow) {
        system->MouseMoved(target, screen);
    }
}

void Desktop::SendButton(Point screen, MouseButton button, bool down)
{
    WindowSystem* system;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        system = system_;
    }
    WindowId target = InputTarget(screen);
    if (system && target != kNoWindow) {
        system->MouseButtonEvent(target, screen, button, down);
    }
}

void Desktop::MouseDown(Point screen, MouseButton button)
{
    MouseMoveTo(screen);
    SendButton(Cursor(), button, true);
}

void Desktop::MouseUp(Point screen, MouseButton button)
{
    MouseMoveTo(screen);
    SendButton(Cursor(), button, false);
}

void Desktop::Click(Point screen, MouseButton button)
{
    MouseDown(screen, button);
    MouseUp(screen, button);
}

void Desktop::PointerEvent(int32_t x, int32_t y, uint32_t buttonFlags)
{
    // Absolute coordinates cover the screen in 65536 steps, as for MOUSE_MOVE_ABSOLUTE.
    Point screen{static_cast<int32_t>((static_cast<int64_t>(std::clamp(x, 0, 65535)) * screen_.Width()) >> 16),
                 static_cast<int32_t>((static_cast<int64_t>(std::clamp(y, 0, 65535)) * screen_.Height()) >> 16)};
    MouseMoveTo(screen);
    const struct {
        uint32_t flag;
        MouseButton button;
        bool down;
    } transitions[] = {
        {kLeftButtonDown, MouseButton::Left, true},      {kLeftButtonUp, MouseButton::Left, false},
        {kRightButtonDown, MouseButton::Right, true},    {kRightButtonUp, MouseButton::Right, false},
        {kMiddleButtonDown, MouseButton::Middle, true},  {kMiddleButtonUp, MouseButton::Middle, false},
    };
    for (const auto& t : transitions) {
        if (buttonFlags & t.flag) {
            SendButton(Cursor(), t.button, t.down);
        }
    }
}

WindowId Desktop::TopLevelOfLocked(WindowId window) const
{
    for (const Node* node = FindLocked(window); node; node = FindLocked(node->place.parent)) {
        if (node->place.parent == kNoWindow) {
            return window;
        }
        window = node->place.parent;
    }
    return kNoWindow;
}

void Desktop::KeyPress(uint32_t virtualKey)
{
    WindowSystem* system;
    WindowId target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        system = system_;
        target = focus_ != kNoWindow ? focus_ : active_;
    }
    if (system && target != kNoWindow) {
        system->KeyEvent(target, virtualKey, true);
        system->KeyEvent(target, virtualKey, false);
    }
}

} // namespace tap::desktop
