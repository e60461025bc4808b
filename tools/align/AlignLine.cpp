#include "AlignLine.h"

namespace align {
namespace {

const AlignLine kSingleTouch = {OrientationRule::EdgeDeltas, false, 0.0f};
const AlignLine kMultiTouch = {OrientationRule::TopTwoIndexes, true, 4095.0f};

} // namespace

const AlignLine &LineOf(const TargetDriver &driver)
{
    return driver.MultiTouch ? kMultiTouch : kSingleTouch;
}

const TargetDriver &Driver()
{
    return GetTargetDriver(ALIGN_TARGET_DRIVER);
}

const AlignLine &Line()
{
    return LineOf(Driver());
}

} // namespace align
