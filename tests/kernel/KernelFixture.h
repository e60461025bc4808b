// A kernel per test and a small test driver whose devices run whatever handler a test gives
// them, so that each test can play the driver (or the lower driver) it needs.
#pragma once

#include <ntddk.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <tapkernel/Kernel.h>

namespace kerneltest {

using Handler = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

// The extension of every test device: its handler, then room for the test.
struct TestExtension {
    Handler *handler;
    ULONG scratch[8];
};

// Completes the IRP with status and information (a typical lower driver).
NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);

// What a device made by CreateReadKeepingDevice saw: every major function, and the read it keeps
// pending (the test completes it, or cleanup does when completeAtCleanup is set).
struct KeptReads {
    std::mutex lock;
    std::vector<UCHAR> majors;
    PIRP read = nullptr;
    bool completeAtCleanup = false; // as a serial port: the file's pending read ends STATUS_CANCELLED
    std::thread::id closeThread;    // where IRP_MJ_CLOSE arrived

    std::vector<UCHAR> Majors();
    PIRP TakeRead();
};

class KernelFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A device of the test driver (named when name is given) whose dispatch routine calls handler.
    PDEVICE_OBJECT CreateDevice(Handler handler, const wchar_t *name = nullptr, bool exclusive = false,
                                ULONG flags = DO_BUFFERED_IO);
    // A device attached on top of lower.
    PDEVICE_OBJECT CreateFilter(PDEVICE_OBJECT lower, Handler handler);
    // A device that keeps each read pending (see KeptReads) and completes everything else.
    PDEVICE_OBJECT CreateReadKeepingDevice(const wchar_t *name, KeptReads *kept);
    // A counted kernel thread that reads 4 bytes from file and stores the status; wait for it with
    // Join.
    PKTHREAD StartRead(PFILE_OBJECT file, NTSTATUS *status);
    void Join(PKTHREAD thread);

    std::unique_ptr<tapkernel::Kernel> kernel;
    tapkernel::DriverModule *module = nullptr;
    PDRIVER_OBJECT driver = nullptr;

private:
    std::deque<Handler> handlers_;
};

UNICODE_STRING Name(const wchar_t *text);

} // namespace kerneltest
