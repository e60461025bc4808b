#include "KernelFixture.h"

namespace kerneltest {

namespace {

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto *extension = static_cast<TestExtension *>(device->DeviceExtension);
    return (*extension->handler)(device, irp);
}

NTSTATUS NTAPI TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (PDRIVER_DISPATCH &routine : driver->MajorFunction) {
        routine = Dispatch;
    }
    return STATUS_SUCCESS;
}

} // namespace

UNICODE_STRING Name(const wchar_t *text)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, text);
    return name;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void KernelFixture::SetUp()
{
    kernel = std::make_unique<tapkernel::Kernel>();
    module = kernel->CreateModule("TestDriver");
    ASSERT_EQ(STATUS_SUCCESS, kernel->LoadDriver(module, u"\\Driver\\TestDriver", TestDriverEntry,
                                                 u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\TestDriver",
                                                 &driver));
}

void KernelFixture::TearDown()
{
    kernel.reset();
}

PDEVICE_OBJECT KernelFixture::CreateDevice(Handler handler, const wchar_t *name, bool exclusive, ULONG flags)
{
    handlers_.push_back(std::move(handler));
    UNICODE_STRING deviceName = Name(name);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TestExtension), name != nullptr ? &deviceName : nullptr,
                                     FILE_DEVICE_UNKNOWN, 0, exclusive, &device);
    EXPECT_EQ(STATUS_SUCCESS, status);
    if (device == nullptr) {
        return nullptr;
    }
    static_cast<TestExtension *>(device->DeviceExtension)->handler = &handlers_.back();
    device->Flags |= flags;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return device;
}

PDEVICE_OBJECT KernelFixture::CreateFilter(PDEVICE_OBJECT lower, Handler handler)
{
    PDEVICE_OBJECT filter = CreateDevice(std::move(handler));
    EXPECT_EQ(lower, IoAttachDeviceToDeviceStack(filter, lower));
    return filter;
}

std::vector<UCHAR> KeptReads::Majors()
{
    std::lock_guard<std::mutex> hold(lock);
    return majors;
}

PIRP KeptReads::TakeRead()
{
    std::lock_guard<std::mutex> hold(lock);
    PIRP taken = read;
    read = nullptr;
    return taken;
}

PDEVICE_OBJECT KernelFixture::CreateReadKeepingDevice(const wchar_t *name, KeptReads *kept)
{
    return CreateDevice(
        [kept](PDEVICE_OBJECT, PIRP irp) {
            PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
            PIRP cancelled = nullptr;
            {
                std::lock_guard<std::mutex> hold(kept->lock);
                kept->majors.push_back(stack->MajorFunction);
                if (stack->MajorFunction == IRP_MJ_READ) {
                    IoMarkIrpPending(irp);
                    kept->read = irp;
                    return STATUS_PENDING;
                }
                if (stack->MajorFunction == IRP_MJ_CLOSE) {
                    kept->closeThread = std::this_thread::get_id();
                }
                if (stack->MajorFunction == IRP_MJ_CLEANUP && kept->completeAtCleanup && kept->read != nullptr &&
                    IoGetCurrentIrpStackLocation(kept->read)->FileObject == stack->FileObject) {
                    std::swap(cancelled, kept->read);
                }
            }
            if (cancelled != nullptr) {
                Complete(cancelled, STATUS_CANCELLED);
            }
            return Complete(irp, STATUS_SUCCESS);
        },
        name);
}

PKTHREAD KernelFixture::StartRead(PFILE_OBJECT file, NTSTATUS *status)
{
    tapkernel::Kernel *running = kernel.get();
    return kernel->StartThread("reader", [running, file, status] {
        UCHAR buffer[4] = {};
        ULONG_PTR information = 0;
        *status = running->Read(file, buffer, sizeof buffer, &information);
    });
}

void KernelFixture::Join(PKTHREAD thread)
{
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);
}

} // namespace kerneltest
