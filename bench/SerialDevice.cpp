#include "SerialDevice.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tapbench {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

// How long a Read waits between looks at the stop flag.
constexpr int kPollMilliseconds = 100;

struct Rate {
    uint32_t baud;
    speed_t speed;
};
constexpr Rate kRates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                           {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

bool SpeedOf(uint32_t baud, speed_t &speed)
{
    for (const Rate &rate : kRates) {
        if (rate.baud == baud) {
            speed = rate.speed;
            return true;
        }
    }
    return false;
}

// The termios record of the line settings: raw bytes, no flow control, no modem lines.
bool Configure(termios &settings, const tapmachine::LineFormat &line, std::string &error)
{
    speed_t speed;
    if (!SpeedOf(line.baudRate, speed)) {
        error = "the driver asked for " + std::to_string(line.baudRate) + " baud, which a Linux serial port does not offer";
        return false;
    }
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (line.wordLength < 5 || line.wordLength > 8) {
        error = "the driver asked for " + std::to_string(line.wordLength) + " data bits";
        return false;
    }
    if (line.parity == tapmachine::kMarkParity || line.parity == tapmachine::kSpaceParity ||
        line.stopBits == tapmachine::kOneAndHalfStopBits) {
        error = "the driver asked for " + DescribeLine(line) + ", which termios cannot set";
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= kSizes[line.wordLength - 5] | CREAD | CLOCAL;
    if (line.parity != tapmachine::kNoParity) {
        settings.c_cflag |= PARENB | (line.parity == tapmachine::kOddParity ? PARODD : 0);
        settings.c_iflag |= INPCK;
    }
    if (line.stopBits == tapmachine::kTwoStopBits) {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return true;
}

} // namespace

std::string DescribeLine(const tapmachine::LineFormat &line)
{
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char *const kStop[] = {"1", "1.5", "2"};
    std::string text = std::to_string(line.baudRate) + " " + std::to_string(line.wordLength);
    text += line.parity < sizeof kParity ? kParity[line.parity] : '?';
    text += line.stopBits < 3 ? kStop[line.stopBits] : "?";
    return text;
}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string &path, const tapmachine::LineFormat &line,
                                                 std::string &error)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<SerialDevice> device(new SerialDevice(fd));
    termios settings;
    if (tcgetattr(fd, &settings) != 0) {
        error = "'" + path + "' is not a serial port: " + std::strerror(errno);
        return nullptr;
    }
    if (!Configure(settings, line, error)) {
        return nullptr;
    }
    // Bytes that arrived before the port was set are of unknown framing: they are dropped.
    if (tcsetattr(fd, TCSAFLUSH, &settings) != 0) {
        error = "cannot set '" + path + "' to " + DescribeLine(line) + ": " + std::strerror(errno);
        return nullptr;
    }
    return device;
}

SerialDevice::~SerialDevice()
{
    ::close(fd_);
}

bool SerialDevice::Read(std::vector<uint8_t> &bytes)
{
    while (!stopRequested) {
        pollfd wait = {fd_, POLLIN, 0};
        int ready = ::poll(&wait, 1, kPollMilliseconds);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return false;
        }
        if (ready == 0) {
            continue;
        }
        uint8_t buffer[256];
        ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count > 0) {
            bytes.insert(bytes.end(), buffer, buffer + count);
            return true;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        return false; // hung up (0, or EIO from a pseudo-terminal whose far end closed)
    }
    return false;
}

void SerialDevice::Stop()
{
    stopRequested = 1;
}

} // namespace tapbench
