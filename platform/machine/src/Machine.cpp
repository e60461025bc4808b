// Boot and shutdown of the simulated PC, its clock, and the public Machine operations.
#include "MachineState.h"

#include <tapkernel/Text.h>

#include "tap/desktop/Desktop.h"
#include "tap/ui/host/Session.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tapmachine {

namespace {

std::atomic<Machine *> currentMachine{nullptr};
std::atomic<uint64_t> lastBootId{0};

const std::u16string kServicesKey = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

// The system drivers' module files: markers naming the modules built into the machine.
struct BuiltInDriver {
    const char *module;
    const char16_t *file;
    PDRIVER_INITIALIZE entry;
};
const BuiltInDriver kBuiltInDrivers[] = {
    {"serial", u"\\SystemRoot\\System32\\DRIVERS\\serial.sys", SerialDriverEntry},
    {"beep", u"\\SystemRoot\\System32\\DRIVERS\\beep.sys", BeepDriverEntry},
    {"mouclass", u"\\SystemRoot\\System32\\DRIVERS\\mouclass.sys", MouseClassDriverEntry},
};

std::string ReadHostFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

SystemDriverHost &DriverHost()
{
    Machine *machine = currentMachine.load();
    if (machine == nullptr) {
        tapkernel::BugCheck("DriverHost", "a system driver of the simulated PC runs without a machine");
    }
    return machine->state();
}

// ---- MachineState ----------------------------------------------------------------------------------

MachineState::MachineState(MachineOptions options)
    : options_(std::move(options)),
      files_(std::make_unique<FileSystem>(options_.driveC)),
      registry_(std::make_shared<tapkernel::RegistryStore>())
{
}

MachineState::~MachineState() = default;

void MachineState::Boot()
{
    if (!options_.registryFile.empty()) {
        LoadRegistryText(ReadHostFile(options_.registryFile));
    }
    WriteSystemEntries();
    tapkernel::KernelOptions kernelOptions;
    kernelOptions.registry = registry_;
    kernel_ = std::make_unique<tapkernel::Kernel>(kernelOptions);
    bootSystemTime_ = kernel_->SystemTime() - kernel_->TimeSinceBoot();

    for (const BuiltInDriver &driver : kBuiltInDrivers) {
        loader_.RegisterBuiltIn(driver.module, {{"DriverEntry", reinterpret_cast<void *>(driver.entry)}});
        if (!files_->Exists(driver.file)) {
            files_->WriteText(driver.file, ModuleLoader::BuiltInMarker(driver.module));
        }
    }
    // The system libraries programs load at run time; the user-mode stand-in provides them.
    for (const char *library : {"newdev.dll"}) {
        std::u16string file = u"C:\\WINDOWS\\system32\\" + tapkernel::ToUtf16(library);
        if (!files_->Exists(file)) {
            files_->WriteText(file, ModuleLoader::BuiltInMarker(library));
        }
    }
    rootBusModule_ = kernel_->CreateModule("PnpManager");
    NTSTATUS status = kernel_->LoadDriver(rootBusModule_, u"\\Driver\\PnpManager", RootBusDriverEntry, u"", &rootBus_);
    if (!NT_SUCCESS(status)) {
        throw std::runtime_error("the root bus does not load");
    }
    mouse_.SetScreenSize(options_.screenWidth, options_.screenHeight);
    StartDesktop();
    queryAttributes_ = options_.mouseClassQueriesAttributes;
    if (options_.beepDriver) {
        SetBeepDriverPresent(true);
    }
    for (unsigned number : options_.comPorts) {
        AddComPort(number);
    }
    if (!options_.registryFile.empty()) {
        StartRootDevices();
    }
    WaitIdle();
}

void MachineState::Shutdown()
{
    if (!kernel_) {
        return;
    }
    WaitIdle();
    // Programs end first: the handles they hold on devices are closed as their processes exit.
    StopDesktop();
    WaitIdle();
    // So do the handles opened outside any program (by a test through Kernel::OpenFile): a
    // deleted device they kept goes, and its driver's deferred unload runs at the idle point.
    kernel_->CloseUserFiles();
    WaitIdle();
    RemoveAllDevices();
    while (!drivers_.empty()) {
        UnloadDriver(drivers_.begin()->second.get());
    }
    if (rootBus_ != nullptr) {
        kernel_->UnloadDriver(rootBus_);
        rootBus_ = nullptr;
    }
    for (auto &entry : ports_) {
        entry.second.controller.reset();
    }
    kernel_.reset();
}

Ticks MachineState::Now()
{
    return kernel_ ? kernel_->TimeSinceBoot() : 0;
}

bool MachineState::MouseClassQueriesAttributes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queryAttributes_;
}

void MachineState::SetMouseClassQueriesAttributes(bool query)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queryAttributes_ = query;
}

void MachineState::UpdateMouseClassDevice(const MouseClassDeviceInfo &info)
{
    std::lock_guard<std::mutex> lock(mutex_);
    mouseClassDevices_[info.unit] = info;
}

std::vector<MouseClassDeviceInfo> MachineState::MouseClassDevices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<MouseClassDeviceInfo> devices;
    for (const auto &entry : mouseClassDevices_) {
        devices.push_back(entry.second);
    }
    return devices;
}

void MachineState::RecordBeep(const BeepRecord &beep)
{
    std::lock_guard<std::mutex> lock(mutex_);
    beeps_.push_back(beep);
}

std::vector<BeepRecord> MachineState::Beeps(bool take)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<BeepRecord> beeps = beeps_;
    if (take) {
        beeps_.clear();
    }
    return beeps;
}

void MachineState::RecordEvent(std::string text)
{
    Ticks now = Now();
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({now, std::move(text)});
}

std::vector<SystemEvent> MachineState::TakeEvents()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SystemEvent> events;
    events.swap(events_);
    return events;
}

// ---- Desktop -----------------------------------------------------------------------------------

namespace {

// The absolute coordinate (0..65535 across the screen) that the desktop maps back onto PIXEL.
int32_t AbsoluteOf(int pixel, int extent)
{
    int64_t absolute = (static_cast<int64_t>(pixel) * 65536 + extent - 1) / extent;
    return static_cast<int32_t>(std::clamp<int64_t>(absolute, 0, 65535));
}

uint32_t ButtonFlagOf(const PointerEvent &event)
{
    const bool down = event.kind == PointerEvent::Kind::ButtonDown;
    switch (event.button) {
    case MouseButton::Left: return down ? tap::desktop::kLeftButtonDown : tap::desktop::kLeftButtonUp;
    case MouseButton::Right: return down ? tap::desktop::kRightButtonDown : tap::desktop::kRightButtonUp;
    case MouseButton::Middle: break;
    }
    return down ? tap::desktop::kMiddleButtonDown : tap::desktop::kMiddleButtonUp;
}

}  // namespace

void MachineState::StartDesktop()
{
    scheduler_ = std::make_unique<MachineScheduler>(*this);
    desktop_ = std::make_unique<tap::desktop::Desktop>(
        *scheduler_, tap::desktop::Size{options_.screenWidth, options_.screenHeight});
    windows_ = std::make_unique<tap::ui::host::Session>(*desktop_);
    processes_ = std::make_unique<ProcessTable>(*files_, [this] { return Now(); });
    kernel_->SetDriverActivityHook(&MachineScheduler::DriverActivity, scheduler_.get());
    PixelPoint cursor = mouse_.cursor();
    desktop_->MouseMoveTo({cursor.x, cursor.y});
    // The mouse class's cursor is the desktop's pointer. Called on the reporting thread at
    // DISPATCH_LEVEL: the desktop only queues messages for the UI threads and wakes them.
    pointerListener_ = mouse_.AddListener([this](const PointerEvent &event) {
        const uint32_t flags = event.kind == PointerEvent::Kind::Move ? 0 : ButtonFlagOf(event);
        desktop_->PointerEvent(AbsoluteOf(event.at.x, options_.screenWidth),
                               AbsoluteOf(event.at.y, options_.screenHeight), flags);
    });
}

void MachineState::StopDesktop()
{
    if (!windows_) {
        return;
    }
    mouse_.RemoveListener(pointerListener_);
    // No poller waits any more: a program's thread that polls sees its program end.
    scheduler_->StopAwaiting();
    // Every program leaves its message loop and its process exits.
    windows_.reset();
    processes_->UnloadImages();
    processes_.reset();
    desktop_.reset();
    kernel_->SetDriverActivityHook(nullptr, nullptr);
    scheduler_.reset();
}

// ---- Time ------------------------------------------------------------------------------------------

void MachineState::WaitKernelIdle()
{
    do {
        kernel_->WaitUntilIdle();
    } while (FinishReadyRemovals() || FinishReadyUnloads());
}

void MachineState::WaitIdle()
{
    if (!scheduler_) {
        WaitKernelIdle();
        return;
    }
    // The machine's user has acted: a thread that polls looks again.
    if (!tap::ui::host::Session::IsSimulatedThread()) {
        scheduler_->Poke();
    }
    // Kernel threads wake UI threads (input, a completed request) and UI threads wake kernel
    // threads (a request): idle is when both are, with no UI thread woken in between.
    for (;;) {
        const MachineScheduler::UiActivity before = scheduler_->uiActivity();
        WaitKernelIdle();
        // The UI threads were idle before and none has been woken since: none ran, so nothing
        // woke a kernel thread after the kernel became idle.
        if (before.idle && scheduler_->uiActivity() == before) {
            return;
        }
        scheduler_->WaitForUiThreads();
        WaitKernelIdle();
        if (scheduler_->UiThreadsIdle() && scheduler_->Wakeups() == before.wakeups) {
            return;
        }
    }
}

std::optional<Ticks> MachineState::NextLineEvent(bool arrivalsOnly)
{
    std::optional<Ticks> next;
    for (auto &entry : ports_) {
        ComPortModel &port = *entry.second.model;
        std::optional<Ticks> due = arrivalsOnly ? port.NextArrival() : port.NextEvent();
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    return next;
}

void MachineState::DeliverLineEvents(Ticks now)
{
    for (auto &entry : ports_) {
        entry.second.model->DeliverArrived(now);
    }
}

std::optional<Ticks> MachineState::NextEvent()
{
    const Ticks now = Now();
    std::optional<Ticks> next = NextLineEvent(false);
    auto consider = [&next](std::optional<Ticks> due) {
        if (due && (!next || *due < *next)) {
            next = due;
        }
    };
    if (std::optional<LONGLONG> deadline = kernel_->NextDeadline()) {
        consider(static_cast<Ticks>(*deadline - bootSystemTime_));
    }
    if (scheduler_) {
        consider(scheduler_->NextDeadlineAfter(now));
    }
    if (next && *next < now) {
        next = now;  // due already: delivered at the next step
    }
    return next;
}

void MachineState::MoveClockTo(Ticks time)
{
    const Ticks now = std::max(time, Now());
    kernel_->SetTime(bootSystemTime_ + now);  // also expires the waits that are due now
    DeliverLineEvents(now);
    if (scheduler_) {
        scheduler_->ClockMoved(now);
        scheduler_->Poke();
    }
}

void MachineState::AdvanceTo(Ticks target)
{
    WaitIdle();
    StepTo(target);
}

void MachineState::StepTo(Ticks target)
{
    Ticks now = Now();
    for (;;) {
        std::optional<Ticks> next = NextEvent();
        if (!next || *next > target) {
            break;
        }
        MoveClockTo(*next);
        now = std::max(*next, now);
        WaitIdle();
    }
    if (target > now) {
        MoveClockTo(target);
    } else if (scheduler_) {
        // The clock is there already, and every kernel wait and line event due by now has been
        // stepped through (NextEvent reports them as due now): only a window timer set for
        // this very moment may still want its queue woken.
        scheduler_->ClockMoved(now);
    }
    WaitIdle();
}

void MachineState::Settle()
{
    WaitIdle();
    while (std::optional<Ticks> next = NextLineEvent(true)) {
        StepTo(std::max(*next, Now()));
    }
}

// ---- Machine ---------------------------------------------------------------------------------------

Machine::Machine(MachineOptions options) : bootId_(++lastBootId)
{
    Machine *expected = nullptr;
    if (!currentMachine.compare_exchange_strong(expected, this)) {
        throw std::logic_error("a simulated PC is already running in this process");
    }
    try {
        state_ = std::make_unique<MachineState>(std::move(options));
        state_->Boot();
    } catch (...) {
        if (state_) {
            state_->Shutdown();
        }
        state_.reset();
        currentMachine.store(nullptr);
        throw;
    }
}

Machine::~Machine()
{
    state_->Shutdown();
    state_.reset();
    currentMachine.store(nullptr);
}

Machine &Machine::Current()
{
    Machine *machine = currentMachine.load();
    if (machine == nullptr) {
        throw std::logic_error("no simulated PC is running");
    }
    return *machine;
}

Machine *Machine::CurrentOrNull() { return currentMachine.load(); }

MachineState &Machine::state() { return *state_; }
uint64_t Machine::bootId() const { return bootId_; }

tapkernel::Kernel &Machine::kernel() { return state_->kernel(); }
tapkernel::RegistryStore &Machine::registry() { return state_->registry(); }
FileSystem &Machine::files() { return state_->files(); }
MouseInput &Machine::mouse() { return state_->Mouse(); }
std::vector<MouseClassDeviceInfo> Machine::mouseClassDevices() const { return state_->MouseClassDevices(); }
int Machine::screenWidth() const { return state_->options().screenWidth; }
int Machine::screenHeight() const { return state_->options().screenHeight; }
std::vector<BeepRecord> Machine::beeps() const { return state_->Beeps(false); }
std::vector<BeepRecord> Machine::TakeBeeps() { return state_->Beeps(true); }
ProgramRequestLog &Machine::programRequests() { return state_->programRequests(); }
AppletLog &Machine::applets() { return state_->applets(); }
std::vector<SystemEvent> Machine::TakeSystemEvents() { return state_->TakeEvents(); }
void Machine::RecordSystemEvent(std::string text) { state_->RecordEvent(std::move(text)); }
void Machine::SetBeepDriverPresent(bool present) { state_->SetBeepDriverPresent(present); }
void Machine::SetMouseClassQueriesAttributes(bool query) { state_->SetMouseClassQueriesAttributes(query); }

void Machine::SetValue(std::u16string_view keyPath, std::u16string_view name, uint32_t type,
                       const std::vector<uint8_t> &data)
{
    auto key = state_->OpenKey(keyPath, true);
    state_->registry().SetValue(key, name, type, data.data(), data.size());
}

void Machine::SetDword(std::u16string_view keyPath, std::u16string_view name, uint32_t value)
{
    SetValue(keyPath, name, kRegDword, DwordData(value));
}

void Machine::SetString(std::u16string_view keyPath, std::u16string_view name, std::u16string_view value)
{
    SetValue(keyPath, name, kRegSz, StringData(value));
}

std::optional<RegistryValueRecord> Machine::Value(std::u16string_view keyPath, std::u16string_view name) const
{
    auto key = state_->OpenKey(keyPath, false);
    if (!key) {
        return std::nullopt;
    }
    auto value = state_->registry().QueryValue(key, name);
    if (!value) {
        return std::nullopt;
    }
    return RegistryValueRecord{value->name, value->type, value->data};
}

bool Machine::DeleteValue(std::u16string_view keyPath, std::u16string_view name)
{
    tapkernel::RegistryKeyRef key = state_->OpenKey(keyPath, false);
    return key && state_->registry().DeleteValue(key, name);
}

bool Machine::DeleteKey(std::u16string_view keyPath)
{
    tapkernel::RegistryKeyRef key = state_->OpenKey(keyPath, false);
    return key && state_->registry().DeleteTree(key);
}

bool Machine::KeyExists(std::u16string_view keyPath) const { return state_->OpenKey(keyPath, false) != nullptr; }

std::string Machine::RegistryText() const { return state_->RegistryText(); }

void Machine::LoadRegistryText(const std::string &text)
{
    state_->LoadRegistryText(text);
    state_->WriteSystemEntries();
}

void Machine::SaveRegistry(const std::string &hostFile) const
{
    std::ofstream out(hostFile, std::ios::binary | std::ios::trunc);
    out << RegistryText();
    if (!out) {
        throw std::runtime_error("cannot write " + hostFile);
    }
}

void Machine::LoadRegistry(const std::string &hostFile) { LoadRegistryText(ReadHostFile(hostFile)); }

void Machine::InstallDriverModule(const std::string &hostModule, std::u16string_view service, bool link)
{
    std::u16string imagePath = u"System32\\drivers\\" + std::u16string(service) + u".sys";
    if (link) {
        files().LinkIn(hostModule, u"\\SystemRoot\\" + imagePath);
    } else {
        files().CopyIn(hostModule, u"\\SystemRoot\\" + imagePath);
    }
    InstallService(service, imagePath);
}

void Machine::InstallService(std::u16string_view service, std::u16string_view imagePath)
{
    std::u16string key = kServicesKey + std::u16string(service);
    std::u16string path = imagePath.empty() ? u"System32\\drivers\\" + std::u16string(service) + u".sys"
                                            : std::u16string(imagePath);
    SetValue(key, u"ImagePath", kRegExpandSz, StringData(path));
    SetDword(key, u"Type", 1);
    SetDword(key, u"Start", 3);
    SetDword(key, u"ErrorControl", 1);
}

void Machine::CreateDevice(std::u16string_view instanceId, std::u16string_view hardwareId,
                           std::u16string_view service, std::u16string_view classGuid)
{
    state_->CreateDeviceKey(instanceId, hardwareId, service, classGuid);
}

void Machine::SetHardwarePresent(std::u16string_view instanceId, bool present)
{
    state_->SetHardwarePresent(instanceId, present);
}

std::u16string Machine::CreateRootDevice(std::u16string_view hardwareId, std::u16string_view service,
                                         std::u16string_view classGuid)
{
    return state_->CreateRootDevice(hardwareId, service, classGuid);
}

int32_t Machine::RestartDevice(std::u16string_view instanceId, bool *removalRefused)
{
    if (removalRefused) {
        *removalRefused = false;
    }
    if (auto device = state_->Device(instanceId); device && device->physicalDevice != nullptr) {
        NTSTATUS status = state_->RemoveDevice(instanceId);
        if (!NT_SUCCESS(status)) {
            if (removalRefused) {
                *removalRefused = true;
            }
            state_->WaitIdle();
            return status;
        }
    }
    return StartDevice(instanceId);
}

int32_t Machine::StartDevice(std::u16string_view instanceId)
{
    NTSTATUS status = state_->StartDevice(instanceId);
    state_->WaitIdle();
    return status;
}

int32_t Machine::StopDevice(std::u16string_view instanceId)
{
    NTSTATUS status = state_->StopDevice(instanceId);
    state_->WaitIdle();
    return status;
}

int32_t Machine::RemoveDevice(std::u16string_view instanceId)
{
    NTSTATUS status = state_->RemoveDevice(instanceId);
    state_->WaitIdle();
    return status;
}

void Machine::SurpriseRemoveDevice(std::u16string_view instanceId)
{
    state_->SurpriseRemoveDevice(instanceId);
    state_->WaitIdle();
}

void Machine::DeleteDevice(std::u16string_view instanceId)
{
    state_->DeleteDevice(instanceId);
    state_->WaitIdle();
}

void Machine::StartRootDevices()
{
    state_->StartRootDevices();
    state_->WaitIdle();
}

std::optional<DeviceInfo> Machine::Device(std::u16string_view instanceId) const { return state_->Device(instanceId); }
std::vector<DeviceInfo> Machine::Devices() const { return state_->Devices(); }
bool Machine::DriverLoaded(std::u16string_view service) const { return state_->DriverLoaded(service); }
void *Machine::DriverSymbol(std::u16string_view service, const std::string &name) const
{
    return state_->DriverSymbol(service, name);
}
void Machine::RequirePoolTag(std::u16string_view service, uint32_t tag) { state_->RequirePoolTag(service, tag); }

ComPort &Machine::AddComPort(unsigned number) { return state_->AddComPort(number); }
void Machine::UnplugComPort(unsigned number) { state_->UnplugComPort(number); }
ComPort &Machine::comPort(unsigned number) { return *state_->Slot(number).handle; }

tap::desktop::Desktop &Machine::desktop() { return state_->desktop(); }
tap::ui::host::Session &Machine::windowSystem() { return state_->windowSystem(); }

namespace {

tap::desktop::MouseButton DesktopButton(MouseButton button)
{
    switch (button) {
    case MouseButton::Left: return tap::desktop::MouseButton::Left;
    case MouseButton::Right: return tap::desktop::MouseButton::Right;
    case MouseButton::Middle: break;
    }
    return tap::desktop::MouseButton::Middle;
}

}  // namespace

void Machine::MouseDown(PixelPoint at, MouseButton button)
{
    mouse().SetCursor(at);
    desktop().MouseDown({at.x, at.y}, DesktopButton(button));
    WaitIdle();
}

void Machine::MouseUp(PixelPoint at, MouseButton button)
{
    mouse().SetCursor(at);
    desktop().MouseUp({at.x, at.y}, DesktopButton(button));
    WaitIdle();
}

void Machine::Click(PixelPoint at, MouseButton button)
{
    MouseDown(at, button);
    MouseUp(at, button);
}

void Machine::KeyPress(uint32_t virtualKey)
{
    desktop().KeyPress(virtualKey);
    WaitIdle();
}

void Machine::InstallProgram(const std::string &hostModule, std::u16string_view windowsPath, bool link)
{
    if (link) {
        files().LinkIn(hostModule, windowsPath);
    } else {
        files().CopyIn(hostModule, windowsPath);
    }
}

uint32_t Machine::StartProcess(std::u16string_view imagePath, const std::string &commandLine, int showCommand)
{
    return state_->processes().Start(state_->windowSystem(), imagePath, commandLine, showCommand);
}

std::vector<ProcessInfo> Machine::processes() const { return state_->processes().List(); }
std::optional<ProcessInfo> Machine::process(uint32_t id) const { return state_->processes().Find(id); }

Ticks Machine::Now() const { return state_->Now(); }
void Machine::WaitIdle() { state_->WaitIdle(); }

uint64_t Machine::PollActivity() const { return state_->scheduler().Activity(); }
void Machine::AwaitPollActivity(uint64_t seen) { state_->scheduler().AwaitActivity(seen); }
void Machine::NotePollActivity() { state_->scheduler().Poke(); }
void Machine::Advance(std::chrono::milliseconds duration) { AdvanceTicks(duration.count() * kTicksPerMillisecond); }
void Machine::AdvanceTicks(Ticks duration) { state_->AdvanceTo(state_->Now() + duration); }
void Machine::AdvanceTo(Ticks time) { state_->AdvanceTo(time); }
void Machine::Settle() { state_->Settle(); }

}  // namespace tapmachine
