// A kernel per test and a small test driver whose devices run whatever handler a test gives
// them, so that each test can play the driver (or the lower driver) it needs.
#pragma once

#include <ntddk.h>

#include <deque>
#include <functional>
#include <memory>

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

class KernelFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A device of the test driver (named when name is given) whose dispatch routine calls handler.
    PDEVICE_OBJECT CreateDevice(Handler handler, const wchar_t *name = nullptr, bool exclusive = false,
                                ULONG flags = DO_BUFFERED_IO);
    // A device attached on top of lower.
    PDEVICE_OBJECT CreateFilter(PDEVICE_OBJECT lower, Handler handler);

    std::unique_ptr<tapkernel::Kernel> kernel;
    tapkernel::DriverModule *module = nullptr;
    PDRIVER_OBJECT driver = nullptr;

private:
    std::deque<Handler> handlers_;
};

UNICODE_STRING Name(const wchar_t *text);

} // namespace kerneltest
