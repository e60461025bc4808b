// SwitchWindow: the small always-on-top window with the two-button picture. The button the next
// touch will produce is filled blue; a tap on the window arms the driver's one-shot right click.
#pragma once

#include <cstdint>

#include "tap/ui/Framework.h"

namespace sideswitch {

class SwitchWindow : public tap::ui::Dialog {
public:
    SwitchWindow();

    // 1 while the window shows the right button as the next one.
    uint32_t RightMode() const { return rightMode_; }

protected:
    bool OnInitDialog() override;
    void OnPaint() override;
    tap::ui::IconHandle OnQueryDragIcon() override;
    void OnLButtonUp(uint32_t keys, tap::ui::Point client) override;
    void OnTimer(tap::ui::TimerId id) override;
    void OnClose() override;

private:
    void PaintButtons();
    void RepaintNow();

    tap::ui::IconHandle icon_;
    uint32_t rightMode_ = 0;
    tap::ui::TimerId timer_ = 0;
};

} // namespace sideswitch
