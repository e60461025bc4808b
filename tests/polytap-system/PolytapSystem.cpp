#include "PolytapSystem.h"

#include "MachinePorts.h"

namespace polytaptest {

CalibrationData PixelCalibration()
{
    return CalibrationData{0, 1024 * 100, 0, 768 * 100, 0, 1024, 768};
}

int32_t AbsoluteX(uint32_t rawX)
{
    return static_cast<int32_t>(std::min<uint32_t>(rawX, 1024) * 65535u / 1024);
}

int32_t AbsoluteY(uint32_t rawY)
{
    return static_cast<int32_t>(std::min<uint32_t>(rawY, 768) * 65535u / 768);
}

tapmachine::PixelPoint CursorFor(uint32_t rawX, uint32_t rawY)
{
    return {tapmachine::MouseInput::AbsoluteToPixel(AbsoluteX(rawX), 1024),
            tapmachine::MouseInput::AbsoluteToPixel(AbsoluteY(rawY), 768)};
}

std::vector<uint8_t> Packet(uint8_t status, tapmachine::RawContact first)
{
    tapmachine::MultiTouchPacket packet;
    packet.status = status;
    packet.contactCount = 1;
    packet.contacts[0] = first;
    return tapmachine::EncodePacket(packet);
}

std::vector<uint8_t> Packet(uint8_t status, tapmachine::RawContact first, tapmachine::RawContact second)
{
    tapmachine::MultiTouchPacket packet;
    packet.status = status;
    packet.contactCount = 2;
    packet.contacts[0] = first;
    packet.contacts[1] = second;
    return tapmachine::EncodePacket(packet);
}

Reply ControlRequest(tapmachine::Machine &machine, const std::u16string &link, ULONG code, const void *input,
                     ULONG inputLength, ULONG outputLength)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    Reply reply;
    PFILE_OBJECT file = nullptr;
    reply.status = kernel.OpenFile(link, GENERIC_READ | GENERIC_WRITE, &file);
    if (!NT_SUCCESS(reply.status)) {
        return reply;
    }
    reply.output.assign(outputLength, 0xCD);
    reply.status = kernel.DeviceIoControl(file, code, input, inputLength, outputLength ? reply.output.data() : nullptr,
                                          outputLength, &reply.information);
    kernel.CloseFile(file);
    machine.WaitIdle();
    return reply;
}

PolytapMachine::PolytapMachine(std::vector<unsigned> comPorts, tapmachine::MachineOptions options)
    : machine(machinetest::WithComPorts(std::move(comPorts), std::move(options)))
{
    machine.InstallDriverModule(POLYTAP_MODULE, u"Polytap");
    machine.RequirePoolTag(u"Polytap", kPoolTag);
    node = machine.CreateRootDevice(u"*Polytap", u"Polytap");
    SetParameter(u"Port", 1);
    SetParameter(u"Enable", 1);
    SetParameter(u"BaudRate", 9600);
    SetCalibration(PixelCalibration());
}

void PolytapMachine::SetParameter(const char16_t *name, uint32_t value)
{
    machine.SetDword(kPolytapParameters, name, value);
}

void PolytapMachine::SetCalibration(const CalibrationData &calibration)
{
    std::vector<uint8_t> data(sizeof calibration);
    std::memcpy(data.data(), &calibration, sizeof calibration);
    machine.SetValue(kPolytapParameters, u"Calibration", REG_BINARY, data);
}

std::optional<uint32_t> PolytapMachine::ParameterDword(const char16_t *name)
{
    auto value = machine.Value(kPolytapParameters, name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(uint32_t)) {
        return std::nullopt;
    }
    uint32_t dword = 0;
    std::memcpy(&dword, value->data.data(), sizeof dword);
    return dword;
}

tapmachine::TouchController &PolytapMachine::AttachController(unsigned port)
{
    tapmachine::ControllerOptions options;
    options.protocol = tapmachine::Protocol::MultiTouch;
    return machine.comPort(port).AttachController(options);
}

void PolytapMachine::Start()
{
    ASSERT_EQ(machine.StartDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
}

tapkernel::DriverModule *PolytapMachine::Module()
{
    auto info = machine.Device(node);
    if (!info || info->physicalDevice == nullptr) {
        return nullptr;
    }
    PDEVICE_OBJECT mouse = static_cast<PDEVICE_OBJECT>(info->physicalDevice)->AttachedDevice;
    return mouse ? tapkernel::Kernel::Current().ModuleOf(mouse->DriverObject) : nullptr;
}

ContactFrame PolytapMachine::TakeFrame()
{
    Reply reply = Control(IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, sizeof(ContactFrame));
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.information, sizeof(ContactFrame));
    return reply.As<ContactFrame>();
}

std::vector<ContactFrame> PolytapMachine::TakeFrames()
{
    std::vector<ContactFrame> frames;
    for (int i = 0; i < 100; ++i) {
        ContactFrame frame = TakeFrame();
        if (frame.ContactCount == CONTACT_COUNT_NONE_QUEUED || frame.ContactCount == CONTACT_COUNT_DATA_MODE_OFF ||
            frame.ContactCount == CONTACT_COUNT_NO_PORT) {
            break;
        }
        frames.push_back(frame);
    }
    return frames;
}

void PolytapMachine::Feed(const std::vector<uint8_t> &bytes, unsigned port)
{
    tapmachine::ComPort &comPort = machine.comPort(port);
    comPort.Feed(bytes, comPort.settings().line);
    machine.Settle();
}

std::vector<tapmachine::MouseRecord> PolytapMachine::TakeRecords()
{
    return machine.mouse().TakeRecords();
}

unsigned PolytapMachine::OpenPort()
{
    return machinetest::OpenComPort(machine);
}

size_t PolytapMachine::Reads(unsigned port)
{
    return machinetest::ReadsIssued(machine.comPort(port));
}

std::vector<tapmachine::SerialRequest> PolytapMachine::ControlRequests(unsigned port, ULONG code)
{
    std::vector<tapmachine::SerialRequest> found;
    for (const auto &request : machine.comPort(port).requests()) {
        if (request.kind == tapmachine::SerialRequest::Kind::DeviceControl && request.code == code) {
            found.push_back(request);
        }
    }
    return found;
}

}  // namespace polytaptest
