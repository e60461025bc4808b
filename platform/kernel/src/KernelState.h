// The kernel stand-in's private state: one KernelState per tapkernel::Kernel, reached by the DDK
// routines through Kernel::Current(). Everything here is guarded by KernelState::lock; no driver
// code is ever called with it held.
#pragma once

#include <wdm.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "Verifier.h"

namespace tapkernel {

struct ThreadRecord;

// DISPATCHER_HEADER.Type of the objects a thread can wait on.
enum : UCHAR {
    kEventNotificationObject = 0,
    kEventSynchronizationObject = 1,
    kMutantObject = 2,
    kThreadObject = 6,
};

} // namespace tapkernel

// The thread object drivers hold pointers to (opaque to them, as in the real header).
struct _KTHREAD {
    DISPATCHER_HEADER Header;
    tapkernel::ThreadRecord *Record;
};

namespace tapkernel {

// ---- Modules -------------------------------------------------------------------------------------
class DriverModule {
public:
    std::string name;
    ModuleOptions options;
    std::atomic<bool> inDriverEntry{false}; // what is acquired meanwhile is driver-wide
    std::atomic<bool> inAddDevice{false};
    // Threads running one of its routines now (DriverCall): its image stays until they return.
    std::atomic<int> callsRunning{0};
    unsigned poolFailSkip = 0;
    unsigned poolFailCount = 0;
    unsigned irpFailSkip = 0;
    unsigned irpFailCount = 0;
    uint64_t poolAllocations = 0; // successful pool allocations since the module was created
};

// The module the calling code runs as (nullptr: the kernel or the machine outside any module).
DriverModule *CurrentModule();
void SetCurrentModule(DriverModule *module);

// Who acquired a resource: charged to a module, and whether that happened inside DriverEntry.
struct Owner {
    DriverModule *module = nullptr;
    bool driverWide = false;
};
Owner CurrentOwner();

// ---- Objects -------------------------------------------------------------------------------------
enum class ObjectKind { Device, Driver, File, Thread };

struct ObjectRecord {
    explicit ObjectRecord(ObjectKind k) : kind(k) {}
    virtual ~ObjectRecord() = default;
    ObjectKind kind;
    void *body = nullptr;
    LONG references = 1;
    bool freed = false;
};

struct DeviceRecord : ObjectRecord {
    DeviceRecord() : ObjectRecord(ObjectKind::Device) {}
    PDEVICE_OBJECT device = nullptr;
    uint8_t *block = nullptr; // DEVICE_OBJECT, extension, DEVOBJ_EXTENSION
    size_t blockSize = 0;
    size_t extensionSize = 0;
    DriverModule *module = nullptr;
    bool driverWide = false;
    std::u16string name; // empty: unnamed
    bool deleted = false;
    bool deletedUnderUpper = false;      // deleted while a device was attached on top of it
    // Created by DriverEntry or AddDevice, which is still running: not to be opened. The I/O
    // manager learns from this record, not from the driver's own stores into Flags, when the
    // device is ready, so that an open on another thread does not read Flags while AddDevice
    // writes them.
    bool initializing = false;
    PDEVICE_OBJECT attachedTo = nullptr; // the device it is attached on top of
};

struct DriverRecord : ObjectRecord {
    DriverRecord() : ObjectRecord(ObjectKind::Driver) {}
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::u16string name;
    std::u16string registryPath;
    std::u16string serviceName;
    UNICODE_STRING registryPathString{};
    DriverModule *module = nullptr;
    bool unloaded = false;
};

// A file object. Its references: the open's (dropped when its handle closes), those taken with
// ObReferenceObject(ByHandle) or Kernel::ReferenceFile, and one per request in flight on it
// (IrpRecord::holdsFile). IRP_MJ_CLEANUP goes when handles reaches 0, IRP_MJ_CLOSE with the last
// reference.
struct FileRecord : ObjectRecord {
    FileRecord() : ObjectRecord(ObjectKind::File) {}
    FILE_OBJECT object{};
    std::u16string fileName;
    LONG handles = 0;
    bool cleanupSent = false;
    Owner opener; // the module whose code opened it; none for a user-mode open
};

struct WaitBlock {
    ThreadRecord *thread;
    void *object;
    ULONG index;
};

struct ThreadRecord : ObjectRecord {
    ThreadRecord() : ObjectRecord(ObjectKind::Thread) {}
    _KTHREAD object{};
    std::string name;
    bool counted = false;        // takes part in the idle test
    bool systemThread = false;   // host thread started and joined by the kernel
    bool terminated = false;
    bool hostExited = false;     // the host thread of a caller's record has ended
    bool waiting = false;        // blocked in a kernel wait with nothing signalled for it
    bool satisfied = false;      // the current wait has been satisfied (or timed out)
    NTSTATUS waitStatus = STATUS_SUCCESS;
    std::optional<LONGLONG> deadline; // absolute system time of the current wait
    std::vector<WaitBlock> waits;
    std::condition_variable wake;
    std::thread host;
    Owner owner;                 // the module the thread's body runs as
    NTSTATUS exitStatus = STATUS_SUCCESS;
};

// ---- IRPs ----------------------------------------------------------------------------------------
enum class IrpPhase {
    Idle,           // held by the driver that allocated it (or got it back); not sent
    Dispatched,     // held by the driver at the current location
    Completing,     // inside IoCompleteRequest
    RoutineRunning, // a completion routine is running and may take the IRP back
    Halted,         // a completion routine returned STATUS_MORE_PROCESSING_REQUIRED mid-stack
    Done,           // completed to the top and freed by the I/O manager
};

struct IrpLocation {
    uint64_t sequence = 0;      // changes each time a dispatch routine is called for the location
    int returnedPending = -1;   // -1 unknown, else whether the dispatch routine returned STATUS_PENDING
    int markedPending = -1;     // -1 unknown, else whether completion found SL_PENDING_RETURNED
    NTSTATUS returnedStatus = STATUS_SUCCESS;
    uint8_t majorFunction = 0;
    bool held = false;          // dispatched to a driver and not yet completed past; a location the
                                // sender took for itself (IoSetNextIrpStackLocation) is never held
};

struct IrpRecord {
    PIRP irp = nullptr;
    size_t size = 0;
    Owner owner;
    bool threaded = false;      // built by IoBuildDeviceIoControlRequest (or a file request)
    bool freed = false;
    IrpPhase phase = IrpPhase::Idle;
    uint64_t token = 0;         // changes at every change of holder
    std::vector<IrpLocation> locations; // index = stack location number (1..StackCount)
    // Threaded IRPs: where the I/O manager copies the output at the end.
    void *outputBuffer = nullptr;
    ULONG outputLength = 0;
    bool copyOut = false;
    PFILE_OBJECT file = nullptr; // file request: the file object it was sent on
    bool holdsFile = false;      // a reference on file, dropped when the I/O manager finishes the IRP
    ULONG code = 0;              // control code, for messages
    bool routineAtTop = false;   // the running completion routine is the allocator's
};

// The lowest stack location that a driver holds (see IrpLocation::held), 0 if none: the IRP is
// then with its sender.
int HoldingLocation(const IrpRecord &record);
// The device at that location, or nullptr.
PDEVICE_OBJECT HoldingDevice(const IrpRecord &record);

// ---- Pool ----------------------------------------------------------------------------------------
struct PoolBlock {
    size_t size = 0;
    ULONG tag = 0;
    POOL_TYPE type = NonPagedPool;
    Owner owner;
};

// ---- Object namespace ----------------------------------------------------------------------------
struct NameEntry {
    std::u16string displayName;
    PDEVICE_OBJECT device = nullptr; // a device, or
    std::u16string linkTarget;       // a symbolic link
    Owner owner;
};

// ---- Handles -------------------------------------------------------------------------------------
struct HandleEntry {
    ObjectRecord *object = nullptr;  // thread or file, or
    RegistryKeyRef key;              // a registry key
    ACCESS_MASK access = 0;
    Owner owner;
};

// ---- PnP notification ----------------------------------------------------------------------------
struct NotificationRegistration {
    GUID interfaceClass{};
    PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback = nullptr;
    PVOID context = nullptr;
    PDRIVER_OBJECT driver = nullptr;
    Owner owner;
    bool active = true;
};

struct InterfaceRecord {
    InterfaceId id = 0;
    GUID interfaceClass{};
    std::u16string symbolicLink;
};

// Interfaces registered with IoRegisterDeviceInterface, by upper-cased link name.
struct RegisteredInterface {
    const void *device = nullptr;
    GUID interfaceClass{};
    std::u16string symbolicLink;
    std::optional<InterfaceId> enabled;
};

// Object references a module holds on one object: those taken in DriverEntry and later ones.
struct ReferenceCount {
    LONG driverWide = 0;
    LONG later = 0;
};

// ---- The state -----------------------------------------------------------------------------------
class KernelState {
public:
    explicit KernelState(KernelOptions options);
    ~KernelState();

    Kernel *owner = nullptr;
    std::mutex lock;
    const uint64_t generation;
    KernelOptions options;
    std::shared_ptr<RegistryStore> registry;
    bool shuttingDown = false;

    // Modules
    std::vector<std::unique_ptr<DriverModule>> modules;

    // Objects (live and quarantined), by body address.
    std::unordered_map<const void *, std::unique_ptr<ObjectRecord>> objects;
    std::deque<const void *> deviceQuarantine;       // freed devices, oldest first
    std::deque<const void *> fileQuarantine;         // closed file objects, oldest first
    std::map<uintptr_t, DeviceRecord *> freedDevices; // start address -> record
    std::map<std::pair<DriverModule *, const void *>, ReferenceCount> references;

    // Namespace, by upper-cased normalised path.
    std::map<std::u16string, NameEntry> names;

    // Handles
    std::unordered_map<HANDLE, HandleEntry> handles;
    uintptr_t nextHandle = 0x100;

    // IRPs (live and quarantined) and pool
    std::unordered_map<const void *, std::unique_ptr<IrpRecord>> irps;
    std::deque<const void *> irpQuarantine;
    std::unordered_map<const void *, PoolBlock> pool;

    // PnP notification
    std::map<const void *, std::shared_ptr<NotificationRegistration>> registrations;
    std::vector<InterfaceRecord> interfaces;
    std::map<std::u16string, RegisteredInterface> registeredInterfaces;
    InterfaceId nextInterfaceId = 1;

    // Threads and the dispatcher
    std::vector<ThreadRecord *> threads; // every thread record of this kernel (owned by objects)
    std::unordered_map<const void *, std::vector<WaitBlock *>> waiters;
    std::condition_variable idleChanged;
    size_t busyCounted = 0;               // counted threads that are not waiting
    uint64_t waitChanges = 0;             // changes of any thread's wait (the watchdog's progress)
    std::vector<std::thread> finishedHosts; // host threads whose thread object is gone, to join
    std::deque<std::function<void()>> work;
    KEVENT workEvent{};
    PKTHREAD worker = nullptr;

    // Idle probes of the machine
    std::map<uint64_t, std::function<bool()>> idleProbes;
    uint64_t nextProbe = 1;

    // Clock (100 ns units). `now` changes only under the lock; readers of the clock alone load
    // it without the lock (the machine reads it several times per step).
    const LONGLONG bootTime;
    std::atomic<LONGLONG> now;

    KSPIN_LOCK cancelLock = 0;
    // Spin locks initialised with KeInitializeSpinLock (and the cancel lock), by address; a block
    // of pool or a device that is freed forgets the locks it held.
    std::set<uintptr_t> spinLocks;
    // Remove locks by address: the acquisitions each tag holds, and whether the lock was removed.
    struct RemoveLockRecord {
        std::map<const void *, LONG> tags;
        bool removed = false;
    };
    std::map<uintptr_t, RemoveLockRecord> removeLocks;
    // Called before each pool allocation of a module, by module name (outside the lock).
    std::map<std::string, std::function<void()>> poolObservers;
    // Notification registrations still to fail, by module name (fault injection).
    struct RegistrationFailure {
        unsigned count = 0;
        bool afterReportingExisting = false;
    };
    std::map<std::string, RegistrationFailure> registrationFailures;
    uint64_t powerIrpsStarted = 0;
    uint64_t nextSequence = 1;

    // ---- helpers (lock held unless said otherwise) ----
    ObjectRecord *FindObject(const void *body);
    DeviceRecord *LiveDevice(const char *routine, PDEVICE_OBJECT device); // bugchecks if unknown/freed
    DeviceRecord *FreedDeviceContaining(const void *address);
    void CheckNotFreed(const char *routine, const void *address, const char *what);
    IrpRecord *LiveIrp(const char *routine, PIRP irp);
    void ChargeReference(const void *body, Owner owner);
    void DischargeReference(const void *body, DriverModule *module);
    HANDLE InsertHandle(HandleEntry entry);
    void QueueWork(std::function<void()> task); // takes the lock itself
};

KernelState &State();          // the live kernel's state; bugchecks if none
KernelState *TryState();

// Calls into driver code: sets the module, checks the IRQL comes back unchanged.
class DriverCall {
public:
    DriverCall(const char *routine, DriverModule *module);
    ~DriverCall();
    void CheckIrql();

private:
    const char *routine_;
    DriverModule *previous_;
    DriverModule *module_;
    KIRQL irql_;
};

// ---- Internal routines shared between the files ---------------------------------------------------
KIRQL CurrentIrql();
void SetIrqlForNewThread(KIRQL irql);

ThreadRecord *CurrentThread(KernelState &state, std::unique_lock<std::mutex> &held);
void SignalObject(KernelState &state, void *object);        // lock held: wakes waiters of object
NTSTATUS WaitForObjects(const char *routine, ULONG count, void *const *objects, const LARGE_INTEGER *timeout);
void EndThreadRecord(KernelState &state, ThreadRecord *thread); // lock held
void BindCurrentThread(KernelState &state, ThreadRecord *thread);
void ExpireWaits(KernelState &state);                             // lock held
std::optional<LONGLONG> EarliestDeadline(KernelState &state);      // lock held
std::vector<std::string> BusyThreadNames(KernelState &state, ThreadRecord *self);
size_t BusyExcluding(KernelState &state, ThreadRecord *self);
void WakeAllForShutdown(KernelState &state);                      // lock held
void QueueWorkLocked(KernelState &state, std::function<void()> task); // lock held
PKTHREAD CreateKernelThread(const std::string &name, Owner owner, std::function<void()> body);

// Object manager
LONG_PTR ReferenceObject(const char *routine, void *object, bool charge);
LONG_PTR DereferenceObject(const char *routine, void *object, bool charge);
void DeleteObjectRecord(KernelState &state, ObjectRecord *record, std::unique_lock<std::mutex> &held);
// Drops the reference a finished request held on its file object (lock held, any IRQL up to
// DISPATCH_LEVEL). The last one hands IRP_MJ_CLOSE to the system worker, as
// ObDereferenceObjectDeferDelete does: it never runs inside the driver's IoCompleteRequest.
void DropRequestReference(KernelState &state, PFILE_OBJECT file);

// Names: normalised upper-case key of a kernel path (\DosDevices\ and \GLOBAL??\ become \??\).
std::u16string NormalisePath(std::u16string_view path);
std::u16string FromUnicodeString(PCUNICODE_STRING string);
bool ParentDirectoryExists(const std::u16string &key);
// Resolves symbolic links; returns the device and the remaining path after its name.
PDEVICE_OBJECT ResolveDevice(KernelState &state, std::u16string_view path, std::u16string *remainder,
                             NTSTATUS *status);

// I/O
PDEVICE_OBJECT AttachedTop(PDEVICE_OBJECT device);
NTSTATUS CallDriverChecked(const char *routine, PDEVICE_OBJECT device, PIRP irp);
PIRP AllocateIrp(const char *routine, CCHAR stackSize, Owner owner);
NTSTATUS OpenDeviceFile(const char *routine, std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT *file);
// A request the I/O manager builds and completes itself (threaded IRP): device control (internal
// or not), read, write, create, cleanup, close.
struct RequestParameters {
    UCHAR major = 0;
    ULONG code = 0;
    const void *input = nullptr;
    ULONG inputLength = 0;
    void *output = nullptr;
    ULONG outputLength = 0;
    PFILE_OBJECT file = nullptr;
    // The IRP references file for its life (Irp->Tail.Overlay.OriginalFileObject), as the I/O
    // manager does for a request on a handle: reads, writes and control requests. Create,
    // cleanup and close do not: the object is being made, or the handle's or the last
    // reference is what they run under.
    bool holdsFile = false;
};
PIRP BuildRequest(const char *routine, PDEVICE_OBJECT device, const RequestParameters &request, PKEVENT event,
                  PIO_STATUS_BLOCK ioStatus, Owner owner);
bool ConsumePoolFailure(DriverModule *module); // lock held: fault injection
// Fault injection of Kernel::FailRoutine for the current module; no kernel lock held.
bool ConsumeRoutineFailure(KernelRoutine routine, NTSTATUS *status);
// Gives a module just created the allocation switches armed for its name (FailAllocationsAtLoad).
void ArmNewModule(DriverModule *module);
bool ConsumeIrpFailure(DriverModule *module);  // lock held
NTSTATUS SendFileRequest(PFILE_OBJECT file, UCHAR major, ULONG code, const void *input, ULONG inputLength,
                         void *output, ULONG outputLength, ULONG_PTR *information);
void CloseFileHandle(PFILE_OBJECT file);
void FreeDeviceMemory(KernelState &state, DeviceRecord *record); // lock held

// Forgets the spin locks and remove locks that lay in [start, start + size) (lock held): the memory
// was freed, and whatever is made there next starts uninitialised.
void ForgetLocksIn(KernelState &state, const void *start, size_t size);
// Marks a file object closed (lock held). Its record stays for a while, so that a late use of the
// object is still recognised, and then goes: a machine that opens files all day keeps a bounded set.
void RetireFileRecord(KernelState &state, FileRecord *file);

// Pool for the kernel itself
void *KernelAllocate(size_t size);
void KernelFree(void *block);

// Verifier: what a module still holds (lock held). At unload (and after a failed DriverEntry)
// everything counts. At device removal, what DriverEntry acquired does not, nor does a deleted
// device that only file objects of others keep (a handle a program or another driver still has
// open): the I/O manager frees it at their last close, and that is not the driver's to release.
enum class LeakCheck { Removal, Unload };
std::vector<std::string> ModuleHoldings(KernelState &state, DriverModule *module, LeakCheck check);
ModuleUsage CountUsage(KernelState &state, DriverModule *module);
// The items of a bug check's list, each on its own indented line.
std::string JoinLines(const std::vector<std::string> &items);

} // namespace tapkernel
