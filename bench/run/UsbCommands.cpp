// The USB touch devices: plugging one in or out, and installing the stand-in of its driver as its
// INF and the line's installer leave it.
//
// A USB touch device is a node of the USB bus with its hardware ID, and a data pipe that the
// simulated PC wires as a serial bridge port of its own (COM9 for Monousb, COM10 for Polyusb,
// the numbers the stand-ins read, platform/usb) with the touch controller model at its far end.
// Unplugging the device takes the pipe away: the driver keeps its control device and answers as
// a driver without a port does (contact count 0xFF). The driver holds the old pipe until a tool
// closes the port or the device is removed, as with any port that went away; only then can the
// device be plugged in again (before, `usb plug` says the old pipe is still open).
#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "BenchInstaller.h"
#include "Session.h"
#include "TapShared.h"

namespace tapbench {
namespace {

const std::u16string kServices = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

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
    // The pipe first: a pipe that cannot come back yet refuses the plug before the node counts
    // as present.
    AttachController(session, Facts(usb));
    machine.SetHardwarePresent(usb.instanceId, true);
}

// install monousb|polyusb: the device plugged in (if it is not) and the line's USB driver
// installed on it as the line's installer installs it with "USB Controller" chosen, from the
// media at D:\ (the stand-in's INF and file, the installer's defaults, newdev.dll's update of the
// device); started; the finger goes to it.
void InstallUsb(ScenarioSession &session, const UsbDevice &usb)
{
    RequireNotInstalled(session, usb.product);
    if (!*usb.product.module) {
        throw ScenarioError(std::string("this build has no ") + usb.product.word + " module");
    }
    Plug(session, usb);
    tapmachine::Machine &machine = session.machine();
    machine.RequirePoolTag(usb.product.service, 'vdtP');
    if (uint32_t error = InstallUsbLine(usb.product.protocol == tapmachine::Protocol::MultiTouch)) {
        throw ScenarioError("the installation failed with error " + std::to_string(error));
    }
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
        // The finger goes to the device plugged in last, so that it reaches the device once an
        // installer has put its driver on it.
        session.device() = Facts(usb);
        session.out() << "usb " << usb.product.word << " plugged in\n";
    } else if (SameWord(w[1], "unplug")) {
        if (!PipePresent(session, usb)) {
            throw ScenarioError(std::string("the ") + usb.product.word + " device is not plugged in");
        }
        session.machine().SetHardwarePresent(usb.instanceId, false);
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
