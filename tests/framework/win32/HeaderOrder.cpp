// Tools include the system's headers beside the framework's, in either order, so no name the
// framework gives a tool may be one of their macros (PropertySheet, MessageBox, LoadString ...).
// The framework's headers come first here; FrameworkProbe.cpp includes them last.
#include "tap/ui/Framework.h"

#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <setupapi.h>

namespace {

using namespace tap::ui;

class Sheet : public PropertySheetDialog {
public:
    Sheet() : PropertySheetDialog("sheet") {}
};

class Page : public PropertyPage {
public:
    Page() : PropertyPage(1) {}

protected:
    bool OnInitDialog() override { return PropertyPage::OnInitDialog(); }
    void OnPaint() override
    {
        PaintDC dc(*this);
        Brush brush(Rgb(0, 0, 255));
        Pen pen(1, Rgb(0, 0, 0));
        dc.Select(brush);
        dc.Select(GetStockObjectHandle(StockObject::HollowBrush));
        dc.Rectangle({0, 0, 1, 1});
        dc.Ellipse({0, 0, 1, 1});
        dc.MoveTo({0, 0});
        dc.LineTo({1, 1});
        dc.FillSolidRect({0, 0, 1, 1}, Rgb(1, 2, 3));
        dc.DrawIcon({0, 0}, Application::Current()->LoadIconResource(1));
    }
    void OnTimer(TimerId id) override
    {
        SetText(Text());
        SetTimer(id, 1);
        KillTimer(id);
        RedrawWindow(redraw::Invalidate);
        InvalidateRect({0, 0, 1, 1});
        UpdateWindow();
        SetIcon(Icon(true), false);
        SetPosition(ZOrder::Topmost, 0, 0, 0, 0, position::NoMove | position::NoSize);
        ShowMessageBox("text", "caption", box::Ok);
        Edit(*this, 1).SetReadOnly(true);
        ComboBox(*this, 2).AddString(Application::Current()->LoadStringResource(1));
        ListBox(*this, 3).FindStringExact("x");
        UpDown(*this, 4).SetRange(0, 1);
        Trackbar(*this, 5).SetPosition(0);
        ProgressBar(*this, 6).StepIt();
        ShowCursor(true);
        GetSystemMetric(metric::CxScreen);
        CheckRadioButton(1, 2, 1);
    }
};

} // namespace

// Compiled, never called: the check is that this file compiles.
void HeaderOrderCompiles()
{
    Sheet sheet;
    Page page;
    sheet.AddPage(page);
}
