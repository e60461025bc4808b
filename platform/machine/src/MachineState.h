// The inside of a Machine: the kernel and its registry, drive C:, the module loader, the PnP
// manager's device nodes and loaded drivers, the COM ports, and what the system drivers report.
//
// Threads: the public operations run on the caller's thread (a test or the bench) at
// PASSIVE_LEVEL and are not meant to be called from two threads at once. The system drivers
// reach the state through SystemDriverHost from any kernel thread; those entry points take
// `mutex_`.
#pragma once

#include <machine/Machine.h>
#include <machine/ModuleLoader.h>

#include "desktop/MachineScheduler.h"
#include "drivers/SystemDrivers.h"
#include "pnp/RootBus.h"
#include "processes/ProcessTable.h"
#include "serial/ComPortModel.h"

#include <tapkernel/Kernel.h>

#include <atomic>
#include <map>
#include <mutex>

namespace tapmachine {

// A driver the PnP manager (or the machine, for the beep driver) has loaded.
struct LoadedDriver {
    std::u16string service;
    std::unique_ptr<LoadedModule> image;
    tapkernel::DriverModule *module = nullptr;
    PDRIVER_OBJECT object = nullptr;
    unsigned stacks = 0;  // device stacks holding one of its devices
    bool legacy = false;  // loaded for itself, not for a device node
    bool unloadDeferred = false;  // no stack left, but a deleted device of it is still held open
};

struct DeviceNode {
    std::u16string instanceId;
    DeviceState state = DeviceState::NotStarted;
    int32_t status = 0;
    PDEVICE_OBJECT pdo = nullptr;
    std::vector<LoadedDriver *> stack;  // drivers whose AddDevice succeeded, bottom up
    ComPortModel *port = nullptr;       // the UART of a COM port node
    bool hardwarePresent = false;       // a bus reports it (a port, a USB device plugged in)
};

struct ComPortSlot {
    std::unique_ptr<ComPortModel> model;
    std::unique_ptr<TouchController> controller;
    std::unique_ptr<ComPort> handle;
    std::u16string instanceId;
    std::optional<tapkernel::InterfaceId> interfaceId;
    bool present = false;
};

class MachineState : public SystemDriverHost {
public:
    explicit MachineState(MachineOptions options);
    ~MachineState() override;

    void Boot();
    void Shutdown();

    // ---- SystemDriverHost ----
    ComPortModel *ComPortOf(PDEVICE_OBJECT physicalDevice) override;
    void SetPortInterfaceState(ComPortModel &port, BOOLEAN enabled) override;
    MouseInput &Mouse() override { return mouse_; }
    bool MouseClassQueriesAttributes() override;
    void UpdateMouseClassDevice(const MouseClassDeviceInfo &info) override;
    void RecordBeep(const BeepRecord &beep) override;
    Ticks Now() override;

    // ---- Parts ----
    tapkernel::Kernel &kernel() { return *kernel_; }
    tapkernel::RegistryStore &registry() { return *registry_; }
    FileSystem &files() { return *files_; }
    const MachineOptions &options() const { return options_; }
    std::vector<MouseClassDeviceInfo> MouseClassDevices() const;
    std::vector<BeepRecord> Beeps(bool take);
    void RecordEvent(std::string text);
    std::vector<SystemEvent> TakeEvents();
    void SetMouseClassQueriesAttributes(bool query);
    void SetBeepDriverPresent(bool present);
    void RequirePoolTag(std::u16string_view service, ULONG tag);

    // ---- Registry (Registry.cpp) ----
    tapkernel::RegistryKeyRef OpenKey(std::u16string_view keyPath, bool create);
    std::string RegistryText();
    void LoadRegistryText(const std::string &text);
    void WriteSystemEntries();

    // ---- PnP manager (PnpManager.cpp) ----
    std::u16string CreateRootDevice(std::u16string_view hardwareId, std::u16string_view service,
                                    std::u16string_view classGuid);
    void SetHardwarePresent(std::u16string_view instanceId, bool present) { Node(instanceId).hardwarePresent = present; }
    void CreateDeviceKey(std::u16string_view instanceId, std::u16string_view hardwareId,
                         std::u16string_view service, std::u16string_view classGuid);
    NTSTATUS StartDevice(std::u16string_view instanceId);
    NTSTATUS StopDevice(std::u16string_view instanceId);
    NTSTATUS RemoveDevice(std::u16string_view instanceId);
    void SurpriseRemoveDevice(std::u16string_view instanceId);
    void DeleteDevice(std::u16string_view instanceId);
    void StartRootDevices();
    std::optional<DeviceInfo> Device(std::u16string_view instanceId);
    std::vector<DeviceInfo> Devices();
    bool DriverLoaded(std::u16string_view service);
    void *DriverSymbol(std::u16string_view service, const std::string &name);
    // Finishes the removals that waited for a port's last handle; true when one ran.
    bool FinishReadyRemovals();
    // Unloads the drivers whose unload waited for the last handle on a deleted device of theirs;
    // true when one was unloaded.
    bool FinishReadyUnloads();
    void RemoveAllDevices();

    // ---- COM ports (ComPorts.cpp) ----
    ComPort &AddComPort(unsigned number);
    void UnplugComPort(unsigned number);
    ComPortSlot &Slot(unsigned number);
    bool HasSlot(unsigned number) const { return ports_.count(number) != 0; }

    // ---- Desktop and processes ----
    tap::desktop::Desktop &desktop() { return *desktop_; }
    tap::ui::host::Session &windowSystem() { return *windows_; }
    ProcessTable &processes() { return *processes_; }
    ProgramRequestLog &programRequests() { return programRequests_; }
    AppletLog &applets() { return applets_; }
    MachineScheduler &scheduler() { return *scheduler_; }

    // ---- Time ----
    // Kernel threads and UI threads idle at the same moment.
    void WaitIdle();
    void AdvanceTo(Ticks target);
    void Settle();

private:
    DeviceNode &Node(std::u16string_view instanceId);
    DeviceNode *FindNode(std::u16string_view instanceId);
    std::vector<std::u16string> StackServices(std::u16string_view instanceId);
    LoadedDriver *LoadDriver(std::u16string_view service, NTSTATUS *status);
    void ReleaseDriver(LoadedDriver *driver);
    // Unloads a driver no stack uses, or defers that while a deleted device of it is held open.
    void UnloadIfUnused(LoadedDriver *driver);
    void UnloadDriver(LoadedDriver *driver);
    NTSTATUS BuildStack(DeviceNode &node);
    NTSTATUS SendPnp(DeviceNode &node, UCHAR minor);
    void FinishRemoval(DeviceNode &node);
    void CreatePdo(DeviceNode &node);
    std::optional<Ticks> NextLineEvent(bool arrivalsOnly);
    void DeliverLineEvents(Ticks now);
    void WaitKernelIdle();
    // The earliest moment after now at which something is due: a character on a line, a timed
    // kernel wait, a window timer.
    std::optional<Ticks> NextEvent();
    // Sets the clock to TIME: expires the kernel's waits that are due, delivers the characters
    // that have arrived and wakes the UI threads whose timers have come due. No waiting.
    void MoveClockTo(Ticks time);
    // AdvanceTo from an idle machine: steps through the events up to TARGET, waiting for idle
    // after each.
    void StepTo(Ticks target);
    void StartDesktop();
    void StopDesktop();

    MachineOptions options_;
    std::unique_ptr<FileSystem> files_;
    std::shared_ptr<tapkernel::RegistryStore> registry_;
    std::unique_ptr<tapkernel::Kernel> kernel_;
    LONGLONG bootSystemTime_ = 0;  // the kernel's system time at boot: time since boot + this
    ModuleLoader loader_;
    MouseInput mouse_;
    std::unique_ptr<MachineScheduler> scheduler_;
    std::unique_ptr<tap::desktop::Desktop> desktop_;
    std::unique_ptr<tap::ui::host::Session> windows_;
    std::unique_ptr<ProcessTable> processes_;
    ProgramRequestLog programRequests_;
    AppletLog applets_;
    int pointerListener_ = 0;

    tapkernel::DriverModule *rootBusModule_ = nullptr;
    PDRIVER_OBJECT rootBus_ = nullptr;
    ULONG nextPdoNumber_ = 0;
    std::map<std::u16string, std::unique_ptr<LoadedDriver>> drivers_;  // by upper-case service name
    std::map<std::u16string, std::unique_ptr<DeviceNode>> nodes_;      // by upper-case instance ID
    std::map<std::u16string, ULONG> requiredPoolTags_;                 // by upper-case service name
    std::map<unsigned, ComPortSlot> ports_;

    mutable std::mutex mutex_;  // guards what the system drivers report below
    std::recursive_mutex pnpLock_;  // one PnP operation at a time, whichever thread asks
    // Whether a surprise-removed device may still wait for its port's last handle, and whether a
    // driver's unload may still wait for a deleted device: set when one starts waiting, cleared by
    // the scan that finds none, so that the idle test of every step skips both scans.
    std::atomic<bool> removalsWaiting_{false}; // written under pnpLock_
    std::atomic<bool> unloadsDeferred_{false};
    std::vector<BeepRecord> beeps_;
    std::vector<SystemEvent> events_;
    std::map<unsigned, MouseClassDeviceInfo> mouseClassDevices_;
    bool queryAttributes_ = true;
};

}  // namespace tapmachine
