// The touch device: installing it as the package leaves it, the panel's geometry, the
// calibration program's record, restarting it; and the transcript's reports and beeps.
#include <cstring>
#include <sstream>

#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "BenchInstaller.h"
#include "ReplayOutput.h"
#include "Session.h"
#include "TapShared.h"

namespace tapbench {
namespace {

const ProductFacts kProducts[] = {
    {"monotap", TAPBENCH_MONOTAP_MODULE, u"Monotap", u"*Monotap", u"\\??\\MonotapSymLnk1",
     tapmachine::Protocol::SingleTouch},
    {"polytap", TAPBENCH_POLYTAP_MODULE, u"Polytap", u"*Polytap", u"\\??\\PolytapSymLnk1",
     tapmachine::Protocol::MultiTouch},
};

const std::u16string kServices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

std::vector<uint8_t> CalibrationBytes(const std::vector<int32_t> &fields)
{
    std::vector<uint8_t> bytes(fields.size() * 4);
    std::memcpy(bytes.data(), fields.data(), bytes.size());
    return bytes;
}

} // namespace

void AttachController(ScenarioSession &session, const Touchscreen &device)
{
    tapmachine::Machine &machine = session.machine();
    bool present = false;
    try {
        present = machine.comPort(device.port).present();
    } catch (const std::exception &) {
        // never plugged in
    }
    if (!present) {
        machine.AddComPort(device.port);
    }
    tapmachine::ControllerOptions options;
    options.protocol = device.product->protocol;
    options.geometry = session.panel();
    machine.comPort(device.port).AttachController(options);
}

const ProductFacts &Product(bool multiTouch)
{
    return kProducts[multiTouch ? 1 : 0];
}

void StartTouchDevice(ScenarioSession &session)
{
    tapmachine::Machine &machine = session.machine();
    Touchscreen &device = session.RequireDevice();
    int32_t status = machine.StartDevice(device.node);
    machine.Settle();
    session.out() << "device " << tapkernel::ToUtf8(device.node) << ' ' << tapkernel::ToUtf8(device.product->service);
    if (status != 0) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
        session.out() << " failed to start: " << text << '\n';
        throw ScenarioError("the device did not start");
    }
    const bool open = machine.comPort(device.port).open();
    if (device.product->usb) {
        session.out() << " started, the device's pipe " << (open ? "open" : "closed") << '\n';
    } else {
        session.out() << " started, COM" << device.port << (open ? " open" : " closed") << '\n';
    }
}

void RequireNotInstalled(ScenarioSession &session, const ProductFacts &product)
{
    for (const Touchscreen &installed : session.installed()) {
        if (installed.product == &product) {
            throw ScenarioError(std::string("a ") + product.word + " device is installed already");
        }
    }
}

void AddInstalledDevice(ScenarioSession &session, const Touchscreen &device)
{
    session.installed().push_back(device);
    session.device() = device;
}

unsigned PortNumber(const std::string &word)
{
    if (Lower(word).rfind("com", 0) != 0) {
        throw ScenarioError("a port is named COMn, not '" + word + "'");
    }
    int64_t number = Number(word.substr(3), "port");
    if (number < 1 || number > 256) {
        throw ScenarioError("no port " + word);
    }
    return static_cast<unsigned>(number);
}

namespace {

// The node the installer made for the product: the root-enumerated one with its hardware ID.
std::u16string InstalledNode(tapmachine::Machine &machine, const ProductFacts &product)
{
    for (const tapmachine::DeviceInfo &device : machine.Devices()) {
        if (!device.hardwareIds.empty() && tapkernel::EqualsNoCase(device.hardwareIds[0], product.hardwareId)) {
            return device.instanceId;
        }
    }
    throw ScenarioError("the installer made no " + tapkernel::ToUtf8(product.hardwareId) + " device");
}

// install monotap|polytap [COMn]: the touch controller on the port, then the line's driver
// installed as its installer installs it — from the media at D:\, through the Setup API and
// newdev.dll, with the installer's Parameters defaults (tools/setup's table), the port chosen and
// its test passed, and the group conversion scheduled at Finish. The serial multi-touch line has
// no installer of its own as built (PolySetup installs the USB driver): for it the bench also
// writes Port n and Enable 1, so that its driver reads the port.
void Install(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    ExpectWords(w, 2, 3, "install monotap|polytap [COMn] | install monousb|polyusb");
    if (w.size() == 2 && InstallUsbDevice(session, w[1])) {
        return;
    }
    const ProductFacts *product = nullptr;
    for (const ProductFacts &candidate : kProducts) {
        if (SameWord(w[1], candidate.word)) {
            product = &candidate;
        }
    }
    if (!product) {
        throw ScenarioError("install monotap, polytap, monousb or polyusb, not '" + w[1] + "'");
    }
    RequireNotInstalled(session, *product);
    const unsigned port = w.size() == 3 ? PortNumber(w[2]) : 1;
    if (!*product->module) {
        throw ScenarioError(std::string("this build has no ") + product->word + " module");
    }
    if (session.device() && session.device()->node.empty() && session.device()->port != port) {
        throw ScenarioError("the touch controller is on COM" + std::to_string(session.device()->port));
    }
    tapmachine::Machine &machine = session.machine();
    Touchscreen device{product, port, {}, kServices + product->service + u"\\Parameters"};
    AttachController(session, device);
    const bool multiTouch = product->protocol == tapmachine::Protocol::MultiTouch;
    if (multiTouch) {
        machine.SetDword(device.parameters, u"Port", port);
        machine.SetDword(device.parameters, u"Enable", 1);
    }
    machine.RequirePoolTag(product->service, 'vdtP');
    if (uint32_t error = InstallSerialLine(multiTouch, port)) {
        throw ScenarioError("the installation failed with error " + std::to_string(error));
    }
    device.node = InstalledNode(machine, *product);
    AddInstalledDevice(session, device);
    StartTouchDevice(session);
}

// restart: removes the device and adds it again; AddDevice reads the Parameters key anew.
void Restart(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 1, 1, "restart");
    if (session.machine().RemoveDevice(session.RequireDevice().node) != 0) {
        throw ScenarioError("the device refused to be removed");
    }
    StartTouchDevice(session);
}

// panel [raw-range X Y] [swap-axes] [mirror-x] [mirror-y]
void Panel(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    tapmachine::PanelGeometry panel;
    panel.screenWidth = session.machine().screenWidth();
    panel.screenHeight = session.machine().screenHeight();
    for (size_t i = 1; i < w.size(); ++i) {
        const std::string word = Lower(w[i]);
        if (word == "raw-range" && i + 2 < w.size()) {
            panel.rawMaxX = static_cast<int>(Number(w[i + 1], "raw X range"));
            panel.rawMaxY = static_cast<int>(Number(w[i + 2], "raw Y range"));
            if (panel.rawMaxX <= panel.rawMin || panel.rawMaxY <= panel.rawMin) {
                throw ScenarioError("a raw range must be above 0");
            }
            i += 2;
        } else if (word == "swap-axes") {
            panel.swapAxes = true;
        } else if (word == "mirror-x") {
            panel.mirrorX = true;
        } else if (word == "mirror-y") {
            panel.mirrorY = true;
        } else {
            throw ScenarioError("usage: panel [raw-range X Y] [swap-axes] [mirror-x] [mirror-y]");
        }
    }
    session.panel() = panel;
    if (session.device()) {
        session.machine().comPort(session.device()->port).controller().SetGeometry(panel);
    }
}

int32_t Control(ScenarioSession &session, uint32_t code, void *input, uint32_t inputLength)
{
    tapkernel::Kernel &kernel = session.machine().kernel();
    PFILE_OBJECT file = nullptr;
    NTSTATUS status = kernel.OpenFile(session.RequireDevice().product->controlLink, GENERIC_READ | GENERIC_WRITE, &file);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ULONG_PTR information = 0;
    status = kernel.DeviceIoControl(file, code, input, inputLength, nullptr, 0, &information);
    kernel.CloseFile(file);
    return status;
}

// calibration A B C D O W H | calibration panel: the Calibration value, and the same record sent
// to the running driver, as the calibration program stores it and puts it in force.
void Calibration(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    Touchscreen &device = session.RequireDevice();
    std::vector<int32_t> fields;
    if (w.size() == 2 && SameWord(w[1], "panel")) {
        tapmachine::IdealCalibration ideal = session.panel().Calibration();
        fields = {ideal.rawXStart, ideal.rawXEnd, ideal.rawYStart, ideal.rawYEnd,
                  ideal.orientation, ideal.screenWidth, ideal.screenHeight};
    } else {
        ExpectWords(w, 8, 8, "calibration A B C D O W H | calibration panel");
        for (size_t i = 1; i < 8; ++i) {
            fields.push_back(static_cast<int32_t>(Number(w[i], "calibration field")));
        }
    }
    std::vector<uint8_t> bytes = CalibrationBytes(fields);
    session.machine().SetValue(device.parameters, u"Calibration", REG_BINARY, bytes);
    int32_t status = Control(session, IOCTL_TOUCH_SET_CALIBRATION, bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::ostringstream text;
    text << "calibration";
    for (int32_t field : fields) {
        text << ' ' << field;
    }
    session.out() << text.str() << (status == 0 ? " in force" : " stored, the driver did not take it") << '\n';
}

void ReportsAndBeeps(ScenarioSession &session, std::vector<TranscriptEvent> &events)
{
    tapmachine::Machine &machine = session.machine();
    for (const tapmachine::MouseRecord &record : machine.mouse().TakeRecords()) {
        std::string text = FormatReport(record.flags, record.buttonFlags, record.lastX, record.lastY);
        session.pendingReports().push_back(text);
        events.push_back({Moment(record.time), kReport, text});
    }
    for (const tapmachine::BeepRecord &beep : machine.TakeBeeps()) {
        events.push_back({Moment(beep.time), kBeep, FormatBeep(beep.frequency, beep.duration)});
    }
}

} // namespace

void AddDeviceCommands(CommandTable &table)
{
    table.commands.push_back({"install", Install});
    table.commands.push_back({"restart", Restart});
    table.commands.push_back({"panel", Panel});
    table.commands.push_back({"calibration", Calibration});
    table.transcript.push_back(ReportsAndBeeps);
}

} // namespace tapbench
