#include "Replay.h"

#include <fstream>
#include <iostream>

#include "ByteStream.h"
#include "DeviceReplay.h"
#include "MachineTouchPath.h"
#include "ReplayOptions.h"

namespace tapbench {
namespace {

constexpr int kUsageError = 2;

std::optional<std::vector<uint8_t>> ReadStream(const ReplayOptions &options, std::istream &standardInput,
                                               std::string &error)
{
    std::ifstream file;
    std::istream *in = &standardInput;
    if (options.input != "-") {
        file.open(options.input, std::ios::binary);
        if (!file) {
            error = "cannot open '" + options.input + "'";
            return std::nullopt;
        }
        in = &file;
    }
    if (options.binary) {
        return ReadBinaryStream(*in);
    }
    auto bytes = ParseHexStream(*in, error);
    if (!bytes) {
        error = options.input + ": " + error;
    }
    return bytes;
}

} // namespace

int RunReplay(const std::vector<std::string> &args, std::istream &standardInput, std::ostream &out,
              std::ostream &err)
{
    std::string error;
    auto options = ParseReplayOptions(args, error);
    if (!options) {
        err << "tapbench replay: " << error << '\n' << ReplayUsage();
        return kUsageError;
    }
    if (!options->device.empty()) {
        if (options->input != "-" || options->binary) {
            err << "tapbench replay: --device reads the port, not a FILE\n" << ReplayUsage();
            return kUsageError;
        }
        return RunDeviceReplay(*options, out, err, nullptr);
    }
    auto bytes = ReadStream(*options, standardInput, error);
    if (!bytes) {
        err << "tapbench replay: " << error << '\n';
        return kUsageError;
    }
    auto print = [&out](const std::string &line) { out << line << '\n'; };
    auto path = MakeMachineTouchPath(*options, print);
    for (uint8_t byte : *bytes) {
        path->FeedByte(byte);
    }
    path->Finish();
    out.flush();
    return 0;
}

} // namespace tapbench
