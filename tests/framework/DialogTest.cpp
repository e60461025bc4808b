// Dialogs from templates on the host desktop: the modal loop, the dialog manager's keys, the
// controls reached by id, message boxes, timers on the virtual clock and the order of painting.
#include <atomic>
#include <vector>

#include "FrameworkFixture.h"
#include "resource.h"

namespace tap::ui {
namespace {

constexpr uint32_t kDisabled = 0x08000000;

struct Command {
    int id;
    int code;
};

// The controls dialog, recording what reaches its handlers.
class ControlsDialog : public Dialog {
public:
    ControlsDialog() : Dialog(IDD_CONTROLS) {}

    std::vector<Command> commands;
    int timerTicks = 0;
    int paints = 0;
    int paintsAfterInvalidate = -1;
    int paintsAfterRedraw = -1;
    int boxAnswer = 0;
    int destroyed = 0;

protected:
    bool OnInitDialog() override
    {
        Dialog::OnInitDialog();
        UpDown spin(*this, IDC_SPIN);
        spin.SetRange(0, 99);
        spin.SetPosition(25);
        ComboBox ports(*this, IDC_COMBO);
        for (const char* name : {"COM1", "COM2", "NONE"}) {
            ports.AddString(name);
        }
        ports.SetCurrentSelection(0);
        ListBox types(*this, IDC_LIST);
        types.AddString("RS232 Controller");
        types.AddString("USB Controller");
        Button(*this, IDC_ICON_BUTTON).SetIcon(Application::Current()->LoadIconResource(IDI_SQUARE));
        SetTimer(5, 500);
        return true;
    }

    void OnPaint() override
    {
        ++paints;
        Dialog::OnPaint();
    }

    bool OnCommand(int id, int code) override
    {
        commands.push_back({id, code});
        if (id == IDC_ICON_BUTTON) {
            int before = paints;
            Invalidate();
            paintsAfterInvalidate = paints - before;
            RedrawWindow(redraw::Invalidate | redraw::Erase | redraw::UpdateNow);
            paintsAfterRedraw = paints - before;
            boxAnswer = ShowMessageBox("Save the calibration data?", "Plenvix", box::YesNo);
            return true;
        }
        return Dialog::OnCommand(id, code);
    }

    void OnTimer(TimerId id) override
    {
        if (id == 5 && ++timerTicks == 3) {
            KillTimer(5);
        }
        Dialog::OnTimer(id);
    }

    void OnDestroy() override
    {
        ++destroyed;
        Dialog::OnDestroy();
    }
};

class Dialogs : public FrameworkTest {
protected:
    void SetUp() override
    {
        program = Run([this] {
            result = dialog.RunModal();
        });
        handle = TopWindow();
        ASSERT_NE(handle, nullptr);
    }

    bool HasCommand(int id, int code) const
    {
        for (const Command& c : dialog.commands) {
            if (c.id == id && c.code == code) {
                return true;
            }
        }
        return false;
    }

    // Dialog units of MS Sans Serif 8 (6 x 13) to client pixels.
    static Point Du(int x, int y) { return {x * 6 / 4, y * 13 / 8}; }

    ControlsDialog dialog;
    std::atomic<intptr_t> result{0};
    host::ProgramId program = 0;
    WindowHandle handle = nullptr;
};

TEST_F(Dialogs, EnterEndsWithTheDefaultButtonAndTheDialogIsDestroyed)
{
    EXPECT_EQ(WindowRef(handle).Text(), "Controls");
    Key(desktop::kKeyEnter);
    EXPECT_TRUE(session.HasExited(program));
    EXPECT_EQ(result, answer::Ok);
    EXPECT_EQ(dialog.destroyed, 1);
    EXPECT_FALSE(dialog.Exists());
}

TEST_F(Dialogs, EscapeCancels)
{
    Key(desktop::kKeyEscape);
    EXPECT_EQ(result, answer::Cancel);
}

TEST_F(FrameworkTest, ModalDialogIsShownEvenWithoutVisibleInItsTemplate)
{
    Run([] { Dialog(IDD_HIDDEN).RunModal(); });
    WindowHandle hidden = TopWindow();
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(WindowRef(hidden).Text(), "Hidden");
    EXPECT_TRUE(WindowRef(hidden).IsVisible());
    Key(desktop::kKeyEnter);
    EXPECT_FALSE(WindowRef(hidden).Exists());
}

TEST_F(Dialogs, FrameAndCaptionSurroundTheClientArea)
{
    Rect window = WindowRef(handle).WindowRect();
    Rect client = WindowRef(handle).ClientRect();
    EXPECT_EQ(client, (Rect{0, 0, 300, 260})); // 200 x 160 dialog units
    EXPECT_EQ(window.Width(), client.Width() + 2 * GetSystemMetric(metric::CxFixedFrame));
    EXPECT_EQ(window.Height(), client.Height() + 2 * GetSystemMetric(metric::CyFixedFrame) +
                                   GetSystemMetric(metric::CyCaption));
    Point origin = WindowRef(handle).ClientToScreen({0, 0});
    EXPECT_EQ(origin.x, 15); // the template's 10 dialog units from the screen's corner
    // 10 dialog units down would put the caption above the screen: the window is kept on it.
    EXPECT_EQ(window.top, 0);
    EXPECT_EQ(origin.y, 3 + 19);
}

TEST_F(Dialogs, AutoRadioButtonsCheckOneOfTheirGroup)
{
    Point b = Du(8, 26);
    Click(handle, {b.x + 3, b.y + 3});
    EXPECT_TRUE(Button(WindowRef(handle), IDC_RADIO_B).IsChecked());
    EXPECT_TRUE(HasCommand(IDC_RADIO_B, notify::ButtonClicked));
    Point c = Du(8, 38);
    Click(handle, {c.x + 3, c.y + 3});
    EXPECT_FALSE(Button(WindowRef(handle), IDC_RADIO_B).IsChecked());
    EXPECT_TRUE(Button(WindowRef(handle), IDC_RADIO_C).IsChecked());
    EXPECT_FALSE(Button(WindowRef(handle), IDC_RADIO_A).IsChecked());
}

TEST_F(Dialogs, UpDownWritesItsPositionIntoItsBuddy)
{
    Edit edit(WindowRef(handle), IDC_EDIT);
    EXPECT_EQ(edit.Text(), "25");
    EXPECT_TRUE(HasCommand(IDC_EDIT, notify::EditChange));
    Point spin = Du(130, 10);
    Click(handle, {spin.x + 2, spin.y + 2}); // the upper arrow
    EXPECT_EQ(edit.Text(), "26");
    EXPECT_EQ(UpDown(WindowRef(handle), IDC_SPIN).Position(), 26);
    Click(handle, {spin.x + 2, spin.y + 16}); // the lower arrow
    EXPECT_EQ(edit.Text(), "25");
}

TEST_F(Dialogs, ComboBoxSelectionByTheUserNotifiesButNotByTheProgram)
{
    ComboBox ports(WindowRef(handle), IDC_COMBO);
    EXPECT_EQ(ports.Count(), 3);
    EXPECT_EQ(ports.ItemText(2), "NONE");
    EXPECT_EQ(ports.FindStringExact("com2"), 1);
    EXPECT_FALSE(HasCommand(IDC_COMBO, notify::ComboSelectionChange));

    Point combo = Du(4, 60);
    Click(handle, {combo.x + 5, combo.y + 5}); // opens the list under the field
    WindowHandle list = TopWindow();
    ASSERT_NE(list, handle);
    Click(list, {5, 2 + 13 + 5});              // the second entry
    EXPECT_EQ(ports.CurrentSelection(), 1);
    EXPECT_TRUE(HasCommand(IDC_COMBO, notify::ComboSelectionChange));
    EXPECT_EQ(TopWindow(), handle);
}

TEST_F(Dialogs, ListBoxTrackbarAndProgressBar)
{
    ListBox types(WindowRef(handle), IDC_LIST);
    Point list = Du(100, 60);
    Click(handle, {list.x + 10, list.y + 2 + 13 + 4});
    EXPECT_EQ(types.CurrentSelection(), 1);
    EXPECT_EQ(types.ItemText(types.CurrentSelection()), "USB Controller");
    EXPECT_TRUE(HasCommand(IDC_LIST, notify::ListSelectionChange));

    Trackbar slider(WindowRef(handle), IDC_SLIDER);
    slider.SetRange(0, 10);
    slider.SetPosition(3);
    EXPECT_EQ(slider.Position(), 3);
    slider.SetPosition(20);
    EXPECT_EQ(slider.Position(), 10);

    ProgressBar progress(WindowRef(handle), IDC_PROGRESS);
    progress.SetRange(0, 10);
    progress.SetStep(4);
    EXPECT_EQ(progress.StepIt(), 0);
    EXPECT_EQ(progress.StepIt(), 4);
    progress.StepIt();
    EXPECT_EQ(progress.Position(), 2); // past the end it starts over
}

TEST_F(Dialogs, MessageBoxIsLoggedAnsweredAndDisablesItsOwner)
{
    Point button = Du(4, 124);
    Click(handle, {button.x + 10, button.y + 10});
    auto open = session.OpenMessageBoxes();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].text, "Save the calibration data?");
    EXPECT_EQ(open[0].caption, "Plenvix");
    EXPECT_EQ(open[0].style, box::YesNo);
    EXPECT_TRUE(session.Style(handle) & kDisabled);

    Point radio = Du(8, 26);
    Click(handle, {radio.x + 3, radio.y + 3}); // the owner takes no input meanwhile
    EXPECT_FALSE(HasCommand(IDC_RADIO_B, notify::ButtonClicked));

    EXPECT_TRUE(session.AnswerMessageBox(answer::No));
    session.WaitUntilIdle();
    EXPECT_EQ(dialog.boxAnswer, answer::No);
    EXPECT_TRUE(session.OpenMessageBoxes().empty());
    EXPECT_EQ(session.MessageBoxes().at(0).answer, answer::No);
    EXPECT_FALSE(session.Style(handle) & kDisabled);
}

TEST_F(Dialogs, InvalidatePaintsLaterAndRedrawWithUpdateNowPaintsAtOnce)
{
    session.SetMessageBoxPolicy([](const host::MessageBoxRecord&) { return answer::Yes; });
    Point button = Du(4, 124);
    Click(handle, {button.x + 10, button.y + 10});
    EXPECT_EQ(dialog.paintsAfterInvalidate, 0);
    EXPECT_EQ(dialog.paintsAfterRedraw, 1);
    EXPECT_EQ(dialog.boxAnswer, answer::Yes);
}

TEST_F(Dialogs, TimersFollowTheVirtualClock)
{
    clock.Advance(499);
    EXPECT_EQ(dialog.timerTicks, 0);
    clock.Advance(1);
    EXPECT_EQ(dialog.timerTicks, 1);
    clock.Advance(5000); // the third tick kills the timer
    EXPECT_EQ(dialog.timerTicks, 3);
}

TEST_F(Dialogs, StringsAndIconsComeFromTheProgramsModule)
{
    std::string text;
    Run([&text] { text = Application::Current()->LoadStringResource(IDS_GREETING); });
    EXPECT_EQ(text, "Hello");
    EXPECT_NE(Button(WindowRef(handle), IDC_ICON_BUTTON).SetIcon(nullptr), nullptr);
}

} // namespace
} // namespace tap::ui

namespace tap::ui {
namespace {

class MessageBoxes : public FrameworkTest {
protected:
    host::ProgramId Show(uint32_t style)
    {
        return Run([this, style] { answerGiven = ShowMessageBox(nullptr, "Open com port fail!", "MonoPanel", style); });
    }
    std::atomic<int> answerGiven{0};
};

TEST_F(MessageBoxes, EscapeAnswersCancelOrTheOnlyOkButNotYesNo)
{
    host::ProgramId program = Show(box::YesNo);
    Key(desktop::kKeyEscape);
    EXPECT_FALSE(session.HasExited(program)); // Yes/No has no way out but its buttons
    Key(desktop::kKeyEnter);                 // the first button has the focus
    EXPECT_EQ(answerGiven, answer::Yes);

    Show(box::Ok);
    Key(desktop::kKeyEscape);
    EXPECT_EQ(answerGiven, answer::Ok);

    Show(box::OkCancel);
    Key(desktop::kKeyEscape);
    EXPECT_EQ(answerGiven, answer::Cancel);
}

TEST_F(MessageBoxes, AnswerByClickingItsButton)
{
    Show(box::YesNoCancel);
    WindowHandle box = TopWindow();
    Button no(WindowRef(box), answer::No);
    Rect r = no.WindowRect();
    desktop.Click({r.left + 5, r.top + 5});
    session.WaitUntilIdle();
    EXPECT_EQ(answerGiven, answer::No);
    EXPECT_EQ(session.MessageBoxes().at(0).text, "Open com port fail!");
}

TEST_F(MessageBoxes, TopmostIsKeptUntilNoTopmost)
{
    Show(box::Ok);
    WindowRef box(TopWindow());
    box.SetPosition(ZOrder::Topmost, 0, 0, 0, 0, position::NoMove | position::NoSize);
    EXPECT_TRUE(session.IsTopmost(box.Handle()));
    box.SetPosition(ZOrder::NoTopmost, 0, 0, 0, 0, position::NoMove | position::NoSize);
    EXPECT_FALSE(session.IsTopmost(box.Handle()));
}

} // namespace
} // namespace tap::ui
