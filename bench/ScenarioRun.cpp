#include "ScenarioRun.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <machine/Machine.h>
#include <tapkernel/Text.h>
#include <tapkernel/Kernel.h>

#include "ByteStream.h"
#include "ReplayOutput.h"
#include "TapShared.h"
#include "tap/desktop/Desktop.h"
#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

namespace tapbench {
namespace {

using tap::ui::host::WindowEvent;
using tapmachine::Ticks;

// The programs of this build: name, folder under the Windows directory, host module.
const std::vector<ExtraProgram> kPrograms = {
#include "BenchPrograms.inc"
};

// What the installer leaves for each line; see Install().
struct LineFacts {
    const char *word;
    const char *module;
    std::u16string service;
    std::u16string hardwareId;
    std::u16string controlLink;
    tapmachine::Protocol protocol;
};

const LineFacts kLines[] = {
    {"monotap", TAPBENCH_MONOTAP_MODULE, u"Monotap", u"*Monotap", u"\\??\\MonotapSymLnk1",
     tapmachine::Protocol::SingleTouch},
    {"polytap", TAPBENCH_POLYTAP_MODULE, u"Polytap", u"*Polytap", u"\\??\\PolytapSymLnk1",
     tapmachine::Protocol::MultiTouch},
};

const std::u16string kServices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

// A command that cannot be carried out: the run stops.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SameWord(const std::string &a, const std::string &b)
{
    return Lower(a) == Lower(b);
}

int64_t Number(const std::string &word, const char *what)
{
    try {
        size_t used = 0;
        long long value = std::stoll(word, &used, 0);
        if (used == word.size()) {
            return value;
        }
    } catch (const std::exception &) {
    }
    throw ScenarioError(std::string("'") + word + "' is not a number (" + what + ")");
}

std::string Quoted(const std::string &text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string Hex6(tap::desktop::Rgb rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

std::string RectText(const tap::desktop::Rect &r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

const char *AnswerName(int answer)
{
    switch (answer) {
    case tap::ui::answer::Ok: return "OK";
    case tap::ui::answer::Cancel: return "Cancel";
    case tap::ui::answer::Yes: return "Yes";
    case tap::ui::answer::No: return "No";
    default: return "?";
    }
}

// One line of the transcript with the moment it happened; lines of one moment keep the order
// of their kinds.
struct Event {
    Ticks time;
    int kind;
    std::string text;
};

enum EventKind { kProcessStarted, kWindowCreated, kMessageBoxShown, kReport, kBeep, kMessageBoxClosed,
                 kWindowDestroyed, kProcessEnded };

class ScenarioRunner {
public:
    ScenarioRunner(std::ostream &out, const std::vector<ExtraProgram> &extraPrograms)
        : out_(out), machine_(BootOptions()), programs_(kPrograms)
    {
        programs_.insert(programs_.end(), extraPrograms.begin(), extraPrograms.end());
        panel_.screenWidth = machine_.screenWidth();
        panel_.screenHeight = machine_.screenHeight();
        for (const ExtraProgram &program : programs_) {
            machine_.InstallProgram(program.module, ProgramPath(program), true);
        }
        machine_.WaitIdle();
    }

    int Run(const std::vector<ScenarioLine> &lines, std::ostream &err)
    {
        for (const ScenarioLine &line : lines) {
            out_ << "> " << line.text << '\n';
            try {
                Execute(line);
                machine_.WaitIdle();
                PrintEvents();
            } catch (const std::exception &error) {
                // A command that cannot be carried out, or the machine refusing one.
                PrintEvents();
                out_.flush();
                err << "tapbench run: line " << line.number << ": " << error.what() << '\n';
                return kScenarioError;
            }
        }
        out_ << (failures_ ? std::to_string(failures_) + " expectation(s) failed" : std::string("all expectations met"))
             << '\n';
        out_.flush();
        return failures_ ? kExpectationFailed : kScenarioPassed;
    }

private:
    static tapmachine::MachineOptions BootOptions()
    {
        tapmachine::MachineOptions options;
        options.comPorts = {1, 2};
        return options;
    }

    static std::u16string ProgramPath(const ExtraProgram &program)
    {
        return u"C:\\WINDOWS\\" + tapkernel::ToUtf16(program.folder) + u"\\" + tapkernel::ToUtf16(program.name) +
               u".exe";
    }

    void Execute(const ScenarioLine &line)
    {
        const std::vector<std::string> &w = line.words;
        const std::string command = Lower(w[0]);
        if (command == "install") {
            Install(w);
        } else if (command == "panel") {
            Panel(w);
        } else if (command == "calibration") {
            Calibration(w);
        } else if (command == "registry") {
            Registry(w);
        } else if (command == "restart") {
            Expect(w, 1, 1, "restart");
            Restart();
        } else if (command == "start") {
            Start(w);
        } else if (command == "touch" || command == "move" || command == "lift" || command == "tap" ||
                   command == "hold") {
            Finger(command, w);
        } else if (command == "mouse") {
            Mouse(w);
        } else if (command == "key") {
            Key(w);
        } else if (command == "answer") {
            Answer(w);
        } else if (command == "advance") {
            Expect(w, 2, 2, "advance MS");
            int64_t ms = Number(w[1], "milliseconds");
            if (ms < 0) {
                throw ScenarioError("the clock does not run backwards");
            }
            machine_.Advance(std::chrono::milliseconds(ms));
        } else if (command == "wait") {
            Expect(w, 1, 1, "wait");
        } else if (command == "snapshot") {
            Expect(w, 2, 2, "snapshot FILE.png");
            if (!machine_.desktop().SavePng(w[1])) {
                throw ScenarioError("cannot write " + w[1]);
            }
            out_ << "snapshot " << w[1] << '\n';
        } else if (command == "expect") {
            Check(line);
        } else {
            throw ScenarioError("unknown command '" + w[0] + "'");
        }
    }

    static void Expect(const std::vector<std::string> &w, size_t least, size_t most, const char *usage)
    {
        if (w.size() < least || w.size() > most) {
            throw ScenarioError(std::string("usage: ") + usage);
        }
    }

    // ---- The touch device --------------------------------------------------------------------

    struct Touchscreen {
        const LineFacts *line;
        unsigned port;
        std::u16string node;
        std::u16string parameters;
    };

    // The device as the package's INF and installer leave it: the driver file and service, the
    // Parameters defaults the installer writes, the user's double-click size, a root-enumerated
    // node in the Mouse class, started; the controller on the port.
    void Install(const std::vector<std::string> &w)
    {
        Expect(w, 2, 3, "install monotap|polytap [COMn]");
        if (device_) {
            throw ScenarioError("a touch device is installed already");
        }
        const LineFacts *line = nullptr;
        for (const LineFacts &candidate : kLines) {
            if (SameWord(w[1], candidate.word)) {
                line = &candidate;
            }
        }
        if (!line) {
            throw ScenarioError("install monotap or polytap, not '" + w[1] + "'");
        }
        unsigned port = 1;
        if (w.size() == 3) {
            if (Lower(w[2]).rfind("com", 0) != 0) {
                throw ScenarioError("a port is named COMn, not '" + w[2] + "'");
            }
            int64_t number = Number(w[2].substr(3), "port");
            if (number < 1 || number > 256) {
                throw ScenarioError("no port " + w[2]);
            }
            port = static_cast<unsigned>(number);
        }
        if (!*line->module) {
            throw ScenarioError(std::string("this build has no ") + line->word + " module");
        }
        Touchscreen device{line, port, {}, kServices + line->service + u"\\Parameters"};
        AttachController(device);
        // The INF as the installer copies it into the system's store, and the driver file.
        const std::string inf = std::string(TAPBENCH_SOURCE_DIR) + "/sys/" + tapkernel::ToUtf8(line->service) + "/" +
                                tapkernel::ToUtf8(line->service) + ".inf";
        machine_.files().CopyIn(inf, u"C:\\WINDOWS\\inf\\oem0.inf");
        machine_.InstallDriverModule(line->module, line->service, true);
        machine_.RequirePoolTag(line->service, 'vdtP');
        WriteInstallerDefaults(device);
        device.node = machine_.CreateRootDevice(line->hardwareId, line->service);
        device_ = device;
        StartDevice();
    }

    void AttachController(const Touchscreen &device)
    {
        bool present = false;
        try {
            present = machine_.comPort(device.port).present();
        } catch (const std::exception &) {
            // never plugged in
        }
        if (!present) {
            machine_.AddComPort(device.port);
        }
        tapmachine::ControllerOptions options;
        options.protocol = device.line->protocol;
        options.geometry = panel_;
        machine_.comPort(device.port).AttachController(options);
    }

    void WriteInstallerDefaults(const Touchscreen &device)
    {
        const std::u16string &key = device.parameters;
        auto dword = [&](const char16_t *name, uint32_t value) { machine_.SetDword(key, name, value); };
        auto binary = [&](const char16_t *name, std::vector<uint8_t> bytes) {
            machine_.SetValue(key, name, REG_BINARY, bytes);
        };
        const bool multiTouch = device.line->protocol == tapmachine::Protocol::MultiTouch;
        dword(u"MouseMode", MODE_CLICK_AND_DRAG);
        dword(u"InterActTime", 0);
        dword(u"BeepMode", BEEP_OFF);
        dword(u"BeepFreq", 0);
        dword(u"BeepTime", 0);
        dword(u"DblClickRegion", 30);
        if (multiTouch) {
            // The multi-touch installer's calibration: raw edges 195.71, 4105.28, 12.95, 3964.54.
            binary(u"Calibration", CalibrationBytes({19571, 410528, 1295, 396454, 0, 1024, 768}));
        } else {
            dword(u"Port", device.port);
            binary(u"Calibration", std::vector<uint8_t>(sizeof(CalibrationData), 0));
            binary(u"CalibrateMargin", {2, 0, 0, 0});
        }
        machine_.SetString(key, u"OemInfPath", u"C:\\WINDOWS\\inf\\oem0.inf");
        dword(u"Port", device.port);
        if (multiTouch) {
            dword(u"BaudRate", 9600);  // what a serial controller of the line speaks
            dword(u"Enable", 1);
        } else {
            binary(u"Enable", {1, 0, 0, 0});  // the port passed the installer's test
        }
        // "30" as two bytes without a terminating NUL, as the installer stores it.
        const std::u16string mouse = u"HKEY_CURRENT_USER\\Control Panel\\Mouse";
        const std::vector<uint8_t> thirty = {'3', 0, '0', 0};
        machine_.SetValue(mouse, u"DoubleClickHeight", REG_SZ, thirty);
        machine_.SetValue(mouse, u"DoubleClickWidth", REG_SZ, thirty);
    }

    static std::vector<uint8_t> CalibrationBytes(const std::vector<int32_t> &fields)
    {
        std::vector<uint8_t> bytes(fields.size() * 4);
        std::memcpy(bytes.data(), fields.data(), bytes.size());
        return bytes;
    }

    void StartDevice()
    {
        int32_t status = machine_.StartDevice(device_->node);
        machine_.Settle();
        out_ << "device " << tapkernel::ToUtf8(device_->node) << ' ' << tapkernel::ToUtf8(device_->line->service);
        if (status != 0) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
            out_ << " failed to start: " << text << '\n';
            throw ScenarioError("the device did not start");
        }
        out_ << " started, COM" << device_->port << (machine_.comPort(device_->port).open() ? " open" : " closed")
             << '\n';
    }

    // Removes the device and adds it again: AddDevice reads the Parameters key anew.
    void Restart()
    {
        RequireDevice();
        int32_t status = machine_.RemoveDevice(device_->node);
        if (status != 0) {
            throw ScenarioError("the device refused to be removed");
        }
        StartDevice();
    }

    void RequireDevice()
    {
        if (!device_) {
            throw ScenarioError("no touch device is installed");
        }
    }

    void Panel(const std::vector<std::string> &w)
    {
        tapmachine::PanelGeometry panel;
        panel.screenWidth = machine_.screenWidth();
        panel.screenHeight = machine_.screenHeight();
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
        panel_ = panel;
        if (device_) {
            machine_.comPort(device_->port).controller().SetGeometry(panel_);
        }
    }

    // The Calibration value, and the same record sent to the running driver, as the calibration
    // program stores it and puts it in force.
    void Calibration(const std::vector<std::string> &w)
    {
        RequireDevice();
        std::vector<int32_t> fields;
        if (w.size() == 2 && SameWord(w[1], "panel")) {
            tapmachine::IdealCalibration ideal = panel_.Calibration();
            fields = {ideal.rawXStart, ideal.rawXEnd, ideal.rawYStart, ideal.rawYEnd,
                      ideal.orientation, ideal.screenWidth, ideal.screenHeight};
        } else {
            Expect(w, 8, 8, "calibration A B C D O W H | calibration panel");
            for (size_t i = 1; i < 8; ++i) {
                fields.push_back(static_cast<int32_t>(Number(w[i], "calibration field")));
            }
        }
        std::vector<uint8_t> bytes = CalibrationBytes(fields);
        machine_.SetValue(device_->parameters, u"Calibration", REG_BINARY, bytes);
        int32_t status = Control(IOCTL_TOUCH_SET_CALIBRATION, bytes.data(), static_cast<uint32_t>(bytes.size()));
        std::ostringstream line;
        line << "calibration";
        for (int32_t field : fields) {
            line << ' ' << field;
        }
        out_ << line.str() << (status == 0 ? " in force" : " stored, the driver did not take it") << '\n';
    }

    int32_t Control(uint32_t code, void *input, uint32_t inputLength)
    {
        tapkernel::Kernel &kernel = machine_.kernel();
        PFILE_OBJECT file = nullptr;
        NTSTATUS status = kernel.OpenFile(device_->line->controlLink, GENERIC_READ | GENERIC_WRITE, &file);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ULONG_PTR information = 0;
        status = kernel.DeviceIoControl(file, code, input, inputLength, nullptr, 0, &information);
        kernel.CloseFile(file);
        return status;
    }

    void Registry(const std::vector<std::string> &w)
    {
        if (w.size() != 6 || !SameWord(w[1], "set")) {
            throw ScenarioError("usage: registry set ROOT\\KEY NAME dword|binary|sz VALUE");
        }
        const std::u16string key = tapkernel::ToUtf16(w[2]);
        const std::u16string name = tapkernel::ToUtf16(w[3]);
        const std::string type = Lower(w[4]);
        try {
            if (type == "dword") {
                machine_.SetDword(key, name, static_cast<uint32_t>(Number(w[5], "dword")));
            } else if (type == "sz") {
                machine_.SetString(key, name, tapkernel::ToUtf16(w[5]));
            } else if (type == "binary") {
                machine_.SetValue(key, name, REG_BINARY, HexBytes(w[5]));
            } else {
                throw ScenarioError("a value is dword, binary or sz, not '" + w[4] + "'");
            }
        } catch (const std::invalid_argument &error) {
            throw ScenarioError(error.what());
        }
    }

    // "01,02,ff" or "0102ff": the replay's hex text, with commas allowed between bytes.
    static std::vector<uint8_t> HexBytes(std::string text)
    {
        const std::string given = text;
        std::replace(text.begin(), text.end(), ',', ' ');
        std::istringstream in(text);
        std::string error;
        std::optional<std::vector<uint8_t>> bytes = ParseHexStream(in, error);
        if (!bytes || given.find('#') != std::string::npos) {
            throw ScenarioError("'" + given + "' is not hex bytes");
        }
        return *bytes;
    }

    // ---- Programs ----------------------------------------------------------------------------

    void Start(const std::vector<std::string> &w)
    {
        if (w.size() < 2) {
            throw ScenarioError("usage: start PROGRAM [ARGUMENTS...]");
        }
        const ExtraProgram *found = nullptr;
        std::string known;
        for (const ExtraProgram &program : programs_) {
            if (SameWord(w[1], program.name)) {
                found = &program;
            }
            known += (known.empty() ? "" : ", ") + program.name;
        }
        if (!found) {
            throw ScenarioError("no program '" + w[1] + "' in this build (" + known + ")");
        }
        std::string arguments;
        for (size_t i = 2; i < w.size(); ++i) {
            arguments += (i > 2 ? " " : "") + w[i];
        }
        machine_.StartProcess(ProgramPath(*found), arguments);
    }

    // ---- The finger, the mouse and the keyboard ------------------------------------------------

    tapmachine::PixelPoint Point(const std::string &x, const std::string &y)
    {
        return {static_cast<int>(Number(x, "x")), static_cast<int>(Number(y, "y"))};
    }

    void Finger(const std::string &command, const std::vector<std::string> &w)
    {
        RequireDevice();
        tapmachine::TouchController &finger = machine_.comPort(device_->port).controller();
        if (command == "lift") {
            Expect(w, 1, 1, "lift");
            if (!finger.touching()) {
                throw ScenarioError("no finger is on the panel");
            }
            finger.Lift();
        } else if (command == "hold") {
            Expect(w, 4, 4, "hold X Y N");
            tapmachine::PixelPoint at = Point(w[1], w[2]);
            int64_t packets = Number(w[3], "packets");
            if (packets < 1) {
                throw ScenarioError("hold sends at least one packet");
            }
            // The finger stays at X,Y for N touching packets, landing or moving there with the first.
            if (!finger.touching()) {
                finger.Touch(at);
                --packets;
            } else if (!(fingerAt_ == at)) {
                finger.Move(at);
                --packets;
            }
            if (packets > 0) {
                finger.Hold(static_cast<unsigned>(packets));
            }
            fingerAt_ = at;
        } else {
            Expect(w, 3, 3, "touch|move|tap X Y");
            tapmachine::PixelPoint at = Point(w[1], w[2]);
            if (command == "touch") {
                finger.Touch(at);
            } else if (command == "move") {
                if (!finger.touching()) {
                    throw ScenarioError("move needs a finger on the panel (touch first)");
                }
                finger.Move(at);
            } else {
                finger.Tap(at);
            }
            fingerAt_ = at;
        }
        machine_.Settle();
    }

    void Mouse(const std::vector<std::string> &w)
    {
        Expect(w, 4, 5, "mouse click|down|up X Y [left|right|middle]");
        tapmachine::PixelPoint at = Point(w[2], w[3]);
        tapmachine::MouseButton button = tapmachine::MouseButton::Left;
        if (w.size() == 5) {
            const std::string name = Lower(w[4]);
            if (name == "right") {
                button = tapmachine::MouseButton::Right;
            } else if (name == "middle") {
                button = tapmachine::MouseButton::Middle;
            } else if (name != "left") {
                throw ScenarioError("a mouse button is left, right or middle, not '" + w[4] + "'");
            }
        }
        const std::string action = Lower(w[1]);
        if (action == "click") {
            machine_.Click(at, button);
        } else if (action == "down") {
            machine_.MouseDown(at, button);
        } else if (action == "up") {
            machine_.MouseUp(at, button);
        } else {
            throw ScenarioError("mouse click, down or up, not '" + w[1] + "'");
        }
    }

    void Key(const std::vector<std::string> &w)
    {
        Expect(w, 2, 2, "key Esc|Enter|Tab|Space");
        const std::string name = Lower(w[1]);
        uint32_t key = name == "esc" ? tap::desktop::kKeyEscape
                     : name == "enter" ? tap::desktop::kKeyEnter
                     : name == "tab" ? tap::desktop::kKeyTab
                     : name == "space" ? tap::desktop::kKeySpace : 0;
        if (!key) {
            throw ScenarioError("no key '" + w[1] + "' (Esc, Enter, Tab, Space)");
        }
        machine_.KeyPress(key);
    }

    void Answer(const std::vector<std::string> &w)
    {
        Expect(w, 2, 2, "answer Yes|No|OK|Cancel");
        const std::string name = Lower(w[1]);
        int answer = name == "yes" ? tap::ui::answer::Yes
                   : name == "no" ? tap::ui::answer::No
                   : name == "ok" ? tap::ui::answer::Ok
                   : name == "cancel" ? tap::ui::answer::Cancel : 0;
        if (!answer) {
            throw ScenarioError("answer Yes, No, OK or Cancel, not '" + w[1] + "'");
        }
        if (machine_.windowSystem().OpenMessageBoxes().empty()) {
            throw ScenarioError("no message box is open");
        }
        machine_.windowSystem().AnswerMessageBox(answer);
    }

    // ---- Expectations --------------------------------------------------------------------------

    void Check(const ScenarioLine &line)
    {
        const std::vector<std::string> &w = line.words;
        if (w.size() < 2) {
            throw ScenarioError("usage: expect messagebox|window|no-window|cursor|pixel|report|no-report ...");
        }
        const std::string what = Lower(w[1]);
        std::optional<std::string> failure;
        if (what == "messagebox") {
            Expect(w, 3, 3, "expect messagebox \"TEXT\"");
            failure = CheckMessageBox(w[2]);
        } else if (what == "window") {
            failure = CheckWindow(w);
        } else if (what == "no-window") {
            Expect(w, 3, 3, "expect no-window \"CAPTION\"");
            for (const WindowFacts &window : Windows()) {
                if (window.caption == w[2]) {
                    failure = "saw " + Describe(window);
                }
            }
        } else if (what == "cursor") {
            Expect(w, 4, 4, "expect cursor X Y");
            tapmachine::PixelPoint want = Point(w[2], w[3]);
            tap::desktop::Point cursor = machine_.desktop().Cursor();
            if (cursor.x != want.x || cursor.y != want.y) {
                failure = "the cursor is at " + std::to_string(cursor.x) + " " + std::to_string(cursor.y);
            }
        } else if (what == "pixel") {
            Expect(w, 5, 5, "expect pixel X Y RRGGBB");
            failure = CheckPixel(Point(w[2], w[3]), w[4]);
        } else if (what == "report") {
            failure = CheckReport(line);
        } else if (what == "no-report") {
            Expect(w, 2, 2, "expect no-report");
            if (!reports_.empty()) {
                failure = "saw " + reports_.front() + (reports_.size() > 1 ? " and more" : "");
            }
            reports_.clear();
        } else {
            throw ScenarioError("nothing to expect called '" + w[1] + "'");
        }
        if (failure) {
            ++failures_;
            out_ << "FAILED line " << line.number << ": " << line.text << "\n  " << *failure << '\n';
        }
    }

    std::optional<std::string> CheckMessageBox(const std::string &text)
    {
        std::string open;
        for (const tap::ui::host::MessageBoxRecord &box : machine_.windowSystem().OpenMessageBoxes()) {
            if (box.text == text) {
                return std::nullopt;
            }
            open += (open.empty() ? "" : ", ") + Quoted(box.text);
        }
        return open.empty() ? std::string("no message box is open") : "open: " + open;
    }

    struct WindowFacts {
        std::string caption;
        std::string program;
        tap::desktop::Rect rect;
        tap::desktop::Rect client;
        bool topmost = false;
    };

    // The shown top-level windows, from the top of the Z order down.
    std::vector<WindowFacts> Windows()
    {
        std::map<tap::ui::WindowHandle, std::string> programs;
        for (const WindowEvent &event : machine_.windowSystem().WindowEvents()) {
            programs[event.window] = event.program;
        }
        std::vector<WindowFacts> windows;
        tap::ui::host::Session &system = machine_.windowSystem();
        for (tap::ui::WindowHandle handle : system.TopLevelWindows()) {
            tap::desktop::WindowId id = system.DesktopIdOf(handle);
            if (!machine_.desktop().IsShown(id)) {
                continue;
            }
            WindowFacts facts;
            facts.caption = tap::ui::WindowRef(handle).Text();
            facts.program = programs[handle];
            facts.rect = machine_.desktop().ScreenWindowRect(id);
            facts.client = machine_.desktop().ScreenClientRect(id);
            facts.topmost = system.IsTopmost(handle);
            windows.push_back(facts);
        }
        return windows;
    }

    static std::string Describe(const WindowFacts &window)
    {
        return "window " + Quoted(window.caption) + (window.program.empty() ? "" : " program " + window.program) +
               " rect " + RectText(window.rect) + " client " + RectText(window.client) +
               (window.topmost ? " topmost" : "");
    }

    // expect window "CAPTION" [program NAME] [rect L T R B] [client L T R B] [topmost]
    std::optional<std::string> CheckWindow(const std::vector<std::string> &w)
    {
        const char *usage = "expect window \"CAPTION\" [program NAME] [rect L T R B] [client L T R B] [topmost]";
        if (w.size() < 3) {
            throw ScenarioError(std::string("usage: ") + usage);
        }
        std::optional<std::string> program;
        std::optional<tap::desktop::Rect> rect, client;
        bool topmost = false;
        auto readRect = [&](size_t at) {
            return tap::desktop::Rect{static_cast<int>(Number(w[at], "left")), static_cast<int>(Number(w[at + 1], "top")),
                                      static_cast<int>(Number(w[at + 2], "right")),
                                      static_cast<int>(Number(w[at + 3], "bottom"))};
        };
        for (size_t i = 3; i < w.size(); ++i) {
            const std::string word = Lower(w[i]);
            if (word == "program" && i + 1 < w.size()) {
                program = w[++i];
            } else if ((word == "rect" || word == "client") && i + 4 < w.size()) {
                (word == "rect" ? rect : client) = readRect(i + 1);
                i += 4;
            } else if (word == "topmost") {
                topmost = true;
            } else {
                throw ScenarioError(std::string("usage: ") + usage);
            }
        }
        std::vector<WindowFacts> windows = Windows();
        for (const WindowFacts &window : windows) {
            if (window.caption == w[2] && (!program || SameWord(*program, window.program)) &&
                (!rect || *rect == window.rect) && (!client || *client == window.client) &&
                (!topmost || window.topmost)) {
                return std::nullopt;
            }
        }
        if (windows.empty()) {
            return std::string("no window is shown");
        }
        std::string seen = "saw";
        for (const WindowFacts &window : windows) {
            seen += "\n    " + Describe(window);
        }
        return seen;
    }

    std::optional<std::string> CheckPixel(tapmachine::PixelPoint at, const std::string &color)
    {
        if (color.size() != 6 || color.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            throw ScenarioError("a colour is RRGGBB in hex, not '" + color + "'");
        }
        tap::desktop::Desktop &desktop = machine_.desktop();
        tap::desktop::Size screen = desktop.ScreenSize();
        if (at.x < 0 || at.y < 0 || at.x >= screen.cx || at.y >= screen.cy) {
            throw ScenarioError("the pixel is off the screen");
        }
        tap::desktop::Rgb pixel;
        {
            auto lock = desktop.LockScreen();
            pixel = desktop.Screen().Pixel(at.x, at.y);
        }
        const tap::desktop::Rgb want = static_cast<tap::desktop::Rgb>(std::stoul(color, nullptr, 16));
        if ((pixel & 0xFFFFFF) == want) {
            return std::nullopt;
        }
        return "the pixel is " + Hex6(pixel);
    }

    // The reports since the last one matched, in order: the expected one may come after others,
    // which it passes over.
    std::optional<std::string> CheckReport(const ScenarioLine &line)
    {
        if (line.words.size() < 3) {
            throw ScenarioError("usage: expect report flags=... buttons=... x=... y=...");
        }
        std::string want = "report";
        for (size_t i = 2; i < line.words.size(); ++i) {
            want += " " + line.words[i];
        }
        auto match = std::find(reports_.begin(), reports_.end(), want);
        if (match != reports_.end()) {
            reports_.erase(reports_.begin(), match + 1);
            return std::nullopt;
        }
        if (reports_.empty()) {
            return std::string("no report since the last one matched");
        }
        std::string seen = "saw";
        for (const std::string &report : reports_) {
            seen += "\n    " + report;
        }
        return seen;
    }

    // ---- The transcript ------------------------------------------------------------------------

    void PrintEvents()
    {
        std::vector<Event> events;
        for (const tapmachine::MouseRecord &record : machine_.mouse().TakeRecords()) {
            std::string text = FormatReport(record.flags, record.buttonFlags, record.lastX, record.lastY);
            reports_.push_back(text);
            events.push_back({Moment(record.time), kReport, text});
        }
        for (const tapmachine::BeepRecord &beep : machine_.TakeBeeps()) {
            events.push_back({Moment(beep.time), kBeep, FormatBeep(beep.frequency, beep.duration)});
        }
        std::vector<WindowEvent> windowEvents = machine_.windowSystem().WindowEvents();
        for (size_t i = windowEventsSeen_; i < windowEvents.size(); ++i) {
            const WindowEvent &event = windowEvents[i];
            const Ticks time = static_cast<Ticks>(event.time) * tapmachine::kTicksPerMillisecond;
            const std::string owner = event.program.empty() ? "" : " (" + event.program + ")";
            switch (event.kind) {
            case WindowEvent::Kind::WindowCreated:
                events.push_back({time, kWindowCreated, "window created " + Quoted(event.caption) + owner});
                break;
            case WindowEvent::Kind::WindowDestroyed:
                events.push_back({time, kWindowDestroyed, "window destroyed " + Quoted(event.caption) + owner});
                break;
            case WindowEvent::Kind::MessageBoxShown:
                events.push_back({time, kMessageBoxShown,
                                  "messagebox " + Quoted(event.text) + " caption " + Quoted(event.caption) + owner});
                break;
            case WindowEvent::Kind::MessageBoxClosed:
                events.push_back({time, kMessageBoxClosed,
                                  "messagebox closed " + Quoted(event.text) + " answer " + AnswerName(event.answer)});
                break;
            }
        }
        windowEventsSeen_ = windowEvents.size();
        for (const tapmachine::ProcessInfo &process : machine_.processes()) {
            int &printed = processesPrinted_[process.id];
            if (printed == 0) {
                std::string line = "process started " + process.name + " " + tapkernel::ToUtf8(process.imagePath);
                if (!process.commandLine.empty()) {
                    line += " " + Quoted(process.commandLine);
                }
                events.push_back({Moment(process.started), kProcessStarted, line});
                printed = 1;
            }
            if (printed == 1 && !process.running) {
                events.push_back({Moment(process.ended), kProcessEnded,
                                  "process ended " + process.name + " exit " + std::to_string(process.exitCode)});
                printed = 2;
            }
        }
        std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) {
            return a.time != b.time ? a.time < b.time : a.kind < b.kind;
        });
        for (const Event &event : events) {
            out_ << event.text << '\n';
        }
    }

    // Window events carry milliseconds: everything is ordered at that grain.
    static Ticks Moment(Ticks time) { return time / tapmachine::kTicksPerMillisecond * tapmachine::kTicksPerMillisecond; }

    std::ostream &out_;
    tapmachine::Machine machine_;
    std::vector<ExtraProgram> programs_;
    tapmachine::PanelGeometry panel_;
    std::optional<Touchscreen> device_;
    tapmachine::PixelPoint fingerAt_;
    std::deque<std::string> reports_;  // printed, not yet passed by an `expect report`
    size_t windowEventsSeen_ = 0;
    std::map<uint32_t, int> processesPrinted_;  // 1: its start, 2: its end too
    int failures_ = 0;
};

} // namespace

int RunScenario(const std::vector<ScenarioLine> &lines, std::ostream &out, std::ostream &err,
                const std::vector<ExtraProgram> &extraPrograms)
{
    ScenarioRunner runner(out, extraPrograms);
    return runner.Run(lines, err);
}

const char *RunUsage()
{
    return "usage: tapbench run SCENARIO|-\n";
}

int RunScenarioCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.size() != 1) {
        err << RunUsage();
        return kScenarioError;
    }
    std::ifstream file;
    std::istream *in = &std::cin;
    if (args[0] != "-") {
        file.open(args[0]);
        if (!file) {
            err << "tapbench run: cannot open '" << args[0] << "'\n";
            return kScenarioError;
        }
        in = &file;
    }
    std::string error;
    std::optional<std::vector<ScenarioLine>> lines = ParseScenario(*in, error);
    if (!lines) {
        err << "tapbench run: " << args[0] << ": " << error << '\n';
        return kScenarioError;
    }
    return RunScenario(*lines, out, err);
}

} // namespace tapbench
