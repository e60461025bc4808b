// PaintWindow: the borderless window over the whole screen on which PaintThread draws the
// contacts of the driver's data mode with a thick red pen. A right click or Esc ends the program,
// a middle click wipes the drawing, the system menu has an About item.
//
// Threads: the window's thread runs the handlers; PaintThread, started at the first paint, polls
// the driver and draws on the window's device context. They share the stop flag (atomic) and the
// device handle, which the window's thread opens before PaintThread starts and closes only after
// PaintThread has ended (FinishDrawing).
#pragma once

#include <atomic>
#include <string>

#include <windows.h>

#include "tap/ui/Framework.h"

namespace fingerpaint {

class PaintWindow : public tap::ui::Dialog {
public:
    PaintWindow();

    // After the window has closed: stops PaintThread and waits until it has left its loop, then
    // turns data mode off and closes the device.
    void FinishDrawing();

protected:
    bool OnInitDialog() override;
    void OnPaint() override;
    void OnSysCommand(uint32_t command, intptr_t lParam) override;
    tap::ui::IconHandle OnQueryDragIcon() override;
    void OnRButtonUp(uint32_t keys, tap::ui::Point client) override;
    void OnMButtonUp(uint32_t keys, tap::ui::Point client) override;
    void OnCancel() override;

private:
    static DWORD WINAPI PaintThread(LPVOID window);
    void AppendAboutItem();
    void StartPaintThread();
    // PaintThread's loop: polls and draws until the stop flag is set or the driver has no port.
    void DrawContacts();
    int ShowPaintMessage(const char *text) const;

    tap::ui::IconHandle icon_;
    std::string programName_; // the message boxes' caption, for PaintThread's too
    std::atomic<bool> stop_{false};
    bool start_ = false;
    HANDLE thread_ = NULL;
};

} // namespace fingerpaint
