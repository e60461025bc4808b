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
// Raw bytes are fed as they are read, so that a replay of any length holds one chunk at a time.
constexpr size_t kChunkBytes = 1 << 16;

int Replay(const ReplayOptions &options, std::istream &in, std::ostream &out, std::ostream &err)
{
    std::optional<std::vector<uint8_t>> hex;
    if (!options.binary) {
        std::string error;
        hex = ParseHexStream(in, error);
        if (!hex) {
            err << "tapbench replay: " << options.input << ": " << error << '\n';
            return kUsageError;
        }
    }
    auto print = [&out](const std::string &line) { out << line << '\n'; };
    auto path = MakeMachineTouchPath(options, print);
    if (hex) {
        for (uint8_t byte : *hex) {
            path->FeedByte(byte);
        }
    } else {
        std::vector<uint8_t> chunk;
        chunk.reserve(kChunkBytes);
        while (ReadBinaryChunk(in, chunk)) {
            for (uint8_t byte : chunk) {
                path->FeedByte(byte);
            }
        }
    }
    path->Finish();
    out.flush();
    return 0;
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
    if (options->input == "-") {
        return Replay(*options, standardInput, out, err);
    }
    std::ifstream file(options->input, std::ios::binary);
    if (!file) {
        err << "tapbench replay: cannot open '" << options->input << "'\n";
        return kUsageError;
    }
    return Replay(*options, file, out, err);
}

} // namespace tapbench
