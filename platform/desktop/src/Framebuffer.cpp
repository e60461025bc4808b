#include "tap/desktop/Framebuffer.h"

namespace tap::desktop {

Framebuffer::Framebuffer(int32_t width, int32_t height, Rgb fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill)
{
}

} // namespace tap::desktop
