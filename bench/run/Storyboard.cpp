#include "Storyboard.h"

#include <algorithm>
#include <sstream>

#include <tapkernel/Text.h>

#include "tap/desktop/Canvas.h"
#include "tap/desktop/Font.h"

namespace tapbench {

using tap::desktop::Framebuffer;
using tap::desktop::Rgb;

Framebuffer ShrinkImage(const Framebuffer &image, int scale)
{
    const int32_t width = std::max(1, image.Width() / scale);
    const int32_t height = std::max(1, image.Height() / scale);
    Framebuffer small(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t r = 0, g = 0, b = 0, count = 0;
            for (int32_t dy = 0; dy < scale && y * scale + dy < image.Height(); ++dy) {
                for (int32_t dx = 0; dx < scale && x * scale + dx < image.Width(); ++dx) {
                    const Rgb pixel = image.Pixel(x * scale + dx, y * scale + dy);
                    r += (pixel >> 16) & 0xFF;
                    g += (pixel >> 8) & 0xFF;
                    b += pixel & 0xFF;
                    ++count;
                }
            }
            count = std::max(count, 1u);
            small.SetPixel(x, y, tap::desktop::MakeRgb(static_cast<uint8_t>(r / count), static_cast<uint8_t>(g / count),
                                                       static_cast<uint8_t>(b / count)));
        }
    }
    return small;
}

std::string WrapLabel(const std::string &label, size_t width)
{
    std::vector<std::string> lines{""};
    std::istringstream words(label);
    std::string word;
    while (words >> word) {
        std::string &line = lines.back();
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(word);
        } else {
            line += (line.empty() ? "" : " ") + word;
        }
    }
    if (lines.size() > static_cast<size_t>(Storyboard::kLabelLines)) {
        lines.resize(Storyboard::kLabelLines);
        lines.back() += "~";
    }
    std::string wrapped;
    for (std::string &line : lines) {
        if (line.size() > width) {
            line = line.substr(0, width - 1) + "~";
        }
        wrapped += (wrapped.empty() ? "" : "\n") + line;
    }
    return wrapped;
}

void Storyboard::Add(const Framebuffer &screen, const std::string &label)
{
    frames_.push_back({ShrinkImage(screen, kScale), label});
}

Framebuffer Storyboard::Sheet() const
{
    int32_t cellWidth = 1, cellHeight = 1;
    for (const Frame &frame : frames_) {
        cellWidth = std::max(cellWidth, frame.picture.Width());
        cellHeight = std::max(cellHeight, frame.picture.Height());
    }
    const int32_t count = std::max<int32_t>(1, static_cast<int32_t>(frames_.size()));
    const int32_t columns = std::min(columns_, count);
    const int32_t rows = (count + columns - 1) / columns;
    const int32_t pitchX = cellWidth + kMargin;
    const int32_t pitchY = cellHeight + kLabelHeight + kMargin;
    const Rgb background = tap::desktop::MakeRgb(0xF0, 0xF0, 0xF0);
    Framebuffer sheet(kMargin + columns * pitchX, kMargin + rows * pitchY, background);
    tap::desktop::Canvas canvas(sheet, {0, 0}, tap::desktop::Region(sheet.Bounds()));
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Frame &frame = frames_[i];
        const int32_t left = kMargin + static_cast<int32_t>(i % columns) * pitchX;
        const int32_t top = kMargin + static_cast<int32_t>(i / columns) * pitchY;
        for (int32_t y = 0; y < frame.picture.Height(); ++y) {
            for (int32_t x = 0; x < frame.picture.Width(); ++x) {
                sheet.SetPixel(left + x, top + y, frame.picture.Pixel(x, y));
            }
        }
        const size_t fits = static_cast<size_t>(std::max(1, cellWidth / tap::desktop::kCellWidth));
        const std::u16string text = tapkernel::ToUtf16(WrapLabel(std::to_string(i + 1) + ". " + frame.label, fits));
        canvas.DrawString({left, top + frame.picture.Height() + 2}, text, 0, kLabelLineHeight);
    }
    return sheet;
}

} // namespace tapbench
