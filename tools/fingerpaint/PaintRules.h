// How FingerPaint turns the driver's contact frames into figures: the meaning of a reply to
// IOCTL_TOUCH_GET_CONTACT_FRAME, and the strokes of one frame against the frame before it.
//
// A slot in state 1 (down) is a dot at its position; in state 2 (moved) or 4 (lifted) a line from
// the previous frame's position of the same slot; state 0 draws nothing. The contact with
// identifier 1 moves between slots as the controller reports one or two contacts, so its last
// position is handed over to the slot it arrives in:
//   - a one-contact frame of identifier 1 after a two-contact frame continues from the previous
//     frame's second contact;
//   - a two-contact frame after a one-contact frame of identifier 1 continues its second slot
//     from the previous frame's first contact.
#pragma once

#include <vector>

#include <windows.h>

#include "TapShared.h"
#include "tap/ui/Types.h"

namespace fingerpaint {

// What a reply asks of the polling loop.
enum class Reply {
    NothingQueued, // ContactCount 0: ask again
    DataModeOff,   // 0xFE: warn, then turn data mode on again
    NoPort,        // 0xFF: stop polling
    Frame,         // any other count: a frame to draw
};
Reply ReplyOf(const ContactFrame &frame);

// A line from `from` to `to`; a dot when they are the same point.
struct Stroke {
    tap::ui::Point from;
    tap::ui::Point to;
};

// The strokes of FRAME (whose reply is Reply::Frame) in drawing order, slot 1 first. PREVIOUS is
// the frame before; it receives the hand-over copies the rules make and then FRAME itself, ready
// for the next one.
std::vector<Stroke> TakeFrame(const ContactFrame &frame, ContactFrame &previous);

} // namespace fingerpaint
