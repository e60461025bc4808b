#include "LineRig.h"

#include <ntddmou.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>

namespace reliability {

const Line &Monotap()
{
    static const Line line{"Monotap",      u"Monotap", u"*Monotap", u"\\??\\MonotapSymLnk1", RELIABILITY_MONOTAP_MODULE,
                           tapmachine::Protocol::SingleTouch, sizeof(MonoPointerSettings), false};
    return line;
}

const Line &Polytap()
{
    static const Line line{"Polytap",      u"Polytap", u"*Polytap", u"\\??\\PolytapSymLnk1", RELIABILITY_POLYTAP_MODULE,
                           tapmachine::Protocol::MultiTouch, sizeof(PolyPointerSettings), true};
    return line;
}

std::vector<uint8_t> TouchPacket(const Line &line, bool touching, uint16_t rawX, uint16_t rawY)
{
    if (!line.multiTouch) {
        tapmachine::SingleTouchPacket packet;
        packet.status = touching ? tapmachine::kSingleTouchTouching : tapmachine::kSingleTouchNotTouching;
        packet.rawX = rawX;
        packet.rawY = rawY;
        auto bytes = tapmachine::EncodePacket(packet);
        return {bytes.begin(), bytes.end()};
    }
    tapmachine::MultiTouchPacket packet;
    packet.status = touching ? tapmachine::kMultiTouchTouching : tapmachine::kMultiTouchLift;
    packet.contacts[0] = {rawX, rawY, 0};
    return tapmachine::EncodePacket(packet);
}

namespace {

tapmachine::MachineOptions Options(std::vector<unsigned> comPorts)
{
    tapmachine::MachineOptions options;
    options.comPorts = std::move(comPorts);
    return options;
}

} // namespace

LineMachine::LineMachine(const Line &line, std::vector<unsigned> comPorts)
    : machine(Options(std::move(comPorts))), line(line)
{
    machine.InstallDriverModule(line.module, line.service);
    machine.RequirePoolTag(line.service, 'vdtP');
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    SetParameter(u"BaudRate", 9600);
    tapmachine::ControllerOptions controller;
    controller.protocol = line.protocol;
    machine.comPort(1).AttachController(controller);
    node = machine.CreateRootDevice(line.hardwareId, line.service);
}

LineMachine::~LineMachine()
{
    if (Started()) {
        Remove();
    }
}

std::u16string LineMachine::ParametersKey() const
{
    return u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + line.service + u"\\Parameters";
}

void LineMachine::SetParameter(const char16_t *name, uint32_t value)
{
    machine.SetDword(ParametersKey(), name, value);
}

NTSTATUS LineMachine::Start()
{
    NTSTATUS status = machine.StartDevice(node);
    machine.WaitIdle();
    return status;
}

NTSTATUS LineMachine::Remove()
{
    return machine.RemoveDevice(node);
}

bool LineMachine::Started()
{
    auto info = machine.Device(node);
    return info && info->state == tapmachine::DeviceState::Started;
}

PFILE_OBJECT LineMachine::OpenControlDevice(NTSTATUS *status)
{
    PFILE_OBJECT file = nullptr;
    NTSTATUS opened = machine.kernel().OpenFile(line.link, FILE_ALL_ACCESS, &file);
    if (status != nullptr) {
        *status = opened;
    }
    return NT_SUCCESS(opened) ? file : nullptr;
}

Reply LineMachine::ControlOn(PFILE_OBJECT file, ULONG code, const void *input, ULONG inputLength, ULONG outputLength)
{
    Reply reply;
    reply.output.assign(outputLength, 0xCC);
    reply.status = tapkernel::Kernel::Current().DeviceIoControl(file, code, input, inputLength,
                                                                outputLength ? reply.output.data() : nullptr,
                                                                outputLength, &reply.information);
    return reply;
}

Reply LineMachine::Control(ULONG code, const void *input, ULONG inputLength, ULONG outputLength)
{
    NTSTATUS status;
    PFILE_OBJECT file = OpenControlDevice(&status);
    if (file == nullptr) {
        Reply reply;
        reply.status = status;
        return reply;
    }
    Reply reply = ControlOn(file, code, input, inputLength, outputLength);
    machine.kernel().CloseFile(file);
    machine.WaitIdle();
    return reply;
}

size_t LineMachine::Tap(unsigned port)
{
    machine.mouse().TakeRecords();
    tapmachine::TouchController &controller = machine.comPort(port).controller();
    controller.TouchRaw({1200, 1300});
    controller.MoveRaw({1250, 1350});
    controller.Lift();
    machine.Settle();
    return machine.mouse().TakeRecords().size();
}

unsigned LineMachine::OpenPort()
{
    unsigned open = 0;
    for (unsigned number = 1; number <= 10; ++number) {
        try {
            if (machine.comPort(number).open()) {
                open = number;
            }
        } catch (const std::exception &) {
            // no such port on this machine
        }
    }
    return open;
}

tapkernel::DriverModule *LineMachine::Module()
{
    auto info = machine.Device(node);
    if (!info || info->physicalDevice == nullptr) {
        return nullptr;
    }
    PDEVICE_OBJECT mouse = static_cast<PDEVICE_OBJECT>(info->physicalDevice)->AttachedDevice;
    return mouse ? machine.kernel().ModuleOf(mouse->DriverObject) : nullptr;
}

} // namespace reliability
