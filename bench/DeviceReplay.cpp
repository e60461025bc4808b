#include "DeviceReplay.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <ostream>

#include "MachineTouchPath.h"
#include "SerialDevice.h"

namespace tapbench {
namespace {

constexpr int kDeviceError = 1;
constexpr int kUsageError = 2;
constexpr size_t kBytesPerLine = 16;

extern "C" void StopOnSignal(int)
{
    SerialDevice::Stop();
}

// Ctrl-C and a termination request end the stream as a hang-up does, so that the closing lines
// are printed and the record is complete; the previous handlers come back afterwards.
class StopSignals {
public:
    StopSignals()
    {
        struct sigaction action = {};
        action.sa_handler = StopOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~StopSignals()
    {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    struct sigaction previousInt_ = {};
    struct sigaction previousTerm_ = {};
};

// Hex text in the replay's format, sixteen bytes a line, flushed as it goes.
class HexRecord {
public:
    explicit HexRecord(std::ostream *out) : out_(out) {}
    ~HexRecord()
    {
        if (out_ != nullptr && column_ != 0) {
            *out_ << '\n';
        }
    }
    HexRecord(const HexRecord &) = delete;
    HexRecord &operator=(const HexRecord &) = delete;

    void Header(const std::string &text)
    {
        if (out_ != nullptr) {
            *out_ << "# " << text << '\n';
        }
    }
    void Write(const std::vector<uint8_t> &bytes)
    {
        if (out_ == nullptr) {
            return;
        }
        for (uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", byte);
            *out_ << (column_ == 0 ? "" : " ") << hex;
            if (++column_ == kBytesPerLine) {
                *out_ << '\n';
                column_ = 0;
            }
        }
        out_->flush();
    }

private:
    std::ostream *out_;
    size_t column_ = 0;
};

const char *LineName(DriverLine line)
{
    return line == DriverLine::Polytap ? "Polytap" : "Monotap";
}

} // namespace

int RunDeviceReplay(const ReplayOptions &options, std::ostream &out, std::ostream &err, std::ostream *record)
{
    auto print = [&out](const std::string &line) { out << line << '\n'; };
    auto path = MakeMachineTouchPath(options, print);
    if (!path->Reading()) {
        err << "tapbench: the driver did not open its COM port (see its Enable and BaudRate), so it has no line "
               "settings for "
            << options.device << '\n';
        return kDeviceError;
    }
    tapmachine::LineFormat line = path->PortLine();
    std::string error;
    auto device = SerialDevice::Open(options.device, line, error);
    if (!device) {
        err << "tapbench: " << error << '\n';
        return kDeviceError;
    }
    std::string note = options.device + " at " + DescribeLine(line) + ", " + LineName(options.driver) +
                       "'s line settings";
    err << "tapbench: reading " << note << " until the far end hangs up or Ctrl-C\n";
    HexRecord hex(record);
    hex.Header("tapbench record: " + note);

    StopSignals signals;
    std::vector<uint8_t> bytes;
    while (device->Read(bytes)) {
        hex.Write(bytes);
        for (uint8_t byte : bytes) {
            path->FeedByte(byte);
        }
        bytes.clear();
        out.flush();
    }
    path->Finish();
    out.flush();
    return 0;
}

int RunRecord(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    std::string error;
    auto options = ParseReplayOptions(args, error);
    if (options && (options->device.empty() || options->input == "-")) {
        error = "record wants --device PATH and the FILE to write";
        options.reset();
    }
    if (!options) {
        err << "tapbench record: " << error << '\n' << RecordUsage();
        return kUsageError;
    }
    std::ofstream file(options->input, std::ios::trunc);
    if (!file) {
        err << "tapbench record: cannot write '" << options->input << "'\n";
        return kDeviceError;
    }
    return RunDeviceReplay(*options, out, err, &file);
}

} // namespace tapbench
