// kernel32's threads: CreateThread, ExitThread, GetCurrentThread, GetCurrentThreadId,
// GetExitCodeThread and WaitForSingleObject on a thread.
//
// A thread a program starts runs on a host thread of its own, in the creator's process, as a
// thread of the simulated system: the machine counts it busy from its creation until it blocks
// (waiting for another thread, in a message box, or polling a driver with nothing new) or ends.
// Its handle is signalled when it has ended. The process joins its threads' host threads when it
// exits, since the host cannot end a thread from outside as ExitProcess does.
#include <windows.h>

#include "Session.h"
#include "SystemLink.h"

#include <atomic>
#include <condition_variable>

namespace tapwin32 {

namespace {

// The pseudo-handle GetCurrentThread returns: the calling thread, in every call that takes one.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

std::atomic<DWORD> nextThreadId{0x1000};

// What the handles on one thread share: its end and its exit code.
struct ThreadState {
    DWORD id = 0;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    DWORD exitCode = STILL_ACTIVE;
    int blockedWaiters = 0; // waiters counted as blocked; the thread's end makes them runnable
};

class ThreadObject : public Object {
public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state) : Object(Kind::Thread), state_(std::move(state)) {}
    const std::shared_ptr<ThreadState> &state() const { return state_; }

private:
    std::shared_ptr<ThreadState> state_;
};

// The thread CreateThread started that runs on this host thread; null for any other.
thread_local std::shared_ptr<ThreadState> currentThread;

// Thrown by ExitThread, caught where the thread began.
struct ThreadExit {
    DWORD code;
};

void Finish(ThreadState &state, DWORD exitCode)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    state.done = true;
    state.exitCode = exitCode;
    for (; state.blockedWaiters > 0; --state.blockedWaiters) {
        link::ThreadRunnable();
    }
    state.ended.notify_all();
}

void RunThread(std::shared_ptr<Process::State> process, std::shared_ptr<ThreadState> state,
               LPTHREAD_START_ROUTINE start, LPVOID parameter)
{
    link::EnterThread();
    ProcessStateScope scope(process);
    currentThread = state;
    DWORD exitCode;
    try {
        exitCode = start(parameter);
    } catch (const ThreadExit &exit) {
        exitCode = exit.code;
    }
    currentThread.reset();
    // A thread that waits for this one may run from here on; this one no longer counts.
    Finish(*state, exitCode);
    link::NotePollActivity();
    link::LeaveThread();
}

std::shared_ptr<ThreadState> ThreadOf(HANDLE handle)
{
    if (handle == kCurrentThread) {
        return currentThread;
    }
    std::shared_ptr<Session> session = Session::TryCurrent();
    std::shared_ptr<Object> object = session ? session->Lookup(handle) : nullptr;
    if (!object || object->kind() != Object::Kind::Thread) {
        return nullptr;
    }
    return static_cast<ThreadObject *>(object.get())->state();
}

} // namespace

} // namespace tapwin32

using namespace tapwin32;

extern "C" {

// Starts lpStartAddress(lpParameter) on a new thread of the calling process and returns a handle
// on it (closed with CloseHandle; the thread runs on without it). The stack size is the host's;
// CREATE_SUSPENDED is not offered (no program starts a thread suspended).
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    std::shared_ptr<Session> session = Session::Current("CreateThread");
    if (!lpStartAddress) {
        UserModeFault("CreateThread", "lpStartAddress is NULL");
    }
    if (dwCreationFlags & CREATE_SUSPENDED) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    auto state = std::make_shared<ThreadState>();
    state->id = nextThreadId.fetch_add(4);
    HANDLE handle = session->Insert(std::make_shared<ThreadObject>(state));
    std::shared_ptr<Process::State> process = CurrentProcessState();
    // Busy from now on, so that the machine is never seen idle before the thread has run.
    link::ThreadRunnable();
    {
        std::lock_guard<std::mutex> lock(process->mutex);
        process->threads.emplace_back(RunThread, process, state, lpStartAddress, lpParameter);
    }
    if (lpThreadId) {
        *lpThreadId = state->id;
    }
    return handle;
}

// Ends the calling thread with dwExitCode. Only a thread started with CreateThread can end so
// here: the main thread of a program ends by returning from WinMain. The host unwinds the
// thread's frames, so their destructors run (on Windows they do not: a program releases what it
// holds before it calls ExitThread).
VOID WINAPI ExitThread(DWORD dwExitCode)
{
    if (!currentThread) {
        UserModeFault("ExitThread", "called on a thread that CreateThread did not start");
    }
    throw ThreadExit{dwExitCode};
}

HANDLE WINAPI GetCurrentThread(VOID)
{
    return kCurrentThread;
}

// The identifier of a thread CreateThread started; another thread (a program's main thread)
// gets one of its own on first use.
DWORD WINAPI GetCurrentThreadId(VOID)
{
    if (currentThread) {
        return currentThread->id;
    }
    thread_local DWORD own = nextThreadId.fetch_add(4);
    return own;
}

// STILL_ACTIVE while the thread runs, then the code it ended with. The calling thread's own
// pseudo-handle works only for a thread CreateThread started.
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    if (!lpExitCode) {
        UserModeFault("GetExitCodeThread", "lpExitCode is NULL");
    }
    std::shared_ptr<ThreadState> state = ThreadOf(hThread);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    *lpExitCode = state->exitCode;
    return TRUE;
}

// Waits for a thread to end: WAIT_OBJECT_0 once it has, WAIT_TIMEOUT when dwMilliseconds is 0 and
// it still runs. A program waits for the threads it started with INFINITE or 0; other time-outs
// would need the virtual clock and are not offered. Meanwhile the caller counts as blocked.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    std::shared_ptr<ThreadState> state = ThreadOf(hHandle);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (dwMilliseconds != 0 && dwMilliseconds != INFINITE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    if (state == currentThread) {
        if (dwMilliseconds == 0) {
            return WAIT_TIMEOUT;
        }
        UserModeFault("WaitForSingleObject", "a thread waits for itself without a time-out");
    }
    // A thread that polls a driver with nothing new to see looks again now: it may be the
    // one waited for, with its stop asked for just before.
    link::NotePollActivity();
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->done) {
        return WAIT_OBJECT_0;
    }
    if (dwMilliseconds == 0) {
        return WAIT_TIMEOUT;
    }
    const bool counted = link::IsProgramThread();
    if (counted) {
        ++state->blockedWaiters;
        link::ThreadBlocked();
    }
    state->ended.wait(lock, [&state] { return state->done; });
    return WAIT_OBJECT_0;
}

} // extern "C"
