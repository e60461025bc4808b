// The USB touch devices: plugging one in or out, and installing the stand-in of its driver as its
// INF and the line's installer leave it.
//
// A USB touch device is a node of the USB bus with its hardware ID, and a data pipe that the
// simulated PC wires as a serial bridge port of its own (COM9 for Monousb, COM10 for Polyusb,
// the numbers the stand-ins read, platform/usb) with the touch controller model at its far end.
// Unplugging the device takes the pipe away: the driver keeps its control device and answers as
// a driver without a port does (contact count 0xFF); plugging it in again gives the pipe back.
#include <cstring>

#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "Session.h"
#include "TapShared.h"

namespace tapbench {
namespace {

const std::u16string kServices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const std::u16string kEnum = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";

struct UsbDevice {
    ProductFacts product;
    std::u16string instanceId;
    std::u16string classGuid;
    unsigned pipePort;
};

const UsbDevice kUsbDevices[] = {
    {{"monousb", TAPBENCH_MONOUSB_MODULE, u"Monousb", u"HID\\VID_5C3E&PID_0001", u"\\??\\MonousbSymLnk1",
      tapmachine::Protocol::SingleTouch, true},
     u"HID\\VID_5C3E&PID_0001\\6&1F2E3D4C&0&0000", std::u16string(tapmachine::kMouseClassGuid), 9},
    {{"polyusb", TAPBENCH_POLYUSB_MODULE, u"Polyusb", u"USB\\VID_5C3E&PID_000F", u"\\??\\PolyusbSymLnk1",
      tapmachine::Protocol::MultiTouch, true},
     u"USB\\VID_5C3E&PID_000F\\5&2A1B3C4D&0&1", std::u16string(tapmachine::kHidClassGuid), 10},
};

const UsbDevice &Find(const std::string &word, const char *usage)
{
    for (const UsbDevice &device : kUsbDevices) {
        if (SameWord(word, device.product.word)) {
            return device;
        }
    }
    throw ScenarioError(std::string("usage: ") + usage);
}

Touchscreen Facts(const UsbDevice &usb)
{
    return Touchscreen{&usb.product, usb.pipePort, usb.instanceId, kServices + usb.product.service + u"\\Parameters"};
}

bool PipePresent(ScenarioSession &session, const UsbDevice &usb)
{
    try {
        return session.machine().comPort(usb.pipePort).present();
    } catch (const std::exception &) {
        return false;  // never plugged in
    }
}

// The device on its bus: its node (without a driver until one is installed) and its pipe with
// the controller on the panel as it is now.
void Plug(ScenarioSession &session, const UsbDevice &usb)
{
    tapmachine::Machine &machine = session.machine();
    if (!machine.Device(usb.instanceId)) {
        machine.CreateDevice(usb.instanceId, usb.product.hardwareId, u"", usb.classGuid);
    }
    AttachController(session, Facts(usb));
}

std::vector<uint8_t> Dword(uint32_t value)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

// The stand-in's INF (service, the mouse class above the device, the Parameters it adds) and the
// line's installer (its USB defaults and the user's double-click size).
void WriteInstalledState(tapmachine::Machine &machine, const UsbDevice &usb)
{
    const std::u16string parameters = kServices + usb.product.service + u"\\Parameters";
    const std::u16string node = kEnum + usb.instanceId;
    const bool multiTouch = usb.product.protocol == tapmachine::Protocol::MultiTouch;
    const std::string service = tapkernel::ToUtf8(usb.product.service);
    machine.files().CopyIn(std::string(TAPBENCH_SOURCE_DIR) + "/platform/usb/inf/" + service + ".inf",
                           u"C:\\WINDOWS\\inf\\oem1.inf");
    machine.InstallDriverModule(usb.product.module, usb.product.service, true);
    machine.RequirePoolTag(usb.product.service, 'vdtP');
    machine.SetString(node, u"Service", usb.product.service);
    machine.SetValue(node, u"UpperFilters", REG_MULTI_SZ,
                     {'m', 0, 'o', 0, 'u', 0, 'c', 0, 'l', 0, 'a', 0, 's', 0, 's', 0, 0, 0, 0, 0});
    // The INF's Parameters.
    machine.SetDword(parameters, u"Port", 1);
    machine.SetDword(parameters, u"Enable", 1);
    machine.SetDword(parameters, u"CalibrateMargin", 2);
    if (multiTouch) {
        machine.SetDword(parameters, u"BaudRate", 9600);
        machine.SetDword(parameters, u"FirColor", 3);
        machine.SetDword(parameters, u"SecColor", 3);
    }
    // The installer's defaults for a USB device.
    machine.SetDword(parameters, u"MouseMode", MODE_CLICK_AND_DRAG);
    machine.SetDword(parameters, u"InterActTime", 0);
    machine.SetDword(parameters, u"BeepMode", BEEP_OFF);
    machine.SetDword(parameters, u"BeepFreq", 0);
    machine.SetDword(parameters, u"BeepTime", 0);
    machine.SetDword(parameters, u"DblClickRegion", 30);
    std::vector<uint8_t> calibration(sizeof(CalibrationData), 0);
    if (multiTouch) {
        const int32_t fields[] = {19571, 410528, 1295, 396454, 0, 1024, 768};
        std::memcpy(calibration.data(), fields, sizeof fields);
    } else {
        machine.SetDword(parameters, u"Port", 1);
    }
    machine.SetValue(parameters, u"Calibration", REG_BINARY, calibration);
    if (!multiTouch) {
        machine.SetValue(parameters, u"CalibrateMargin", REG_BINARY, Dword(2));
    }
    machine.SetString(parameters, u"OemInfPath", u"C:\\WINDOWS\\inf\\oem1.inf");
    const std::u16string mouse = u"HKEY_CURRENT_USER\\Control Panel\\Mouse";
    const std::vector<uint8_t> thirty = {'3', 0, '0', 0};
    machine.SetValue(mouse, u"DoubleClickHeight", REG_SZ, thirty);
    machine.SetValue(mouse, u"DoubleClickWidth", REG_SZ, thirty);
}

// install monousb|polyusb: the device plugged in (if it is not) and its stand-in driver installed
// on it and started; the finger goes to it.
void InstallUsb(ScenarioSession &session, const UsbDevice &usb)
{
    RequireNotInstalled(session, usb.product);
    if (!*usb.product.module) {
        throw ScenarioError(std::string("this build has no ") + usb.product.word + " module");
    }
    Plug(session, usb);
    WriteInstalledState(session.machine(), usb);
    AddInstalledDevice(session, Facts(usb));
    StartTouchDevice(session);
}

// usb plug|unplug monousb|polyusb
void Usb(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    const char *usage = "usb plug|unplug monousb|polyusb";
    ExpectWords(w, 3, 3, usage);
    const UsbDevice &usb = Find(w[2], usage);
    if (SameWord(w[1], "plug")) {
        if (PipePresent(session, usb)) {
            throw ScenarioError(std::string("the ") + usb.product.word + " device is plugged in already");
        }
        Plug(session, usb);
        session.out() << "usb " << usb.product.word << " plugged in\n";
    } else if (SameWord(w[1], "unplug")) {
        if (!PipePresent(session, usb)) {
            throw ScenarioError(std::string("the ") + usb.product.word + " device is not plugged in");
        }
        session.machine().UnplugComPort(usb.pipePort);
        session.out() << "usb " << usb.product.word << " unplugged\n";
    } else {
        throw ScenarioError(std::string("usage: ") + usage);
    }
}

} // namespace

// The USB half of `install` (DeviceCommands.cpp hands the USB words here): false for other words.
bool InstallUsbDevice(ScenarioSession &session, const std::string &word)
{
    for (const UsbDevice &usb : kUsbDevices) {
        if (SameWord(word, usb.product.word)) {
            InstallUsb(session, usb);
            return true;
        }
    }
    return false;
}

void AddUsbCommands(CommandTable &table)
{
    table.commands.push_back({"usb", Usb});
}

} // namespace tapbench
