// CreateFileA, DeviceIoControl, ReadFile, WriteFile and CloseHandle on devices: the requests a
// driver receives and what the caller gets back.
#include "Win32Machine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

using namespace win32test;

namespace {

using Devices = Win32Machine;

TEST_F(Devices, OpenAndCloseSendCreateCleanupAndCloseWithOneFileObject)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Majors(), (std::vector<uint8_t>{probe::Create}));
    EXPECT_TRUE(CloseHandle(device));
    std::vector<probe::Request> requests = probe::Requests();
    ASSERT_EQ(Majors(), (std::vector<uint8_t>{probe::Create, probe::Cleanup, probe::Close}));
    EXPECT_NE(requests[0].fileObject, nullptr);
    EXPECT_EQ(requests[1].fileObject, requests[0].fileObject);
    EXPECT_EQ(requests[2].fileObject, requests[0].fileObject);

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE)); // the process pseudo handle
}

TEST_F(Devices, NamesReachDevicesThroughTheirLinks)
{
    EXPECT_EQ(CreateFileA("\\\\.\\NoSuchDevice", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE slashes = CreateFileA("//./win32probe", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(slashes, INVALID_HANDLE_VALUE) << "forward slashes and any case reach the same link";
    CloseHandle(slashes);

    EXPECT_EQ(CreateFileA("\\\\.\\", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(NULL, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA(probe::kPath, GENERIC_READ, 0, NULL, 9, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Devices, AnExclusiveDeviceAdmitsOneHandle)
{
    HANDLE first = CreateFileA(probe::kExclusivePath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(probe::kExclusivePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(first);
    HANDLE again = CreateFileA(probe::kExclusivePath, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(Devices, BufferedControlSharesOneSystemBufferAndCopiesInformationBytesBack)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    probe::SetReply({0, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, 3});
    std::array<uint8_t, 5> input{1, 2, 3, 4, 5};
    std::array<uint8_t, 8> output;
    output.fill(0xEE);
    DWORD returned = 0xDEAD;
    SetLastError(1234);
    ASSERT_TRUE(DeviceIoControl(device, kProbeCode, input.data(), 5, output.data(), 8, &returned, NULL));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(GetLastError(), 1234u) << "success leaves the last error alone";
    EXPECT_EQ(output, (std::array<uint8_t, 8>{0xA1, 0xA2, 0xA3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}))
        << "only Information bytes come back";

    probe::Request request = probe::Requests().back();
    EXPECT_EQ(request.major, probe::DeviceControl);
    EXPECT_EQ(request.code, kProbeCode);
    EXPECT_EQ(request.inputLength, 5u);
    EXPECT_EQ(request.outputLength, 8u);
    EXPECT_TRUE(request.systemBuffer);
    EXPECT_EQ(request.input, (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    // No buffers at all: no system buffer.
    probe::SetReply({});
    ASSERT_TRUE(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(probe::Requests().back().systemBuffer);
    CloseHandle(device);
}

TEST_F(Devices, FailureStatusesBecomeSystemErrorCodes)
{
    struct Case {
        uint32_t status;
        DWORD error;
    };
    const Case cases[] = {
        {0xC000000D, ERROR_INVALID_PARAMETER},  {0xC0000010, ERROR_INVALID_FUNCTION},
        {0xC0000001, ERROR_GEN_FAILURE},        {0xC0000022, ERROR_ACCESS_DENIED},
        {0xC0000043, ERROR_SHARING_VIOLATION},  {0xC0000034, ERROR_FILE_NOT_FOUND},
        {0xC000000E, ERROR_FILE_NOT_FOUND},     {0xC000009A, ERROR_NO_SYSTEM_RESOURCES},
        {0xC0000120, ERROR_OPERATION_ABORTED},  {0xC00000BB, ERROR_NOT_SUPPORTED},
        {0xC0000056, ERROR_ACCESS_DENIED},      {0xC000009D, ERROR_NOT_READY},
        {0xC0000023, ERROR_INSUFFICIENT_BUFFER}, {0xE0001234, ERROR_MR_MID_NOT_FOUND},
    };
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    for (const Case &c : cases) {
        probe::SetReply({static_cast<int32_t>(c.status), {0x55}, 0});
        uint8_t output = 0;
        DWORD returned = 0xDEAD;
        EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, &output, 1, &returned, NULL));
        EXPECT_EQ(GetLastError(), c.error) << std::hex << c.status;
        EXPECT_EQ(returned, 0xDEADu) << "an error leaves the count alone";
        EXPECT_EQ(output, 0) << "nothing is copied back on an error";
    }
    CloseHandle(device);
}

TEST_F(Devices, ABufferOverflowWarningReturnsTheDataButFails)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    probe::SetReply({static_cast<int32_t>(0x80000005), {7, 8}, 2});
    uint8_t output[2] = {};
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, output, 2, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(output[1], 8);
    CloseHandle(device);
}

TEST_F(Devices, BadCallsFailBeforeReachingTheDriver)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    probe::ClearRequests();
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 4, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 12, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_FALSE(DeviceIoControl(device, CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_OUT_DIRECT, FILE_ANY_ACCESS),
                                 NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(DeviceIoControl(reinterpret_cast<HANDLE>(0x7777770), kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(DeviceIoControl(INVALID_HANDLE_VALUE, kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(probe::Requests().empty());
    CloseHandle(device);

    EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "a closed handle";

    HANDLE overlapped = OpenProbe(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(overlapped, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeviceIoControl(overlapped, kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(overlapped);
}

TEST_F(Devices, ANullByteCountWithoutOverlappedFaults)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_DEATH(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 0, NULL, NULL), "DeviceIoControl");
    CloseHandle(device);
}

TEST_F(Devices, ReadAndWriteReachTheDriver)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    probe::SetReply({0, {'o', 'k'}, 2});
    char buffer[4] = {};
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(device, buffer, sizeof(buffer), &count, NULL));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::string(buffer, 2), "ok");
    EXPECT_EQ(probe::Requests().back().outputLength, 4u);

    probe::SetReply({});
    ASSERT_TRUE(WriteFile(device, "xyz", 3, &count, NULL));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(probe::Requests().back().input, (std::vector<uint8_t>{'x', 'y', 'z'}));
    CloseHandle(device);

    HANDLE readOnly = CreateFileA(probe::kPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(readOnly, "x", 1, &count, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(readOnly);
}

// A handle closed while a call on it is pending on another thread: cleanup at once (this driver
// keeps the request through it), the close once the call's request is finished.
TEST_F(Devices, ClosingAHandleInUseSendsCleanupAtOnceAndCloseAfterTheCall)
{
    HANDLE device = OpenProbe();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    probe::SetReply({0, {42}, 1});
    probe::HoldNextRequest();
    std::atomic<BOOL> result{FALSE};
    uint8_t output = 0;
    std::thread caller([&] {
        DWORD returned = 0;
        result = DeviceIoControl(device, kProbeCode, NULL, 0, &output, 1, &returned, NULL);
    });
    probe::WaitUntilHeld();
    EXPECT_TRUE(CloseHandle(device));
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 0, &returned, NULL)) << "the handle is gone";
    EXPECT_EQ(Majors(), (std::vector<uint8_t>{probe::Create, probe::DeviceControl, probe::Cleanup}))
        << "cleanup at once; the pending request keeps the file object from its close";
    probe::Release();
    caller.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(output, 42);
    EXPECT_EQ(Majors(),
              (std::vector<uint8_t>{probe::Create, probe::DeviceControl, probe::Cleanup, probe::Close}));
}

// Calls racing the close of their handle: each one either runs to the end on the file object or
// finds the handle gone; the driver sees one cleanup and one close, the close last.
TEST_F(Devices, CallsRacingTheCloseOfTheirHandle)
{
    probe::SetReply({0, {7}, 1});
    constexpr int kThreads = 3;
    for (int round = 0; round < 20; ++round) {
        probe::ClearRequests();
        HANDLE shared = OpenProbe();
        ASSERT_NE(shared, INVALID_HANDLE_VALUE);
        std::atomic<int> unexpected{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < kThreads; ++t) {
            callers.emplace_back([&] {
                for (int i = 0; i < 20; ++i) {
                    uint8_t value = 0;
                    DWORD returned = 0;
                    if (DeviceIoControl(shared, kProbeCode, NULL, 0, &value, 1, &returned, NULL)) {
                        unexpected += value != 7;
                    } else {
                        unexpected += GetLastError() != static_cast<DWORD>(ERROR_INVALID_HANDLE);
                    }
                }
            });
        }
        EXPECT_TRUE(CloseHandle(shared));
        for (std::thread &caller : callers) {
            caller.join();
        }
        EXPECT_EQ(unexpected, 0);
        std::vector<uint8_t> majors = Majors();
        ASSERT_GE(majors.size(), 3u);
        EXPECT_EQ(majors.front(), probe::Create);
        EXPECT_EQ(majors.back(), probe::Close);
        EXPECT_EQ(std::count(majors.begin(), majors.end(), probe::Cleanup), 1);
        EXPECT_EQ(std::count(majors.begin(), majors.end(), probe::Close), 1);
    }
}

TEST_F(Devices, ThreadsOpenSendAndCloseAtOnce)
{
    probe::SetReply({0, {1, 2, 3, 4}, 4});
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    HANDLE shared = OpenProbe();
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                HANDLE own = OpenProbe();
                uint32_t value = 0;
                DWORD returned = 0;
                if (own == INVALID_HANDLE_VALUE ||
                    !DeviceIoControl(own, kProbeCode, &value, 4, &value, 4, &returned, NULL) || returned != 4 ||
                    !DeviceIoControl(shared, kProbeCode, NULL, 0, &value, 4, &returned, NULL) || !CloseHandle(own)) {
                    ++failures;
                }
                SetLastError(static_cast<DWORD>(i));
                if (GetLastError() != static_cast<DWORD>(i)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    CloseHandle(shared);
    size_t creates = 0, closes = 0;
    for (const probe::Request &request : probe::Requests()) {
        creates += request.major == probe::Create;
        closes += request.major == probe::Close;
    }
    EXPECT_EQ(creates, static_cast<size_t>(kThreads * kRounds + 1));
    EXPECT_EQ(closes, creates);
}

TEST_F(Devices, AnEndingProcessClosesItsHandles)
{
    tapwin32::Process tool("C:\\WINDOWS\\SideSwitch.exe");
    {
        tapwin32::ProcessScope scope(tool);
        HANDLE device = OpenProbe();
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        (void)device; // never closed, as the program leaves it to its exit
    }
    HANDLE mine = OpenProbe();
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    EXPECT_EQ(tool.OpenHandleCount(), 1u);
    EXPECT_EQ(tapwin32::OpenHandleCount(), 2u);
    tool.Exit();
    EXPECT_EQ(tool.OpenHandleCount(), 0u);
    EXPECT_EQ(tapwin32::OpenHandleCount(), 1u) << "other processes keep theirs";
    CloseHandle(mine);
    size_t closes = 0;
    for (const probe::Request &request : probe::Requests()) {
        closes += request.major == probe::Close;
    }
    EXPECT_EQ(closes, 2u);
}

// ---- COM ports ------------------------------------------------------------------------------------

class ComPorts : public Win32Machine {
protected:
    static tapmachine::MachineOptions WithPorts()
    {
        tapmachine::MachineOptions options;
        options.comPorts = {3, 10};
        return options;
    }
    ComPorts() : Win32Machine(WithPorts()) {}
};

TEST_F(ComPorts, APortOpensByItsDosNameOnceAtATime)
{
    HANDLE port = CreateFileA("COM3", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(machine.comPort(3).open());
    EXPECT_EQ(CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(machine.comPort(3).open());

    HANDLE again = CreateFileA("com3:", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);

    EXPECT_EQ(CreateFileA("COM4", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The serial port cancels the reads of a file object at its cleanup: a read pending on one thread
// ends with ERROR_OPERATION_ABORTED as soon as another thread closes the handle, and the port is
// closed once that read has returned.
TEST_F(ComPorts, ClosingThePortEndsAReadPendingOnAnotherThread)
{
    HANDLE port = CreateFileA("COM3", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    std::atomic<BOOL> result{TRUE};
    std::atomic<DWORD> error{0};
    std::atomic<bool> returned{false};
    DWORD count = 99;
    std::thread reader([&] {
        uint8_t buffer[8];
        result = ReadFile(port, buffer, sizeof buffer, &count, NULL); // no time-outs: waits for 8 bytes
        error = GetLastError();
        returned = true;
    });
    constexpr int32_t kStatusPending = 0x00000103; // the driver queued the read
    auto pending = [this] {
        for (const tapmachine::SerialRequest &request : machine.comPort(3).requests()) {
            if (request.kind == tapmachine::SerialRequest::Kind::Read && request.status == kStatusPending) {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < 5000 && !pending(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(pending());

    EXPECT_TRUE(CloseHandle(port));
    // Nothing else happens on the line: the cleanup alone ends the read.
    for (int i = 0; i < 5000 && !returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!returned) {
        ADD_FAILURE() << "the read is still pending after the handle was closed";
        machine.comPort(3).Feed(std::vector<uint8_t>(8, 0x55)); // let it end
        machine.Settle();
    }
    reader.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(count, 0u);
    std::vector<tapmachine::SerialRequest::Kind> kinds;
    for (const tapmachine::SerialRequest &request : machine.comPort(3).requests()) {
        kinds.push_back(request.kind);
    }
    using Kind = tapmachine::SerialRequest::Kind;
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Create, Kind::Read, Kind::Cleanup, Kind::Close}));
    EXPECT_FALSE(machine.comPort(3).open());

    HANDLE again = CreateFileA("COM3", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the port was closed: a new open is admitted";
    CloseHandle(again);
}

TEST_F(ComPorts, PortsAboveNineAreReachedOnlyThroughTheDevicePrefix)
{
    // "COM10" is an ordinary file name in the current directory.
    EXPECT_EQ(CreateFileA("COM10", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE port = CreateFileA("\\\\.\\COM10", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
}

} // namespace

TEST_F(Devices, EveryControlRequestIsReportedWithTheProgramTheNameAndTheOutcome)
{
    machine.programRequests().Take();
    tapwin32::Process tool("C:\\WINDOWS\\MonotapDrv\\MonoAlign.exe");
    {
        tapwin32::ProcessScope scope(tool);
        HANDLE device = OpenProbe();
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        uint8_t input[3] = {1, 2, 3};
        DWORD returned = 0;
        probe::SetReply({0, {}, 0});
        EXPECT_TRUE(DeviceIoControl(device, kProbeCode, input, 3, NULL, 0, &returned, NULL));
        probe::SetReply({static_cast<int32_t>(0xC000000D), {}, 0});
        EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 0, NULL, 0, &returned, NULL));
        // Refused before anything is sent: not a request the device saw.
        EXPECT_FALSE(DeviceIoControl(device, kProbeCode, NULL, 4, NULL, 0, &returned, NULL));
        CloseHandle(device);
    }
    std::vector<tapmachine::ProgramRequest> requests = machine.programRequests().Take();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, tapmachine::ProgramRequest::Kind::DeviceControl);
    EXPECT_EQ(requests[0].program, "MonoAlign");
    EXPECT_EQ(requests[0].target, probe::kPath);
    EXPECT_EQ(requests[0].code, kProbeCode);
    EXPECT_EQ(requests[0].input, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(requests[0].error, 0u);
    EXPECT_TRUE(requests[1].input.empty());
    EXPECT_EQ(requests[1].error, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
}
