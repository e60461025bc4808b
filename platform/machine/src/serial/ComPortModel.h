// One COM port's hardware as its driver sees it: the line from the controller, the receiver with
// the line settings the driver programmed, the receive buffer, and the "interrupt" that tells the
// driver characters came in. Also what tests look at: the settings the driver holds, the record of
// every request, and the switches.
//
// Thread-safe: the line side runs on the thread that advances the clock, the driver side on
// whatever thread the driver runs in.
#pragma once

#include <machine/ComPortState.h>
#include <machine/TouchController.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace tapmachine {

class ComPortModel : public ByteSink {
public:
    using Clock = std::function<Ticks()>;

    ComPortModel(unsigned number, Clock clock);

    unsigned number() const { return number_; }

    // ---- Line side: the controller, the raw byte feed, the clock ----
    void Transmit(const uint8_t *bytes, size_t count, const LineFormat &format) override;
    std::optional<Ticks> NextArrival() const;
    // Receives every character that has arrived by `now`, with the settings in force now, and
    // raises the interrupt when any went into the receive buffer or a wake-up fell due.
    void DeliverArrived(Ticks now);
    // Receives bytes at once, past the line and its timing, and raises the interrupt when any
    // went into the receive buffer. Callable from any thread; the clock does not move.
    void ReceiveAtOnce(const uint8_t *bytes, size_t count, const LineFormat &format);
    // The earliest of the next arrival and the next wake-up.
    std::optional<Ticks> NextEvent() const;
    bool LineQuiet() const;
    void CutLine();  // characters in flight are lost

    // ---- Driver side ----
    // The receiver listens only while the port is open; opening empties the receive buffer.
    void SetReceiving(bool receiving);
    size_t TakeReceived(uint8_t *buffer, size_t max);
    size_t BytesWaiting() const;
    // The routine the interrupt calls, on the thread that raises it (the one delivering the
    // characters), with no lock of the model held. Connecting another one, or none, first waits
    // until no call of the previous routine is still running on another thread, as disconnecting
    // an interrupt and flushing its deferred work does: after ConnectInterrupt(nullptr) returns,
    // the driver's routine is not running and will not be called again.
    void ConnectInterrupt(std::function<void()> interrupt);
    // Asks for the interrupt at a time (a read time-out falling due).
    void ScheduleWakeup(Ticks at);

    SerialSettings settings() const;
    void SetLineFormat(const LineFormat &line);
    void SetTimeouts(const SerialTimeouts &timeouts);
    void SetHandflow(const SerialHandflow &handflow);
    void SetFifos(uint32_t rxFifo, uint32_t txFifo);

    // The request log keeps the newest kRequestLogLimit requests, so that a long run (a replay
    // of megabytes, one read a byte) keeps a flat memory.
    static constexpr size_t kRequestLogLimit = size_t(1) << 17;
    void Record(SerialRequest request);
    std::vector<SerialRequest> requests() const;
    void ClearRequests();

    // ---- Switches ----
    bool refusesInternalSettings() const;
    void SetRefuseInternalSettings(bool refuse);
    // Injected failures of control requests (ComPort::FailRequest): the status to answer the
    // request with code instead of carrying it out, if one is due.
    void FailRequest(SerialRequest::Kind kind, uint32_t code, int32_t status, unsigned skip, unsigned count);
    std::optional<int32_t> TakeRequestFailure(SerialRequest::Kind kind, uint32_t code);

    bool open() const;
    void SetOpen(bool open);

    Ticks Now() const { return clock_(); }

private:
    // Calls the interrupt routine, outside the lock, if one is connected.
    void RaiseInterrupt(std::unique_lock<std::mutex> &held);

    const unsigned number_;
    Clock clock_;
    mutable std::mutex mutex_;
    SerialLine line_;
    std::deque<uint8_t> received_;
    bool receiving_ = false;
    bool open_ = false;
    bool refuseInternalSettings_ = false;
    struct RequestFailure {
        SerialRequest::Kind kind;
        uint32_t code;
        int32_t status;
        unsigned skip;
        unsigned count;
    };
    std::vector<RequestFailure> requestFailures_;
    SerialSettings settings_;
    std::deque<SerialRequest> requests_;
    std::function<void()> interrupt_;
    unsigned interruptCalls_ = 0;  // calls of interrupt_ running now
    std::condition_variable interruptReturned_;
    std::vector<Ticks> wakeups_;
};

}  // namespace tapmachine
