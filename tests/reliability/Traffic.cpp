#include "Traffic.h"

#include <algorithm>
#include <random>

namespace reliability {

Traffic::Traffic(LineMachine &rig) : rig_(rig) {}

Traffic::~Traffic()
{
    Stop();
}

void Traffic::StartFeeding(unsigned port)
{
    stop_ = false;
    threads_.emplace_back([this, port] { Feed(port); });
}

void Traffic::StartControlThreads(unsigned count, PFILE_OBJECT held)
{
    stop_ = false;
    for (unsigned i = 0; i < count; ++i) {
        threads_.emplace_back([this, i, held] { SendControlCodes(i + 1, held); });
    }
}

void Traffic::Stop()
{
    stop_ = true;
    for (std::thread &thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

void Traffic::Feed(unsigned port)
{
    tapmachine::ComPort &line = rig_.machine.comPort(port);
    uint16_t x = 0;
    while (!stop_) {
        // The next packet when the last one has been read (or lost with a closed port), as a
        // controller's pace gives a reader time to keep up.
        if (paused_ || line.bytesWaiting() != 0) {
            std::this_thread::yield();
            continue;
        }
        line.FeedAtOnce(TouchPacket(rig_.line, x % 5 != 4, x, static_cast<uint16_t>(4095 - x)));
        ++packets_;
        x = static_cast<uint16_t>((x + 37) % 4096);
        // A breath between packets (a real line brings one every 10 ms), which also leaves the
        // machine the idle moments its PnP operations wait for.
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

void Traffic::SendControlCodes(unsigned seed, PFILE_OBJECT held)
{
    std::mt19937 random(seed);
    const Line &line = rig_.line;
    std::vector<uint8_t> settings(line.settingsSize, 0);
    settings[0] = MODE_CLICK_AND_DRAG;
    settings[24] = 1; // Port
    if (line.multiTouch) {
        settings[28] = 0x80; // BaudRate 9600
        settings[29] = 0x25;
    }
    CalibrationData calibration = {0, 409500, 0, 409500, 0, 1024, 768};
    const uint8_t port[4] = {1, 0, 0, 0};
    const uint8_t baud[4] = {0x80, 0x25, 0, 0};
    const uint8_t beep[8] = {0x70, 3, 0, 0, 1, 0, 0, 0};
    struct Request {
        ULONG code;
        const void *input;
        ULONG inputLength;
        ULONG outputLength;
    };
    std::vector<Request> requests = {
        {IOCTL_TOUCH_GET_RAW_SAMPLE, nullptr, 0, sizeof(RawSample)},
        {IOCTL_TOUCH_SET_RIGHT_CLICK, nullptr, 0, 0},
        {IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, 4},
        {IOCTL_TOUCH_SET_SETTINGS, settings.data(), line.settingsSize, 0},
        {IOCTL_TOUCH_SET_CALIBRATION, &calibration, sizeof calibration, 0},
        {IOCTL_TOUCH_BEEP, beep, sizeof beep, 0},
        {IOCTL_TOUCH_CLOSE_PORT, nullptr, 0, 0},
        {IOCTL_TOUCH_OPEN_PORT, port, sizeof port, 0},
        {IOCTL_TOUCH_OPEN_PORT, port, sizeof port, 0},
    };
    if (line.multiTouch) {
        requests.push_back({IOCTL_TOUCH_START_DATA_MODE, nullptr, 0, 0});
        requests.push_back({IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, sizeof(ContactFrame)});
        requests.push_back({IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, sizeof(ContactFrame)});
        requests.push_back({IOCTL_TOUCH_STOP_DATA_MODE, nullptr, 0, 0});
        requests.push_back({IOCTL_TOUCH_SET_BAUD_RATE, baud, sizeof baud, 0});
        requests.push_back({IOCTL_TOUCH_PROBE, nullptr, 0, 4});
    } else {
        requests.push_back({IOCTL_TOUCH_START_DATA_MODE, nullptr, 0, 4});
    }
    tapkernel::Kernel &kernel = rig_.machine.kernel();
    while (!stop_) {
        const Request &request = requests[random() % requests.size()];
        NTSTATUS status;
        if (held != nullptr) {
            status = LineMachine::ControlOn(held, request.code, request.input, request.inputLength,
                                            request.outputLength)
                         .status;
        } else {
            PFILE_OBJECT file = nullptr;
            status = kernel.OpenFile(line.link, FILE_ALL_ACCESS, &file);
            if (NT_SUCCESS(status)) {
                status = LineMachine::ControlOn(file, request.code, request.input, request.inputLength,
                                                request.outputLength)
                             .status;
                kernel.CloseFile(file);
            }
        }
        ++requests_;
        {
            std::lock_guard<std::mutex> held(statusesLock_);
            ++statuses_[status];
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::map<NTSTATUS, uint64_t> Traffic::Statuses()
{
    std::lock_guard<std::mutex> held(statusesLock_);
    return statuses_;
}

std::vector<NTSTATUS> Traffic::UndefinedStatuses()
{
    // Success; a port that cannot be opened (held by a closing reader, or gone); a baud rate with
    // no port open (multi-touch); a control device that is gone (no link) or going (a held
    // handle after the removal).
    static const NTSTATUS defined[] = {STATUS_SUCCESS, STATUS_UNSUCCESSFUL, STATUS_INVALID_PARAMETER,
                                       STATUS_OBJECT_NAME_NOT_FOUND, STATUS_DELETE_PENDING, STATUS_NO_SUCH_DEVICE};
    std::vector<NTSTATUS> undefined;
    for (const auto &entry : Statuses()) {
        if (std::find(std::begin(defined), std::end(defined), entry.first) == std::end(defined)) {
            undefined.push_back(entry.first);
        }
    }
    return undefined;
}

} // namespace reliability
