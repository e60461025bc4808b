#include "Calibration.h"

#include <cstdlib>

namespace align {
namespace {

LONG Truncated(double value)
{
    return static_cast<LONG>(value);
}

float Average(float p, float q)
{
    return (p + q) * 0.5f;
}

LONG EdgeDeltasOrientation(const float x[kTargetCount])
{
    const LONG dx1 = static_cast<LONG>(x[1] - x[0]);
    const LONG dx3 = static_cast<LONG>(x[3] - x[0]);
    return std::labs(dx3) < std::labs(dx1) ? 1 : 0;
}

// The smallest target index that is none of the four top-two indexes of raw X and raw Y.
LONG TopTwoOrientation(const RawSample samples[kTargetCount])
{
    ULONG rawX[kTargetCount];
    ULONG rawY[kTargetCount];
    for (int i = 0; i < kTargetCount; ++i) {
        rawX[i] = samples[i].RawX;
        rawY[i] = samples[i].RawY;
    }
    int taken[4] = {0, 0, 0, 0};
    TopTwoIndexes(rawX, kTargetCount, &taken[0], &taken[1]);
    TopTwoIndexes(rawY, kTargetCount, &taken[2], &taken[3]);
    for (int candidate = 0; candidate < kTargetCount; ++candidate) {
        bool used = false;
        for (int index : taken) {
            used = used || index == candidate;
        }
        if (!used) {
            return candidate;
        }
    }
    return 0;
}

float Clamped(float value, const AlignLine &line)
{
    if (value < 0.0f) {
        return 0.0f;
    }
    if (line.clampAbove && value > line.upperClamp) {
        return line.upperClamp;
    }
    return value;
}

LONG Hundredths(float value)
{
    return static_cast<LONG>(value * 100.0f);
}

} // namespace

TargetLayout LayoutFor(DWORD marginRead, LONG width)
{
    if (marginRead == 1) {
        return {1, width / 230};
    }
    if (marginRead >= 2 && marginRead <= 25) {
        return {marginRead, width / 120};
    }
    return {1, width / 300};
}

TargetPoint TargetCentre(int target, DWORD margin, LONG width, LONG height)
{
    const DWORD w = static_cast<DWORD>(width);
    const DWORD h = static_cast<DWORD>(height);
    const LONG nearX = static_cast<LONG>(w * margin / 100);
    const LONG nearY = static_cast<LONG>(h * margin / 100);
    const LONG farX = static_cast<LONG>((100 - margin) * w / 100);
    const LONG farY = static_cast<LONG>((100 - margin) * h / 100);
    switch (target) {
    case 0: return {nearX, nearY};
    case 1: return {nearX, farY};
    case 2: return {farX, farY};
    default: return {farX, nearY};
    }
}

void TargetRects(TargetPoint centre, LONG radius, TargetRect rects[kSizeCount])
{
    rects[kSizeR] = {centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius};
    rects[kSizeTwoR] = {centre.x - 2 * radius, centre.y - 2 * radius, centre.x + 2 * radius, centre.y + 2 * radius};
    const double r = radius;
    rects[kSizeOneAndHalfR] = {Truncated(centre.x - 1.5 * r), Truncated(centre.y - 1.5 * r),
                               Truncated(centre.x + 1.5 * r), Truncated(centre.y + 1.5 * r)};
    rects[kSizeHalfR] = {Truncated(centre.x - 0.5 * r), Truncated(centre.y - 0.5 * r),
                         Truncated(centre.x + 0.5 * r), Truncated(centre.y + 0.5 * r)};
}

void TopTwoIndexes(const ULONG *values, int count, int *largest, int *second)
{
    if (count < 2) {
        return;
    }
    if (values[0] < values[1]) {
        *largest = 1;
        *second = 0;
    } else {
        *largest = 0;
        *second = 1;
    }
    for (int i = 2; i < count; ++i) {
        if (values[i] >= values[*largest]) {
            *second = *largest;
            *largest = i;
        } else if (values[i] > values[*second]) {
            *second = i;
        }
    }
}

CalibrationData ComputeCalibration(const RawSample samples[kTargetCount], DWORD margin, float width, float height,
                                   const AlignLine &line)
{
    float x[kTargetCount];
    float y[kTargetCount];
    for (int i = 0; i < kTargetCount; ++i) {
        x[i] = static_cast<float>(samples[i].RawX);
        y[i] = static_cast<float>(samples[i].RawY);
    }
    const LONG orientation = line.orientation == OrientationRule::EdgeDeltas ? EdgeDeltasOrientation(x)
                                                                            : TopTwoOrientation(samples);
    float xs, xe, ys, ye;
    if (orientation == 1 || orientation == 3) {
        xs = Average(x[1], x[2]);  // bottom targets
        xe = Average(x[0], x[3]);  // top targets
        ys = Average(y[0], y[1]);  // left targets
        ye = Average(y[2], y[3]);  // right targets
    } else {
        xs = Average(x[0], x[1]);  // left targets
        xe = Average(x[2], x[3]);  // right targets
        ys = Average(y[0], y[3]);  // top targets
        ye = Average(y[1], y[2]);  // bottom targets
    }
    // The targets lie at m and 100 - m percent: extrapolate to the screen edges.
    const float mf = static_cast<float>(margin);
    const float kf = static_cast<float>(100 - 2 * static_cast<LONG>(margin));
    const float dX = (xe - xs) * mf / kf;
    const float dY = (ye - ys) * mf / kf;
    CalibrationData record;
    record.RawXStart = Hundredths(Clamped(xs - dX, line));
    record.RawXEnd = Hundredths(Clamped(xe + dX, line));
    record.RawYStart = Hundredths(Clamped(ys - dY, line));
    record.RawYEnd = Hundredths(Clamped(ye + dY, line));
    record.Orientation = orientation;
    record.ScreenWidth = static_cast<LONG>(width);
    record.ScreenHeight = static_cast<LONG>(height);
    return record;
}

} // namespace align
