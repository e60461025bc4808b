// What sets MonoAlign and PolyAlign apart, in one table: the driver each serves and the two rules
// of the computation that differ between the lines. The deliverable's driver is fixed when it is
// built (ALIGN_TARGET_DRIVER, a TargetDriverId); its line's row follows from that driver.
#pragma once

#include <tap/common/TargetDriver.h>

namespace align {

enum class OrientationRule {
    EdgeDeltas,     // MonoAlign: raw X follows the vertical when it changes more down the left side
    TopTwoIndexes,  // PolyAlign: the corner whose raw X and Y are both among the two smallest
};

struct AlignLine {
    OrientationRule orientation;
    bool clampAbove;    // PolyAlign clamps edge values to the controller's range
    float upperClamp;   // in raw units, when clampAbove
};

// The row of a line: single- or multi-touch.
const AlignLine &LineOf(const TargetDriver &driver);

// The driver this deliverable serves, and its line's row.
const TargetDriver &Driver();
const AlignLine &Line();

} // namespace align
