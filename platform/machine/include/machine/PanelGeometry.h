// How the touch panel lies over the screen: the raw controller value that a finger at a screen
// pixel produces.
//
// The default panel reports 0..4095 on each axis across the screen, linearly, shifted by a small
// offset (so that an uncalibrated or naively calibrated driver is visibly off). A panel can also be
// mounted with its axes swapped (raw X follows the screen's vertical) or mirrored (a raw axis runs
// against the screen direction), the cases the calibration has to undo.
#pragma once

#include <cstdint>

namespace tapmachine {

struct RawPoint {
    uint16_t x = 0;
    uint16_t y = 0;
    bool operator==(const RawPoint &other) const { return x == other.x && y == other.y; }
};

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint &other) const { return x == other.x && y == other.y; }
};

// The calibration record a perfect four-point calibration would compute for a geometry: raw values
// times 100 at the screen edges, in the field order and meaning of the drivers' calibration record.
struct IdealCalibration {
    int32_t rawXStart = 0;
    int32_t rawXEnd = 0;
    int32_t rawYStart = 0;
    int32_t rawYEnd = 0;
    int32_t orientation = 0;  // 1: raw X follows the screen's vertical axis
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
};

class PanelGeometry {
public:
    int screenWidth = 1024;
    int screenHeight = 768;
    // Raw span of each panel axis from one screen edge to the other (raw X from rawMin to
    // rawMaxX, raw Y from rawMin to rawMaxY).
    int rawMin = 0;
    int rawMaxX = 4095;
    int rawMaxY = 4095;
    // Added to every raw value after scaling: the panel sits a little off the visible screen.
    int rawOffsetX = 48;
    int rawOffsetY = 32;
    bool swapAxes = false;  // raw X follows the screen's vertical, raw Y its horizontal
    bool mirrorX = false;   // raw X grows toward the screen's right (or bottom, swapped) edge when false
    bool mirrorY = false;

    // Raw value the controller reports for a finger at this pixel. Pixels outside the screen are
    // extrapolated; results are clamped to the 16-bit range the packets carry.
    RawPoint ToRaw(PixelPoint pixel) const;

    // The pixel (rounded to nearest) a raw value stands for: the inverse of ToRaw.
    PixelPoint ToPixel(RawPoint raw) const;

    IdealCalibration Calibration() const;

private:
    // Raw value of one panel axis at a fraction (0 at the first screen edge, 1 at the second) of
    // the screen direction it follows.
    double RawAt(double fraction, bool mirrored, int rawMax, int offset) const;
};

}  // namespace tapmachine
