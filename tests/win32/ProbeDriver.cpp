// The Probe driver, written against the DDK headers of the kernel stand-in and loaded straight
// into the running kernel (no device node).
#include "ProbeDriver.h"

#include <ntddk.h>
#include <tapkernel/Kernel.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace probe {

namespace {

std::mutex mutex;
std::condition_variable changed;
std::vector<Request> requests;
Reply reply;
bool holdNext = false;
PIRP heldIrp = nullptr;
PDRIVER_OBJECT driverObject = nullptr;
PDEVICE_OBJECT devices[2] = {};

UNICODE_STRING String(const wchar_t *text)
{
    UNICODE_STRING string;
    RtlInitUnicodeString(&string, text);
    return string;
}

// Writes the reply into the request's buffer and completes it. The IRP is the caller's.
void CompleteWithReply(PIRP irp, const Reply &answer)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (stack->MajorFunction == IRP_MJ_READ) {
        buffer = irp->UserBuffer;
        room = stack->Parameters.Read.Length;
    }
    size_t count = std::min<size_t>(answer.output.size(), room);
    if (buffer != nullptr && count != 0) {
        std::memcpy(buffer, answer.output.data(), count);
    }
    irp->IoStatus.Status = answer.status;
    irp->IoStatus.Information = answer.information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Request request;
    request.major = stack->MajorFunction;
    request.fileObject = stack->FileObject;
    switch (stack->MajorFunction) {
    case IRP_MJ_DEVICE_CONTROL:
        request.code = stack->Parameters.DeviceIoControl.IoControlCode;
        request.inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
        request.outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
        request.systemBuffer = irp->AssociatedIrp.SystemBuffer != nullptr;
        if (request.systemBuffer) {
            auto *bytes = static_cast<const uint8_t *>(irp->AssociatedIrp.SystemBuffer);
            request.input.assign(bytes, bytes + request.inputLength);
        }
        break;
    case IRP_MJ_READ:
        request.outputLength = stack->Parameters.Read.Length;
        break;
    case IRP_MJ_WRITE:
        request.inputLength = stack->Parameters.Write.Length;
        if (irp->UserBuffer != nullptr) {
            auto *bytes = static_cast<const uint8_t *>(irp->UserBuffer);
            request.input.assign(bytes, bytes + request.inputLength);
        }
        break;
    default:
        break;
    }
    Reply answer;
    bool hold = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL || stack->MajorFunction == IRP_MJ_READ ||
            stack->MajorFunction == IRP_MJ_WRITE) {
            answer = reply;
            hold = holdNext;
            holdNext = false;
            if (hold) {
                // Pending before anyone can see it: Release may complete it at once.
                IoMarkIrpPending(irp);
                heldIrp = irp;
            }
        }
        changed.notify_all();
    }
    if (hold) {
        return STATUS_PENDING;
    }
    if (stack->MajorFunction == IRP_MJ_WRITE && answer.information == 0 && NT_SUCCESS(answer.status)) {
        answer.information = stack->Parameters.Write.Length;
    }
    NTSTATUS status = answer.status;
    CompleteWithReply(irp, answer);
    return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT)
{
    for (int i = 0; i < 2; ++i) {
        UNICODE_STRING link = String(i == 0 ? L"\\??\\Win32Probe" : L"\\??\\Win32ProbeExclusive");
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(devices[i]);
        devices[i] = nullptr;
    }
}

NTSTATUS NTAPI Entry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (int i = 0; i < 2; ++i) {
        UNICODE_STRING name = String(i == 0 ? L"\\Device\\Win32Probe" : L"\\Device\\Win32ProbeExclusive");
        UNICODE_STRING link = String(i == 0 ? L"\\??\\Win32Probe" : L"\\??\\Win32ProbeExclusive");
        NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, i == 1, &devices[i]);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        IoCreateSymbolicLink(&link, &name);
    }
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_CLEANUP, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_DEVICE_CONTROL}) {
        driver->MajorFunction[major] = Dispatch;
    }
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

} // namespace

void Load()
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    tapkernel::DriverModule *module = kernel.CreateModule("Win32Probe");
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.clear();
        reply = Reply{};
        holdNext = false;
        heldIrp = nullptr;
    }
    NTSTATUS status = kernel.LoadDriver(module, u"\\Driver\\Win32Probe", Entry,
                                        u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Win32Probe",
                                        &driverObject);
    if (!NT_SUCCESS(status)) {
        tapkernel::BugCheck("probe::Load", "DriverEntry failed with 0x%08x", static_cast<unsigned>(status));
    }
}

void Unload()
{
    if (driverObject != nullptr) {
        tapkernel::Kernel::Current().UnloadDriver(driverObject);
        driverObject = nullptr;
    }
}

void SetReply(const Reply &answer)
{
    std::lock_guard<std::mutex> lock(mutex);
    reply = answer;
}

std::vector<Request> Requests()
{
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

void ClearRequests()
{
    std::lock_guard<std::mutex> lock(mutex);
    requests.clear();
}

void HoldNextRequest()
{
    std::lock_guard<std::mutex> lock(mutex);
    holdNext = true;
}

void WaitUntilHeld()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [] { return heldIrp != nullptr; });
}

void Release()
{
    PIRP irp;
    Reply answer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        irp = heldIrp;
        heldIrp = nullptr;
        answer = reply;
    }
    if (irp != nullptr) {
        CompleteWithReply(irp, answer);
    }
}

bool DeleteRegistryTree(const char16_t *kernelPath)
{
    tapkernel::RegistryStore &store = tapkernel::Kernel::Current().Registry();
    tapkernel::RegistryKeyRef key = store.OpenKernelPath(kernelPath);
    return key != nullptr && store.DeleteTree(key);
}

} // namespace probe
