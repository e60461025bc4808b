// Threads that programs start (CreateThread and its companions) on the simulated PC, and a thread
// that polls a device with nothing new to see: it waits as idle instead of spinning.
#include "Win32Machine.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace win32test {
namespace {

using ThreadsTest = Win32Machine;

struct Work {
    std::atomic<int> steps{0};
    std::atomic<bool> unwound{false};
    std::atomic<bool> stop{false};
    DWORD exitCodeInside = 0;
};

DWORD WINAPI Count(LPVOID parameter)
{
    auto *work = static_cast<Work *>(parameter);
    for (int i = 0; i < 1000; ++i) {
        work->steps.fetch_add(1);
    }
    return 42;
}

struct MarkUnwound {
    Work *work;
    ~MarkUnwound() { work->unwound = true; }
};

DWORD WINAPI EndsItself(LPVOID parameter)
{
    auto *work = static_cast<Work *>(parameter);
    GetExitCodeThread(GetCurrentThread(), &work->exitCodeInside);
    MarkUnwound mark{work};
    ExitThread(7);
}

// Asks the probe the same question until told to stop.
DWORD WINAPI Poll(LPVOID parameter)
{
    auto *work = static_cast<Work *>(parameter);
    HANDLE device = CreateFileA(probe::kPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                                NULL);
    while (!work->stop) {
        uint8_t answer[4] = {};
        DWORD returned = 0;
        DeviceIoControl(device, kProbeCode, NULL, 0, answer, sizeof answer, &returned, NULL);
        work->steps.fetch_add(1);
    }
    CloseHandle(device);
    return 0;
}

size_t ControlRequests()
{
    size_t count = 0;
    for (const probe::Request &request : probe::Requests()) {
        count += request.major == probe::DeviceControl ? 1 : 0;
    }
    return count;
}

TEST_F(ThreadsTest, AThreadRunsItsRoutineAndItsHandleTellsItsEndAndExitCode)
{
    Work work;
    DWORD id = 0;
    HANDLE thread = CreateThread(NULL, 0, Count, &work, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    // Busy from its creation: the machine is idle only once it has done its work.
    machine.WaitIdle();
    EXPECT_EQ(work.steps.load(), 1000);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ThreadsTest, ExitThreadEndsTheThreadWithItsCodeAndStillActiveIsWhatItReadsBefore)
{
    Work work;
    HANDLE thread = CreateThread(NULL, 0, EndsItself, &work, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(work.exitCodeInside, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(work.unwound);
    CloseHandle(thread);
}

TEST_F(ThreadsTest, SuspendedThreadsAndTimedWaitsAreRefused)
{
    Work work;
    EXPECT_EQ(CreateThread(NULL, 0, Count, &work, CREATE_SUSPENDED, NULL), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    HANDLE thread = CreateThread(NULL, 0, Count, &work, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(thread, 500), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST_F(ThreadsTest, AThreadPollingWithNothingNewWaitsAsIdleUntilTheAnswerMayChange)
{
    probe::SetReply({0, {1, 2, 3, 4}, 4});
    Work work;
    HANDLE thread = CreateThread(NULL, 0, Poll, &work, 0, NULL);
    machine.WaitIdle();
    const int asked = work.steps.load();
    // Once, then once more with the same answer: then it waits inside the second request. A third
    // time when this thread's WaitIdle, which counts as the machine's user acting, falls between
    // the first two (a loaded machine schedules it so).
    EXPECT_LE(asked, 3);
    EXPECT_EQ(ControlRequests(), static_cast<size_t>(asked) + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(work.steps.load(), asked);
    // The machine's user acting (here: the clock) lets it look again, a few times at most, and
    // it waits again.
    machine.Advance(std::chrono::milliseconds(10));
    const int after = work.steps.load();
    EXPECT_GT(after, asked);
    EXPECT_LE(after, asked + 10);
    EXPECT_EQ(ControlRequests(), static_cast<size_t>(after) + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(work.steps.load(), after);
    // A new answer is seen once something moves.
    probe::SetReply({0, {9, 9, 9, 9}, 4});
    machine.WaitIdle();
    EXPECT_GT(work.steps.load(), after);
    work.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    machine.WaitIdle();
}

} // namespace
} // namespace win32test
