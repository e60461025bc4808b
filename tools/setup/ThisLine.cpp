#include "SetupLine.h"

namespace setup {

const SetupLine &ThisLine()
{
    return LineOf(SETUP_LINE == SETUP_LINE_SINGLE_TOUCH ? tap::setup::ProductLine::SingleTouch
                                                        : tap::setup::ProductLine::MultiTouch);
}

} // namespace setup
