// Drawing through the framework as the tools do it: a full-window fill and hollow ellipses (the
// calibration screen), wide pens from another thread (the drawing test program), the cursor
// counter, and a dialog that ends before it is ever shown.
#include <atomic>
#include <thread>

#include "FrameworkFixture.h"
#include "resource.h"

namespace tap::ui {
namespace {

constexpr desktop::Rgb kCyan = desktop::MakeRgb(0, 255, 255);
constexpr desktop::Rgb kRed = desktop::MakeRgb(255, 0, 0);

// Paints like the calibration screen: cyan everywhere, one hollow circle, a cross.
class TargetDialog : public Dialog {
public:
    TargetDialog() : Dialog(IDD_TARGET) {}

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        ShowCursor(false);
        return true;
    }

    void OnPaint() override
    {
        Dialog::OnPaint();
        ClientDC dc(*this);
        Rect client = ClientRect();
        dc.FillSolidRect({0, 0, client.Width(), client.Height()}, Rgb(0, 255, 255));
        GdiObjectHandle previous = dc.Select(GetStockObjectHandle(StockObject::HollowBrush));
        dc.Ellipse({20, 20, 41, 41});
        dc.MoveTo({10, 30});
        dc.LineTo({51, 30});
        dc.Select(previous);
    }

    void OnLButtonUp(uint32_t keys, Point client) override
    {
        Dialog::OnLButtonUp(keys, client);
        // A worker thread draws on the window's device context, as a polling thread does.
        std::thread worker([this] {
            ClientDC dc(*this);
            Pen pen(6, Rgb(255, 0, 0));
            GdiObjectHandle previous = dc.Select(pen);
            dc.MoveTo({60, 60});
            dc.LineTo({100, 60});
            dc.Select(previous);
        });
        worker.join();
    }

    void OnDestroy() override
    {
        ShowCursor(true);
        Dialog::OnDestroy();
    }
};

class Drawing : public FrameworkTest {
protected:
    desktop::Rgb Pixel(WindowHandle window, int x, int y)
    {
        desktop::Point p = ScreenOf(window, {x, y});
        auto lock = desktop.LockScreen();
        return desktop.Screen().Pixel(p.x, p.y);
    }
};

TEST_F(Drawing, FillHollowEllipseAndCrossAsTheCalibrationScreenDrawsThem)
{
    Run([] { TargetDialog().RunModal(); });
    WindowHandle window = TopWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(session.CursorCount(), -1);
    EXPECT_EQ(Pixel(window, 5, 5), kCyan);
    EXPECT_EQ(Pixel(window, 30, 25), kCyan);        // inside the circle: the hollow brush
    EXPECT_EQ(Pixel(window, 20, 30), 0u);           // the circle's leftmost point and the cross
    EXPECT_EQ(Pixel(window, 30, 20), 0u);
    EXPECT_EQ(Pixel(window, 50, 30), 0u);
    EXPECT_EQ(Pixel(window, 51, 30), kCyan);        // LineTo leaves out its end point

    Click(window, {5, 5});
    EXPECT_EQ(Pixel(window, 80, 60), kRed);
    EXPECT_EQ(Pixel(window, 80, 57), kRed);         // 6 pixels wide
    EXPECT_EQ(Pixel(window, 80, 64), kCyan);
    EXPECT_EQ(Pixel(window, 57, 60), kRed);         // round ends

    Key(desktop::kKeyEscape);
    EXPECT_EQ(session.CursorCount(), 0);
}

class EndsAtOnce : public Dialog {
public:
    EndsAtOnce() : Dialog(IDD_CONTROLS) {}

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        EndDialog(answer::Ok);
        return true;
    }
};

TEST_F(Drawing, ADialogEndedDuringInitialisationIsNeverShown)
{
    std::atomic<intptr_t> result{0};
    host::ProgramId program = Run([&] {
        EndsAtOnce dialog;
        result = dialog.RunModal();
    });
    EXPECT_TRUE(session.HasExited(program));
    EXPECT_EQ(result, answer::Ok);
    EXPECT_TRUE(session.TopLevelWindows().empty());
    auto lock = desktop.LockScreen();
    EXPECT_EQ(desktop.Screen().Pixel(20, 20), desktop::kDesktopColor);
}

TEST_F(Drawing, AMissingTemplateFailsTheDialog)
{
    std::atomic<intptr_t> result{0};
    Run([&] { result = Dialog(999).RunModal(); });
    EXPECT_EQ(result, -1);
}

} // namespace
} // namespace tap::ui
