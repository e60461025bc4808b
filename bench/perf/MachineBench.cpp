// The whole simulated path, per byte and per request: a byte down COM1 through the serial port
// driver, the real driver module, the mouse class and the machine settling after it (the path
// `tapbench replay` drives); the stop protocol's close-and-open cycle and a control-code round
// trip through the driver's control device; and `tapbench replay --binary` of 1, 10 or 100 MB
// as a process of its own, with its peak resident memory.
#include <tapkernel/Kernel.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "MachineTouchPath.h"
#include "Streams.h"
#include "TapShared.h"

extern char **environ;

namespace {

using tapbench::DriverLine;
using tapperf::Line;
using tapperf::StreamKind;

constexpr size_t kBytesPerIteration = 10000;

struct PathCase {
    DriverLine driver;
    bool dataMode;
};

Line LineOf(DriverLine driver)
{
    return driver == DriverLine::Polytap ? Line::MultiTouch : Line::SingleTouch;
}

const char16_t *ControlLinkOf(DriverLine driver)
{
    return driver == DriverLine::Polytap ? u"\\??\\PolytapSymLnk1" : u"\\??\\MonotapSymLnk1";
}

std::unique_ptr<tapbench::TouchPath> MakePath(const PathCase &path, size_t *lines)
{
    tapbench::ReplayOptions options;
    options.driver = path.driver;
    options.dataMode = path.dataMode;
    options.calibration = std::vector<int32_t>{75000, 325000, 75000, 325000, 0, 1024, 768};
    return tapbench::MakeMachineTouchPath(options, [lines](const std::string &) { ++*lines; });
}

// One byte at a time as the replay feeds it: delivered, the machine settled, reports, beeps and
// (in data mode) frames taken.
void WholePath(benchmark::State &state, PathCase path)
{
    size_t lines = 0;
    auto touchPath = MakePath(path, &lines);
    const std::vector<uint8_t> stream = tapperf::MakeStream(LineOf(path.driver), StreamKind::Typical, 1 << 20);
    size_t next = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < kBytesPerIteration; ++i) {
            touchPath->FeedByte(stream[next]);
            next = (next + 1) % stream.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerIteration));
    state.counters["time/byte"] = benchmark::Counter(
        kBytesPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["lines/byte"] = static_cast<double>(lines) / static_cast<double>(state.iterations() * kBytesPerIteration);
}

// A handle of the driver's control device held open by a tool.
class ControlHandle {
public:
    explicit ControlHandle(DriverLine driver)
    {
        if (!NT_SUCCESS(tapkernel::Kernel::Current().OpenFile(ControlLinkOf(driver), GENERIC_READ | GENERIC_WRITE, &file_))) {
            throw std::runtime_error("the control device does not open");
        }
    }
    ~ControlHandle() { tapkernel::Kernel::Current().CloseFile(file_); }
    ControlHandle(const ControlHandle &) = delete;
    ControlHandle &operator=(const ControlHandle &) = delete;

    NTSTATUS Send(ULONG code, const void *input, ULONG inputLength, void *output, ULONG outputLength)
    {
        ULONG_PTR information = 0;
        return tapkernel::Kernel::Current().DeviceIoControl(file_, code, input, inputLength, output, outputLength,
                                                            &information);
    }

private:
    PFILE_OBJECT file_ = nullptr;
};

// IOCTL_TOUCH_CLOSE_PORT (the stop protocol: the outstanding read cancelled and acknowledged,
// the port released) and IOCTL_TOUCH_OPEN_PORT (COM1 opened, configured, a new reader started),
// with the machine settling after each as a tool's next request would find it.
void OpenCloseCycle(benchmark::State &state, DriverLine driver)
{
    size_t lines = 0;
    auto touchPath = MakePath({driver, false}, &lines);
    ControlHandle control(driver);
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    for (auto _ : state) {
        ULONG port = 1;
        if (!NT_SUCCESS(control.Send(IOCTL_TOUCH_CLOSE_PORT, nullptr, 0, nullptr, 0))) {
            state.SkipWithError("IOCTL_TOUCH_CLOSE_PORT failed");
            break;
        }
        kernel.WaitUntilIdle();
        if (!NT_SUCCESS(control.Send(IOCTL_TOUCH_OPEN_PORT, &port, sizeof port, nullptr, 0))) {
            state.SkipWithError("IOCTL_TOUCH_OPEN_PORT failed");
            break;
        }
        kernel.WaitUntilIdle();
    }
    if (!touchPath->Reading()) {
        state.SkipWithError("the driver no longer reads COM1");
    }
}

// One control code answered by the driver (IOCTL_TOUCH_GET_RIGHT_CLICK) through a held handle;
// and the same with the open and close around it that a tool's single request costs.
void ControlRoundTrip(benchmark::State &state, DriverLine driver, bool openEachTime)
{
    size_t lines = 0;
    auto touchPath = MakePath({driver, false}, &lines);
    std::unique_ptr<ControlHandle> held;
    if (!openEachTime) {
        held = std::make_unique<ControlHandle>(driver);
    }
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    for (auto _ : state) {
        ULONG armed = 0;
        NTSTATUS status;
        if (openEachTime) {
            ControlHandle control(driver);
            status = control.Send(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, &armed, sizeof armed);
        } else {
            status = held->Send(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, &armed, sizeof armed);
        }
        if (openEachTime) {
            kernel.WaitUntilIdle();  // the close goes through the system worker
        }
        if (!NT_SUCCESS(status)) {
            state.SkipWithError("IOCTL_TOUCH_GET_RIGHT_CLICK failed");
            break;
        }
    }
}

// ---- tapbench replay as a process ----------------------------------------------------------

struct ProcessCase {
    DriverLine driver;
    bool dataMode;
};

struct StreamFileInfo {
    std::string path;
    size_t bytes = 0;
};

// The streams written for the process runs, one file per line and size, made once per run: a
// megabyte of taps and drags (whole packets) written MEGABYTES times, so that this process never
// holds more than that megabyte.
StreamFileInfo StreamFile(Line line, size_t megabytes)
{
    static std::map<std::pair<Line, size_t>, StreamFileInfo> files;
    auto found = files.find({line, megabytes});
    if (found != files.end()) {
        return found->second;
    }
    static std::string folder = [] {
        char pattern[] = "/tmp/tapperf-XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        return std::string(made);
    }();
    std::string path = folder + (line == Line::MultiTouch ? "/multi-" : "/single-") + std::to_string(megabytes) + "MB.bin";
    const std::vector<uint8_t> megabyte = tapperf::MakeStream(line, StreamKind::Typical, 1 << 20);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < megabytes; ++i) {
        out.write(reinterpret_cast<const char *>(megabyte.data()), static_cast<std::streamsize>(megabyte.size()));
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return files[{line, megabytes}] = {path, megabyte.size() * megabytes};
}

struct ProcessRun {
    int status = -1;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
    long benchKilobytes = 0;  // this process's resident memory when it started the child
};

// Linux hands a new program the peak resident memory of the process image it replaces, and a
// spawned child starts as this process's image: the peak is reset here first, so that the
// child's peak includes at most what this process holds at the moment (reported beside it).
long ResetPeakResidentMemory()
{
    if (FILE *refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs tapbench replay --binary on FILE, its output to /dev/null.
ProcessRun RunReplay(const ProcessCase &replay, const std::string &file)
{
    std::vector<std::string> args = {TAPPERF_TAPBENCH, "replay", "--binary"};
    if (replay.driver == DriverLine::Polytap) {
        args.insert(args.end(), {"--driver", "polytap"});
    }
    if (replay.dataMode) {
        args.push_back("--data-mode");
    }
    args.push_back(file);
    std::vector<char *> argv;
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child;
    ProcessRun run;
    run.benchKilobytes = ResetPeakResidentMemory();
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    struct rusage usage = {};
    int status = 0;
    wait4(child, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    run.peakKilobytes = usage.ru_maxrss;
    return run;
}

// Arguments: the stream's size in megabytes.
void ReplayProcess(benchmark::State &state, ProcessCase replay)
{
    const size_t megabytes = static_cast<size_t>(state.range(0));
    const StreamFileInfo file = StreamFile(LineOf(replay.driver), megabytes);
    ProcessRun run;
    for (auto _ : state) {
        run = RunReplay(replay, file.path);
        if (run.status != 0) {
            state.SkipWithError("tapbench replay failed");
            return;
        }
    }
    const double bytes = static_cast<double>(file.bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.bytes));
    state.counters["time/byte"] =
        benchmark::Counter(bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["cpu/byte"] = run.cpuSeconds / bytes;
    state.counters["peak_RSS_kB"] = static_cast<double>(run.peakKilobytes);
    state.counters["bench_RSS_kB"] = static_cast<double>(run.benchKilobytes);
}

const PathCase kMonotap{DriverLine::Monotap, false};
const PathCase kPolytap{DriverLine::Polytap, false};
const PathCase kPolytapDataMode{DriverLine::Polytap, true};

BENCHMARK_CAPTURE(WholePath, monotap, kMonotap)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholePath, polytap, kPolytap)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholePath, polytap_data_mode, kPolytapDataMode)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(OpenCloseCycle, monotap, DriverLine::Monotap)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenCloseCycle, polytap, DriverLine::Polytap)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ControlRoundTrip, monotap_held_handle, DriverLine::Monotap, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ControlRoundTrip, monotap_open_request_close, DriverLine::Monotap, true)
    ->Unit(benchmark::kMicrosecond);

// One run each: the process is the unit. Run these on their own (--benchmark_filter=ReplayProcess)
// so that this process is small when it starts the child; scripts/perf runs 100 MB only with
// --full.
#define TAPPERF_REPLAY(name, replay)                                                                          \
    BENCHMARK_CAPTURE(ReplayProcess, name, replay)                                                            \
        ->ArgName("MB")                                                                                       \
        ->Arg(1)                                                                                              \
        ->Arg(10)                                                                                             \
        ->Arg(100)                                                                                            \
        ->Iterations(1)                                                                                       \
        ->UseRealTime()                                                                                       \
        ->Unit(benchmark::kMillisecond)

TAPPERF_REPLAY(monotap, (ProcessCase{DriverLine::Monotap, false}));
TAPPERF_REPLAY(polytap, (ProcessCase{DriverLine::Polytap, false}));
TAPPERF_REPLAY(polytap_data_mode, (ProcessCase{DriverLine::Polytap, true}));

}  // namespace

BENCHMARK_MAIN();
