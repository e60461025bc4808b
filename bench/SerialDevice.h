// A real serial port of this Linux machine (/dev/ttyS0, /dev/ttyUSB0, or a pseudo-terminal), set
// to a driver's line settings and read as a byte stream: the bench's way to a physical touch
// controller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <machine/SerialLine.h>

namespace tapbench {

class SerialDevice {
public:
    // Opens PATH, which must be a terminal, and sets it raw to the line settings (no flow
    // control, receiver on, modem lines ignored). Nothing, and `error` set, when it cannot.
    static std::unique_ptr<SerialDevice> Open(const std::string &path, const tapmachine::LineFormat &line,
                                              std::string &error);
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // Waits for bytes and appends what arrived. False at the end of the stream: the far end hung
    // up, the read failed, or Stop() was called (from a signal handler too).
    bool Read(std::vector<uint8_t> &bytes);

    // Ends a Read that is waiting, and every later one.
    static void Stop();

private:
    explicit SerialDevice(int fd) : fd_(fd) {}
    int fd_;
};

// "9600 8N1": the settings as an engineer writes them.
std::string DescribeLine(const tapmachine::LineFormat &line);

} // namespace tapbench
