// What reaches the system's mouse class: every report record in arrival order, the one cursor of
// the screen in pixels, the button state, and the pointer events a desktop listens to.
#pragma once

#include <machine/PanelGeometry.h>
#include <machine/SerialLine.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace tapmachine {

// One MOUSE_INPUT_DATA record as the class service received it.
struct MouseRecord {
    uint16_t unitId = 0;
    uint16_t flags = 0;
    uint16_t buttonFlags = 0;
    uint16_t buttonData = 0;
    uint32_t rawButtons = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
    uint32_t extraInformation = 0;
    Ticks time = 0;
    unsigned classDevice = 0;  // which class device (PointerClassN) took it
};

enum class MouseButton { Left, Right, Middle };

struct PointerEvent {
    enum class Kind { Move, ButtonDown, ButtonUp };
    Kind kind = Kind::Move;
    MouseButton button = MouseButton::Left;  // for ButtonDown and ButtonUp
    PixelPoint at;
    Ticks time = 0;
};

struct ButtonState {
    bool left = false;
    bool right = false;
    bool middle = false;
};

// Thread-safe. Listeners are called on the thread that delivered the report, at DISPATCH_LEVEL,
// after the state has been updated and without any lock of this class held: they must not wait.
class MouseInput {
public:
    using Listener = std::function<void(const PointerEvent &)>;

    void SetScreenSize(int width, int height);
    void SetCursor(PixelPoint at);

    // Takes one record: logs it, moves the cursor (absolute 0..65535 spans the screen; relative
    // moves add and stop at the edges), applies the button transitions, tells the listeners.
    void Take(const MouseRecord &record);

    std::vector<MouseRecord> records() const;
    std::vector<MouseRecord> TakeRecords();  // and forget them
    PixelPoint cursor() const;
    ButtonState buttons() const;

    int AddListener(Listener listener);
    void RemoveListener(int id);

    // The pixel an absolute coordinate stands for on an axis of `extent` pixels.
    static int AbsoluteToPixel(int32_t absolute, int extent);

private:
    mutable std::mutex mutex_;
    int width_ = 1024;
    int height_ = 768;
    PixelPoint cursor_{512, 384};
    ButtonState buttons_;
    std::vector<MouseRecord> records_;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
};

}  // namespace tapmachine
