// The touch logic of one driver line alone, per byte: decoder, calibration mapping, mode filter
// and report step (and, for the multi-touch line, the frame builder and queue), as the read
// completion runs them, with a mouse class service that only counts. Built once per line
// (TAPPERF_MULTI_TOUCH 0 or 1) with that line's headers, as the line's logic library is.
//
//   perf_<line>_logic [benchmark options]   the Google Benchmark run
//   perf_<line>_logic --count STREAM BYTES  feeds BYTES bytes of STREAM once through
//                                           tapperf_feed, for an instruction count under
//                                           callgrind (--toggle-collect=tapperf_feed)
#include "TapDriver.h"
#if TAPPERF_MULTI_TOUCH
#include "Polytap.h"
#endif

#include <tapkernel/Kernel.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Streams.h"

namespace {

using tapperf::StreamKind;

constexpr tapperf::Line kLine = TAPPERF_MULTI_TOUCH ? tapperf::Line::MultiTouch : tapperf::Line::SingleTouch;
constexpr size_t kStreamBytes = 100000;

size_t reportsDelivered = 0;

VOID CountingClassService(PVOID, PVOID first, PVOID last, PVOID consumed)
{
    ULONG count = static_cast<ULONG>(static_cast<PMOUSE_INPUT_DATA>(last) - static_cast<PMOUSE_INPUT_DATA>(first));
    reportsDelivered += count;
    *static_cast<PULONG>(consumed) = count;
}

// Stands for the beep thread's object: the report step only asks whether the thread exists.
struct {
    int unused;
} beepThreadObject;

// One mouse device extension on the kernel stand-in (events and IRQL), attributes queried, a
// calibration that maps raw 750..3250 onto the screen.
class LogicHarness {
public:
    explicit LogicHarness(StreamKind kind)
        : extension_(static_cast<MouseDeviceExtension *>(std::calloc(1, sizeof(MouseDeviceExtension))))
    {
        RtlZeroMemory(&Globals, sizeof(Globals));
        TapProductDriverEntry(); // the product's driver-wide locks, as DriverEntry sets them up
        SetDefaultParameters();
        Globals.ActiveCalibration = {75000, 325000, 75000, 325000, 0, 1024, 768};
        if (kind == StreamKind::MaxReports) {
            // Every still packet completes the hold and is delivered as a right click.
            Globals.Settings.MouseMode = MODE_INTERACTIVE_TOUCH;
            Globals.Settings.InterActTime = 1;
        }
        extension_->IsMouseDevice = TRUE;
        extension_->ClassService = reinterpret_cast<PVOID>(&CountingClassService);
        extension_->AttributesQueried = TRUE;
        extension_->BeepThread = reinterpret_cast<PKTHREAD>(&beepThreadObject);
        KeInitializeEvent(&extension_->BeepEvent, NotificationEvent, FALSE);
        TapProductInitialize(extension_);
    }
    ~LogicHarness() { std::free(extension_); }
    LogicHarness(const LogicHarness &) = delete;
    LogicHarness &operator=(const LogicHarness &) = delete;

#if TAPPERF_MULTI_TOUCH
    void StartDataMode() { ::StartDataMode(extension_); }
#endif
    MouseDeviceExtension *extension() { return extension_; }

private:
    tapkernel::Kernel kernel_;
    MouseDeviceExtension *extension_;
};

}  // namespace

// What ReadComplete does with each byte it read. Not inlined: callgrind counts what runs inside.
extern "C" __attribute__((noinline)) void tapperf_feed(MouseDeviceExtension *extension, const uint8_t *bytes,
                                                        size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (TapProductDecodeByte(extension, bytes[i])) {
            ReportPacket(extension);
        }
        TapProductAfterByte(extension);
    }
}

namespace {

void SetPerByteCounters(benchmark::State &state, size_t bytesPerIteration, size_t reports)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
    state.counters["time/byte"] = benchmark::Counter(static_cast<double>(bytesPerIteration),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["reports/byte"] =
        static_cast<double>(reports) / static_cast<double>(state.iterations() * bytesPerIteration);
}

void Logic(benchmark::State &state, StreamKind kind, bool dataMode)
{
    LogicHarness harness(kind);
#if TAPPERF_MULTI_TOUCH
    if (dataMode) {
        harness.StartDataMode();
    }
#else
    (void)dataMode;
#endif
    const std::vector<uint8_t> stream = tapperf::MakeStream(kLine, kind, kStreamBytes);
    reportsDelivered = 0;
    for (auto _ : state) {
        tapperf_feed(harness.extension(), stream.data(), stream.size());
    }
    SetPerByteCounters(state, stream.size(), reportsDelivered);
}

#if TAPPERF_MULTI_TOUCH
// The frame queue alone: one frame queued and one taken, under FrameLock as the control code and
// the read completion hold it.
void FrameQueue(benchmark::State &state)
{
    LogicHarness harness(StreamKind::Typical);
    harness.StartDataMode();
    PCONTACT_FRAME_QUEUE queue = &harness.extension()->Touch.FrameQueue;
    ContactFrame frame = {};
    frame.ContactCount = 1;
    for (auto _ : state) {
        KIRQL irql;
        KeAcquireSpinLock(&FrameLock, &irql);
        QueueContactFrame(queue, &frame);
        TakeContactFrame(queue, &frame);
        KeReleaseSpinLock(&FrameLock, irql);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(FrameQueue);
#endif

#define TAPPERF_LOGIC(kind, dataMode, name) \
    BENCHMARK_CAPTURE(Logic, name, kind, dataMode)->Unit(benchmark::kMicrosecond)

TAPPERF_LOGIC(StreamKind::Typical, false, typical);
TAPPERF_LOGIC(StreamKind::Noise, false, noise);
TAPPERF_LOGIC(StreamKind::Resync, false, resync);
TAPPERF_LOGIC(StreamKind::MaxReports, false, max_reports);
#if TAPPERF_MULTI_TOUCH
TAPPERF_LOGIC(StreamKind::Typical, true, typical_data_mode);
TAPPERF_LOGIC(StreamKind::MaxReports, true, max_reports_data_mode);
#endif

bool ParseKind(const std::string &name, StreamKind *kind)
{
    for (StreamKind candidate : {StreamKind::Typical, StreamKind::Noise, StreamKind::Resync, StreamKind::MaxReports}) {
        if (name == tapperf::StreamName(candidate)) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

// --count STREAM BYTES [data-mode]
int Count(int argc, char **argv)
{
    StreamKind kind;
    if (argc < 4 || !ParseKind(argv[2], &kind)) {
        std::fprintf(stderr, "usage: %s --count typical|noise|resync|max-reports BYTES [data-mode]\n", argv[0]);
        return 2;
    }
    const size_t bytes = std::strtoul(argv[3], nullptr, 10);
    LogicHarness harness(kind);
#if TAPPERF_MULTI_TOUCH
    if (argc > 4 && std::strcmp(argv[4], "data-mode") == 0) {
        harness.StartDataMode();
    }
#endif
    const std::vector<uint8_t> stream = tapperf::MakeStream(kLine, kind, bytes);
    tapperf_feed(harness.extension(), stream.data(), stream.size());
    std::printf("bytes=%zu reports=%zu\n", stream.size(), reportsDelivered);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--count") == 0) {
        return Count(argc, argv);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
