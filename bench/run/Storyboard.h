// A storyboard: one PNG sheet with a labelled picture of the screen per step of a run, in rows,
// each picture a quarter of the screen's size on each axis, its number and words beneath it.
#pragma once

#include <string>
#include <vector>

#include "tap/desktop/Framebuffer.h"

namespace tapbench {

class Storyboard {
public:
    explicit Storyboard(int columns = 3) : columns_(columns < 1 ? 1 : columns) {}

    // The screen as step LABEL left it.
    void Add(const tap::desktop::Framebuffer &screen, const std::string &label);
    size_t size() const { return frames_.size(); }

    // The sheet of every picture so far; an empty sheet of one cell when there is none.
    tap::desktop::Framebuffer Sheet() const;

    static constexpr int kScale = 4;
    static constexpr int kMargin = 8;
    static constexpr int kLabelLines = 3;
    static constexpr int kLabelLineHeight = 11;
    static constexpr int kLabelHeight = kLabelLines * kLabelLineHeight + 4;

private:
    struct Frame {
        tap::desktop::Framebuffer picture;
        std::string label;
    };

    int columns_;
    std::vector<Frame> frames_;
};

// The picture at 1/SCALE of its size on each axis, each pixel the mean of the SCALE x SCALE block
// it stands for.
tap::desktop::Framebuffer ShrinkImage(const tap::desktop::Framebuffer &image, int scale);

// LABEL in lines of at most WIDTH characters, broken between words, at most kLabelLines of them;
// "~" marks where something was cut.
std::string WrapLabel(const std::string &label, size_t width);

} // namespace tapbench
