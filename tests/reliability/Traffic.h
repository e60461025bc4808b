// Traffic on one touch device while the test's thread adds, stops and removes it: a feeder that
// hands the line's packets to the COM port from a thread of its own (so that reads complete on the
// port's device thread all along), and control-code threads that send every code of the line with
// valid lengths, each on a handle of its own or all on one handle a program holds. Only the port's
// line is touched from the feeder; the machine's PnP state belongs to the test's thread.
#pragma once

#include "LineRig.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace reliability {

class Traffic {
public:
    explicit Traffic(LineMachine &rig);
    ~Traffic();
    Traffic(const Traffic &) = delete;
    Traffic &operator=(const Traffic &) = delete;

    void StartFeeding(unsigned port = 1);
    // count threads of control codes; on `held` (a handle the caller keeps open) or, without it,
    // on a handle opened and closed for every request.
    void StartControlThreads(unsigned count, PFILE_OBJECT held = nullptr);
    void Stop();

    // Runs a PnP operation of the machine. The operation waits for idle moments, which a line
    // that never stops would not leave it; so the feeder holds off while it runs, and the packets
    // it had just handed over are still being read when the operation begins.
    template <typename Operation>
    auto Holding(Operation operation)
    {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        paused_ = true;
        auto result = operation();
        paused_ = false;
        return result;
    }

    // The statuses the control codes got, with how often; and those not among the statuses a
    // control code may get while its device comes and goes.
    std::map<NTSTATUS, uint64_t> Statuses();
    std::vector<NTSTATUS> UndefinedStatuses();
    uint64_t Requests() const { return requests_; }
    uint64_t Packets() const { return packets_; }

private:
    void Feed(unsigned port);
    void SendControlCodes(unsigned seed, PFILE_OBJECT held);

    LineMachine &rig_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> packets_{0};
    std::vector<std::thread> threads_;
    std::mutex statusesLock_;
    std::map<NTSTATUS, uint64_t> statuses_;
};

} // namespace reliability
