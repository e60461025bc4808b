// tap_soak: cycles of open/close/stop/remove of a touch device, mixed with byte traffic on its
// COM port and control codes from other threads, for one driver or both in turn. Prints what it
// did and what went wrong: hangs (a cycle that does not finish in time), control codes with a
// status they may not get, and leaks (the kernel's verifier stops the run at the removal or
// unload that leaves something behind; at the end the driver must be unloaded). Races are the
// thread sanitizer's to report (scripts/soak runs this under the host-tsan build).
//
//   tap_soak --cycles N [--driver monotap|polytap|both] [--seed S] [--hang-seconds T]
#include "Traffic.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

using namespace reliability;

namespace {

struct Options {
    unsigned long cycles = 10000;
    std::vector<const Line *> lines = {&Monotap(), &Polytap()};
    unsigned seed = 1;
    unsigned hangSeconds = 120;
};

bool ParseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--cycles") {
            options.cycles = std::strtoul(value.c_str(), nullptr, 10);
        } else if (name == "--seed") {
            options.seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (name == "--hang-seconds") {
            options.hangSeconds = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (name == "--driver" && value == "monotap") {
            options.lines = {&Monotap()};
        } else if (name == "--driver" && value == "polytap") {
            options.lines = {&Polytap()};
        } else if (!(name == "--driver" && value == "both")) {
            return false;
        }
    }
    return argc % 2 == 1 && options.cycles > 0;
}

// Stops the run when one cycle takes longer than a cycle may (the kernel's own watchdog catches
// a deadlock among kernel waits; this one also catches a thread spinning).
class HangWatch {
public:
    explicit HangWatch(unsigned seconds) : limit_(seconds)
    {
        thread_ = std::thread([this] {
            while (!done_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                auto started = started_.load();
                if (started != 0 && Now() - started > limit_ * 1000) {
                    std::printf("soak: HANG: cycle %lu (%s) has not finished in %u s\n", cycle_.load(), what_.load(),
                                limit_);
                    std::fflush(stdout);
                    std::abort();
                }
            }
        });
    }
    ~HangWatch()
    {
        done_ = true;
        thread_.join();
    }
    void Begin(unsigned long cycle, const char *what)
    {
        cycle_ = cycle;
        what_ = what;
        started_ = Now();
    }

private:
    static long long Now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    unsigned limit_;
    std::atomic<bool> done_{false};
    std::atomic<long long> started_{0};
    std::atomic<unsigned long> cycle_{0};
    std::atomic<const char *> what_{""};
    std::thread thread_;
};

struct Tally {
    unsigned long cycles = 0;
    unsigned long removals = 0;
    unsigned long stops = 0;
    unsigned long surpriseRemovals = 0;
    unsigned long heldRemovals = 0;
    unsigned long portCycles = 0;
    unsigned long handles = 0;
    unsigned long undefined = 0;
};

bool Defined(NTSTATUS status)
{
    return status == STATUS_SUCCESS || status == STATUS_UNSUCCESSFUL || status == STATUS_INVALID_PARAMETER;
}

// One driver's share of the cycles.
bool Soak(const Line &line, unsigned long cycles, unsigned seed, HangWatch &watch, unsigned long &cycleNumber)
{
    LineMachine rig(line);
    Traffic traffic(rig);
    std::mt19937 random(seed);
    Tally tally;
    auto started = std::chrono::steady_clock::now();
    auto restart = [&] {
        NTSTATUS status = traffic.Holding([&] { return rig.machine.StartDevice(rig.node); });
        if (status != STATUS_SUCCESS) {
            std::printf("soak: %s: the device did not start again (0x%08x)\n", line.name, static_cast<unsigned>(status));
            ++tally.undefined;
        }
    };
    if (rig.Start() != STATUS_SUCCESS) {
        std::printf("soak: %s: the device did not start\n", line.name);
        return false;
    }
    traffic.StartFeeding();
    traffic.StartControlThreads(2);
    for (unsigned long i = 0; i < cycles; ++i, ++cycleNumber) {
        unsigned pick = random() % 100;
        if (pick < 45) {
            watch.Begin(cycleNumber, "a control code");
            Reply reply = rig.Control(IOCTL_TOUCH_GET_RAW_SAMPLE, nullptr, 0, sizeof(RawSample));
            tally.undefined += !Defined(reply.status);
        } else if (pick < 65) {
            watch.Begin(cycleNumber, "a handle opened and closed");
            PFILE_OBJECT file = rig.OpenControlDevice();
            if (file != nullptr) {
                rig.machine.kernel().CloseFile(file);
            }
            ++tally.handles;
        } else if (pick < 82) {
            watch.Begin(cycleNumber, "the port closed and opened");
            tally.undefined += !Defined(rig.Control(IOCTL_TOUCH_CLOSE_PORT).status);
            tally.undefined += !Defined(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status);
            ++tally.portCycles;
        } else if (pick < 88) {
            watch.Begin(cycleNumber, "a stop, a removal and a start");
            tally.undefined += traffic.Holding([&] { return rig.machine.StopDevice(rig.node); }) != STATUS_SUCCESS;
            tally.undefined += traffic.Holding([&] { return rig.Remove(); }) != STATUS_SUCCESS;
            restart();
            ++tally.stops;
        } else if (pick < 94) {
            watch.Begin(cycleNumber, "a removal and a start");
            tally.undefined += traffic.Holding([&] { return rig.Remove(); }) != STATUS_SUCCESS;
            restart();
            ++tally.removals;
        } else if (pick < 97) {
            watch.Begin(cycleNumber, "a surprise removal and a start");
            traffic.Holding([&] {
                rig.machine.SurpriseRemoveDevice(rig.node);
                return 0;
            });
            restart();
            ++tally.surpriseRemovals;
        } else {
            watch.Begin(cycleNumber, "a removal with the control device held");
            PFILE_OBJECT held = rig.OpenControlDevice();
            tally.undefined += traffic.Holding([&] { return rig.Remove(); }) != STATUS_SUCCESS;
            if (held != nullptr) {
                const ULONG port = 1;
                NTSTATUS status = LineMachine::ControlOn(held, IOCTL_TOUCH_OPEN_PORT, &port, sizeof port, 0).status;
                tally.undefined += status != STATUS_DELETE_PENDING;
                rig.machine.kernel().CloseFile(held);
            }
            restart();
            ++tally.heldRemovals;
        }
        ++tally.cycles;
    }
    watch.Begin(cycleNumber, "the end of the traffic");
    traffic.Stop();
    for (NTSTATUS status : traffic.UndefinedStatuses()) {
        std::printf("soak: %s: a control code got status 0x%08x\n", line.name, static_cast<unsigned>(status));
        ++tally.undefined;
    }
    rig.machine.Settle();
    rig.Control(IOCTL_TOUCH_CLOSE_PORT);
    rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1);
    bool reporting = rig.Tap() > 0;
    rig.Remove();
    bool unloaded = !rig.machine.DriverLoaded(line.service);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("soak: %s: %lu cycles in %.1f s (%lu removals, %lu stops, %lu surprise removals, %lu removals with "
                "the control device held, %lu port closes and opens, %lu handles; %llu packets fed, %llu control "
                "codes from other threads), %lu undefined statuses, reporting at the end: %s, leaks: %d\n",
                line.name, tally.cycles, seconds, tally.removals, tally.stops, tally.surpriseRemovals,
                tally.heldRemovals, tally.portCycles, tally.handles,
                static_cast<unsigned long long>(traffic.Packets()),
                static_cast<unsigned long long>(traffic.Requests()), tally.undefined, reporting ? "yes" : "NO",
                unloaded ? 0 : 1);
    std::fflush(stdout);
    return tally.undefined == 0 && reporting && unloaded;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: tap_soak --cycles N [--driver monotap|polytap|both] [--seed S] "
                             "[--hang-seconds T]\n");
        return 2;
    }
    HangWatch watch(options.hangSeconds);
    unsigned long cycle = 0;
    bool ok = true;
    for (size_t i = 0; i < options.lines.size(); ++i) {
        unsigned long share = options.cycles / options.lines.size() + (i < options.cycles % options.lines.size());
        ok = Soak(*options.lines[i], share, options.seed + static_cast<unsigned>(i), watch, cycle) && ok;
    }
    std::printf("soak: %lu cycles, 0 hangs, %s\n", cycle, ok ? "all defined, nothing leaked" : "FAILED");
    return ok ? 0 : 1;
}
