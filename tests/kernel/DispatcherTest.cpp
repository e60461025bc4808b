// Events, timed waits on the virtual clock, the idle test, spin locks and PnP interface
// notifications.
#include <initguid.h>
#include <ntddser.h>
#include <wdmguid.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "KernelFixture.h"

using namespace kerneltest;

namespace {

class DispatcherTest : public KernelFixture {
protected:
    // A kernel thread that waits on event (with an optional relative time-out in ms) and records
    // the wait's result.
    PKTHREAD Waiter(PKEVENT event, std::atomic<NTSTATUS> *result, LONGLONG timeoutMs = -1)
    {
        return kernel->StartThread("waiter", [event, result, timeoutMs] {
            LARGE_INTEGER timeout;
            timeout.QuadPart = -timeoutMs * 10000;
            *result = KeWaitForSingleObject(event, Executive, KernelMode, FALSE, timeoutMs < 0 ? nullptr : &timeout);
        });
    }

    void Finish(PKTHREAD thread)
    {
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(thread);
    }
};

constexpr NTSTATUS kWaiting = 0x7777;

TEST_F(DispatcherTest, NotificationEventReleasesEveryWaiterAndStaysSignalled)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<NTSTATUS> a{kWaiting};
    std::atomic<NTSTATUS> b{kWaiting};
    PKTHREAD first = Waiter(&event, &a);
    PKTHREAD second = Waiter(&event, &b);
    kernel->WaitUntilIdle();
    EXPECT_EQ(kWaiting, a.load());
    EXPECT_EQ(0, KeSetEvent(&event, IO_NO_INCREMENT, FALSE));
    kernel->WaitUntilIdle();
    EXPECT_EQ(STATUS_SUCCESS, a.load());
    EXPECT_EQ(STATUS_SUCCESS, b.load());
    EXPECT_EQ(1, KeReadStateEvent(&event));
    Finish(first);
    Finish(second);
}

TEST_F(DispatcherTest, SynchronizationEventReleasesOneWaiterAndResets)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<NTSTATUS> a{kWaiting};
    std::atomic<NTSTATUS> b{kWaiting};
    PKTHREAD first = Waiter(&event, &a);
    PKTHREAD second = Waiter(&event, &b);
    kernel->WaitUntilIdle();
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    kernel->WaitUntilIdle();
    EXPECT_EQ(1, (a.load() == STATUS_SUCCESS) + (b.load() == STATUS_SUCCESS));
    EXPECT_EQ(0, KeReadStateEvent(&event));
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    Finish(first);
    Finish(second);
    // A signal nobody waits for is kept for the next wait.
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    LARGE_INTEGER poll{};
    EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll));
    EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll));
}

TEST_F(DispatcherTest, TimedWaitExpiresOnlyWhenTheVirtualClockPassesItsDeadline)
{
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    std::atomic<NTSTATUS> result{kWaiting};
    LONGLONG start = kernel->SystemTime();
    PKTHREAD waiter = Waiter(&never, &result, 100);
    kernel->WaitUntilIdle();
    ASSERT_TRUE(kernel->NextDeadline().has_value());
    EXPECT_EQ(start + 100 * 10000, *kernel->NextDeadline());
    kernel->AdvanceClockMs(99);
    EXPECT_EQ(kWaiting, result.load());
    kernel->AdvanceClockMs(1);
    EXPECT_EQ(STATUS_TIMEOUT, result.load());
    EXPECT_EQ(start + 100 * 10000, kernel->SystemTime());
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    EXPECT_EQ(kernel->SystemTime(), now.QuadPart);
    Finish(waiter);
}

TEST_F(DispatcherTest, AdvancingTheClockStepsThroughEveryDeadlineOnTheWay)
{
    std::atomic<int> ticks{0};
    PKTHREAD ticker = kernel->StartThread("ticker", [&ticks] {
        for (int i = 0; i < 5; ++i) {
            LARGE_INTEGER interval;
            interval.QuadPart = -10 * 10000; // 10 ms
            KeDelayExecutionThread(KernelMode, FALSE, &interval);
            ++ticks;
        }
    });
    kernel->AdvanceClockMs(35);
    EXPECT_EQ(3, ticks.load());
    kernel->AdvanceClockMs(100);
    EXPECT_EQ(5, ticks.load());
    LARGE_INTEGER count;
    KeQueryTickCount(&count);
    EXPECT_EQ(135 * 10000 / static_cast<LONGLONG>(KeQueryTimeIncrement()), count.QuadPart);
    Finish(ticker);
}

TEST_F(DispatcherTest, SignalledThreadCountsAsBusyUntilItWaitsAgain)
{
    KEVENT wake;
    KeInitializeEvent(&wake, SynchronizationEvent, FALSE);
    std::atomic<int> rounds{0};
    std::atomic<bool> stop{false};
    std::mutex gate; // held by the test: a woken thread cannot get back into its wait meanwhile
    PKTHREAD worker = kernel->StartThread("worker", [&] {
        while (!stop) {
            KeWaitForSingleObject(&wake, Executive, KernelMode, FALSE, nullptr);
            std::lock_guard<std::mutex> pass(gate);
            ++rounds;
        }
    });
    kernel->WaitUntilIdle();
    EXPECT_TRUE(kernel->IsIdle());
    {
        std::lock_guard<std::mutex> hold(gate);
        KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
        EXPECT_FALSE(kernel->IsIdle()); // busy from the moment it is signalled
        EXPECT_EQ(std::vector<std::string>{"worker"}, kernel->BusyThreads());
    }
    kernel->WaitUntilIdle();
    EXPECT_EQ(1, rounds.load());
    EXPECT_TRUE(kernel->BusyThreads().empty());
    stop = true;
    KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    Finish(worker);
}

TEST_F(DispatcherTest, RegisteredHostThreadTakesPartInTheIdleTest)
{
    KEVENT release;
    KeInitializeEvent(&release, NotificationEvent, FALSE);
    std::atomic<bool> registered{false};
    std::mutex gate;
    std::unique_lock<std::mutex> hold(gate);
    std::thread device([&] {
        tapkernel::ThreadRegistration registration("serial line");
        registered = true;
        KeWaitForSingleObject(&release, Executive, KernelMode, FALSE, nullptr);
        std::lock_guard<std::mutex> pass(gate);
    });
    while (!registered) {
        std::this_thread::yield();
    }
    kernel->WaitUntilIdle(); // returns only once the device thread waits
    KeSetEvent(&release, IO_NO_INCREMENT, FALSE);
    EXPECT_FALSE(kernel->IsIdle());
    EXPECT_EQ(std::vector<std::string>{"serial line"}, kernel->BusyThreads());
    hold.unlock();
    device.join();
    EXPECT_TRUE(kernel->IsIdle());
}

TEST_F(DispatcherTest, SpinLockRunsAtDispatchLevelAndRestoresTheIrql)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(PASSIVE_LEVEL, old);
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());

    // Two threads incrementing under the lock lose nothing.
    LONG counter = 0;
    auto work = [&] {
        for (int i = 0; i < 1000; ++i) {
            KIRQL irql;
            KeAcquireSpinLock(&lock, &irql);
            ++counter;
            KeReleaseSpinLock(&lock, irql);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(2000, counter);
}

TEST_F(DispatcherTest, MutexIsRecursiveForItsOwnerAndExcludesOthers)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    std::atomic<NTSTATUS> other{kWaiting};
    PKTHREAD thread = kernel->StartThread("other", [&] {
        LARGE_INTEGER poll{};
        other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &poll);
    });
    Finish(thread);
    EXPECT_EQ(STATUS_TIMEOUT, other.load());
    KeReleaseMutex(&mutex, FALSE);
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(1, mutex.Header.SignalState);
}

struct Arrivals {
    std::vector<std::u16string> links;
    std::vector<bool> arrivals;
    std::vector<KIRQL> irqls;
    std::thread::id thread;
};

NTSTATUS NTAPI OnInterfaceChange(PVOID structure, PVOID context)
{
    auto *notification = static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(structure);
    auto *arrivals = static_cast<Arrivals *>(context);
    EXPECT_TRUE(IsEqualGUID(notification->InterfaceClassGuid, GUID_DEVINTERFACE_COMPORT));
    arrivals->links.emplace_back(reinterpret_cast<const char16_t *>(notification->SymbolicLinkName->Buffer),
                                 notification->SymbolicLinkName->Length / 2);
    arrivals->arrivals.push_back(IsEqualGUID(notification->Event, GUID_DEVICE_INTERFACE_ARRIVAL) != 0);
    arrivals->irqls.push_back(KeGetCurrentIrql());
    arrivals->thread = std::this_thread::get_id();
    return STATUS_SUCCESS;
}

TEST_F(DispatcherTest, InterfaceNotificationsIncludeExistingOnesAndRunOnTheWorker)
{
    kernel->RegisterDeviceInterface(GUID_DEVINTERFACE_COMPORT, u"\\??\\ACPI#PNP0501#1#{com}");
    const GUID otherClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    kernel->RegisterDeviceInterface(otherClass, u"\\??\\other");
    Arrivals arrivals;
    PVOID entry = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                             PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                             const_cast<GUID *>(&GUID_DEVINTERFACE_COMPORT), driver,
                                             OnInterfaceChange, &arrivals, &entry));
    kernel->WaitUntilIdle();
    ASSERT_EQ(1u, arrivals.links.size());
    EXPECT_EQ(u"\\??\\ACPI#PNP0501#1#{com}", arrivals.links[0]);
    EXPECT_NE(std::this_thread::get_id(), arrivals.thread);

    tapkernel::InterfaceId com2 = kernel->RegisterDeviceInterface(GUID_DEVINTERFACE_COMPORT, u"\\??\\COM2if");
    kernel->RemoveDeviceInterface(com2);
    kernel->WaitUntilIdle();
    ASSERT_EQ(3u, arrivals.links.size());
    EXPECT_EQ((std::vector<bool>{true, true, false}), arrivals.arrivals);
    EXPECT_EQ((std::vector<KIRQL>{PASSIVE_LEVEL, PASSIVE_LEVEL, PASSIVE_LEVEL}), arrivals.irqls);

    EXPECT_EQ(STATUS_SUCCESS, IoUnregisterPlugPlayNotification(entry));
    kernel->RegisterDeviceInterface(GUID_DEVINTERFACE_COMPORT, u"\\??\\COM3if");
    kernel->WaitUntilIdle();
    EXPECT_EQ(3u, arrivals.links.size());
}

TEST_F(DispatcherTest, ARegistrationFailingLateReportsTheExistingInterfacesAndKeepsNothing)
{
    kernel->RegisterDeviceInterface(GUID_DEVINTERFACE_COMPORT, u"\\??\\ACPI#PNP0501#1#{com}");
    tapkernel::ModuleScope scope(module);
    kernel->FailNotificationRegistrations("TestDriver", 1, true);
    Arrivals arrivals;
    PVOID entry = nullptr;
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES,
              IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                             PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                             const_cast<GUID *>(&GUID_DEVINTERFACE_COMPORT), driver,
                                             OnInterfaceChange, &arrivals, &entry));
    ASSERT_EQ(1u, arrivals.links.size()) << "reported before the call returned";
    EXPECT_EQ(std::this_thread::get_id(), arrivals.thread);
    EXPECT_EQ(0u, kernel->Usage(module).notifications);

    kernel->RegisterDeviceInterface(GUID_DEVINTERFACE_COMPORT, u"\\??\\COM2if");
    kernel->WaitUntilIdle();
    EXPECT_EQ(1u, arrivals.links.size()) << "no later arrival reaches a failed registration";
}

} // namespace

TEST_F(DispatcherTest, RegisteredInterfaceNotifiesWhenEnabledAndDisabled)
{
    Arrivals arrivals;
    PVOID entry = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange, 0,
                                                             const_cast<GUID *>(&GUID_DEVINTERFACE_COMPORT), driver,
                                                             OnInterfaceChange, &arrivals, &entry));
    PDEVICE_OBJECT pdo = CreateDevice([](PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS); });
    UNICODE_STRING link{};
    ASSERT_EQ(STATUS_SUCCESS, IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_COMPORT, nullptr, &link));
    kernel->WaitUntilIdle();
    EXPECT_TRUE(arrivals.links.empty()); // registered, not enabled
    IoSetDeviceInterfaceState(&link, TRUE);
    IoSetDeviceInterfaceState(&link, FALSE);
    kernel->WaitUntilIdle();
    EXPECT_EQ((std::vector<bool>{true, false}), arrivals.arrivals);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(link.Buffer), link.Length / 2), arrivals.links[0]);
    RtlFreeUnicodeString(&link);
    IoUnregisterPlugPlayNotification(entry);
}

TEST_F(DispatcherTest, IdleWaitsForTheMachinesProbesAndSetTimeReleasesDueWaits)
{
    std::atomic<int> pending{3};
    auto probe = kernel->AddIdleProbe([&] { return pending-- > 0; });
    kernel->WaitUntilIdle();
    EXPECT_LE(pending.load(), 0);
    kernel->RemoveIdleProbe(probe);

    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    std::atomic<NTSTATUS> result{kWaiting};
    PKTHREAD waiter = Waiter(&never, &result, 20);
    kernel->WaitUntilIdle();
    kernel->SetTime(*kernel->NextDeadline());
    kernel->WaitUntilIdle();
    EXPECT_EQ(STATUS_TIMEOUT, result.load());
    Finish(waiter);
}


namespace {

// Driver logic exercised on its own (no machine) signals events that nobody can wait on.
TEST(EventWithoutKernelTest, SignalAndClearChangeOnlyTheState)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(0, KeSetEvent(&event, IO_NO_INCREMENT, FALSE));
    EXPECT_EQ(1, KeReadStateEvent(&event));
    KeClearEvent(&event);
    EXPECT_EQ(0, KeReadStateEvent(&event));
}

} // namespace
