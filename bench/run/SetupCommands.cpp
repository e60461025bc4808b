// The hardware of a fresh machine and what installing on it leaves: the touch controller on a
// COM port with nothing installed; expectations about device nodes, files and processes; and the
// transcript's lines of the system's log (device nodes made and started, drivers loaded, INF
// files stored, files copied by a queue, reboot prompts).
#include <tapkernel/Text.h>

#include "Session.h"

namespace tapbench {
namespace {

using Outcome = std::optional<std::string>;

// controller COMn [single-touch|multi-touch]: the touch controller plugged into COMn (the port
// made if the machine lacks it); the finger reaches it whatever is installed.
void Controller(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 2, 3, "controller COMn [single-touch|multi-touch]");
    bool multiTouch = false;
    if (w.size() == 3) {
        if (!SameWord(w[2], "single-touch") && !SameWord(w[2], "multi-touch")) {
            throw ScenarioError("a controller is single-touch or multi-touch, not '" + w[2] + "'");
        }
        multiTouch = SameWord(w[2], "multi-touch");
    }
    if (session.device()) {
        throw ScenarioError("a touch device is there already");
    }
    const ProductFacts &product = Product(multiTouch);
    Touchscreen device{&product, PortNumber(w[1]), {},
                       u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + product.service + u"\\Parameters"};
    AttachController(session, device);
    session.device() = device;
    session.out() << "controller on COM" << device.port << '\n';
}

const char *StateName(tapmachine::DeviceState state)
{
    switch (state) {
    case tapmachine::DeviceState::Started: return "started";
    case tapmachine::DeviceState::Stopped: return "stopped";
    case tapmachine::DeviceState::SurpriseRemoved: return "surprise-removed";
    case tapmachine::DeviceState::Failed: return "failed";
    case tapmachine::DeviceState::NotStarted: break;
    }
    return "not-started";
}

std::vector<tapmachine::DeviceInfo> DevicesWithId(ScenarioSession &session, const std::string &hardwareId)
{
    std::vector<tapmachine::DeviceInfo> found;
    for (const tapmachine::DeviceInfo &device : session.machine().Devices()) {
        for (const std::u16string &id : device.hardwareIds) {
            if (tapkernel::EqualsNoCase(id, tapkernel::ToUtf16(hardwareId))) {
                found.push_back(device);
                break;
            }
        }
    }
    return found;
}

std::string Describe(const tapmachine::DeviceInfo &device)
{
    return tapkernel::ToUtf8(device.instanceId) + " " + StateName(device.state) +
           (device.service.empty() ? " without a service" : " service " + tapkernel::ToUtf8(device.service));
}

// expect device HWID [started|not-started] [service NAME]
Outcome DeviceThere(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const char *usage = "expect device HWID [started|not-started] [service NAME]";
    if (w.size() < 3) {
        throw ScenarioError(std::string("usage: ") + usage);
    }
    std::optional<bool> started;
    std::optional<std::string> service;
    for (size_t i = 3; i < w.size(); ++i) {
        if (SameWord(w[i], "started") || SameWord(w[i], "not-started")) {
            started = SameWord(w[i], "started");
        } else if (SameWord(w[i], "service") && i + 1 < w.size()) {
            service = w[++i];
        } else {
            throw ScenarioError(std::string("usage: ") + usage);
        }
    }
    std::vector<tapmachine::DeviceInfo> devices = DevicesWithId(session, w[2]);
    std::string seen;
    for (const tapmachine::DeviceInfo &device : devices) {
        bool isStarted = device.state == tapmachine::DeviceState::Started;
        if ((!started || *started == isStarted) &&
            (!service || tapkernel::EqualsNoCase(device.service, tapkernel::ToUtf16(*service)))) {
            return std::nullopt;
        }
        seen += (seen.empty() ? "" : ", ") + Describe(device);
    }
    return seen.empty() ? "no device has the hardware ID " + w[2] : "seen: " + seen;
}

// expect no-device HWID
Outcome NoDevice(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect no-device HWID");
    std::vector<tapmachine::DeviceInfo> devices = DevicesWithId(session, line.words[2]);
    return devices.empty() ? Outcome() : Outcome("there is " + Describe(devices.front()));
}

// expect file PATH: a file on one of the machine's drives.
Outcome FileThere(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect file PATH");
    std::optional<std::string> host = session.machine().files().HostPath(tapkernel::ToUtf16(line.words[2]));
    if (!host) {
        throw ScenarioError("not a path on a drive of the machine: " + line.words[2]);
    }
    return session.machine().files().Exists(tapkernel::ToUtf16(line.words[2])) ? Outcome()
                                                                               : Outcome("no such file");
}

// expect process "COMMAND LINE": a process was started with this program name and command line
// ("runonce -r"), compared without case.
Outcome ProcessStarted(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 3, 3, "expect process \"COMMAND LINE\"");
    std::string seen;
    for (const tapmachine::ProcessInfo &process : session.machine().processes()) {
        std::string command = process.name + (process.commandLine.empty() ? "" : " " + process.commandLine);
        if (SameWord(command, line.words[2])) {
            return std::nullopt;
        }
        seen += (seen.empty() ? "" : ", ") + QuotedText(command);
    }
    return seen.empty() ? std::string("no process was started") : "started: " + seen;
}

void SystemEvents(ScenarioSession &session, std::vector<TranscriptEvent> &events)
{
    for (const tapmachine::SystemEvent &event : session.machine().TakeSystemEvents()) {
        events.push_back({Moment(event.time), kSystemEvent, event.text});
    }
}

} // namespace

void AddSetupCommands(CommandTable &table)
{
    table.commands.push_back({"controller", Controller});
    table.expectations.push_back({"device", DeviceThere});
    table.expectations.push_back({"no-device", NoDevice});
    table.expectations.push_back({"file", FileThere});
    table.expectations.push_back({"process", ProcessStarted});
    table.transcript.push_back(SystemEvents);
}

} // namespace tapbench
