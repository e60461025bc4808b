#include "PaintRules.h"

namespace fingerpaint {
namespace {

// The stroke of one slot in STATE at AT, which was at BEFORE in the previous frame.
void AddSlotStroke(std::vector<Stroke> &strokes, UCHAR state, tap::ui::Point at, tap::ui::Point before)
{
    switch (state) {
    case ContactDown: strokes.push_back({at, at}); break;
    case ContactMoved:
    case ContactLifted: strokes.push_back({before, at}); break;
    default: break;
    }
}

tap::ui::Point First(const ContactFrame &frame)
{
    return {frame.Contact1X, frame.Contact1Y};
}

tap::ui::Point Second(const ContactFrame &frame)
{
    return {frame.Contact2X, frame.Contact2Y};
}

} // namespace

Reply ReplyOf(const ContactFrame &frame)
{
    switch (frame.ContactCount) {
    case CONTACT_COUNT_NONE_QUEUED: return Reply::NothingQueued;
    case CONTACT_COUNT_DATA_MODE_OFF: return Reply::DataModeOff;
    case CONTACT_COUNT_NO_PORT: return Reply::NoPort;
    default: return Reply::Frame;
    }
}

std::vector<Stroke> TakeFrame(const ContactFrame &frame, ContactFrame &previous)
{
    std::vector<Stroke> strokes;
    if (frame.ContactCount == 1 && (frame.Contact1Id == 0 || frame.Contact1Id == 1)) {
        if (frame.Contact1Id == 1 && previous.ContactCount == 2) {
            previous.Contact1X = previous.Contact2X;
            previous.Contact1Y = previous.Contact2Y;
        }
        AddSlotStroke(strokes, frame.Contact1State, First(frame), First(previous));
    } else if (frame.ContactCount == 2) {
        if (previous.ContactCount == 1 && previous.Contact1Id == 1) {
            previous.Contact2X = previous.Contact1X;
            previous.Contact2Y = previous.Contact1Y;
        }
        AddSlotStroke(strokes, frame.Contact1State, First(frame), First(previous));
        AddSlotStroke(strokes, frame.Contact2State, Second(frame), Second(previous));
    }
    previous = frame;
    return strokes;
}

} // namespace fingerpaint
