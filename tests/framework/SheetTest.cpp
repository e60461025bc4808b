// Property sheets and wizards: pages made on first display, activation, OK and Cancel reaching
// only the pages shown, and the wizard's buttons.
#include <atomic>

#include "FrameworkFixture.h"
#include "resource.h"

namespace tap::ui {
namespace {

constexpr uint32_t kPressButton = 0x400 + 113; // PSM_PRESSBUTTON
constexpr uintptr_t kBack = 0, kNext = 1, kFinish = 2, kOk = 3, kCancel = 5;
constexpr uint32_t kSetCurrentPage = 0x400 + 101; // PSM_SETCURSEL
constexpr int kBackButton = 0x3023, kNextButton = 0x3024, kFinishButton = 0x3025, kApplyButton = 0x3021;

class Page : public PropertyPage {
public:
    Page(ResourceId id, uint32_t buttons) : PropertyPage(id), buttons_(buttons) {}

    int inits = 0, activations = 0, oks = 0, cancels = 0;
    bool refuseNext = false;

protected:
    bool OnInitDialog() override
    {
        ++inits;
        return PropertyPage::OnInitDialog();
    }
    bool OnSetActive() override
    {
        ++activations;
        if (buttons_) {
            SetWizardButtons(buttons_);
        }
        return PropertyPage::OnSetActive();
    }
    void OnOK() override { ++oks; }
    void OnCancel() override { ++cancels; }
    intptr_t OnWizardNext() override { return refuseNext ? -1 : PropertyPage::OnWizardNext(); }

private:
    uint32_t buttons_;
};

class Sheets : public FrameworkTest {
protected:
    void Start(bool wizardMode)
    {
        Run([this, wizardMode] {
            PropertySheetDialog sheet("Hello");
            sheet.AddPage(one);
            sheet.AddPage(two);
            sheet.AddPage(three);
            if (wizardMode) {
                sheet.SetWizardMode();
            } else {
                sheet.AddFlags(sheet::NoApplyNow);
            }
            result = sheet.RunModal();
        });
        handle = TopWindow();
        ASSERT_NE(handle, nullptr);
    }

    void Press(uintptr_t button)
    {
        WindowRef(handle).Post(kPressButton, button);
        session.WaitUntilIdle();
    }

    bool Enabled(int id) { return Control(WindowRef(handle), id).IsEnabled(); }
    bool Shown(int id) { return Control(WindowRef(handle), id).IsVisible(); }

    Page one{IDD_PAGE_ONE, wizard::Next};
    Page two{IDD_PAGE_TWO, wizard::Back | wizard::Next};
    Page three{IDD_PAGE_THREE, wizard::Back | wizard::Finish};
    std::atomic<intptr_t> result{0};
    WindowHandle handle = nullptr;
};

TEST_F(Sheets, WizardWalksItsPagesWithTheButtonsThePagesAskFor)
{
    Start(true);
    EXPECT_EQ(WindowRef(handle).Text(), "One") << "a wizard shows its current page's caption";
    EXPECT_EQ(one.inits, 1);
    EXPECT_EQ(two.inits, 0);
    EXPECT_FALSE(Enabled(kBackButton));
    EXPECT_TRUE(Enabled(kNextButton));

    Press(kNext);
    EXPECT_EQ(two.inits, 1);
    EXPECT_TRUE(two.IsVisible());
    EXPECT_FALSE(one.IsVisible());
    EXPECT_TRUE(Enabled(kBackButton));

    two.refuseNext = true;
    Press(kNext);
    EXPECT_EQ(three.inits, 0);
    two.refuseNext = false;

    Press(kBack);
    EXPECT_EQ(one.activations, 2);
    EXPECT_EQ(one.inits, 1); // made once, shown twice
    Press(kNext);
    Press(kNext);
    EXPECT_TRUE(Shown(kFinishButton));
    EXPECT_FALSE(Shown(kNextButton));
    Press(kFinish);
    EXPECT_EQ(result, answer::Ok);
    EXPECT_EQ(one.oks + two.oks + three.oks, 0); // a wizard's Finish is not OK
}

TEST_F(Sheets, OkReachesOnlyThePagesThatWereShown)
{
    Start(false);
    EXPECT_FALSE(Control(WindowRef(handle), kApplyButton).Exists());
    WindowRef(handle).Send(kSetCurrentPage, 1);
    session.WaitUntilIdle();
    Press(kOk);
    EXPECT_EQ(result, answer::Ok);
    EXPECT_EQ(one.oks, 1);
    EXPECT_EQ(two.oks, 1);
    EXPECT_EQ(three.oks, 0);
    EXPECT_EQ(three.inits, 0);
}

TEST_F(Sheets, CancelReachesOnlyThePagesThatWereShown)
{
    Start(false);
    Press(kCancel);
    EXPECT_EQ(result, answer::Cancel);
    EXPECT_EQ(one.cancels, 1);
    EXPECT_EQ(two.cancels, 0);
    EXPECT_EQ(one.oks, 0);
}

} // namespace
} // namespace tap::ui
