// The four pages of the applet's property sheet and the sheet itself. Each page fills its
// controls from PanelSettings when it is first shown and commits them on OK; the Calibration
// page's margin and the Setting page's port act at once and are undone on Cancel.
#pragma once

#include "PanelSettings.h"
#include "tap/ui/Framework.h"

namespace panel {

// Calibration: starts the calibration program and edits the calibration margin.
class CPage1 : public tap::ui::PropertyPage {
public:
    explicit CPage1(PanelSettings &settings);

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override;
    void OnCancel() override;

private:
    void OnMarginChanged();
    void OnCalibrate();

    PanelSettings &settings_;
    const PanelLine &line_;
    DWORD margin_ = 0;
};

// Setting: mouse mode, double-click range, interactive delay and the COM port.
class CPage2 : public tap::ui::PropertyPage {
public:
    explicit CPage2(PanelSettings &settings);

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override;
    void OnCancel() override;

private:
    void OnModeClicked(DWORD mode);
    void OnPortButton();
    void OnPortSelected();
    void EnableDelayControls();
    void SetPortButton(DWORD enable);
    BOOL PortRequest(DWORD code, DWORD port);
    void Complain(const char *text);

    PanelSettings &settings_;
    const PanelLine &line_;
    DWORD mode_ = 0;
    DWORD delay_ = 0;
    DWORD port_ = 0;
    DWORD enable_ = 0;
    DWORD baud_ = 0;
};

// Sound: the beep mode, frequency and duration, and the test beep.
class CPage3 : public tap::ui::PropertyPage {
public:
    explicit CPage3(PanelSettings &settings);

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override;

private:
    void OnModeSelected();
    void OnTestBeep();

    PanelSettings &settings_;
};

// About: fixed text only.
class CPage4 : public tap::ui::PropertyPage {
public:
    CPage4();
};

class CVXPropertySheet : public tap::ui::PropertySheetDialog {
public:
    CVXPropertySheet(const std::string &caption, tap::ui::WindowHandle parent, unsigned startPage,
                     PanelSettings &settings);

    CPage1 Calibration;
    CPage2 Setting;
    CPage3 Sound;
    CPage4 About;
};

} // namespace panel
