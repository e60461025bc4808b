// CalibrationWindow: the full-screen window that shows the four targets one after the other,
// takes the driver's raw sample at each release, and after the fourth computes the calibration,
// puts it in force and asks whether to store it.
#pragma once

#include "tap/ui/Framework.h"

namespace align {

class CalibrationWindow : public tap::ui::Dialog {
public:
    CalibrationWindow();

protected:
    bool OnInitDialog() override;
    void OnPaint() override;
    void OnLButtonUp(uint32_t keys, tap::ui::Point client) override;
    tap::ui::IconHandle OnQueryDragIcon() override;
    void OnDestroy() override;

private:
    void PaintTarget();
    void RepaintNow();
    // After the fourth release: the record computed, sent and, on Yes, stored. True when the
    // dialog has ended.
    bool FinishPass();

    tap::ui::IconHandle icon_;
};

} // namespace align
