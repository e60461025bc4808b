#include <machine/MouseInput.h>

#include <algorithm>

namespace tapmachine {

namespace {

// Button flags of MOUSE_INPUT_DATA, in the order Windows applies them.
struct ButtonFlag {
    uint16_t flag;
    MouseButton button;
    bool down;
};
constexpr ButtonFlag kButtonFlags[] = {
    {0x0001, MouseButton::Left, true},   {0x0002, MouseButton::Left, false},
    {0x0004, MouseButton::Right, true},  {0x0008, MouseButton::Right, false},
    {0x0010, MouseButton::Middle, true}, {0x0020, MouseButton::Middle, false},
};
constexpr uint16_t kMoveAbsolute = 0x0001;

bool &StateOf(ButtonState &state, MouseButton button)
{
    switch (button) {
    case MouseButton::Left: return state.left;
    case MouseButton::Right: return state.right;
    default: return state.middle;
    }
}

}  // namespace

int MouseInput::AbsoluteToPixel(int32_t absolute, int extent)
{
    int64_t pixel = static_cast<int64_t>(std::clamp<int32_t>(absolute, 0, 65535)) * extent / 65536;
    return static_cast<int>(pixel);
}

void MouseInput::SetScreenSize(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex_);
    width_ = width;
    height_ = height;
    cursor_.x = std::clamp(cursor_.x, 0, width_ - 1);
    cursor_.y = std::clamp(cursor_.y, 0, height_ - 1);
}

void MouseInput::SetCursor(PixelPoint at)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = {std::clamp(at.x, 0, width_ - 1), std::clamp(at.y, 0, height_ - 1)};
}

void MouseInput::Take(const MouseRecord &record)
{
    std::vector<PointerEvent> events;
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(record);
        PixelPoint before = cursor_;
        if (record.flags & kMoveAbsolute) {
            cursor_ = {AbsoluteToPixel(record.lastX, width_), AbsoluteToPixel(record.lastY, height_)};
        } else {
            cursor_ = {std::clamp(cursor_.x + record.lastX, 0, width_ - 1),
                       std::clamp(cursor_.y + record.lastY, 0, height_ - 1)};
        }
        if (!(cursor_ == before)) {
            events.push_back({PointerEvent::Kind::Move, MouseButton::Left, cursor_, record.time});
        }
        for (const ButtonFlag &b : kButtonFlags) {
            if (record.buttonFlags & b.flag) {
                StateOf(buttons_, b.button) = b.down;
                events.push_back({b.down ? PointerEvent::Kind::ButtonDown : PointerEvent::Kind::ButtonUp,
                                  b.button, cursor_, record.time});
            }
        }
        for (const auto &entry : listeners_) {
            listeners.push_back(entry.second);
        }
    }
    for (const PointerEvent &event : events) {
        for (const Listener &listener : listeners) {
            listener(event);
        }
    }
}

std::vector<MouseRecord> MouseInput::records() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

std::vector<MouseRecord> MouseInput::TakeRecords()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<MouseRecord> taken;
    taken.swap(records_);
    return taken;
}

PixelPoint MouseInput::cursor() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cursor_;
}

ButtonState MouseInput::buttons() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return buttons_;
}

int MouseInput::AddListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_[nextListener_] = std::move(listener);
    return nextListener_++;
}

void MouseInput::RemoveListener(int id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.erase(id);
}

}  // namespace tapmachine
