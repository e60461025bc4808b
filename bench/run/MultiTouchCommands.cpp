// Two fingers on the multi-touch panel: the two-point forms of touch and move, and lifting one of
// two fingers. The one-finger forms (InputCommands.cpp) hand these lines over.
#include "Session.h"

namespace tapbench {
namespace {

using Contact = tapmachine::TouchController::Contact;

tapmachine::TouchController &MultiTouchFinger(ScenarioSession &session, const char *usage)
{
    tapmachine::TouchController &controller = session.machine().comPort(session.RequireDevice().port).controller();
    if (controller.protocol() != tapmachine::Protocol::MultiTouch) {
        throw ScenarioError(std::string(usage) + ": two fingers need the multi-touch panel (install polytap)");
    }
    return controller;
}

} // namespace

// touch X1 Y1 X2 Y2: two fingers land at once (identifiers 0 and 1). move X1 Y1 X2 Y2: the fingers
// on the panel move there; with one finger on it, the second one arrives at X2,Y2.
void PlaceTwoFingers(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const std::string usage = Lower(w[0]) + " X1 Y1 X2 Y2";
    tapmachine::TouchController &fingers = MultiTouchFinger(session, usage.c_str());
    ExpectWords(w, 5, 5, usage.c_str());
    const tapmachine::PixelPoint first = Point(w[1], w[2]);
    const tapmachine::PixelPoint second = Point(w[3], w[4]);
    if (Lower(w[0]) == "touch") {
        if (fingers.touching()) {
            throw ScenarioError("touch X1 Y1 X2 Y2 needs an empty panel (lift first)");
        }
        fingers.TouchContacts({{first, 0}, {second, 1}});
    } else {
        const auto &on = fingers.contacts();
        if (on.empty()) {
            throw ScenarioError("move X1 Y1 X2 Y2 needs a finger on the panel (touch first)");
        }
        // The fingers keep their identifiers; one that arrives takes the other.
        const uint8_t firstId = on[0].id;
        const uint8_t secondId = on.size() == 2 ? on[1].id : static_cast<uint8_t>(firstId == 0 ? 1 : 0);
        fingers.MoveContacts({{first, firstId}, {second, secondId}});
    }
    session.fingerAt() = first;
    session.machine().Settle();
}

// lift 1|2: the first or the second of two fingers leaves; the other stays where it is.
void LiftOneFinger(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    tapmachine::TouchController &fingers = MultiTouchFinger(session, "lift 1|2");
    ExpectWords(w, 2, 2, "lift 1|2");
    const int64_t finger = Number(w[1], "finger");
    if (finger != 1 && finger != 2) {
        throw ScenarioError("lift 1 or lift 2, not '" + w[1] + "'");
    }
    if (fingers.contacts().size() != 2) {
        throw ScenarioError("lift " + w[1] + " needs two fingers on the panel");
    }
    fingers.LiftContact(static_cast<size_t>(finger - 1));
    session.fingerAt() = fingers.geometry().ToPixel(fingers.contacts().front().at);
    session.machine().Settle();
}

} // namespace tapbench
