// Shared pieces of the machine's tests: the TestMouse driver, a booted machine with it installed,
// and a recorder for the completion of hand-made IRPs.
#pragma once

#include <machine/Machine.h>

#include <tapkernel/Kernel.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace machinetest {

inline const std::u16string kServicesKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

// What the TestMouse driver has seen since it was loaded; empty when it is not loaded.
inline std::string TestDriverLog(tapmachine::Machine &machine)
{
    using CopyLog = void (*)(char *, size_t);
    auto copy = reinterpret_cast<CopyLog>(machine.DriverSymbol(u"TestMouse", "TestDriverCopyLog"));
    if (copy == nullptr) {
        return {};
    }
    std::string log(4096, '\0');
    copy(log.data(), log.size());
    log.resize(log.find('\0'));
    return log;
}

// Sends one report from TestMouse to the mouse class; false when the class has not connected.
inline bool TestDriverReport(tapmachine::Machine &machine, int32_t x, int32_t y, uint16_t flags,
                             uint16_t buttonFlags, bool atDispatch = true)
{
    using Report = BOOLEAN (*)(LONG, LONG, USHORT, USHORT, BOOLEAN);
    auto report = reinterpret_cast<Report>(machine.DriverSymbol(u"TestMouse", "TestDriverReport"));
    return report != nullptr && report(x, y, flags, buttonFlags, atDispatch);
}

// A machine with TestMouse installed and one root device node bound to it (not started).
class TestMouseMachine : public testing::Test {
protected:
    explicit TestMouseMachine(tapmachine::MachineOptions options = {}) : machine(std::move(options))
    {
        machine.InstallDriverModule(TAP_TEST_MOUSE_DRIVER, u"TestMouse");
        node = machine.CreateRootDevice(u"*TestMouse", u"TestMouse");
    }

    void SetKnob(const char16_t *name, uint32_t value)
    {
        machine.SetDword(kServicesKey + u"TestMouse\\Parameters", name, value);
    }

    tapmachine::Machine machine;
    std::u16string node;
};

// Completion of a hand-made IRP: status, bytes, IRQL and thread of the completion.
class CompletionRecord {
public:
    static NTSTATUS NTAPI Routine(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto *record = static_cast<CompletionRecord *>(context);
        std::lock_guard<std::mutex> lock(record->mutex_);
        record->done_ = true;
        record->status_ = irp->IoStatus.Status;
        record->information_ = irp->IoStatus.Information;
        record->irql_ = KeGetCurrentIrql();
        record->thread_ = std::this_thread::get_id();
        return STATUS_MORE_PROCESSING_REQUIRED;  // the IRP stays the test's
    }

    bool done() const { std::lock_guard<std::mutex> lock(mutex_); return done_; }
    NTSTATUS status() const { std::lock_guard<std::mutex> lock(mutex_); return status_; }
    ULONG_PTR information() const { std::lock_guard<std::mutex> lock(mutex_); return information_; }
    KIRQL irql() const { std::lock_guard<std::mutex> lock(mutex_); return irql_; }
    std::thread::id thread() const { std::lock_guard<std::mutex> lock(mutex_); return thread_; }

private:
    mutable std::mutex mutex_;
    bool done_ = false;
    NTSTATUS status_ = 0;
    ULONG_PTR information_ = 0;
    KIRQL irql_ = 0;
    std::thread::id thread_;
};

}  // namespace machinetest
