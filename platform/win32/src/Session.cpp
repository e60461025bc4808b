// Handle tables per machine, the processes tool code runs in, and the user-mode fault.
#include "Session.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace tapwin32 {

void UserModeFault(const char *routine, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::fprintf(stderr, "*** USER-MODE FAULT in %s: ", routine);
    std::vfprintf(stderr, format, arguments);
    std::fprintf(stderr, "\n");
    va_end(arguments);
    std::fflush(stderr);
    std::abort();
}

// ---- Processes ------------------------------------------------------------------------------------

namespace {

// Handle values are unique for the life of the host process, across machines, so that a handle
// kept from a machine that has gone, or closed twice, never names another object. Multiples of
// four, as NT's handles are.
std::atomic<uintptr_t> nextHandle{0x104};
// Module handles look like image bases, 64 KB apart.
std::atomic<uintptr_t> nextModule{0x00400000};
std::atomic<uint32_t> nextProcessId{0x100};

thread_local std::shared_ptr<Process::State> threadProcess;

std::shared_ptr<Process::State> NewProcessState(std::string imagePath, void *imageModule = nullptr)
{
    auto state = std::make_shared<Process::State>();
    state->id = nextProcessId.fetch_add(4);
    state->imagePath = std::move(imagePath);
    size_t separator = state->imagePath.find_last_of('\\');
    state->currentDirectory = separator == std::string::npos ? std::string("C:\\")
                                                             : state->imagePath.substr(0, separator);
    if (state->currentDirectory.size() == 2 && state->currentDirectory[1] == ':') {
        state->currentDirectory += '\\'; // the root of a drive keeps its separator
    }
    state->imageModule = imageModule ? reinterpret_cast<uintptr_t>(imageModule) : nextModule.fetch_add(0x10000);
    state->modules[state->imageModule] = state->imagePath;
    return state;
}

std::string ProgramNameOf(const std::string &imagePath)
{
    size_t separator = imagePath.find_last_of('\\');
    std::string name = separator == std::string::npos ? imagePath : imagePath.substr(separator + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

const std::shared_ptr<Process::State> &ShellProcess()
{
    static const std::shared_ptr<Process::State> shell = NewProcessState("C:\\WINDOWS\\explorer.exe");
    return shell;
}

} // namespace

Process::State::~State()
{
    for (std::thread &thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else if (thread.joinable()) {
            thread.join();
        }
    }
}

std::shared_ptr<Process::State> CurrentProcessState()
{
    return threadProcess ? threadProcess : ShellProcess();
}

std::string CurrentProgramName()
{
    return ProgramNameOf(CurrentProcessState()->imagePath);
}

Process::Process(std::string imagePath, void *imageModule)
    : state_(NewProcessState(std::move(imagePath), imageModule))
{
}

Process::~Process()
{
    Exit();
}

const std::string &Process::ImagePath() const
{
    return state_->imagePath;
}

uint32_t Process::Id() const
{
    return state_->id;
}

void *Process::ImageModule() const
{
    return reinterpret_cast<void *>(state_->imageModule);
}

void *Process::AddModule(const std::string &path)
{
    return reinterpret_cast<void *>(AddModuleTo(*state_, path));
}

uintptr_t AddModuleTo(Process::State &process, const std::string &path)
{
    uintptr_t module = nextModule.fetch_add(0x10000);
    std::lock_guard<std::mutex> lock(process.mutex);
    process.modules[module] = path;
    return module;
}

void RemoveModuleFrom(Process::State &process, uintptr_t module)
{
    std::lock_guard<std::mutex> lock(process.mutex);
    process.modules.erase(module);
}

void Process::Exit()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->exited) {
            return;
        }
        state_->exited = true;
    }
    // The threads the program started end before its handles close; the host cannot end a
    // thread from outside, as ExitProcess does.
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        threads.swap(state_->threads);
    }
    for (std::thread &thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
    if (std::shared_ptr<Session> session = Session::TryCurrent()) {
        // Dropped outside the table's lock: each release may send IRPs.
        std::vector<std::shared_ptr<Object>> owned = session->RemoveOwnedBy(state_->id);
        for (const std::shared_ptr<Object> &object : owned) {
            object->HandleClosed();
        }
        owned.clear();
    }
}

size_t Process::OpenHandleCount() const
{
    std::shared_ptr<Session> session = Session::TryCurrent();
    return session ? session->CountOwnedBy(state_->id) : 0;
}

ProcessScope::ProcessScope(Process &process) : previous_(threadProcess)
{
    threadProcess = process.state_;
}

ProcessScope::~ProcessScope()
{
    threadProcess = previous_;
}

ProcessStateScope::ProcessStateScope(std::shared_ptr<Process::State> process) : previous_(threadProcess)
{
    threadProcess = std::move(process);
}

ProcessStateScope::~ProcessStateScope()
{
    threadProcess = previous_;
}

size_t OpenHandleCount()
{
    std::shared_ptr<Session> session = Session::TryCurrent();
    return session ? session->Count() : 0;
}

// ---- Sessions -------------------------------------------------------------------------------------

namespace {

std::mutex sessionMutex;
std::shared_ptr<Session> currentSession;

} // namespace

std::shared_ptr<Session> Session::TryCurrent()
{
    link::MachineIdentity machine = link::CurrentMachine();
    if (!machine.machine) {
        return nullptr;
    }
    std::shared_ptr<Session> stale;
    std::lock_guard<std::mutex> lock(sessionMutex);
    if (!currentSession || currentSession->machine() != machine) {
        // One machine runs at a time: a session of another one belongs to a machine that has
        // gone, and its objects go without a word to the kernel that held them.
        stale = std::move(currentSession);
        currentSession = std::make_shared<Session>(machine);
    }
    return currentSession;
}

std::shared_ptr<Session> Session::Current(const char *routine)
{
    std::shared_ptr<Session> session = TryCurrent();
    if (!session) {
        UserModeFault(routine, "called while no simulated PC is running");
    }
    return session;
}

Session::~Session() = default;

HANDLE Session::Insert(std::shared_ptr<Object> object)
{
    uintptr_t value = nextHandle.fetch_add(4);
    uint32_t owner = CurrentProcessState()->id;
    std::lock_guard<std::mutex> lock(mutex_);
    handles_[value] = Entry{std::move(object), owner};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> Session::Lookup(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return found == handles_.end() ? nullptr : found->second.object;
}

std::shared_ptr<Object> Session::Remove(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles_.end()) {
        return nullptr;
    }
    std::shared_ptr<Object> object = std::move(found->second.object);
    handles_.erase(found);
    return object;
}

std::vector<std::shared_ptr<Object>> Session::RemoveOwnedBy(uint32_t processId)
{
    std::vector<std::shared_ptr<Object>> removed;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto entry = handles_.begin(); entry != handles_.end();) {
        if (entry->second.owner == processId) {
            removed.push_back(std::move(entry->second.object));
            entry = handles_.erase(entry);
        } else {
            ++entry;
        }
    }
    return removed;
}

size_t Session::Count()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.size();
}

size_t Session::CountOwnedBy(uint32_t processId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const auto &entry : handles_) {
        count += entry.second.owner == processId ? 1 : 0;
    }
    return count;
}

bool Session::AdmitDiskOpen(const std::string &hostPath, const std::shared_ptr<Object> &file, DWORD access,
                            DWORD share)
{
    constexpr DWORD kReading = GENERIC_READ | GENERIC_ALL;
    constexpr DWORD kWriting = GENERIC_WRITE | GENERIC_ALL;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DiskOpen &open : diskOpens_) {
        if (open.hostPath != hostPath) {
            continue;
        }
        // Each side must allow what the other one does.
        if (((access & kReading) && !(open.share & FILE_SHARE_READ)) ||
            ((access & kWriting) && !(open.share & FILE_SHARE_WRITE)) ||
            ((open.access & kReading) && !(share & FILE_SHARE_READ)) ||
            ((open.access & kWriting) && !(share & FILE_SHARE_WRITE))) {
            return false;
        }
    }
    diskOpens_.push_back(DiskOpen{hostPath, file.get(), access, share});
    return true;
}

void Session::ReleaseDiskOpen(const Object *file)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto open = diskOpens_.begin(); open != diskOpens_.end(); ++open) {
        if (open->file == file) {
            diskOpens_.erase(open);
            return;
        }
    }
}

} // namespace tapwin32
