// The framework's host backend as the simulated PC sees it: a window system on the headless
// desktop. A Session is the user32 of one desktop; it starts programs on their own UI threads,
// keeps the log of message boxes and lets a test or scenario answer them.
//
// One Session is current at a time (the framework's calls find it, as a program finds its
// window station); it makes itself current when built and stops being so when destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tap/desktop/Desktop.h"
#include "tap/res/ResourceModule.h"
#include "tap/ui/Types.h"

namespace tap::ui::host {

// One message box, as it was shown.
struct MessageBoxRecord {
    WindowHandle owner;
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    uint32_t style;
    int answer;           // 0 while the box is open
};

using ProgramId = uint32_t;

// A window of the session as a person sees it: what it is, what it says and shows, and where it
// is on the screen.
struct ControlFacts {
    WindowHandle handle = nullptr;
    int id = 0;                       // the control id (0 for a top-level window)
    std::string kind;                 // "button", "checkbox", "radiobutton", "groupbox", "static",
                                      // "edit", "combobox", "listbox", "updown", "trackbar",
                                      // "progress", "droplist", "dialog", "sheet", "messagebox"
    std::string text;                 // UTF-8, as set (mnemonic markers included)
    bool enabled = true;
    bool shown = false;               // visible with all its ancestors
    bool focused = false;
    int check = 0;                    // buttons: BST_CHECKED is 1
    std::vector<std::string> items;   // lists and combo boxes
    int selection = -1;
    int position = 0, low = 0, high = 0; // up-down, trackbar, progress bar
    desktop::Rect screen;             // the window rectangle on the screen
    int lineHeight = 13;              // a list's row height
};

// What happened to a top-level window (dialogs and property sheets) or a message box, as a log
// of the session in the order it happened.
struct WindowEvent {
    enum class Kind { WindowCreated, WindowDestroyed, MessageBoxShown, MessageBoxClosed };
    Kind kind;
    WindowHandle window;
    std::string caption;  // UTF-8, at the time of the event
    std::string text;     // a message box's message
    std::string program;  // the program whose thread owns the window; empty for none
    int answer;           // MessageBoxClosed: the button that closed it
    uint64_t time;        // on the desktop's clock (ms)
};

class Session {
public:
    explicit Session(desktop::Desktop& desktop);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    static Session& Current();
    desktop::Desktop& Desktop();

    // The module handle under which a program finds the resources of MODULE (its HINSTANCE).
    static ModuleHandle ModuleOf(const res::ResourceModule& module);

    // Starts a program: ENTRY runs on a new UI thread (typically: build the application object,
    // then RunProgram). The thread counts as busy for the scheduler until it waits for messages.
    ProgramId StartProgram(const std::string& name, std::function<int()> entry);
    bool HasExited(ProgramId program) const;
    std::optional<int> ExitCode(ProgramId program) const;
    // Marks the calling thread as a thread of the simulated system, for threads that programs
    // start themselves (the creator has already called Scheduler::Runnable for it).
    static void EnterSimulatedThread();
    // The calling thread, entered so, ends: the window system forgets its queue.
    static void LeaveSimulatedThread();
    // Whether the calling thread is one of the simulated system's (a program's UI thread or a
    // thread it started): such a thread counts as busy while it runs.
    static bool IsSimulatedThread();

    // Waits until idle (Desktop().Clock().WaitUntilIdle()).
    void WaitUntilIdle();

    // ---- Message boxes -------------------------------------------------------------------------
    std::vector<MessageBoxRecord> MessageBoxes() const;
    std::vector<MessageBoxRecord> OpenMessageBoxes() const;
    // Answers the oldest open message box as if its button ANSWER (answer::Yes ...) was pressed;
    // false when no box is open.
    bool AnswerMessageBox(int answer);
    // Answers every later box at once with what POLICY returns (nullopt: leave it open).
    void SetMessageBoxPolicy(std::function<std::optional<int>(const MessageBoxRecord&)> policy);

    // ---- System menus -------------------------------------------------------------------------
    // The items a program appended to WINDOW's system menu (UTF-8; a separator is empty).
    std::vector<std::string> SystemMenuItems(WindowHandle window) const;
    // Chooses the appended item with TEXT (compared without '&' markers) as the user does: the
    // window gets WM_SYSCOMMAND with the item's command. False when it has no such item.
    bool ChooseSystemMenuItem(WindowHandle window, const std::string& text);

    // Every window and message box event since the session began.
    std::vector<WindowEvent> WindowEvents() const;

    // ---- Looking at windows --------------------------------------------------------------------
    // Top-level windows from the top of the Z order down.
    std::vector<WindowHandle> TopLevelWindows() const;
    WindowHandle HandleOf(desktop::WindowId window) const;
    desktop::WindowId DesktopIdOf(WindowHandle window) const;
    bool IsTopmost(WindowHandle window) const;
    uint32_t Style(WindowHandle window) const;
    uint32_t ExStyle(WindowHandle window) const;
    // The cursor's show counter (ShowCursor).
    int CursorCount() const;
    // The child windows of WINDOW in creation (tab) order.
    std::vector<WindowHandle> ChildWindows(WindowHandle window) const;
    std::optional<ControlFacts> Facts(WindowHandle window) const;
    // The page a property sheet shows (null for another window), and the screen rectangles of
    // its tabs with their captions (none for a wizard).
    WindowHandle CurrentSheetPage(WindowHandle sheet) const;
    std::vector<std::pair<std::string, desktop::Rect>> SheetTabs(WindowHandle sheet) const;
    // The screen point of POSITION on a trackbar's channel (where its thumb is at that position).
    desktop::Point TrackbarPoint(WindowHandle trackbar, int position) const;
    // The drop-down list a combo box has open, or null.
    WindowHandle OpenDropList(WindowHandle combo) const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace tap::ui::host
