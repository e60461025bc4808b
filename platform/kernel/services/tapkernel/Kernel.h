// Services of the kernel stand-in for the simulated PC (platform/machine), the user-mode stand-in
// and the tests: what the real system does outside the DDK surface - loading drivers, the PnP
// manager's interface list, opening files for user mode, the verifier's leak checks - plus the
// determinism services of the simulation (virtual clock, wait until idle).
//
// One Kernel exists at a time; the DDK routines (IoCallDriver, KeWaitForSingleObject, ...) act
// on it. Destroying it ends every kernel thread that is still waiting (their waits throw
// KernelShutdown) and releases everything.
#pragma once

#include <wdm.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tapkernel/Registry.h>

namespace tapkernel {

class KernelState; // the implementation

// Stops the run with "*** BUGCHECK in <routine>: <message>", the way a bugcheck stops Windows.
[[noreturn]] void BugCheck(const char *routine, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Bugchecks naming routine unless the caller's IRQL is within [minimum, maximum]. The mouse
// class service uses RequireIrql("MouseClassServiceCallback", DISPATCH_LEVEL, DISPATCH_LEVEL).
void RequireIrql(const char *routine, KIRQL minimum, KIRQL maximum);

// ---- Modules ------------------------------------------------------------------------------------
// A module is one loaded driver image (or one system driver of the machine). Pool blocks, IRPs,
// object references, handles, devices, links, notification registrations and threads are charged
// to the module whose code asked for them, so that the leak checks can tell what a driver still
// owns at device removal and at unload.
class DriverModule;

struct ModuleOptions {
    // The pool tag every allocation of the module must carry (the touch drivers: 'vdtP', which
    // reads "Ptdv" in a pool dump). Empty: any tag.
    std::optional<ULONG> requiredPoolTag;
};

// What a module still owns.
struct ModuleUsage {
    size_t poolBlocks = 0;
    size_t poolBytes = 0;
    size_t irps = 0;
    size_t objectReferences = 0;
    size_t handles = 0;
    size_t devices = 0; // not deleted
    size_t deletePendingDevices = 0; // deleted, still kept by references (a handle still open on it)
    size_t symbolicLinks = 0;
    size_t notifications = 0;
    size_t threads = 0; // still running
};

// Runs the enclosed code as module's code (for machine code that calls kernel routines outside a
// dispatch routine, for example from a device thread). Scopes nest.
class ModuleScope {
public:
    explicit ModuleScope(DriverModule *module);
    ~ModuleScope();
    ModuleScope(const ModuleScope &) = delete;
    ModuleScope &operator=(const ModuleScope &) = delete;

private:
    DriverModule *previous_;
};

// A driver image: a shared object loaded with dlopen (RTLD_NOW | RTLD_LOCAL), so that every
// driver keeps its own driver-wide records. Its kernel imports resolve against libtap_kernel.
class DriverImage {
public:
    // nullptr (and *error) when the file does not load or has no DriverEntry.
    static std::unique_ptr<DriverImage> Load(const std::string &path, std::string *error = nullptr);
    ~DriverImage(); // dlclose
    DriverImage(const DriverImage &) = delete;
    DriverImage &operator=(const DriverImage &) = delete;

    PDRIVER_INITIALIZE EntryPoint() const { return entry_; }
    void *Symbol(const char *name) const;
    const std::string &Path() const { return path_; }

private:
    DriverImage(void *handle, std::string path, PDRIVER_INITIALIZE entry);
    void *handle_;
    std::string path_;
    PDRIVER_INITIALIZE entry_;
};

// ---- Threads ------------------------------------------------------------------------------------
// Thrown out of a kernel wait when the Kernel is being destroyed. Thread bodies started with
// Kernel::StartThread let it pass; a registered thread of its own catches it and returns.
struct KernelShutdown {};

// Counts the calling host thread in the idle test while it lives (device threads of the machine
// that are not started with Kernel::StartThread, user-mode UI threads). Such a thread must block
// only in kernel waits (KeWaitForSingleObject, KeWaitForMultipleObjects, KeDelayExecutionThread).
class ThreadRegistration {
public:
    explicit ThreadRegistration(const std::string &name);
    ~ThreadRegistration();
    ThreadRegistration(const ThreadRegistration &) = delete;
    ThreadRegistration &operator=(const ThreadRegistration &) = delete;

private:
    void *thread_;
};

// Counts the enclosed work as busy in the idle test: work the machine runs on a thread the test
// does not count, such as a port's deferred interrupt work on the thread that raised the
// interrupt. WaitUntilIdle on another thread waits until the scope has ended.
class BusyScope {
public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
};

using InterfaceId = uint64_t;

// Kernel routines whose failure a test can switch on (Kernel::FailRoutine).
enum class KernelRoutine {
    IoCreateDevice,
    IoCreateSymbolicLink,
    IoAttachDeviceToDeviceStack,
    IoGetDeviceObjectPointer,
    PsCreateSystemThread,
};

struct KernelOptions {
    // The registry; empty: the kernel makes an empty one.
    std::shared_ptr<RegistryStore> registry;
    // System time at boot, 100 ns since 1601: 2005-01-01 00:00 UTC.
    LONGLONG bootSystemTime = 126490752000000000LL;
    // Real time WaitUntilIdle waits before it bugchecks, naming the threads that stayed busy.
    std::chrono::milliseconds idleLimit{20000};
    // The watchdog: when a caller (a test's or the bench's thread) and every other thread the
    // kernel knows are blocked in kernel waits that only another thread could end (no time-out,
    // no queued work, no idle probe busy) and nothing has changed for twice this real time, the
    // machine is deadlocked and the kernel bugchecks, listing the waits it found. A host thread
    // that has never called the kernel is not known to it.
    std::chrono::milliseconds deadlockGrace{1000};
};

class Kernel {
public:
    explicit Kernel(KernelOptions options = {});
    ~Kernel();
    Kernel(const Kernel &) = delete;
    Kernel &operator=(const Kernel &) = delete;

    // The live kernel; bugchecks if there is none.
    static Kernel &Current();
    static Kernel *TryCurrent();

    RegistryStore &Registry();

    // ---- Drivers -------------------------------------------------------------------------------
    DriverModule *CreateModule(const std::string &name, ModuleOptions options = {});
    DriverModule *ModuleOf(PDRIVER_OBJECT driver);
    const std::string &ModuleName(DriverModule *module);

    // Creates the driver object (named driverName, e.g. u"\\Driver\\Monotap") for module and calls
    // entry(driverObject, registryPath) at PASSIVE_LEVEL as the module's code. What DriverEntry
    // allocates counts as driver-wide. On failure the driver object is deleted again (and the
    // module must own nothing). Devices created in DriverEntry lose DO_DEVICE_INITIALIZING.
    NTSTATUS LoadDriver(DriverModule *module, std::u16string_view driverName, PDRIVER_INITIALIZE entry,
                        std::u16string_view registryPath, PDRIVER_OBJECT *driverObject);
    // Calls DriverExtension->AddDevice(driver, pdo) as the PnP manager does. After success every
    // device of the driver must have cleared DO_DEVICE_INITIALIZING.
    NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
    // Waits until idle, calls DriverUnload, checks that the module owns nothing any more (see
    // CheckReleasedAll) and deletes the driver object. The image may be unloaded afterwards.
    // Windows keeps a driver whose devices are removed loaded while one of its device objects
    // still exists (delete-pending, held by an open handle): the caller unloads once
    // Usage(module).deletePendingDevices is 0, or the leak check reports the device.
    void UnloadDriver(PDRIVER_OBJECT driver);

    // Leak checks (they wait until idle first). Call after IRP_MN_REMOVE_DEVICE: once the module
    // has no undeleted device left, everything it acquired after DriverEntry must be released
    // (pool, IRPs, references, handles, links, notification registrations, threads, devices).
    // A deleted device that is kept only by file objects the module neither opened nor
    // references (a program's handle still open on its control device) is not counted: the I/O
    // manager frees it at the last close. While the module still has devices (other device
    // stacks), nothing can be told apart and nothing is checked.
    void CheckDeviceRemoval(DriverModule *module);
    // At unload: nothing may be left at all, a delete-pending device included.
    void CheckReleasedAll(DriverModule *module);
    ModuleUsage Usage(DriverModule *module);
    // Pool allocations the module has made since it was created, freed or not: a path that
    // allocates nothing leaves the count where it was.
    uint64_t PoolAllocations(DriverModule *module);
    // The object records the kernel keeps: live objects and the recently deleted ones it still
    // recognises. Bounded however many objects come and go.
    size_t ObjectRecords();

    // Fault injection: after `skip` successful ones, the next `count` pool allocations (or IRP
    // allocations) of the module fail.
    void FailPoolAllocations(DriverModule *module, unsigned skip, unsigned count);
    void FailIrpAllocations(DriverModule *module, unsigned skip, unsigned count);
    // By module name, from now on and across loads: after `skip` calls that go through, the next
    // `count` calls of routine by the module fail with status (IoAttachDeviceToDeviceStack
    // returns NULL instead; PsCreateSystemThread starts nothing). A count of 0 ends the switch.
    void FailRoutine(const std::string &moduleName, KernelRoutine routine, unsigned skip, unsigned count,
                     NTSTATUS status);
    // The allocation switches above for the next module created under this name, set before its
    // DriverEntry runs.
    void FailAllocationsAtLoad(const std::string &moduleName, unsigned poolSkip, unsigned poolCount,
                               unsigned irpSkip, unsigned irpCount);
    // Failures armed for the module name (routines, and the allocation switches of its modules
    // and of its next load) that have not happened yet: 0 once every armed failure has been met.
    unsigned InjectedFailuresLeft(const std::string &moduleName);

    // ---- Object namespace -----------------------------------------------------------------------
    // The device a name leads to after symbolic links (no reference taken), or nullptr.
    PDEVICE_OBJECT FindDevice(std::u16string_view name);
    // The target of a symbolic link (\??\X and \DosDevices\X are the same), or empty.
    std::optional<std::u16string> LinkTarget(std::u16string_view linkName);
    bool IsDeviceDeleted(PDEVICE_OBJECT device);

    // ---- Files for user mode --------------------------------------------------------------------
    // Opens name (kernel form: \??\COM1, \Device\Beep) like a handle open: IRP_MJ_CREATE goes to
    // the top of the device's stack; exclusive devices admit one open. *file holds one reference.
    // An open from a module's code (inside ModuleScope) is that module's; any other is a user's.
    NTSTATUS OpenFile(std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT *file);
    // Synchronous requests on an open file, as NtDeviceIoControlFile/NtReadFile/NtWriteFile with
    // a synchronous handle: buffers are handled by the control code's method (or the device's
    // DO_BUFFERED_IO), and the call returns when the request has completed.
    // The IRP references the file object for its life (Irp->Tail.Overlay.OriginalFileObject), as
    // the I/O manager's requests do: a CloseFile meanwhile sends IRP_MJ_CLEANUP at once (a driver
    // completes the file's pending requests there, the serial port with STATUS_CANCELLED), but the
    // object stays until the request is finished. The I/O manager drops that reference when the
    // IRP completes to the top; if it was the last, IRP_MJ_CLOSE goes from the system worker
    // thread (deferred, never inside the driver's IoCompleteRequest). The caller must hold the
    // file open when it calls: a handle of its own, or a reference taken with ReferenceFile.
    NTSTATUS DeviceIoControl(PFILE_OBJECT file, ULONG code, const void *input, ULONG inputLength, void *output,
                             ULONG outputLength, ULONG_PTR *information);
    NTSTATUS Read(PFILE_OBJECT file, void *buffer, ULONG length, ULONG_PTR *information);
    NTSTATUS Write(PFILE_OBJECT file, const void *buffer, ULONG length, ULONG_PTR *information);
    // Closes the handle: IRP_MJ_CLEANUP when it was the file's last handle, whatever requests are
    // still pending on it, then the handle's reference is dropped. IRP_MJ_CLOSE goes with the last
    // reference: here when nothing else holds the object, otherwise when the last request on it
    // finishes or the last ReferenceFile/ObReferenceObject reference is dropped.
    void CloseFile(PFILE_OBJECT file);
    // A reference on an open file, charged to nobody: what the system services take with
    // ObReferenceObjectByHandle before they build a request, so that a handle closed on another
    // thread cannot free the object under a call that looked the handle up first. The last
    // DereferenceFile (PASSIVE_LEVEL) sends IRP_MJ_CLOSE.
    void ReferenceFile(PFILE_OBJECT file);
    void DereferenceFile(PFILE_OBJECT file);
    // Closes every handle that OpenFile gave outside a driver module and that is still open, as
    // the end of the process holding it would (cleanup, then close on the last reference).
    // For the machine's shutdown; nothing else may close those files meanwhile. Returns how
    // many handles were closed.
    size_t CloseUserFiles();

    // ---- Device interfaces (the PnP manager's list) ----------------------------------------------
    // Adds an enabled interface of class interfaceClass under symbolicLinkName and queues
    // GUID_DEVICE_INTERFACE_ARRIVAL to every registration for that class (system worker thread).
    InterfaceId RegisterDeviceInterface(const GUID &interfaceClass, std::u16string_view symbolicLinkName);
    // Removes it and queues GUID_DEVICE_INTERFACE_REMOVAL.
    void RemoveDeviceInterface(InterfaceId id);

    // ---- Threads --------------------------------------------------------------------------------
    // Starts a kernel thread (counted in the idle test) running body at PASSIVE_LEVEL as the
    // current module's code. Returns the thread object, referenced: wait on it with
    // KeWaitForSingleObject and drop it with ObDereferenceObject.
    PKTHREAD StartThread(const std::string &name, std::function<void()> body);

    // Calls observer before each pool allocation made by the module named moduleName (from its
    // next load on), in the allocating thread and outside the kernel's lock: a test's window into
    // the middle of a driver routine. An empty observer ends it.
    void ObservePoolAllocations(const std::string &moduleName, std::function<void()> observer);
    // Makes the next count IoRegisterPlugPlayNotification calls of the module named moduleName
    // fail with STATUS_INSUFFICIENT_RESOURCES, as a kernel out of pool does. With
    // afterReportingExisting, a failing call that includes existing interfaces first reports them
    // to the callback in the caller's thread (the real routine may call it before it returns),
    // then fails with nothing registered.
    void FailNotificationRegistrations(const std::string &moduleName, unsigned count,
                                       bool afterReportingExisting = false);

    // ---- Determinism ----------------------------------------------------------------------------
    // Blocks (the caller must not be at raised IRQL) until every counted thread is blocked in a
    // kernel wait with nothing signalled for it and no work queued for the system worker.
    void WaitUntilIdle();
    bool IsIdle();
    std::vector<std::string> BusyThreads();

    // The virtual clock. Time moves only when AdvanceClock is called: it steps to each pending
    // wait deadline on the way, expiring those waits and waiting until idle after each step.
    LONGLONG SystemTime();   // 100 ns since 1601
    LONGLONG TimeSinceBoot(); // 100 ns
    void AdvanceClock(LONGLONG duration100ns);
    void AdvanceClockMs(uint64_t milliseconds) { AdvanceClock(static_cast<LONGLONG>(milliseconds) * 10000); }
    // The earliest deadline of a pending timed wait (absolute system time), if any.
    std::optional<LONGLONG> NextDeadline();
    // Moves the clock to systemTime (not backwards) and releases every wait whose deadline has
    // been reached, without waiting for idle: for a machine that steps through its own events.
    void SetTime(LONGLONG systemTime);

    // A source of activity outside kernel waits (bytes handed to a device thread, a read the
    // machine will complete): WaitUntilIdle also waits until every probe returns false. Probes run
    // without kernel locks held and must not block.
    using IdleProbeId = uint64_t;
    IdleProbeId AddIdleProbe(std::function<bool()> isBusy);
    void RemoveIdleProbe(IdleProbeId id);

    // Driver activity: every call into driver code (a dispatch or completion routine, a PnP
    // callback, DriverEntry, AddDevice, unload) counts. ForeignDriverCalls() is the count of the
    // calls that other threads made, as the calling thread sees it: unchanged between two looks
    // when no driver code has run meanwhile except on the caller's own behalf. The hook runs on
    // the calling thread at every such call of another thread, before the driver code, at any
    // IRQL and without kernel locks: it must be quick and must not call the kernel.
    // One hook at a time; null removes it.
    uint64_t ForeignDriverCalls() const;
    using DriverActivityHook = void (*)(void *context);
    void SetDriverActivityHook(DriverActivityHook hook, void *context);

    // ---- Counters for tests ---------------------------------------------------------------------
    uint64_t PowerIrpsStarted(); // PoStartNextPowerIrp calls

    KernelState &State() { return *state_; }

private:
    std::unique_ptr<KernelState> state_;
};

} // namespace tapkernel
