#include "MonotapSystem.h"

#include "MachinePorts.h"

#include <tapkernel/Text.h>

#include <cstring>
#include <mutex>

namespace monotaptest {

std::vector<uint8_t> Packet(uint8_t status, uint16_t rawX, uint16_t rawY, uint8_t rawZ)
{
    std::vector<uint8_t> packet = {0x55, 0x00, status, static_cast<uint8_t>(rawX & 0xFF),
                                   static_cast<uint8_t>(rawX >> 8), static_cast<uint8_t>(rawY & 0xFF),
                                   static_cast<uint8_t>(rawY >> 8), rawZ, 0x00};
    uint8_t check = 0xAA;
    for (uint8_t byte : packet) {
        check = static_cast<uint8_t>(check + byte);
    }
    packet.push_back(check);
    return packet;
}

namespace {

struct Completion {
    std::mutex mutex;
    bool done = false;
    NTSTATUS status = 0;
    ULONG_PTR information = 0;

    static NTSTATUS NTAPI Routine(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto *completion = static_cast<Completion *>(context);
        std::lock_guard<std::mutex> lock(completion->mutex);
        completion->done = true;
        completion->status = irp->IoStatus.Status;
        completion->information = irp->IoStatus.Information;
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

} // namespace

MonotapMachine::MonotapMachine(std::vector<unsigned> comPorts, tapmachine::MachineOptions options)
    : machine(machinetest::WithComPorts(std::move(comPorts), std::move(options)))
{
    machine.InstallDriverModule(MONOTAP_MODULE, u"Monotap");
    machine.RequirePoolTag(u"Monotap", kPoolTag);
    node = machine.CreateRootDevice(u"*Monotap", u"Monotap");
}

MonotapMachine::~MonotapMachine() = default;

void MonotapMachine::SetParameter(const char16_t *name, uint32_t value)
{
    machine.SetDword(kParametersKey, name, value);
}

void MonotapMachine::SetCalibration(const CalibrationData &calibration)
{
    std::vector<uint8_t> data(sizeof calibration);
    std::memcpy(data.data(), &calibration, sizeof calibration);
    machine.SetValue(kParametersKey, u"Calibration", 3 /* REG_BINARY */, data);
}

tapmachine::TouchController &MonotapMachine::AttachController(unsigned port)
{
    return machine.comPort(port).AttachController();
}

CalibrationData MonotapMachine::IdealCalibration(const tapmachine::PanelGeometry &geometry)
{
    tapmachine::IdealCalibration ideal = geometry.Calibration();
    return CalibrationData{ideal.rawXStart,   ideal.rawXEnd,     ideal.rawYStart,   ideal.rawYEnd,
                            ideal.orientation, ideal.screenWidth, ideal.screenHeight};
}

void MonotapMachine::Start()
{
    ASSERT_EQ(machine.StartDevice(node), STATUS_SUCCESS);
    machine.WaitIdle();
}

PDEVICE_OBJECT MonotapMachine::PhysicalDevice()
{
    auto info = machine.Device(node);
    return info ? static_cast<PDEVICE_OBJECT>(info->physicalDevice) : nullptr;
}

PDEVICE_OBJECT MonotapMachine::MouseDevice()
{
    PDEVICE_OBJECT pdo = PhysicalDevice();
    return pdo ? pdo->AttachedDevice : nullptr;
}

PDEVICE_OBJECT MonotapMachine::ControlDevice()
{
    return tapkernel::Kernel::Current().FindDevice(u"\\Device\\Monotap0");
}

tapkernel::DriverModule *MonotapMachine::Module()
{
    PDEVICE_OBJECT mouse = MouseDevice();
    return mouse ? tapkernel::Kernel::Current().ModuleOf(mouse->DriverObject) : nullptr;
}

Reply MonotapMachine::Control(ULONG code, const void *input, ULONG inputLength, ULONG outputLength)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    Reply reply;
    PFILE_OBJECT file = nullptr;
    reply.status = kernel.OpenFile(u"\\??\\MonotapSymLnk1", FILE_ALL_ACCESS, &file);
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

Reply MonotapMachine::Send(PDEVICE_OBJECT device, UCHAR majorFunction, ULONG code, const void *input,
                           ULONG inputLength, ULONG outputLength, UCHAR minorFunction, bool noSystemBuffer)
{
    Reply reply;
    Completion completion;
    std::vector<uint8_t> systemBuffer(std::max(inputLength, outputLength) + 1, 0);
    if (input != nullptr) {
        std::memcpy(systemBuffer.data(), input, inputLength);
    }

    // The request gets a stack location of its own, as a driver's request has (a device that
    // skips its location then does not hand the IRP on from the top of the stack); the
    // completion routine sits in that location and so runs last.
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(device->StackSize + 1), FALSE);
    IoSetCompletionRoutine(irp, Completion::Routine, &completion, TRUE, TRUE, TRUE);
    IoSetNextIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->AssociatedIrp.SystemBuffer = (inputLength || outputLength) && !noSystemBuffer ? systemBuffer.data() : nullptr;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = majorFunction;
    next->MinorFunction = minorFunction;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    // METHOD_NEITHER requests (the mouse class's connect) carry the caller's buffer itself.
    next->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void *>(input);
    if (majorFunction == IRP_MJ_POWER) {
        PoCallDriver(device, irp);
    } else {
        IoCallDriver(device, irp);
    }
    machine.WaitIdle();
    {
        std::lock_guard<std::mutex> lock(completion.mutex);
        EXPECT_TRUE(completion.done) << "the request was completed";
        reply.status = completion.status;
        reply.information = completion.information;
    }
    reply.output.assign(systemBuffer.begin(), systemBuffer.begin() + outputLength);
    IoFreeIrp(irp);
    return reply;
}

unsigned MonotapMachine::OpenPort()
{
    return machinetest::OpenComPort(machine);
}

size_t MonotapMachine::ReadsIssued(unsigned port)
{
    return machinetest::ReadsIssued(machine.comPort(port));
}

bool MonotapMachine::LastReadPended(unsigned port)
{
    auto requests = machine.comPort(port).requests();
    for (auto request = requests.rbegin(); request != requests.rend(); ++request) {
        if (request->kind == tapmachine::SerialRequest::Kind::Read) {
            return request->status == STATUS_PENDING;
        }
    }
    return false;
}

void MonotapMachine::PresetPort(unsigned port, const SERIAL_TIMEOUTS &timeouts, const SERIAL_HANDFLOW &handflow)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    PFILE_OBJECT file = nullptr;
    std::u16string name = u"\\??\\COM" + tapkernel::ToUtf16(std::to_string(port));
    ASSERT_EQ(kernel.OpenFile(name, FILE_ALL_ACCESS, &file), STATUS_SUCCESS);
    ULONG_PTR information = 0;
    EXPECT_EQ(kernel.DeviceIoControl(file, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0,
                                     &information),
              STATUS_SUCCESS);
    EXPECT_EQ(kernel.DeviceIoControl(file, IOCTL_SERIAL_SET_HANDFLOW, &handflow, sizeof handflow, nullptr, 0,
                                     &information),
              STATUS_SUCCESS);
    kernel.CloseFile(file);
    machine.WaitIdle();
}

void MonotapMachine::Feed(unsigned port, const std::vector<uint8_t> &bytes)
{
    machine.comPort(port).Feed(bytes);
    machine.Settle();
}

std::vector<tapmachine::MouseRecord> MonotapMachine::TakeRecords()
{
    return machine.mouse().TakeRecords();
}

namespace {

struct SeenRequest {
    PDEVICE_OBJECT device;
    UCHAR major;
    UCHAR minor;
    ULONG code;
};

std::mutex spyMutex;
PDRIVER_OBJECT spiedDriver = nullptr;
PDRIVER_DISPATCH spiedDispatch[IRP_MJ_MAXIMUM_FUNCTION + 1];
std::vector<SeenRequest> seenRequests;

NTSTATUS NTAPI SpyDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PDRIVER_DISPATCH original;
    {
        std::lock_guard<std::mutex> lock(spyMutex);
        seenRequests.push_back({device, stack->MajorFunction, stack->MinorFunction,
                                stack->MajorFunction == IRP_MJ_DEVICE_CONTROL
                                    ? stack->Parameters.DeviceIoControl.IoControlCode
                                    : 0});
        original = spiedDispatch[stack->MajorFunction];
    }
    return original(device, irp);
}

} // namespace

BusSpy::BusSpy(tapmachine::Machine &machine)
{
    PDEVICE_OBJECT anyPhysicalDevice = nullptr;
    for (const tapmachine::DeviceInfo &device : machine.Devices()) {
        if (device.physicalDevice != nullptr && device.instanceId.rfind(u"ROOT\\", 0) == 0) {
            anyPhysicalDevice = static_cast<PDEVICE_OBJECT>(device.physicalDevice);
        }
    }
    if (anyPhysicalDevice == nullptr) {
        for (const tapmachine::DeviceInfo &device : machine.Devices()) {
            if (device.physicalDevice != nullptr) {
                anyPhysicalDevice = static_cast<PDEVICE_OBJECT>(device.physicalDevice);
            }
        }
    }
    std::lock_guard<std::mutex> lock(spyMutex);
    if (anyPhysicalDevice == nullptr) {
        ADD_FAILURE() << "no physical device to find the bus driver by";
        return;
    }
    spiedDriver = anyPhysicalDevice->DriverObject;
    seenRequests.clear();
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        spiedDispatch[major] = spiedDriver->MajorFunction[major];
        spiedDriver->MajorFunction[major] = SpyDispatch;
    }
}

BusSpy::~BusSpy()
{
    std::lock_guard<std::mutex> lock(spyMutex);
    if (spiedDriver == nullptr) {
        return;
    }
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        spiedDriver->MajorFunction[major] = spiedDispatch[major];
    }
    spiedDriver = nullptr;
}

int BusSpy::Count(PDEVICE_OBJECT physicalDevice, UCHAR majorFunction, UCHAR minorFunction) const
{
    std::lock_guard<std::mutex> lock(spyMutex);
    int count = 0;
    for (const SeenRequest &request : seenRequests) {
        count += request.device == physicalDevice && request.major == majorFunction &&
                 (minorFunction == 0xFF || request.minor == minorFunction);
    }
    return count;
}

std::vector<ULONG> BusSpy::ControlCodes(PDEVICE_OBJECT physicalDevice) const
{
    std::lock_guard<std::mutex> lock(spyMutex);
    std::vector<ULONG> codes;
    for (const SeenRequest &request : seenRequests) {
        if (request.device == physicalDevice && request.major == IRP_MJ_DEVICE_CONTROL) {
            codes.push_back(request.code);
        }
    }
    return codes;
}

} // namespace monotaptest
