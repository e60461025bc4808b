#include <machine/PanelGeometry.h>

#include <algorithm>
#include <cmath>

namespace tapmachine {

namespace {

// Fraction of the way from the first to the last pixel of a screen axis.
double PixelFraction(int pixel, int extent)
{
    return extent > 1 ? static_cast<double>(pixel) / (extent - 1) : 0.0;
}

uint16_t ClampToPacketRange(double raw)
{
    return static_cast<uint16_t>(std::clamp(std::lround(raw), 0L, 65535L));
}

}  // namespace

double PanelGeometry::RawAt(double fraction, bool mirrored, int rawMax, int offset) const
{
    double along = mirrored ? 1.0 - fraction : fraction;
    return rawMin + along * (rawMax - rawMin) + offset;
}

RawPoint PanelGeometry::ToRaw(PixelPoint pixel) const
{
    double fx = PixelFraction(pixel.x, screenWidth);
    double fy = PixelFraction(pixel.y, screenHeight);
    // With swapped axes the panel's X runs along the screen's vertical.
    double alongRawX = swapAxes ? fy : fx;
    double alongRawY = swapAxes ? fx : fy;
    return {ClampToPacketRange(RawAt(alongRawX, mirrorX, rawMaxX, rawOffsetX)),
            ClampToPacketRange(RawAt(alongRawY, mirrorY, rawMaxY, rawOffsetY))};
}

PixelPoint PanelGeometry::ToPixel(RawPoint raw) const
{
    auto fractionOf = [this](int value, bool mirrored, int rawMax, int offset) {
        double along = static_cast<double>(value - offset - rawMin) / (rawMax - rawMin);
        return mirrored ? 1.0 - along : along;
    };
    double alongRawX = fractionOf(raw.x, mirrorX, rawMaxX, rawOffsetX);
    double alongRawY = fractionOf(raw.y, mirrorY, rawMaxY, rawOffsetY);
    double fx = swapAxes ? alongRawY : alongRawX;
    double fy = swapAxes ? alongRawX : alongRawY;
    return {static_cast<int>(std::lround(fx * (screenWidth - 1))),
            static_cast<int>(std::lround(fy * (screenHeight - 1)))};
}

IdealCalibration PanelGeometry::Calibration() const
{
    auto times100 = [](double raw) { return static_cast<int32_t>(std::lround(raw * 100.0)); };
    IdealCalibration result;
    result.screenWidth = screenWidth;
    result.screenHeight = screenHeight;
    if (swapAxes) {
        // Raw X follows the vertical: its Start is the bottom edge, its End the top edge.
        result.orientation = 1;
        result.rawXStart = times100(RawAt(1.0, mirrorX, rawMaxX, rawOffsetX));
        result.rawXEnd = times100(RawAt(0.0, mirrorX, rawMaxX, rawOffsetX));
        result.rawYStart = times100(RawAt(0.0, mirrorY, rawMaxY, rawOffsetY));
        result.rawYEnd = times100(RawAt(1.0, mirrorY, rawMaxY, rawOffsetY));
    } else {
        result.orientation = 0;
        result.rawXStart = times100(RawAt(0.0, mirrorX, rawMaxX, rawOffsetX));
        result.rawXEnd = times100(RawAt(1.0, mirrorX, rawMaxX, rawOffsetX));
        result.rawYStart = times100(RawAt(0.0, mirrorY, rawMaxY, rawOffsetY));
        result.rawYEnd = times100(RawAt(1.0, mirrorY, rawMaxY, rawOffsetY));
    }
    return result;
}

}  // namespace tapmachine
