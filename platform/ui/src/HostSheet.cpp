// Property sheets and wizards (PropertySheet): the frame with tabs or wizard buttons, pages made
// on first display, and the PSN_ notifications to the pages.
#include <algorithm>

#include "Host.h"
#include "tap/desktop/Font.h"

namespace tap::ui::host {

constexpr int kApplyId = 0x3021, kBackId = 0x3023, kNextId = 0x3024, kFinishId = 0x3025;
constexpr int kMargin = 7, kTabHeight = 20, kButtonWidth = 75, kButtonHeight = 23;


namespace {

SheetState* SheetOfLocked(WindowHandle sheet)
{
    HostWindow* w = FindLocked(sheet);
    return w ? w->sheet.get() : nullptr;
}

bool IsWizard(WindowHandle sheet)
{
    Lock lock(CurrentState().mutex);
    SheetState* s = SheetOfLocked(sheet);
    return s && s->wizard;
}

intptr_t NotifyPage(WindowHandle sheet, WindowHandle page, int code)
{
    msg::NotifyHeader header{sheet, 0, code};
    return sys::SendTo(page, msg::Notify, 0, reinterpret_cast<intptr_t>(&header));
}

void EndSheet(WindowHandle sheet, intptr_t result)
{
    Lock lock(CurrentState().mutex);
    if (HostWindow* w = FindLocked(sheet)) {
        w->dialogEnded = true;
        w->dialogResult = result;
    }
}

std::vector<WindowHandle> CreatedPages(WindowHandle sheet)
{
    Lock lock(CurrentState().mutex);
    std::vector<WindowHandle> pages;
    if (SheetState* s = SheetOfLocked(sheet)) {
        for (WindowHandle p : s->pages) {
            if (p) {
                pages.push_back(p);
            }
        }
    }
    return pages;
}

WindowHandle CurrentPage(WindowHandle sheet)
{
    Lock lock(CurrentState().mutex);
    SheetState* s = SheetOfLocked(sheet);
    return s && s->current >= 0 ? s->pages[s->current] : nullptr;
}

// Shows page INDEX: the current page must agree to be left, the new one to be shown.
bool Activate(WindowHandle sheet, int index)
{
    WindowHandle old = CurrentPage(sheet);
    if (old && NotifyPage(sheet, old, msg::PageKillActive) != 0) {
        return false;
    }
    WindowHandle page;
    sys::SheetPage description;
    desktop::Point at;
    {
        Lock lock(CurrentState().mutex);
        SheetState* s = SheetOfLocked(sheet);
        if (!s || index < 0 || index >= static_cast<int>(s->pages.size())) {
            return false;
        }
        page = s->pages[index];
        description = s->header.pages[index];
        at = {s->pageArea.left, s->pageArea.top};
    }
    if (!page) {
        page = CreateDialogFromTemplate(description.module, description.templateId, sheet, description.target, true, at);
        if (!page) {
            return false;
        }
        Lock lock(CurrentState().mutex);
        SheetOfLocked(sheet)->pages[index] = page;
    }
    if (NotifyPage(sheet, page, msg::PageSetActive) == -1) {
        return false;
    }
    if (old && old != page) {
        sys::ShowWindowCommand(old, show::Hide);
    }
    sys::ShowWindowCommand(page, show::Show);
    std::u16string wizardTitle;
    {
        Lock lock(CurrentState().mutex);
        SheetState* s = SheetOfLocked(sheet);
        s->current = index;
        if (s->wizard) {
            wizardTitle = s->titles[index];
        }
    }
    // A wizard's title bar shows the current page's caption, as comctl32's does.
    if (!wizardTitle.empty()) {
        sys::SendTo(sheet, msg::SetText, 0, reinterpret_cast<intptr_t>(wizardTitle.c_str()));
    }
    sys::InvalidateArea(sheet, nullptr, true);
    return true;
}

// Enter in a wizard presses its default button: Finish when it is offered, else Next.
void PressWizardDefault(WindowHandle sheet)
{
    WindowHandle finish = sys::DialogItem(sheet, kFinishId);
    WindowHandle next = sys::DialogItem(sheet, kNextId);
    if (sys::IsWindowShown(finish) && sys::IsWindowEnabledForInput(finish)) {
        sys::PostTo(sheet, msg::Command, kFinishId, 0);
    } else if (sys::IsWindowShown(next) && sys::IsWindowEnabledForInput(next)) {
        sys::PostTo(sheet, msg::Command, kNextId, 0);
    }
}

int IndexOfTemplate(WindowHandle sheet, intptr_t templateId)
{
    Lock lock(CurrentState().mutex);
    SheetState* s = SheetOfLocked(sheet);
    for (size_t i = 0; s && i < s->header.pages.size(); ++i) {
        if (s->header.pages[i].templateId == templateId) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void Turn(WindowHandle sheet, int code, int direction)
{
    WindowHandle page = CurrentPage(sheet);
    if (!page) {
        return;
    }
    intptr_t answer = NotifyPage(sheet, page, code);
    if (answer == -1) {
        return;
    }
    int current;
    {
        Lock lock(CurrentState().mutex);
        current = SheetOfLocked(sheet)->current;
    }
    Activate(sheet, answer == 0 ? current + direction : IndexOfTemplate(sheet, answer));
}

bool ApplyAll(WindowHandle sheet)
{
    WindowHandle page = CurrentPage(sheet);
    if (page && NotifyPage(sheet, page, msg::PageKillActive) != 0) {
        return false;
    }
    bool accepted = true;
    for (WindowHandle p : CreatedPages(sheet)) {
        accepted = NotifyPage(sheet, p, msg::PageApply) == 0 && accepted;
    }
    return accepted;
}

void SetWizardButtons(WindowHandle sheet, uint32_t buttons)
{
    bool finish = buttons & (wizard::Finish | wizard::DisabledFinish);
    sys::EnableWindowInput(sys::DialogItem(sheet, kBackId), buttons & wizard::Back);
    sys::EnableWindowInput(sys::DialogItem(sheet, kNextId), buttons & wizard::Next);
    sys::ShowWindowCommand(sys::DialogItem(sheet, kNextId), finish ? show::Hide : show::Show);
    sys::ShowWindowCommand(sys::DialogItem(sheet, kFinishId), finish ? show::Show : show::Hide);
    sys::EnableWindowInput(sys::DialogItem(sheet, kFinishId), buttons & wizard::Finish);
}

void PaintTabs(WindowHandle sheet)
{
    std::vector<std::u16string> titles;
    int current;
    {
        Lock lock(CurrentState().mutex);
        SheetState* s = SheetOfLocked(sheet);
        if (!s || s->wizard) {
            return;
        }
        titles = s->titles;
        current = s->current;
    }
    const std::vector<desktop::Rect> tabs = SheetTabRects(sheet);
    DeviceContextHandle dc = sys::AcquireDC(sheet);
    desktop::Canvas c = ClientCanvas(sheet, dc);
    {
        auto screenLock = CurrentState().desktop.LockScreen();
        for (size_t i = 0; i < titles.size() && i < tabs.size(); ++i) {
            desktop::Rect tab = tabs[i];
            tab.top += static_cast<int>(i) == current ? 0 : 2;
            c.FillRect(tab, kFaceColor);
            c.Edge(tab, kLightColor, kDarkShadowColor, kFaceColor, kShadowColor);
            c.DrawString({tab.left + 6, tab.top + 3}, WithoutMnemonics(titles[i]), 0, 13);
        }
    }
    sys::ReleaseDC(sheet, dc);
}

struct SheetButton {
    int id;
    const char16_t* text;
};

// The buttons along the bottom: Back, Next, Finish and Cancel for a wizard, else OK, Cancel and
// Apply (without PSH_NOAPPLYNOW).
std::vector<SheetButton> SheetButtons(uint32_t flags)
{
    if (flags & sheet::Wizard) {
        return {{kBackId, u"< &Back"}, {kNextId, u"&Next >"}, {kFinishId, u"Finish"}, {answer::Cancel, u"Cancel"}};
    }
    std::vector<SheetButton> buttons{{answer::Ok, u"OK"}, {answer::Cancel, u"Cancel"}};
    if (!(flags & sheet::NoApplyNow)) {
        buttons.push_back({kApplyId, u"&Apply"});
    }
    return buttons;
}

int TabAt(WindowHandle sheet, desktop::Point p)
{
    const std::vector<desktop::Rect> tabs = SheetTabRects(sheet);
    for (size_t i = 0; i < tabs.size(); ++i) {
        if (tabs[i].Contains(p)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

std::vector<desktop::Rect> SheetTabRects(WindowHandle sheet)
{
    Lock lock(CurrentState().mutex);
    SheetState* s = SheetOfLocked(sheet);
    std::vector<desktop::Rect> tabs;
    if (!s || s->wizard) {
        return tabs;
    }
    int x = kMargin;
    for (const std::u16string& title : s->titles) {
        int width = desktop::TextWidth(WithoutMnemonics(title)) + 12;
        tabs.push_back({x, kMargin, x + width, kMargin + kTabHeight});
        x += width;
    }
    return tabs;
}

WindowHandle SheetCurrentPage(WindowHandle sheet)
{
    return CurrentPage(sheet);
}

intptr_t SheetProcedure(WindowHandle sheet, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case msg::Command:
        switch (static_cast<int>(wParam & 0xFFFF)) {
        case answer::Ok:
            if (IsWizard(sheet)) {
                PressWizardDefault(sheet);
            } else if (ApplyAll(sheet)) {
                EndSheet(sheet, 1);
            }
            return 0;
        case answer::Cancel:
            for (WindowHandle p : CreatedPages(sheet)) {
                NotifyPage(sheet, p, msg::PageReset);
            }
            EndSheet(sheet, 0);
            return 0;
        case kApplyId: ApplyAll(sheet); return 0;
        case kBackId: Turn(sheet, msg::PageWizardBack, -1); return 0;
        case kNextId: Turn(sheet, msg::PageWizardNext, +1); return 0;
        case kFinishId:
            if (WindowHandle page = CurrentPage(sheet); page && NotifyPage(sheet, page, msg::PageWizardFinish) == 0) {
                EndSheet(sheet, 1);
            }
            return 0;
        default: return 0;
        }
    case msg::SheetSetWizButtons:
        SetWizardButtons(sheet, static_cast<uint32_t>(lParam));
        return 0;
    case msg::SheetPressButton: {
        static const int ids[] = {kBackId, kNextId, kFinishId, answer::Ok, kApplyId, answer::Cancel};
        if (wParam < 6) {
            sys::PostTo(sheet, msg::Command, static_cast<uintptr_t>(ids[wParam]), 0);
        }
        return 0;
    }
    case msg::SheetSetCurSel:
        return Activate(sheet, static_cast<int>(wParam)) ? 1 : 0;
    case msg::LButtonDown: {
        int tab = TabAt(sheet, {static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)});
        if (tab >= 0) {
            Activate(sheet, tab);
        }
        return 0;
    }
    case msg::Close:
        sys::SendTo(sheet, msg::Command, answer::Cancel, 0);
        return 0;
    case msg::Paint:
        DefaultWindowProcedure(sheet, message, wParam, lParam);
        PaintTabs(sheet);
        return 0;
    default:
        return DefaultWindowProcedure(sheet, message, wParam, lParam);
    }
}

} // namespace tap::ui::host

namespace tap::ui::sys {

using namespace host;

intptr_t RunPropertySheet(const SheetHeader& header)
{
    if (header.pages.empty()) {
        return -1;
    }
    auto state = std::make_unique<SheetState>();
    state->header = header;
    state->pages.assign(header.pages.size(), nullptr);
    state->wizard = header.flags & sheet::Wizard;
    // The page area is as large as the largest page.
    desktop::Size largest{0, 0};
    for (const SheetPage& page : header.pages) {
        const auto* resources = reinterpret_cast<const res::ResourceModule*>(page.module);
        const res::DialogTemplate* t = resources ? resources->FindDialog(page.templateId) : nullptr;
        if (!t) {
            return -1;
        }
        desktop::Size base = DialogBaseUnits(t->fontFace, (t->style & 0x40) ? t->fontPointSize : 0);
        desktop::Rect r = DialogUnitsToPixels(base, 0, 0, t->cx, t->cy);
        largest = {std::max(largest.cx, r.Width()), std::max(largest.cy, r.Height())};
        state->titles.push_back(t->caption);
    }
    const int top = state->wizard ? 0 : kMargin + kTabHeight;
    state->pageArea = {kMargin, top + kMargin, kMargin + largest.cx, top + kMargin + largest.cy};
    // Wide enough for the pages and for the row of buttons along the bottom.
    const std::vector<SheetButton> buttons = SheetButtons(header.flags);
    const int buttonsWidth = static_cast<int>(buttons.size()) * (kButtonWidth + 6) - 6;
    desktop::Size client{std::max(largest.cx, buttonsWidth) + 2 * kMargin,
                         state->pageArea.bottom + 2 * kMargin + kButtonHeight};
    desktop::Size screen = CurrentState().desktop.ScreenSize();
    desktop::Rect clientRect{(screen.cx - client.cx) / 2, (screen.cy - client.cy) / 2, 0, 0};
    clientRect.right = clientRect.left + client.cx;
    clientRect.bottom = clientRect.top + client.cy;
    const uint32_t style = kPopup | kCaption | kSysMenu | kDsModalFrame;
    CreateParams params{WindowKind::Sheet, style, kExDlgModalFrame, header.caption};
    params.owner = header.parent;
    params.rect = AdjustedWindowRect(clientRect, style, kExDlgModalFrame);
    WindowHandle window = CreateHostWindow(params);
    {
        Lock lock(CurrentState().mutex);
        FindLocked(window)->sheet = std::move(state);
    }
    int x = client.cx - kMargin - static_cast<int>(buttons.size()) * (kButtonWidth + 6) + 6;
    for (const SheetButton& b : buttons) {
        CreateParams button{WindowKind::Button, kChild | kVisible | kTabStop | (b.id == answer::Ok ? 1u : 0u), 0, b.text};
        button.controlId = b.id;
        button.parent = window;
        button.rect = {x, client.cy - kMargin - kButtonHeight, x + kButtonWidth, client.cy - kMargin};
        button.baseUnits = {6, 13};
        CreateHostWindow(button);
        x += kButtonWidth + 6;
    }
    if (header.flags & sheet::Wizard) {
        SetWizardButtons(window, wizard::Back | wizard::Next);
    }
    WindowHandle disabledOwner = DisableOwner(header.parent);
    ShowWindowCommand(window, show::Show);
    if (!Activate(window, static_cast<int>(std::min<size_t>(header.startPage, header.pages.size() - 1)))) {
        Activate(window, 0);
    }
    RunModalLoop(window);
    return FinishModal(window, disabledOwner);
}

} // namespace tap::ui::sys
