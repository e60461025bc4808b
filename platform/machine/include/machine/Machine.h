// The simulated PC: one per test or bench run.
//
// Building a Machine boots it: the kernel stand-in with its registry, drive C: in a host folder,
// the PnP manager with its root bus, the system's drivers (serial port, beep, mouse class) as
// services, and the COM ports asked for. The machine then stands for the hardware and the user:
// it plugs COM ports in and out, puts a touch controller behind a port, creates and removes
// device nodes, and moves time forward.
//
// Time is virtual. Nothing happens on a line or in a timed wait until the machine's clock is
// advanced; WaitIdle() lets every thread finish what it was doing without moving the clock.
//
// A process has at most one Machine at a time; Machine::Current() finds it for the stand-ins'
// free functions.
#pragma once

#include <machine/AppletLog.h>
#include <machine/ComPortState.h>
#include <machine/FileSystem.h>
#include <machine/MouseInput.h>
#include <machine/ProgramRequests.h>
#include <machine/RegistryText.h>
#include <machine/TouchController.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tapkernel {
class Kernel;
class RegistryStore;
}
namespace tap::desktop {
class Desktop;
}
namespace tap::ui::host {
class Session;
}

namespace tapmachine {

// Setup classes the machine knows.
constexpr std::u16string_view kMouseClassGuid = u"{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr std::u16string_view kPortsClassGuid = u"{4D36E978-E325-11CE-BFC1-08002BE10318}";
constexpr std::u16string_view kHidClassGuid = u"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

struct MachineOptions {
    std::string driveC;  // host folder standing for C:; empty: a fresh one, removed afterwards
    std::string registryFile;  // registry text loaded before boot (the system's entries are added
                               // where missing); root-enumerated devices in it are started
    int screenWidth = 1024;
    int screenHeight = 768;
    bool beepDriver = true;  // false: no \Device\Beep
    bool mouseClassQueriesAttributes = true;
    std::vector<unsigned> comPorts;  // COM port numbers plugged in at boot
};

struct BeepRecord {
    uint32_t frequency = 0;
    uint32_t duration = 0;
    int32_t status = 0;  // what the beep driver answered
    Ticks time = 0;
};

enum class DeviceState {
    NotStarted,      // the node exists; no driver stack (never started, or removed)
    Started,
    Stopped,
    SurpriseRemoved, // waiting for the last open handle before the stack is removed
    Failed,          // a driver failed to load or to add the device, or the start failed
};

struct DeviceInfo {
    std::u16string instanceId;  // ROOT\MOUSE\0000, ACPI\PNP0501\1, ...
    bool present = false;       // root-enumerated, or its hardware is plugged in
    std::vector<std::u16string> hardwareIds;
    std::u16string service;
    std::u16string classGuid;
    DeviceState state = DeviceState::NotStarted;
    int32_t status = 0;  // of the last start, or of the step that failed
    void *physicalDevice = nullptr;  // the PDO (PDEVICE_OBJECT) while the node has one
};

// One mouse class device (\Device\PointerClassN) and what it learned from the device below it.
struct MouseClassDeviceInfo {
    unsigned unit = 0;
    bool connected = false;
    int32_t connectStatus = 0;
    bool attributesQueried = false;  // the query was sent
    int32_t attributesStatus = 0;
    uint16_t mouseIdentifier = 0;
    uint16_t numberOfButtons = 0;
    uint16_t sampleRate = 0;
    uint32_t inputDataQueueLength = 0;
};

// Something the system did that its log shows: a device node made or started, a driver loaded, a
// file copied by a setup queue, a reboot prompt. TEXT is one line, such as
// "driver loaded Monotap system32\DRIVERS\Monotap.sys".
struct SystemEvent {
    Ticks time = 0;
    std::string text;
};

// A program started on the machine (a process). Processes are numbered from 1 in start order.
struct ProcessInfo {
    uint32_t id = 0;
    std::u16string imagePath;   // C:\WINDOWS\MonotapDrv\SideSwitch.exe
    std::string name;           // the image's file name without the extension: SideSwitch
    std::string commandLine;    // what follows the program's name
    bool running = false;
    int exitCode = 0;           // once it has ended
    Ticks started = 0;
    Ticks ended = 0;
};

// StartProcess could not start the image.
class ProcessStartError : public std::runtime_error {
public:
    enum class Reason { NotFound, NotAProgram };
    ProcessStartError(Reason reason, const std::string &message) : std::runtime_error(message), reason(reason) {}
    Reason reason;
};

class ComPortModel;
class MachineState;

// A COM port of the machine: its hardware, its line, and the controller at the far end.
class ComPort {
public:
    unsigned number() const;
    std::u16string deviceName() const;  // \Device\Serial<number - 1>
    bool present() const;               // plugged in and not yet removed

    // A touch controller behind the port; replaces any controller there was.
    TouchController &AttachController(const ControllerOptions &options = {});
    TouchController &controller();  // throws std::logic_error when none is attached
    bool hasController() const;
    void DetachController();

    // Raw bytes down the line as given, in the controller's line format (9600 8N1 when no
    // controller is attached) or in the format named.
    void Feed(const std::vector<uint8_t> &bytes);
    void Feed(const std::vector<uint8_t> &bytes, const LineFormat &format);
    // The bytes received at once, past the line's timing, in the controller's line format: a
    // line as fast as a test wants it; lost while the port is closed. The clock does not move,
    // so another thread may feed while the machine runs, as long as the machine's ports and the
    // port's controller stay as they are meanwhile.
    void FeedAtOnce(const std::vector<uint8_t> &bytes);

    // What the serial port driver holds and has been asked.
    SerialSettings settings() const;
    std::vector<SerialRequest> requests() const;
    void ClearRequests();
    bool open() const;
    size_t bytesWaiting() const;  // received, not yet read

    // The serial port driver answers the internal basic-settings and restore-settings requests
    // with STATUS_INVALID_DEVICE_REQUEST, as a serial driver without them does.
    void SetRefuseInternalSettings(bool refuse);
    // After `skip` requests of this kind (DeviceControl or InternalDeviceControl: the two share
    // codes) and control code that go through, the port driver answers the next `count` with
    // status instead; a count of 0 ends the switch.
    void FailRequest(SerialRequest::Kind kind, uint32_t code, int32_t status, unsigned skip = 0, unsigned count = 1);

private:
    friend class MachineState;
    ComPort(MachineState &machine, unsigned number);
    MachineState &machine_;
    unsigned number_;
};

class Machine {
public:
    explicit Machine(MachineOptions options = {});
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // The machine of this process; Current() throws std::logic_error when there is none.
    static Machine &Current();
    static Machine *CurrentOrNull();
    // Unique for every Machine of the host process (1, 2, ...): state kept per machine outside
    // it (the user-mode stand-in's handles) tells a new machine from one that has gone.
    uint64_t bootId() const;

    // ---- Parts ----
    // The kernel stand-in of this machine (object namespace, files for user mode, leak checks)
    // and its registry store, shared by the kernel's Zw* and the user-mode Reg* routines.
    tapkernel::Kernel &kernel();
    tapkernel::RegistryStore &registry();
    FileSystem &files();
    MouseInput &mouse();
    std::vector<MouseClassDeviceInfo> mouseClassDevices() const;
    int screenWidth() const;
    int screenHeight() const;

    std::vector<BeepRecord> beeps() const;
    std::vector<BeepRecord> TakeBeeps();
    // The control codes programs have sent and the registry writes they have made.
    ProgramRequestLog &programRequests();
    // Loads or unloads the beep driver: \Device\Beep appears or goes away.
    void SetBeepDriverPresent(bool present);
    void SetMouseClassQueriesAttributes(bool query);

    // ---- Registry ----
    // Key paths start with HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU) or HKEY_USERS.
    void SetValue(std::u16string_view keyPath, std::u16string_view name, uint32_t type,
                  const std::vector<uint8_t> &data);
    void SetDword(std::u16string_view keyPath, std::u16string_view name, uint32_t value);
    void SetString(std::u16string_view keyPath, std::u16string_view name, std::u16string_view value);
    std::optional<RegistryValueRecord> Value(std::u16string_view keyPath, std::u16string_view name) const;
    bool KeyExists(std::u16string_view keyPath) const;
    // Deletes a value, or a key with everything below it; false when there was none.
    bool DeleteValue(std::u16string_view keyPath, std::u16string_view name);
    bool DeleteKey(std::u16string_view keyPath);
    // The whole registry in the text format of RegistryText.h (HKLM\HARDWARE, which the system
    // rebuilds at every boot, is left out), and back: loading replaces everything else and adds
    // the system's own entries where missing. Meant for a machine whose devices are not started
    // yet (or MachineOptions::registryFile); running stacks are not touched.
    std::string RegistryText() const;
    void LoadRegistryText(const std::string &text);
    void SaveRegistry(const std::string &hostFile) const;
    void LoadRegistry(const std::string &hostFile);

    // ---- Drivers and device nodes ----
    // Puts a driver module built for this machine at system32\drivers\<service>.sys (a copy, or
    // with `link` a symbolic link to the build output) and writes its service key (ImagePath,
    // Type 1, Start 3, ErrorControl 1).
    void InstallDriverModule(const std::string &hostModule, std::u16string_view service, bool link = false);
    // Writes a service key only; the image path defaults to System32\drivers\<service>.sys.
    void InstallService(std::u16string_view service, std::u16string_view imagePath = {});

    // Makes a root-enumerated device node (ROOT\<class name>\NNNN) in the registry, bound to a
    // service; nothing is loaded yet. Returns its instance ID.
    std::u16string CreateRootDevice(std::u16string_view hardwareId, std::u16string_view service,
                                    std::u16string_view classGuid = kMouseClassGuid);
    // Makes a device node of a bus other than the root (USB\VID_...\<serial>), as its bus driver
    // reports a device plugged in: the Enum key with the hardware ID, the class and the service
    // (empty: no driver installed yet). Nothing is loaded yet.
    void CreateDevice(std::u16string_view instanceId, std::u16string_view hardwareId, std::u16string_view service,
                      std::u16string_view classGuid);
    // Whether the node's hardware is there (its bus reports it): a present node is what the Setup
    // API lists with DIGCF_PRESENT and what an installer can update.
    void SetHardwarePresent(std::u16string_view instanceId, bool present);
    // Builds the node's stack (lower filters, the function driver, upper filters of the node and
    // of its class; each driver loaded on first use and DriverEntry called) and starts it.
    int32_t StartDevice(std::u16string_view instanceId);
    // Query-stop, then stop.
    int32_t StopDevice(std::u16string_view instanceId);
    // Query-remove, then remove: the stack goes away and drivers no device uses are unloaded. A
    // driver whose deleted device is still held by an open handle stays loaded until the last
    // such handle is closed (unloaded at the next idle point after it).
    int32_t RemoveDevice(std::u16string_view instanceId);
    // Surprise removal, then removal.
    void SurpriseRemoveDevice(std::u16string_view instanceId);
    // Deletes the node from the registry (removing its stack first).
    void DeleteDevice(std::u16string_view instanceId);
    // What boot does: starts every root-enumerated node of the registry that has a service.
    void StartRootDevices();

    std::optional<DeviceInfo> Device(std::u16string_view instanceId) const;
    // Removes the node's stack if it has one, then starts it anew (after its driver changed).
    // When the stack refuses to go, returns that status with *removalRefused set, and the node
    // stays as it was (the change waits for a restart of the machine).
    int32_t RestartDevice(std::u16string_view instanceId, bool *removalRefused = nullptr);
    std::vector<DeviceInfo> Devices() const;
    bool DriverLoaded(std::u16string_view service) const;
    // An exported symbol of a loaded driver's image (for tests that look inside a driver), or
    // null when the driver is not loaded or exports no such name.
    void *DriverSymbol(std::u16string_view service, const std::string &name) const;
    // Makes the kernel's verifier require this pool tag of every allocation of the service's
    // driver, from its next load on ('vdtP' reads "Ptdv" in a pool dump).
    void RequirePoolTag(std::u16string_view service, uint32_t tag);

    // ---- COM ports ----
    // Plugs a port in: its node starts, \Device\Serial<n-1> and \DosDevices\COM<n> appear and
    // the port's interface arrives.
    ComPort &AddComPort(unsigned number);
    // Pulls the port out: surprise removal (reads end with STATUS_DELETE_PENDING, the interface
    // is removed); the stack goes when the last handle on the port is closed.
    void UnplugComPort(unsigned number);
    ComPort &comPort(unsigned number);

    // ---- Desktop and processes ----
    // The screen with its windows (screenWidth x screenHeight). Its pointer is the mouse class
    // driver's cursor: every move and button transition a mouse device reports reaches the window
    // under the cursor. Its clock is the machine's.
    tap::desktop::Desktop &desktop();
    // The window system of the desktop: programs' UI threads, windows, message boxes.
    tap::ui::host::Session &windowSystem();

    // The ordinary mouse and keyboard of the PC, at screen pixels. The mouse moves the same cursor
    // the mouse class driver moves; nothing is reported through a driver.
    void MouseDown(PixelPoint at, MouseButton button = MouseButton::Left);
    void MouseUp(PixelPoint at, MouseButton button = MouseButton::Left);
    void Click(PixelPoint at, MouseButton button = MouseButton::Left);
    void KeyPress(uint32_t virtualKey);

    // Puts a program module built for this machine (the host build of a tool: a shared object
    // exporting TapProgramStartup and TapProgramResources, see ProgramModule.h) at a Windows path
    // on drive C:, e.g. C:\WINDOWS\MonotapDrv\SideSwitch.exe: a copy, or a symbolic link.
    void InstallProgram(const std::string &hostModule, std::u16string_view windowsPath, bool link = false);
    // Starts the program whose image is at imagePath on drive C: in a process of its own: a fresh
    // copy of the module, its WinMain on a new UI thread with its own message queue. Returns the
    // process's number at once (WaitIdle() lets it come up). Throws ProcessStartError. May be
    // called from a program's thread (WinExec).
    uint32_t StartProcess(std::u16string_view imagePath, const std::string &commandLine = {},
                          int showCommand = 1);
    // Every process started, in start order.
    std::vector<ProcessInfo> processes() const;
    // What the Control Panel (C:\WINDOWS\system32\control.exe) learned from the applets it loaded.
    AppletLog &applets();
    std::optional<ProcessInfo> process(uint32_t id) const;

    // ---- The system's log ----
    // Every event since the last call (the PnP manager's, and what the user-mode stand-in
    // records: files copied, reboot prompts); RecordSystemEvent adds one, from any thread.
    std::vector<SystemEvent> TakeSystemEvents();
    void RecordSystemEvent(std::string text);

    // ---- Time and idle ----
    Ticks Now() const;
    // Returns once every thread is blocked - kernel threads and programs' UI threads alike - no
    // request is on its way and no character that has arrived is still being handed on. Does not
    // move the clock.
    void WaitIdle();
    // Moves the clock forward, stopping at every event on the way (a character arriving, a
    // timed wait running out, a window timer coming due) and waiting for idle after each.
    void Advance(std::chrono::milliseconds duration);
    void AdvanceTicks(Ticks duration);
    void AdvanceTo(Ticks time);
    // Advances just as far as needed for every character in flight on every line to arrive,
    // then waits for idle.
    void Settle();

    // ---- Programs that poll without a pause ----
    // A program's thread that asks a driver the same question again and again counts as idle
    // while the answer cannot change, and uses no host processor meanwhile. PollActivity is what
    // the answer may depend on, as the calling thread sees it: driver code that other threads
    // ran, the clock, the machine's user (every WaitIdle from outside the programs), and what
    // NotePollActivity reports. AwaitPollActivity blocks a program's thread until it differs
    // from SEEN (at once when it already does, or when the machine is shutting down).
    uint64_t PollActivity() const;
    void AwaitPollActivity(uint64_t seen);
    // A program did something a poller may be waiting for: a request, a close, a wait for a thread.
    void NotePollActivity();

    MachineState &state();

private:
    std::unique_ptr<MachineState> state_;
    uint64_t bootId_ = 0;
};

}  // namespace tapmachine
