// The arithmetic of a calibration: where the four targets are, and how four raw samples become
// the CalibrationData record. Pure functions over plain records, the same in both deliverables
// except for the line's rules (AlignLine.h).
#pragma once

#include <windows.h>

#include "TapShared.h"
#include "AlignLine.h"

namespace align {

constexpr int kTargetCount = 4;
constexpr DWORD kInitialMargin = 3;  // before the registry is read

// The margin in force and the unit radius of the target circles, from the margin read (or the
// initial 3) and the client width: 1 keeps radius W/230, 2..25 give W/120, anything else is
// margin 1 with radius W/300.
struct TargetLayout {
    DWORD margin;
    LONG radius;
};
TargetLayout LayoutFor(DWORD marginRead, LONG width);

struct TargetPoint {
    LONG x;
    LONG y;
};

// Centre of target 0 top left, 1 bottom left, 2 bottom right, 3 top right (unsigned divisions).
TargetPoint TargetCentre(int target, DWORD margin, LONG width, LONG height);

// The four rectangles of a target, in drawing order: half-size r, 1.5r, 2r and 0.5r. The
// fractional ones are computed in floating point and truncated toward zero.
enum TargetSize { kSizeR = 0, kSizeOneAndHalfR = 1, kSizeTwoR = 2, kSizeHalfR = 3, kSizeCount = 4 };
struct TargetRect {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
void TargetRects(TargetPoint centre, LONG radius, TargetRect rects[kSizeCount]);

// The indexes of the largest and second-largest of N values; a later equal value takes the lead.
// With N < 2 the two indexes are left as they are.
void TopTwoIndexes(const ULONG *values, int count, int *largest, int *second);

// The record from the four samples (target order), the margin and the client size.
CalibrationData ComputeCalibration(const RawSample samples[kTargetCount], DWORD margin, float width, float height,
                                   const AlignLine &line);

} // namespace align
