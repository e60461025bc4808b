// COM ports of the machine: their hardware, their device nodes (ACPI\PNP0501\<n>, bound to the
// serial port driver) and their interfaces, and the ComPort handle the tests hold.
#include "MachineState.h"

#include <tapkernel/Text.h>

namespace tapmachine {

namespace {

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}
const GUID kComPortInterfaceClass = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

std::u16string Decimal(unsigned number)
{
    return tapkernel::ToUtf16(std::to_string(number));
}

std::u16string PortInstanceId(unsigned number)
{
    return u"ACPI\\PNP0501\\" + Decimal(number);
}

}  // namespace

ComPortSlot &MachineState::Slot(unsigned number)
{
    auto found = ports_.find(number);
    if (found == ports_.end()) {
        throw std::invalid_argument("no COM" + std::to_string(number) + " on this machine");
    }
    return found->second;
}

ComPort &MachineState::AddComPort(unsigned number)
{
    if (number == 0) {
        throw std::invalid_argument("COM ports are numbered from 1");
    }
    ComPortSlot &slot = ports_[number];
    if (!slot.model) {
        slot.model = std::make_unique<ComPortModel>(number, [this] { return Now(); });
        slot.handle.reset(new ComPort(*this, number));
        slot.instanceId = PortInstanceId(number);
    }
    if (slot.present) {
        return *slot.handle;
    }
    if (!OpenKey(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + slot.instanceId, false)) {
        CreateDeviceKey(slot.instanceId, u"*PNP0501", u"Serial", kPortsClassGuid);
        tapkernel::RegistryKeyRef parameters = OpenKey(
            u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + slot.instanceId + u"\\Device Parameters", true);
        std::vector<uint8_t> portName = StringData(u"COM" + Decimal(number));
        registry_->SetValue(parameters, u"PortName", kRegSz, portName.data(), portName.size());
    }
    DeviceNode &node = Node(slot.instanceId);
    if (node.state == DeviceState::SurpriseRemoved) {
        // The port unplugged before is still open: its removal waits for the last handle, and
        // the same port cannot arrive again until it has gone.
        throw std::runtime_error("COM" + std::to_string(number) +
                                 " cannot be plugged in again yet: the port unplugged before is still open");
    }
    node.port = slot.model.get();
    node.hardwarePresent = true;
    slot.present = true;
    NTSTATUS status = StartDevice(slot.instanceId);
    if (!NT_SUCCESS(status)) {
        slot.present = false;
        throw std::runtime_error("COM" + std::to_string(number) + " does not start: status " + std::to_string(status));
    }
    WaitIdle();  // the interface arrival reaches every registered driver
    return *slot.handle;
}

void MachineState::UnplugComPort(unsigned number)
{
    ComPortSlot &slot = Slot(number);
    if (!slot.present) {
        return;
    }
    slot.present = false;
    Node(slot.instanceId).hardwarePresent = false;
    slot.model->CutLine();
    SurpriseRemoveDevice(slot.instanceId);
    WaitIdle();
}

ComPortModel *MachineState::ComPortOf(PDEVICE_OBJECT physicalDevice)
{
    DeviceNode *node = NodeOfPhysicalDevice(physicalDevice, rootBus_);
    return node == nullptr ? nullptr : node->port;
}

void MachineState::SetPortInterfaceState(ComPortModel &port, BOOLEAN enabled)
{
    ComPortSlot &slot = Slot(port.number());
    if (enabled && !slot.interfaceId) {
        std::u16string link = u"\\??\\ACPI#PNP0501#" + Decimal(port.number()) +
                              u"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
        slot.interfaceId = kernel_->RegisterDeviceInterface(kComPortInterfaceClass, link);
    } else if (!enabled && slot.interfaceId) {
        kernel_->RemoveDeviceInterface(*slot.interfaceId);
        slot.interfaceId.reset();
    }
}

// ---- ComPort ---------------------------------------------------------------------------------------

ComPort::ComPort(MachineState &machine, unsigned number) : machine_(machine), number_(number) {}

unsigned ComPort::number() const { return number_; }

std::u16string ComPort::deviceName() const
{
    return u"\\Device\\Serial" + Decimal(number_ - 1);
}

bool ComPort::present() const { return machine_.Slot(number_).present; }

TouchController &ComPort::AttachController(const ControllerOptions &options)
{
    ComPortSlot &slot = machine_.Slot(number_);
    slot.controller = std::make_unique<TouchController>(options, *slot.model);
    return *slot.controller;
}

TouchController &ComPort::controller()
{
    ComPortSlot &slot = machine_.Slot(number_);
    if (!slot.controller) {
        throw std::logic_error("no touch controller behind COM" + std::to_string(number_));
    }
    return *slot.controller;
}

bool ComPort::hasController() const { return machine_.Slot(number_).controller != nullptr; }

void ComPort::DetachController() { machine_.Slot(number_).controller.reset(); }

void ComPort::Feed(const std::vector<uint8_t> &bytes)
{
    ComPortSlot &slot = machine_.Slot(number_);
    Feed(bytes, slot.controller ? slot.controller->lineFormat() : LineFormat{});
}

void ComPort::Feed(const std::vector<uint8_t> &bytes, const LineFormat &format)
{
    machine_.Slot(number_).model->Transmit(bytes.data(), bytes.size(), format);
}

void ComPort::FeedAtOnce(const std::vector<uint8_t> &bytes)
{
    ComPortSlot &slot = machine_.Slot(number_);
    slot.model->ReceiveAtOnce(bytes.data(), bytes.size(), slot.controller ? slot.controller->lineFormat() : LineFormat{});
}

SerialSettings ComPort::settings() const { return machine_.Slot(number_).model->settings(); }

std::vector<SerialRequest> ComPort::requests() const { return machine_.Slot(number_).model->requests(); }

void ComPort::ClearRequests() { machine_.Slot(number_).model->ClearRequests(); }

bool ComPort::open() const { return machine_.Slot(number_).model->open(); }

size_t ComPort::bytesWaiting() const { return machine_.Slot(number_).model->BytesWaiting(); }

void ComPort::SetRefuseInternalSettings(bool refuse)
{
    machine_.Slot(number_).model->SetRefuseInternalSettings(refuse);
}

void ComPort::FailRequest(SerialRequest::Kind kind, uint32_t code, int32_t status, unsigned skip, unsigned count)
{
    machine_.Slot(number_).model->FailRequest(kind, code, status, skip, count);
}

}  // namespace tapmachine
