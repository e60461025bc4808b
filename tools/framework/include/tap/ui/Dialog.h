// Dialogs built from resource templates, modal or modeless, whose messages arrive at virtual
// member functions. A tool's window class derives from Dialog and overrides the handlers it needs;
// the base implementation of every handler is the default processing of its message (the dialog
// manager's), so an override calls it where the behaviour wants the default to run.
#pragma once

#include <memory>

#include "tap/ui/Window.h"

namespace tap::ui {

namespace detail {
class DialogDispatch;
}

class PropertySheetDialog;

class Dialog : public WindowRef {
public:
    // TEMPLATEID names a DIALOG or DIALOGEX resource of the current application's module.
    explicit Dialog(ResourceId templateId, WindowHandle parent = nullptr);
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog();

    ResourceId TemplateId() const { return templateId_; }

    // Runs the dialog modally (DialogBox): returns the result given to EndDialog, or -1 when the
    // dialog cannot be created.
    intptr_t RunModal();
    // Creates the dialog modeless (CreateDialog); false when it cannot be created.
    bool CreateModeless();
    // Ends a modal dialog with RESULT once the current message has been handled.
    void EndDialog(intptr_t result);

    // The control of this dialog with resource id ID (GetDlgItem).
    WindowRef Item(int id) const;
    // Checks ID and unchecks the other radio buttons from FIRST to LAST (CheckRadioButton).
    void CheckRadioButton(int first, int last, int id);

protected:
    // ---- Handlers -------------------------------------------------------------------------------
    // WM_INITDIALOG: return true to let the dialog manager set the focus.
    virtual bool OnInitDialog();
    virtual void OnPaint();
    virtual void OnLButtonDown(uint32_t keys, Point client);
    virtual void OnLButtonUp(uint32_t keys, Point client);
    virtual void OnRButtonUp(uint32_t keys, Point client);
    virtual void OnMButtonUp(uint32_t keys, Point client);
    virtual void OnTimer(TimerId id);
    // WM_COMMAND from a control, menu or accelerator: the default sends IDOK to OnOK and IDCANCEL
    // to OnCancel. Return true when the command was handled.
    virtual bool OnCommand(int id, int notification);
    // Notifications of common controls (WM_NOTIFY); the default leaves them to the dialog manager.
    virtual intptr_t OnNotify(int id, int code, intptr_t header);
    // WM_HSCROLL / WM_VSCROLL from a trackbar or up-down control.
    virtual void OnScroll(bool horizontal, int code, int position, WindowHandle control);
    virtual void OnSysCommand(uint32_t command, intptr_t lParam);
    // WM_QUERYDRAGICON: the icon to show while a minimised window is dragged.
    virtual IconHandle OnQueryDragIcon();
    virtual void OnCancelMode();
    virtual void OnClose();
    virtual void OnDestroy();
    // IDOK and IDCANCEL (Enter and Esc, or the buttons): the default ends the dialog with
    // answer::Ok / answer::Cancel.
    virtual void OnOK();
    virtual void OnCancel();

    // The dialog manager's processing of the message being handled, as the base handlers do.
    intptr_t Default();

private:
    friend class detail::DialogDispatch;
    friend class PropertySheetDialog;
    intptr_t Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam);

    struct CurrentMessage {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    ResourceId templateId_;
    WindowHandle parent_;
    CurrentMessage current_{};
    std::unique_ptr<detail::DialogDispatch> dispatch_;
};

} // namespace tap::ui
