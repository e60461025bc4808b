#include "serial/ComPortModel.h"

#include <algorithm>
#include <cstdio>

namespace tapmachine {

SerialSettings PowerOnSerialSettings()
{
    SerialSettings settings;
    settings.line = {1200, 7, kEvenParity, kOneStopBit};
    settings.handflow.controlHandShake = 0x01;  // DTR on
    settings.handflow.flowReplace = 0x40;       // RTS on
    settings.handflow.xonLimit = 1024;
    settings.handflow.xoffLimit = 1024;
    settings.rxFifo = 8;
    settings.txFifo = 14;
    return settings;
}

namespace {

const char *ControlCodeName(SerialRequest::Kind kind, uint32_t code)
{
    if (kind == SerialRequest::Kind::InternalDeviceControl) {
        switch (code) {
        case 0x1B000C: return "IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS";
        case 0x1B0010: return "IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS";
        default: return "internal control";
        }
    }
    switch (code) {
    case 0x1B0004: return "IOCTL_SERIAL_SET_BAUD_RATE";
    case 0x1B000C: return "IOCTL_SERIAL_SET_LINE_CONTROL";
    case 0x1B001C: return "IOCTL_SERIAL_SET_TIMEOUTS";
    case 0x1B0020: return "IOCTL_SERIAL_GET_TIMEOUTS";
    case 0x1B0050: return "IOCTL_SERIAL_GET_BAUD_RATE";
    case 0x1B0054: return "IOCTL_SERIAL_GET_LINE_CONTROL";
    case 0x1B0060: return "IOCTL_SERIAL_GET_HANDFLOW";
    case 0x1B0064: return "IOCTL_SERIAL_SET_HANDFLOW";
    default: return "control";
    }
}

}  // namespace

std::string DescribeSerialRequest(const SerialRequest &request)
{
    std::string text;
    char buffer[64];
    switch (request.kind) {
    case SerialRequest::Kind::Create: text = "create"; break;
    case SerialRequest::Kind::Close: text = "close"; break;
    case SerialRequest::Kind::Cleanup: text = "cleanup"; break;
    case SerialRequest::Kind::Read:
        std::snprintf(buffer, sizeof buffer, "read %u", request.outputLength);
        text = buffer;
        break;
    case SerialRequest::Kind::DeviceControl:
    case SerialRequest::Kind::InternalDeviceControl:
        std::snprintf(buffer, sizeof buffer, "%s (0x%06X)", ControlCodeName(request.kind, request.code),
                      request.code);
        text = buffer;
        for (size_t i = 0; i < request.input.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, "%s%02X", i ? " " : " in ", request.input[i]);
            text += buffer;
        }
        if (request.outputLength) {
            std::snprintf(buffer, sizeof buffer, " out %u", request.outputLength);
            text += buffer;
        }
        break;
    case SerialRequest::Kind::Other:
        std::snprintf(buffer, sizeof buffer, "major 0x%02X", request.code);
        text = buffer;
        break;
    }
    std::snprintf(buffer, sizeof buffer, " -> 0x%08X", static_cast<unsigned>(request.status));
    return text + buffer;
}

ComPortModel::ComPortModel(unsigned number, Clock clock)
    : number_(number), clock_(std::move(clock)), settings_(PowerOnSerialSettings())
{
}

void ComPortModel::Transmit(const uint8_t *bytes, size_t count, const LineFormat &format)
{
    Ticks now = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    line_.Transmit(bytes, count, format, now);
}

std::optional<Ticks> ComPortModel::NextArrival() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return line_.NextArrival();
}

void ComPortModel::DeliverArrived(Ticks now)
{
    std::unique_lock<std::mutex> held(mutex_);
    if (line_.Empty() && wakeups_.empty()) {
        return;
    }
    bool any = false;
    for (const LineCharacter &c : line_.TakeArrived(now)) {
        if (!receiving_) {
            continue;  // nobody listens: the character is lost
        }
        if (auto byte = ReceiveCharacter(c.byte, c.format, settings_.line)) {
            received_.push_back(*byte);
            any = true;
        }
    }
    auto due = std::remove_if(wakeups_.begin(), wakeups_.end(), [now](Ticks t) { return t <= now; });
    any = any || due != wakeups_.end();
    wakeups_.erase(due, wakeups_.end());
    if (any) {
        RaiseInterrupt(held);
    }
}

void ComPortModel::ReceiveAtOnce(const uint8_t *bytes, size_t count, const LineFormat &format)
{
    std::unique_lock<std::mutex> held(mutex_);
    bool any = false;
    for (size_t i = 0; i < count && receiving_; ++i) {
        if (auto byte = ReceiveCharacter(bytes[i], format, settings_.line)) {
            received_.push_back(*byte);
            any = true;
        }
    }
    if (any) {
        RaiseInterrupt(held);
    }
}

void ComPortModel::RaiseInterrupt(std::unique_lock<std::mutex> &held)
{
    if (!interrupt_) {
        return;
    }
    // The routine cannot be replaced while a call of it runs, so it is called in place.
    ++interruptCalls_;
    held.unlock();
    interrupt_();
    held.lock();
    if (--interruptCalls_ == 0) {
        interruptReturned_.notify_all();
    }
}

std::optional<Ticks> ComPortModel::NextEvent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<Ticks> next = line_.NextArrival();
    for (Ticks wakeup : wakeups_) {
        if (!next || wakeup < *next) {
            next = wakeup;
        }
    }
    return next;
}

void ComPortModel::ScheduleWakeup(Ticks at)
{
    std::lock_guard<std::mutex> lock(mutex_);
    wakeups_.push_back(at);
}

bool ComPortModel::LineQuiet() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return line_.Empty();
}

void ComPortModel::CutLine()
{
    std::lock_guard<std::mutex> lock(mutex_);
    line_.Clear();
}

void ComPortModel::SetReceiving(bool receiving)
{
    std::lock_guard<std::mutex> lock(mutex_);
    receiving_ = receiving;
    received_.clear();
}

size_t ComPortModel::TakeReceived(uint8_t *buffer, size_t max)
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    while (count < max && !received_.empty()) {
        buffer[count++] = received_.front();
        received_.pop_front();
    }
    return count;
}

size_t ComPortModel::BytesWaiting() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
}

void ComPortModel::ConnectInterrupt(std::function<void()> interrupt)
{
    std::unique_lock<std::mutex> held(mutex_);
    interruptReturned_.wait(held, [this] { return interruptCalls_ == 0; });
    interrupt_ = std::move(interrupt);
}

SerialSettings ComPortModel::settings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void ComPortModel::SetLineFormat(const LineFormat &line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.line = line;
}

void ComPortModel::SetTimeouts(const SerialTimeouts &timeouts)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.timeouts = timeouts;
}

void ComPortModel::SetHandflow(const SerialHandflow &handflow)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.handflow = handflow;
}

void ComPortModel::SetFifos(uint32_t rxFifo, uint32_t txFifo)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.rxFifo = rxFifo;
    settings_.txFifo = txFifo;
}

void ComPortModel::Record(SerialRequest request)
{
    request.time = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    if (requests_.size() == kRequestLogLimit) {
        requests_.pop_front();
    }
    requests_.push_back(std::move(request));
}

std::vector<SerialRequest> ComPortModel::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<SerialRequest>(requests_.begin(), requests_.end());
}

void ComPortModel::ClearRequests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

bool ComPortModel::refusesInternalSettings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return refuseInternalSettings_;
}

void ComPortModel::SetRefuseInternalSettings(bool refuse)
{
    std::lock_guard<std::mutex> lock(mutex_);
    refuseInternalSettings_ = refuse;
}

void ComPortModel::FailRequest(SerialRequest::Kind kind, uint32_t code, int32_t status, unsigned skip, unsigned count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    requestFailures_.erase(std::remove_if(requestFailures_.begin(), requestFailures_.end(),
                                          [&](const RequestFailure &f) { return f.kind == kind && f.code == code; }),
                           requestFailures_.end());
    if (count > 0) {
        requestFailures_.push_back({kind, code, status, skip, count});
    }
}

std::optional<int32_t> ComPortModel::TakeRequestFailure(SerialRequest::Kind kind, uint32_t code)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = requestFailures_.begin(); it != requestFailures_.end(); ++it) {
        if (it->kind != kind || it->code != code) {
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            return std::nullopt;
        }
        int32_t status = it->status;
        if (--it->count == 0) {
            requestFailures_.erase(it);
        }
        return status;
    }
    return std::nullopt;
}

bool ComPortModel::open() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

void ComPortModel::SetOpen(bool open)
{
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = open;
}

}  // namespace tapmachine
