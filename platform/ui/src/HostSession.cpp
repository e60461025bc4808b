// The session: UI threads and their queues, sending and posting, the message loop, programs, and
// the desktop's calls into the window system (exposure and input).
#include <algorithm>
#include <cassert>

#include "tap/ui/backend/Text.h"
#include "Host.h"

namespace tap::ui::host {
namespace {

Session::State* g_current = nullptr;
Session* g_session = nullptr;
// Asked several times per step of the machine's clock; in the static TLS block it is one load
// (the framework is linked into the programs that use it, never loaded later).
__attribute__((tls_model("initial-exec"))) thread_local bool t_simulated = false;
std::mutex g_threadsMutex;
std::map<std::thread::id, std::unique_ptr<UiThread>> g_threads;

uint32_t ButtonMessage(desktop::MouseButton button, bool down)
{
    switch (button) {
    case desktop::MouseButton::Left: return down ? msg::LButtonDown : msg::LButtonUp;
    case desktop::MouseButton::Right: return down ? msg::RButtonDown : msg::RButtonUp;
    case desktop::MouseButton::Middle: break;
    }
    return down ? msg::MButtonDown : msg::MButtonUp;
}

intptr_t MakeLParam(int32_t x, int32_t y)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF));
}

WindowHandle TopLevelOfLocked(WindowHandle window)
{
    HostWindow* w = FindLocked(window);
    while (w && w->parent) {
        w = FindLocked(w->parent);
    }
    return w ? w->handle : nullptr;
}

} // namespace

// ---- UI threads ---------------------------------------------------------------------------------

UiThread::UiThread(Session::State& s, bool isCounted) : state(s), counted(isCounted)
{
    state.desktop.Clock().AddWaiter(this);
}

UiThread::~UiThread()
{
    state.desktop.Clock().RemoveWaiter(this);
}

std::optional<uint64_t> UiThread::NextDeadline() const
{
    Lock lock(state.mutex);
    std::optional<uint64_t> earliest;
    for (const Timer& t : timers) {
        earliest = earliest ? std::min(*earliest, t.deadline) : t.deadline;
    }
    return earliest;
}

void UiThread::ClockAdvanced(uint64_t now)
{
    Lock lock(state.mutex);
    if (std::any_of(timers.begin(), timers.end(), [now](const Timer& t) { return t.deadline <= now; })) {
        WakeLocked();
    }
}

void UiThread::WakeLocked()
{
    if (waiting) {
        waiting = false;
        if (counted) {
            state.desktop.Clock().Runnable();
        }
        wake.notify_all();
    }
}

// Blocks the calling thread (THREAD) until someone wakes it; the big lock is released meanwhile.
static void WaitLocked(UiThread& thread, Lock& lock)
{
    thread.waiting = true;
    if (thread.counted) {
        thread.state.desktop.Clock().Blocked();
    }
    thread.wake.wait(lock, [&thread] { return !thread.waiting; });
}

Session::State& CurrentState()
{
    assert(g_current && "no host Session exists");
    return *g_current;
}

UiThread& ThisThread()
{
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        auto it = g_threads.find(std::this_thread::get_id());
        if (it != g_threads.end()) {
            return *it->second;
        }
    }
    // Made without the lock: registering with the scheduler takes the scheduler's locks.
    auto thread = std::make_unique<UiThread>(CurrentState(), t_simulated);
    std::lock_guard<std::mutex> lock(g_threadsMutex);
    auto& slot = g_threads[std::this_thread::get_id()];
    slot = std::move(thread);
    return *slot;
}

static void ForgetThisThread()
{
    std::unique_ptr<UiThread> thread;
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        auto it = g_threads.find(std::this_thread::get_id());
        if (it != g_threads.end()) {
            thread = std::move(it->second);
            g_threads.erase(it);
        }
    }
}

void LogWindowEventLocked(WindowEvent::Kind kind, const HostWindow& window, uint64_t time, const std::u16string& text,
                          int answer)
{
    CurrentState().windowEvents.push_back(
        {kind, window.handle, ToUtf8(window.text), ToUtf8(text), window.thread ? window.thread->program : std::string(),
         answer, time});
}

HostWindow* FindLocked(WindowHandle window)
{
    auto& windows = CurrentState().windows;
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : it->second.get();
}

// ---- Calling window procedures ------------------------------------------------------------------

static intptr_t CallHere(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    sys::MessageTarget* target;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return 0;
        }
        target = w->target;
    }
    return target ? target->Dispatch(window, message, wParam, lParam) : ClassProcedure(window, message, wParam, lParam);
}

// Runs the messages other threads have sent to this one.
static void RunSentLocked(UiThread& me, Lock& lock)
{
    while (!me.sent.empty()) {
        SentMessage* sent = me.sent.front();
        me.sent.pop_front();
        lock.unlock();
        intptr_t result = CallHere(sent->message.window, sent->message.message, sent->message.wParam, sent->message.lParam);
        lock.lock();
        sent->result = result;
        sent->done = true;
        sent->sender->WakeLocked();
    }
}

intptr_t CallProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    UiThread& me = ThisThread();
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    if (!w) {
        return 0;
    }
    if (w->thread == &me) {
        lock.unlock();
        return CallHere(window, message, wParam, lParam);
    }
    // Another thread's window: the owner runs it, and this thread waits, running what others
    // send to it meanwhile, as SendMessage does.
    SentMessage sent{{window, message, wParam, lParam}, &me};
    w->thread->sent.push_back(&sent);
    w->thread->WakeLocked();
    while (!sent.done) {
        RunSentLocked(me, lock);
        if (!sent.done) {
            WaitLocked(me, lock);
        }
    }
    return sent.result;
}

intptr_t ClassProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    WindowKind kind;
    {
        Lock lock(CurrentState().mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return 0;
        }
        kind = w->kind;
    }
    switch (kind) {
    case WindowKind::Desktop: return DefaultWindowProcedure(window, message, wParam, lParam);
    case WindowKind::Dialog: return DefaultDialogProcedure(window, message, wParam, lParam);
    case WindowKind::MessageBox: return MessageBoxProcedure(window, message, wParam, lParam);
    case WindowKind::Sheet: return SheetProcedure(window, message, wParam, lParam);
    case WindowKind::DropList: return DropListProcedure(window, message, wParam, lParam);
    default: return ControlProcedure(window, message, wParam, lParam);
    }
}

// ---- The queue ----------------------------------------------------------------------------------

static WindowHandle WindowNeedingPaintLocked(UiThread& me)
{
    Session::State& state = CurrentState();
    for (const auto& [handle, w] : state.windows) { // handles grow, so parents come before children
        if (w->thread == &me && (!w->update.Empty() || w->erase) && state.desktop.IsShown(w->id)) {
            return handle;
        }
    }
    return nullptr;
}

bool NextMessage(Posted& out)
{
    UiThread& me = ThisThread();
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    for (;;) {
        RunSentLocked(me, lock);
        if (me.terminate) {
            return false;
        }
        if (!me.posted.empty()) {
            out = me.posted.front();
            me.posted.pop_front();
            return true;
        }
        if (me.quit) {
            me.quit = false;
            out = {nullptr, msg::Quit, static_cast<uintptr_t>(me.quitCode), 0};
            return false;
        }
        if (WindowHandle paint = WindowNeedingPaintLocked(me)) {
            out = {paint, msg::Paint, 0, 0};
            return true;
        }
        const uint64_t now = state.desktop.Clock().Now();
        for (Timer& t : me.timers) {
            if (t.deadline <= now) {
                t.deadline = now + t.elapse;
                out = {t.window, msg::Timer, t.id, 0};
                return true;
            }
        }
        WaitLocked(me, lock);
    }
}

void DispatchPosted(const Posted& message)
{
    if (message.window) {
        CallProcedure(message.window, message.message, message.wParam, message.lParam);
    }
}

void RunModalLoop(WindowHandle window)
{
    Session::State& state = CurrentState();
    for (;;) {
        {
            Lock lock(state.mutex);
            HostWindow* w = FindLocked(window);
            if (!w || w->dialogEnded) {
                return;
            }
        }
        Posted message;
        if (!NextMessage(message)) {
            Lock lock(state.mutex);
            UiThread& me = ThisThread();
            if (!me.terminate) {
                me.quit = true; // WM_QUIT ends the modal loop and is left for the outer loop
            }
            return;
        }
        if (!DialogKeyMessage(message)) {
            DispatchPosted(message);
        }
    }
}

// ---- Session ------------------------------------------------------------------------------------

Session::State::State(desktop::Desktop& d) : desktop(d) {}

Session::Session(desktop::Desktop& desktop) : state_(std::make_unique<State>(desktop))
{
    assert(!g_current && "one host Session at a time");
    g_current = state_.get();
    g_session = this;
    auto root = std::make_unique<HostWindow>();
    root->kind = WindowKind::Desktop;
    root->handle = reinterpret_cast<WindowHandle>(state_->nextHandle);
    state_->nextHandle += 4;
    state_->root = root->handle;
    state_->windows[root->handle] = std::move(root);
    desktop.SetWindowSystem(state_.get());
}

Session::~Session()
{
    {
        // The big lock before the threads' lock: nothing takes them the other way round.
        Lock lock(state_->mutex);
        std::lock_guard<std::mutex> threadsLock(g_threadsMutex);
        for (auto& [id, thread] : g_threads) {
            thread->terminate = true;
            thread->WakeLocked();
        }
    }
    for (auto& [id, program] : state_->programs) {
        if (program->thread.joinable()) {
            program->thread.join();
        }
    }
    state_->desktop.SetWindowSystem(nullptr);
    for (const auto& [handle, w] : state_->windows) {
        if (w->id != desktop::kNoWindow && !w->parent) {
            state_->desktop.Destroy(w->id);
        }
    }
    std::map<std::thread::id, std::unique_ptr<UiThread>> remaining;
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        remaining.swap(g_threads);
    }
    remaining.clear();
    for (HostGdiObject* object : state_->gdiObjects) {
        delete object;
    }
    for (HostDC* dc : state_->dcs) {
        delete dc;
    }
    g_current = nullptr;
    g_session = nullptr;
}

Session& Session::Current()
{
    assert(g_session && "no host Session exists");
    return *g_session;
}

desktop::Desktop& Session::Desktop()
{
    return state_->desktop;
}

ModuleHandle Session::ModuleOf(const res::ResourceModule& module)
{
    return reinterpret_cast<ModuleHandle>(const_cast<res::ResourceModule*>(&module));
}

void Session::EnterSimulatedThread()
{
    t_simulated = true;
}

void Session::LeaveSimulatedThread()
{
    if (g_session) {
        ForgetThisThread();
    }
    t_simulated = false;
}

bool Session::IsSimulatedThread()
{
    return t_simulated;
}

ProgramId Session::StartProgram(const std::string& name, std::function<int()> entry)
{
    State& state = *state_;
    state.desktop.Clock().Runnable(); // busy from now until the program waits for input
    Lock lock(state.mutex);
    ProgramId id = state.nextProgram++;
    auto program = std::make_unique<Program>();
    program->name = name;
    Program* p = program.get();
    state.programs[id] = std::move(program);
    p->thread = std::thread([&state, p, entry = std::move(entry)] {
        t_simulated = true;
        UiThread& thread = ThisThread();
        {
            Lock lock(state.mutex);
            thread.program = p->name;
        }
        int code = entry();
        {
            Lock lock(state.mutex);
            std::vector<WindowHandle> mine;
            UiThread& me = ThisThread();
            for (const auto& [handle, w] : state.windows) {
                if (w->thread == &me && !w->parent) {
                    mine.push_back(handle);
                }
            }
            lock.unlock();
            for (WindowHandle w : mine) {
                sys::DestroyWindowHandle(w);
            }
        }
        ForgetThisThread();
        Lock lock(state.mutex);
        p->exited = true;
        p->exitCode = code;
        state.desktop.Clock().Blocked();
    });
    return id;
}

bool Session::HasExited(ProgramId program) const
{
    Lock lock(state_->mutex);
    auto it = state_->programs.find(program);
    return it != state_->programs.end() && it->second->exited;
}

std::optional<int> Session::ExitCode(ProgramId program) const
{
    Lock lock(state_->mutex);
    auto it = state_->programs.find(program);
    if (it == state_->programs.end() || !it->second->exited) {
        return std::nullopt;
    }
    return it->second->exitCode;
}

void Session::WaitUntilIdle()
{
    state_->desktop.Clock().WaitUntilIdle();
}

std::vector<MessageBoxRecord> Session::MessageBoxes() const
{
    Lock lock(state_->mutex);
    return state_->boxes;
}

std::vector<MessageBoxRecord> Session::OpenMessageBoxes() const
{
    Lock lock(state_->mutex);
    std::vector<MessageBoxRecord> open;
    for (const auto& [window, index] : state_->openBoxes) {
        open.push_back(state_->boxes[index]);
    }
    return open;
}

bool Session::AnswerMessageBox(int answer)
{
    WindowHandle box = nullptr;
    {
        Lock lock(state_->mutex);
        size_t oldest = SIZE_MAX;
        for (const auto& [window, index] : state_->openBoxes) {
            if (index < oldest) {
                oldest = index;
                box = window;
            }
        }
    }
    return box && sys::PostTo(box, msg::Command, static_cast<uintptr_t>(answer), 0);
}

std::vector<std::string> Session::SystemMenuItems(WindowHandle window) const
{
    Lock lock(state_->mutex);
    std::vector<std::string> items;
    if (HostWindow* w = FindLocked(window)) {
        for (const auto& [command, text] : w->systemMenu) {
            items.push_back(ToUtf8(text));
        }
    }
    return items;
}

bool Session::ChooseSystemMenuItem(WindowHandle window, const std::string& text)
{
    const std::u16string wanted = WithoutMnemonics(ToUtf16(text));
    uint32_t chosen = 0;
    {
        Lock lock(state_->mutex);
        HostWindow* w = FindLocked(window);
        if (!w) {
            return false;
        }
        for (const auto& [command, item] : w->systemMenu) {
            if (command != 0 && WithoutMnemonics(item) == wanted) {
                chosen = command;
                break;
            }
        }
    }
    return chosen != 0 && sys::PostTo(window, msg::SysCommand, chosen, 0);
}

void Session::SetMessageBoxPolicy(std::function<std::optional<int>(const MessageBoxRecord&)> policy)
{
    Lock lock(state_->mutex);
    state_->boxPolicy = std::move(policy);
}

std::vector<WindowEvent> Session::WindowEvents() const
{
    Lock lock(state_->mutex);
    return state_->windowEvents;
}

std::vector<WindowHandle> Session::TopLevelWindows() const
{
    std::vector<WindowHandle> handles;
    for (desktop::WindowId id : state_->desktop.Children(desktop::kNoWindow)) {
        if (WindowHandle h = HandleOf(id)) {
            handles.push_back(h);
        }
    }
    return handles;
}

WindowHandle Session::HandleOf(desktop::WindowId window) const
{
    Lock lock(state_->mutex);
    auto it = state_->byDesktopId.find(window);
    return it == state_->byDesktopId.end() ? nullptr : it->second;
}

desktop::WindowId Session::DesktopIdOf(WindowHandle window) const
{
    Lock lock(state_->mutex);
    HostWindow* w = FindLocked(window);
    return w ? w->id : desktop::kNoWindow;
}

bool Session::IsTopmost(WindowHandle window) const
{
    return state_->desktop.Place(DesktopIdOf(window)).topmost;
}

uint32_t Session::Style(WindowHandle window) const
{
    Lock lock(state_->mutex);
    HostWindow* w = FindLocked(window);
    return w ? w->style : 0;
}

uint32_t Session::ExStyle(WindowHandle window) const
{
    Lock lock(state_->mutex);
    HostWindow* w = FindLocked(window);
    return w ? w->exStyle : 0;
}

int Session::CursorCount() const
{
    Lock lock(state_->mutex);
    return state_->cursorCount;
}

// ---- The desktop's calls ------------------------------------------------------------------------

void Session::State::Exposed(desktop::WindowId window, const desktop::Region& area)
{
    WindowHandle handle;
    bool topLevel;
    {
        Lock lock(mutex);
        auto it = byDesktopId.find(window);
        if (it == byDesktopId.end()) {
            return;
        }
        HostWindow* w = FindLocked(it->second);
        handle = w->handle;
        topLevel = !w->parent;
        desktop::Rect client = desktop.ScreenClientRect(window);
        desktop::Region inClient = area;
        inClient.Intersect(client);
        if (!inClient.Empty()) {
            w->update.Add(inClient.Offset(-client.left, -client.top));
            w->erase = true;
            w->thread->WakeLocked();
        }
    }
    if (topLevel) {
        PaintNonClient(handle);
    }
}

void Session::State::MouseButtonEvent(desktop::WindowId window, desktop::Point screen, desktop::MouseButton button, bool down)
{
    WindowHandle target;
    WindowHandle topLevel;
    bool inClient;
    desktop::Rect client = desktop.ScreenClientRect(window);
    {
        Lock lock(mutex);
        auto it = byDesktopId.find(window);
        if (it == byDesktopId.end()) {
            return;
        }
        target = it->second;
        topLevel = TopLevelOfLocked(target);
        HostWindow* top = FindLocked(topLevel);
        if (top->style & kDisabled) {
            return; // the owner of a modal window takes no input
        }
        inClient = client.Contains(screen);
    }
    if (down && button != desktop::MouseButton::Middle) {
        desktop::WindowId topId;
        bool activates;
        {
            Lock lock(mutex);
            HostWindow* top = FindLocked(topLevel);
            topId = top->id;
            activates = top->kind != WindowKind::DropList; // a combo box's list never takes activation
        }
        // A click brings the window to the top of its band and activates it.
        desktop.SetZOrder(topId, desktop::ZPlace::Top);
        if (activates) {
            desktop.SetActive(topId);
        }
    }
    if (!inClient) {
        // The frame and caption: only the close box does something here.
        desktop::Rect frame = desktop.ScreenWindowRect(window);
        bool closeBox = screen.y < client.top && screen.x >= frame.right - 3 - 18 && target == topLevel;
        if (closeBox && !down && button == desktop::MouseButton::Left) {
            sys::PostTo(target, msg::SysCommand, syscommand::Close, 0);
        }
        return;
    }
    uint32_t keys = 0;
    if (down) {
        keys |= button == desktop::MouseButton::Left ? keys::LeftButton
              : button == desktop::MouseButton::Right ? keys::RightButton : keys::MiddleButton;
    }
    sys::PostTo(target, ButtonMessage(button, down), keys, MakeLParam(screen.x - client.left, screen.y - client.top));
}

void Session::State::MouseMoved(desktop::WindowId window, desktop::Point screen)
{
    WindowHandle target;
    {
        Lock lock(mutex);
        auto it = byDesktopId.find(window);
        if (it == byDesktopId.end()) {
            return;
        }
        target = it->second;
    }
    desktop::Rect client = desktop.ScreenClientRect(window);
    sys::PostTo(target, msg::MouseMove, 0, MakeLParam(screen.x - client.left, screen.y - client.top));
}

void Session::State::KeyEvent(desktop::WindowId focus, uint32_t virtualKey, bool down)
{
    WindowHandle target;
    {
        Lock lock(mutex);
        auto it = byDesktopId.find(focus);
        if (it == byDesktopId.end()) {
            return;
        }
        target = it->second;
    }
    sys::PostTo(target, down ? msg::KeyDown : msg::KeyUp, virtualKey, 1);
}

} // namespace tap::ui::host

// ---- sys:: messages and the loop ----------------------------------------------------------------

namespace tap::ui::sys {

using namespace host;

intptr_t SendTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return CallProcedure(window, message, wParam, lParam);
}

bool PostTo(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Session::State& state = CurrentState();
    Lock lock(state.mutex);
    HostWindow* w = FindLocked(window);
    if (!w || !w->thread) {
        return false;
    }
    w->thread->posted.push_back({window, message, wParam, lParam});
    w->thread->WakeLocked();
    return true;
}

int RunMessageLoop()
{
    Posted message;
    while (NextMessage(message)) {
        if (!DialogKeyMessage(message)) {
            DispatchPosted(message);
        }
    }
    return message.message == msg::Quit ? static_cast<int>(message.wParam) : 0;
}

void QuitMessageLoop(int exitCode)
{
    UiThread& me = ThisThread();
    Lock lock(CurrentState().mutex);
    me.quit = true;
    me.quitCode = exitCode;
}

} // namespace tap::ui::sys
