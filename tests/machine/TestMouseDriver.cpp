// TestMouse: a small mouse port driver for the machine's tests, loaded by the PnP manager like
// any driver module. It keeps a log of what reached it, takes the mouse class connection,
// answers the attribute query, and lets a test send reports through the class service.
//
// Knobs, read from its Parameters key in AddDevice (REG_DWORD, default 0):
//   FailAddDevice   AddDevice fails with STATUS_INSUFFICIENT_RESOURCES
//   VetoRemove      IRP_MN_QUERY_REMOVE_DEVICE is answered with STATUS_DEVICE_BUSY
//   LeakAtRemove    IRP_MN_REMOVE_DEVICE leaves a pool block behind
//   ReadPort        n: opens COM<n> in AddDevice (9600 8N1, reads that wait) and reads it one
//                   byte at a time with one reused IRP, issuing the next read from the
//                   completion routine; the bytes are kept for the test
//   ControlDevice   AddDevice also creates \Device\TestMouseControl, in no stack, linked as
//                   \DosDevices\TestMouseControl; the removal deletes both. Its device control
//                   requests succeed while the mouse device exists, then STATUS_DELETE_PENDING
// It also registers for COM port interface changes and logs each arrival and removal.
#include <ntddk.h>
#include <kbdmou.h>
#include <ntddmou.h>

#include <initguid.h>
#include <ntddser.h>
#include <wdmguid.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

// Reads "Test" in a pool dump.
#define TEST_POOL_TAG ((ULONG)'T' | ((ULONG)'e' << 8) | ((ULONG)'s' << 16) | ((ULONG)'t' << 24))

namespace {

typedef struct _TEST_EXTENSION {
    PDEVICE_OBJECT Self;
    BOOLEAN IsControl;  // the control device: only Pair below is used
    struct _TEST_EXTENSION *Pair;  // mouse device <-> control device; NULL once removed
    PDEVICE_OBJECT LowerDevice;
    CONNECT_DATA Connection;
    BOOLEAN AttributesQueried;
    ULONG VetoRemove;
    ULONG LeakAtRemove;
    PVOID Buffer;  // a pool block held while the device exists
    PVOID Notification;  // COM port interface changes
    PFILE_OBJECT PortFile;  // the open COM port, referenced; NULL when none
    PDEVICE_OBJECT PortDevice;
    PIRP ReadIrp;
    UCHAR ReadByte;
    volatile LONG ReadOutstanding;  // a read is with the port driver
    KEVENT ReadEnded;  // notification: the last read came back and none follows
} TEST_EXTENSION, *PTEST_EXTENSION;

char Log[4096];
KSPIN_LOCK LogLock;  // notifications arrive on a worker thread; bytes on the port's thread
UCHAR Bytes[256];
ULONG ByteCount;
PDEVICE_OBJECT LastDevice;
PVOID Leaked;

void Note(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Note(const char *format, ...)
{
    KIRQL irql;
    KeAcquireSpinLock(&LogLock, &irql);
    size_t used = std::strlen(Log);
    va_list args;
    va_start(args, format);
    std::vsnprintf(Log + used, sizeof(Log) - used, format, args);
    va_end(args);
    used = std::strlen(Log);
    if (used + 1 < sizeof(Log)) {
        Log[used] = '\n';
        Log[used + 1] = 0;
    }
    KeReleaseSpinLock(&LogLock, irql);
}

void NoteName(const char *what, PCUNICODE_STRING name)
{
    char narrow[256];
    size_t count = name->Length / sizeof(WCHAR);
    if (count >= sizeof(narrow)) {
        count = sizeof(narrow) - 1;
    }
    for (size_t i = 0; i < count; ++i) {
        narrow[i] = static_cast<char>(name->Buffer[i]);
    }
    narrow[count] = 0;
    Note("%s %s", what, narrow);
}

ULONG ReadKnob(PUNICODE_STRING registryPath, PCWSTR name)
{
    ULONG value = 0;
    WCHAR pathBuffer[256];
    UNICODE_STRING path = {0, sizeof(pathBuffer), pathBuffer};
    RtlCopyUnicodeString(&path, registryPath);
    RtlAppendUnicodeToString(&path, L"\\Parameters");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    HANDLE key;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        return 0;
    }
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    ULONG length;
    if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof(buffer), &length))) {
        PKEY_VALUE_PARTIAL_INFORMATION info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
        if (info->DataLength == sizeof(ULONG)) {
            std::memcpy(&value, info->Data, sizeof(ULONG));
        }
    }
    ZwClose(key);
    return value;
}

WCHAR RegistryPathBuffer[256];
UNICODE_STRING RegistryPath = {0, sizeof(RegistryPathBuffer), RegistryPathBuffer};

PTEST_EXTENSION ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<PTEST_EXTENSION>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PassDown(PTEST_EXTENSION extension, PIRP irp)
{
    if (extension->IsControl) {
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER) {
            PoStartNextPowerIrp(irp);
        }
        return Complete(irp, STATUS_SUCCESS);  // nothing below the control device
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(extension->LowerDevice, irp);
}

DRIVER_NOTIFICATION_CALLBACK_ROUTINE ComPortChange;

// System worker thread, PASSIVE_LEVEL.
NTSTATUS NTAPI ComPortChange(PVOID notification, PVOID)
{
    PDEVICE_INTERFACE_CHANGE_NOTIFICATION change = static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(notification);
    if (IsEqualGUID(change->Event, GUID_DEVICE_INTERFACE_ARRIVAL)) {
        NoteName("arrival", change->SymbolicLinkName);
    } else if (IsEqualGUID(change->Event, GUID_DEVICE_INTERFACE_REMOVAL)) {
        NoteName("removal", change->SymbolicLinkName);
    }
    return STATUS_SUCCESS;
}

// ---- The port reader --------------------------------------------------------------------------

IO_COMPLETION_ROUTINE ReadDone;

VOID IssueRead(PTEST_EXTENSION extension)
{
    IoReuseIrp(extension->ReadIrp, STATUS_SUCCESS);
    extension->ReadIrp->AssociatedIrp.SystemBuffer = &extension->ReadByte;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(extension->ReadIrp);
    next->MajorFunction = IRP_MJ_READ;
    next->Parameters.Read.Length = 1;
    next->FileObject = extension->PortFile;
    IoSetCompletionRoutine(extension->ReadIrp, ReadDone, extension, TRUE, TRUE, TRUE);
    InterlockedExchange(&extension->ReadOutstanding, 1);
    IoCallDriver(extension->PortDevice, extension->ReadIrp);
}

// Up to DISPATCH_LEVEL, wherever the port completes the read. A byte read in the call comes
// back here inside IoCallDriver, so the reads of waiting bytes nest; the test feeds few at once.
NTSTATUS NTAPI ReadDone(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    PTEST_EXTENSION extension = static_cast<PTEST_EXTENSION>(context);
    InterlockedExchange(&extension->ReadOutstanding, 0);
    if (NT_SUCCESS(irp->IoStatus.Status) && irp->IoStatus.Information == 1) {
        KIRQL irql;
        KeAcquireSpinLock(&LogLock, &irql);
        if (ByteCount < sizeof(Bytes)) {
            Bytes[ByteCount++] = extension->ReadByte;
        }
        KeReleaseSpinLock(&LogLock, irql);
        IssueRead(extension);
    } else {
        Note("read ended 0x%08X at IRQL %u", static_cast<unsigned>(irp->IoStatus.Status),
             static_cast<unsigned>(KeGetCurrentIrql()));
        KeSetEvent(&extension->ReadEnded, IO_NO_INCREMENT, FALSE);
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS SendToPort(PTEST_EXTENSION extension, ULONG code, PVOID input, ULONG length)
{
    KEVENT done;
    IO_STATUS_BLOCK status;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, extension->PortDevice, input, length, NULL, 0, FALSE, &done, &status);
    if (irp == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS result = IoCallDriver(extension->PortDevice, irp);
    if (result == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        result = status.Status;
    }
    return result;
}

VOID StartReading(PTEST_EXTENSION extension, ULONG port)
{
    WCHAR nameBuffer[32] = L"\\DosDevices\\COM";
    size_t length = 0;
    while (nameBuffer[length] != 0) {
        ++length;
    }
    nameBuffer[length++] = static_cast<WCHAR>(L'0' + port);  // ports 1..9
    UNICODE_STRING name = {static_cast<USHORT>(length * sizeof(WCHAR)), sizeof(nameBuffer), nameBuffer};
    KeInitializeEvent(&extension->ReadEnded, NotificationEvent, FALSE);
    NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &extension->PortFile, &extension->PortDevice);
    if (!NT_SUCCESS(status)) {
        Note("open failed 0x%08X", static_cast<unsigned>(status));
        extension->PortFile = NULL;
        return;
    }
    SERIAL_TIMEOUTS timeouts = {0, 0, 0, 0, 0};
    SERIAL_LINE_CONTROL line = {STOP_BIT_1, NO_PARITY, 8};
    SERIAL_BAUD_RATE rate = {9600};
    SendToPort(extension, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof(timeouts));
    SendToPort(extension, IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof(line));
    SendToPort(extension, IOCTL_SERIAL_SET_BAUD_RATE, &rate, sizeof(rate));
    extension->ReadIrp = IoAllocateIrp(extension->PortDevice->StackSize, FALSE);
    Note("reading COM%u", static_cast<unsigned>(port));
    IssueRead(extension);
}

// PASSIVE_LEVEL: cancels the outstanding read, waits for it, closes the port.
VOID StopReading(PTEST_EXTENSION extension)
{
    if (extension->PortFile == NULL) {
        return;
    }
    if (InterlockedCompareExchange(&extension->ReadOutstanding, 1, 1) == 1) {
        IoCancelIrp(extension->ReadIrp);
        KeWaitForSingleObject(&extension->ReadEnded, Executive, KernelMode, FALSE, NULL);
    }
    IoFreeIrp(extension->ReadIrp);
    ObDereferenceObject(extension->PortFile);
    extension->PortFile = NULL;
}

// ---- The control device ------------------------------------------------------------------------

const WCHAR ControlName[] = L"\\Device\\TestMouseControl";
const WCHAR ControlLink[] = L"\\DosDevices\\TestMouseControl";

VOID CreateControlDevice(PDRIVER_OBJECT driver, PTEST_EXTENSION extension)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, ControlName);
    RtlInitUnicodeString(&link, ControlLink);
    PDEVICE_OBJECT control;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TEST_EXTENSION), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control);
    if (!NT_SUCCESS(status)) {
        Note("control device failed 0x%08X", static_cast<unsigned>(status));
        return;
    }
    PTEST_EXTENSION controlExtension = ExtensionOf(control);
    RtlZeroMemory(controlExtension, sizeof(*controlExtension));
    controlExtension->Self = control;
    controlExtension->IsControl = TRUE;
    controlExtension->Pair = extension;
    extension->Pair = controlExtension;
    IoCreateSymbolicLink(&link, &name);
    control->Flags |= DO_BUFFERED_IO;
    control->Flags &= ~DO_DEVICE_INITIALIZING;
}

// PASSIVE_LEVEL, from the removal: the control device is deleted whoever still holds it open.
VOID DeleteControlDevice(PTEST_EXTENSION extension)
{
    if (extension->Pair == NULL) {
        return;
    }
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, ControlLink);
    IoDeleteSymbolicLink(&link);
    PTEST_EXTENSION control = extension->Pair;
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(&control->Pair), NULL);
    extension->Pair = NULL;
    IoDeleteDevice(control->Self);
}

DRIVER_DISPATCH DispatchControl;

NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    PTEST_EXTENSION extension = ExtensionOf(device);
    if (!extension->IsControl) {
        return PassDown(extension, irp);
    }
    Note("control request");
    PVOID pair = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile *>(&extension->Pair), NULL, NULL);
    return Complete(irp, pair != NULL ? STATUS_SUCCESS : STATUS_DELETE_PENDING);
}

DRIVER_DISPATCH DispatchInternal;
DRIVER_DISPATCH DispatchPnp;
DRIVER_DISPATCH DispatchPower;
DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchPassDown;
DRIVER_ADD_DEVICE AddDevice;
DRIVER_UNLOAD Unload;

NTSTATUS NTAPI DispatchInternal(PDEVICE_OBJECT device, PIRP irp)
{
    PTEST_EXTENSION extension = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (extension->IsControl) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_MOUSE_CONNECT:
        Note("connect");
        if (extension->Connection.ClassService != NULL) {
            return Complete(irp, STATUS_SHARING_VIOLATION);
        }
        if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(CONNECT_DATA)) {
            return Complete(irp, STATUS_INVALID_PARAMETER);
        }
        extension->Connection = *static_cast<PCONNECT_DATA>(stack->Parameters.DeviceIoControl.Type3InputBuffer);
        return Complete(irp, STATUS_SUCCESS);
    case IOCTL_MOUSE_QUERY_ATTRIBUTES: {
        Note("query attributes");
        if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(MOUSE_ATTRIBUTES)) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL);
        }
        PMOUSE_ATTRIBUTES attributes = static_cast<PMOUSE_ATTRIBUTES>(irp->AssociatedIrp.SystemBuffer);
        attributes->MouseIdentifier = MOUSE_SERIAL_HARDWARE;
        attributes->NumberOfButtons = 3;
        attributes->SampleRate = 40;
        attributes->InputDataQueueLength = 7;
        extension->AttributesQueried = TRUE;
        return Complete(irp, STATUS_SUCCESS, sizeof(MOUSE_ATTRIBUTES));
    }
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    PTEST_EXTENSION extension = ExtensionOf(device);
    UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (extension->IsControl) {
        return Complete(irp, irp->IoStatus.Status);  // in no stack: no PnP request is its own
    }
    Note("pnp 0x%02X", minor);
    switch (minor) {
    case IRP_MN_START_DEVICE:
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_REMOVE_DEVICE:
        if (extension->VetoRemove) {
            return Complete(irp, STATUS_DEVICE_BUSY);
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, irp);
    case IRP_MN_REMOVE_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = PassDown(extension, irp);
        StopReading(extension);
        IoUnregisterPlugPlayNotification(extension->Notification);
        if (extension->LeakAtRemove) {
            Leaked = extension->Buffer;  // kept on purpose: the leak check must notice
        } else {
            ExFreePoolWithTag(extension->Buffer, TEST_POOL_TAG);
        }
        DeleteControlDevice(extension);
        IoDetachDevice(extension->LowerDevice);
        IoDeleteDevice(device);
        LastDevice = NULL;
        return status;
    }
    default:
        if (minor == IRP_MN_STOP_DEVICE || minor == IRP_MN_QUERY_STOP_DEVICE || minor == IRP_MN_SURPRISE_REMOVAL ||
            minor == IRP_MN_CANCEL_REMOVE_DEVICE || minor == IRP_MN_CANCEL_STOP_DEVICE) {
            irp->IoStatus.Status = STATUS_SUCCESS;
        }
        return PassDown(extension, irp);
    }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    if (ExtensionOf(device)->IsControl) {
        return PassDown(ExtensionOf(device), irp);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ExtensionOf(device)->LowerDevice, irp);
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp)
{
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (ExtensionOf(device)->IsControl) {
        Note("control %s", major == IRP_MJ_CREATE ? "create" : major == IRP_MJ_CLEANUP ? "cleanup" : "close");
    } else if (major == IRP_MJ_CLEANUP) {
        return PassDown(ExtensionOf(device), irp);
    }
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchPassDown(PDEVICE_OBJECT device, PIRP irp)
{
    return PassDown(ExtensionOf(device), irp);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    Note("add device");
    if (ReadKnob(&RegistryPath, L"FailAddDevice")) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TEST_EXTENSION), NULL, FILE_DEVICE_MOUSE, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PTEST_EXTENSION extension = ExtensionOf(device);
    RtlZeroMemory(extension, sizeof(*extension));
    extension->Self = device;
    extension->VetoRemove = ReadKnob(&RegistryPath, L"VetoRemove");
    extension->LeakAtRemove = ReadKnob(&RegistryPath, L"LeakAtRemove");
    extension->Buffer = ExAllocatePoolWithTag(NonPagedPool, 64, TEST_POOL_TAG);
    extension->LowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    LastDevice = device;
    if (ReadKnob(&RegistryPath, L"ControlDevice")) {
        CreateControlDevice(driver, extension);
    }
    if (ULONG port = ReadKnob(&RegistryPath, L"ReadPort")) {
        StartReading(extension, port);
    }
    return IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                          PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                          const_cast<GUID *>(&GUID_DEVINTERFACE_COMPORT), driver, ComPortChange,
                                          extension, &extension->Notification);
}

VOID NTAPI Unload(PDRIVER_OBJECT)
{
    Note("unload");
}

}  // namespace

extern "C" {

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    KeInitializeSpinLock(&LogLock);
    NoteName("entry", registryPath);
    RtlCopyUnicodeString(&RegistryPath, registryPath);
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = DispatchPassDown;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

// Copies what reached the driver since it was loaded, one event per line.
void TestDriverCopyLog(char *buffer, size_t size)
{
    KIRQL irql;
    KeAcquireSpinLock(&LogLock, &irql);
    std::snprintf(buffer, size, "%s", Log);
    KeReleaseSpinLock(&LogLock, irql);
}

// Copies the bytes the port reader has read; returns how many.
ULONG TestDriverCopyBytes(UCHAR *buffer, ULONG size)
{
    KIRQL irql;
    KeAcquireSpinLock(&LogLock, &irql);
    ULONG count = ByteCount < size ? ByteCount : size;
    std::memcpy(buffer, Bytes, count);
    KeReleaseSpinLock(&LogLock, irql);
    return count;
}

// Sends one report to the class service of the last device, at DISPATCH_LEVEL unless told
// otherwise. FALSE when no class has connected.
BOOLEAN TestDriverReport(LONG x, LONG y, USHORT flags, USHORT buttonFlags, BOOLEAN atDispatch)
{
    if (LastDevice == NULL || ExtensionOf(LastDevice)->Connection.ClassService == NULL) {
        return FALSE;
    }
    PTEST_EXTENSION extension = ExtensionOf(LastDevice);
    MOUSE_INPUT_DATA report;
    RtlZeroMemory(&report, sizeof(report));
    report.Flags = flags;
    report.ButtonFlags = buttonFlags;
    report.LastX = x;
    report.LastY = y;
    ULONG consumed = 0;
    auto service = reinterpret_cast<PSERVICE_CALLBACK_ROUTINE>(extension->Connection.ClassService);
    KIRQL irql = KeGetCurrentIrql();
    if (atDispatch) {
        KeRaiseIrql(DISPATCH_LEVEL, &irql);
    }
    service(extension->Connection.ClassDeviceObject, &report, &report + 1, &consumed);
    if (atDispatch) {
        KeLowerIrql(irql);
    }
    return consumed == 1;
}

}  // extern "C"
