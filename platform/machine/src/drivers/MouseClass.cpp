// The mouse class driver of the simulated PC: the upper filter of the Mouse setup class, so it
// sits on top of every mouse's device stack as \Device\PointerClass<n>.
//
// When its device starts it connects to the mouse device below with IOCTL_INTERNAL_MOUSE_CONNECT
// (its class device and its service callback), then asks IOCTL_MOUSE_QUERY_ATTRIBUTES (a machine
// switch leaves the query out). The service callback takes the reports: it must be called at
// DISPATCH_LEVEL, and each MOUSE_INPUT_DATA record goes to the machine's mouse input, which logs
// it and moves the one cursor of the screen.
//
// Every other request passes down the stack unchanged.
#include "drivers/SystemDrivers.h"

#include <tapkernel/Kernel.h>

#include <kbdmou.h>
#include <ntddmou.h>

namespace {

typedef struct _MOUSE_CLASS_EXTENSION {
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT LowerDevice;
    ULONG Unit;
    CONNECT_DATA Connection;  // what the device below was given
    BOOLEAN Connected;
    MOUSE_ATTRIBUTES Attributes;
} MOUSE_CLASS_EXTENSION, *PMOUSE_CLASS_EXTENSION;

// Class device numbers handed out by this driver load.
LONG NextUnit = 0;

PMOUSE_CLASS_EXTENSION ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<PMOUSE_CLASS_EXTENSION>(device->DeviceExtension);
}

tapmachine::MouseClassDeviceInfo Describe(PMOUSE_CLASS_EXTENSION extension)
{
    tapmachine::MouseClassDeviceInfo info;
    info.unit = extension->Unit;
    info.connected = extension->Connected;
    info.mouseIdentifier = extension->Attributes.MouseIdentifier;
    info.numberOfButtons = extension->Attributes.NumberOfButtons;
    info.sampleRate = extension->Attributes.SampleRate;
    info.inputDataQueueLength = extension->Attributes.InputDataQueueLength;
    return info;
}

// The class service: DISPATCH_LEVEL, called by the mouse device below with a range of records.
// It has the callback type the device calls it through (PSERVICE_CALLBACK_ROUTINE), so the call
// matches the definition exactly.
VOID STDAPICALLTYPE ServiceCallback(PVOID classDevice, PVOID first, PVOID last, PVOID consumedCount)
{
    tapkernel::RequireIrql("MouseClassServiceCallback", DISPATCH_LEVEL, DISPATCH_LEVEL);
    PDEVICE_OBJECT device = static_cast<PDEVICE_OBJECT>(classDevice);
    PMOUSE_INPUT_DATA start = static_cast<PMOUSE_INPUT_DATA>(first);
    PMOUSE_INPUT_DATA end = static_cast<PMOUSE_INPUT_DATA>(last);
    PULONG consumed = static_cast<PULONG>(consumedCount);
    PMOUSE_CLASS_EXTENSION extension = ExtensionOf(device);
    tapmachine::SystemDriverHost &host = tapmachine::DriverHost();
    ULONG count = 0;
    for (PMOUSE_INPUT_DATA record = start; record < end; ++record, ++count) {
        tapmachine::MouseRecord taken;
        taken.unitId = record->UnitId;
        taken.flags = record->Flags;
        taken.buttonFlags = record->ButtonFlags;
        taken.buttonData = record->ButtonData;
        taken.rawButtons = record->RawButtons;
        taken.lastX = record->LastX;
        taken.lastY = record->LastY;
        taken.extraInformation = record->ExtraInformation;
        taken.time = host.Now();
        taken.classDevice = extension->Unit;
        host.Mouse().Take(taken);
    }
    *consumed = count;
}

// PASSIVE_LEVEL, after the stack below has started.
VOID ConnectAndQuery(PMOUSE_CLASS_EXTENSION extension)
{
    tapmachine::SystemDriverHost &host = tapmachine::DriverHost();
    tapmachine::MouseClassDeviceInfo info = Describe(extension);
    if (!extension->Connected) {
        extension->Connection.ClassDeviceObject = extension->Self;
        extension->Connection.ClassService = reinterpret_cast<PVOID>(static_cast<PSERVICE_CALLBACK_ROUTINE>(ServiceCallback));
        info.connectStatus = SendControlAndWait(extension->LowerDevice, IOCTL_INTERNAL_MOUSE_CONNECT, TRUE,
                                                &extension->Connection, sizeof(CONNECT_DATA), NULL, 0, NULL);
        extension->Connected = NT_SUCCESS(info.connectStatus);
        info.connected = extension->Connected;
    }
    if (extension->Connected && host.MouseClassQueriesAttributes()) {
        MOUSE_ATTRIBUTES attributes;
        RtlZeroMemory(&attributes, sizeof(attributes));
        info.attributesQueried = true;
        info.attributesStatus = SendControlAndWait(extension->LowerDevice, IOCTL_MOUSE_QUERY_ATTRIBUTES, TRUE,
                                                   NULL, 0, &attributes, sizeof(attributes), NULL);
        if (NT_SUCCESS(info.attributesStatus)) {
            extension->Attributes = attributes;
            info.mouseIdentifier = attributes.MouseIdentifier;
            info.numberOfButtons = attributes.NumberOfButtons;
            info.sampleRate = attributes.SampleRate;
            info.inputDataQueueLength = attributes.InputDataQueueLength;
        }
    }
    host.UpdateMouseClassDevice(info);
}

// Any IRQL up to DISPATCH_LEVEL. The IRP belongs to the driver below on return.
NTSTATUS PassDown(PMOUSE_CLASS_EXTENSION extension, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(extension->LowerDevice, irp);
}

DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchPnp;
DRIVER_DISPATCH DispatchPower;
DRIVER_DISPATCH DispatchPassDown;
DRIVER_ADD_DEVICE AddDevice;
DRIVER_UNLOAD Unload;

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchPassDown(PDEVICE_OBJECT device, PIRP irp)
{
    return PassDown(ExtensionOf(device), irp);
}

// PASSIVE_LEVEL.
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    PMOUSE_CLASS_EXTENSION extension = ExtensionOf(device);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = ForwardAndWait(extension->LowerDevice, irp);
        if (NT_SUCCESS(status)) {
            ConnectAndQuery(extension);
        }
        return CompleteRequest(irp, status);
    }
    case IRP_MN_REMOVE_DEVICE: {
        // Down the stack first: the drivers below delete their devices while this one is still
        // attached to them, and this one detaches and goes once the request is back.
        irp->IoStatus.Status = STATUS_SUCCESS;
        PDEVICE_OBJECT lower = extension->LowerDevice;
        NTSTATUS status = PassDown(extension, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, irp);
    default:
        return PassDown(extension, irp);
    }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ExtensionOf(device)->LowerDevice, irp);
}

// PASSIVE_LEVEL. A class device on top of the mouse's stack.
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    ULONG unit = static_cast<ULONG>(InterlockedIncrement(&NextUnit) - 1);
    WCHAR nameBuffer[40] = L"\\Device\\PointerClass";
    size_t length = 0;
    while (nameBuffer[length] != 0) {
        ++length;
    }
    WCHAR digits[12];
    size_t count = 0;
    ULONG n = unit;
    do {
        digits[count++] = static_cast<WCHAR>(L'0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count != 0) {
        nameBuffer[length++] = digits[--count];
    }
    nameBuffer[length] = 0;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, nameBuffer);

    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(MOUSE_CLASS_EXTENSION), &name, FILE_DEVICE_MOUSE, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PMOUSE_CLASS_EXTENSION extension = ExtensionOf(device);
    RtlZeroMemory(extension, sizeof(*extension));
    extension->Self = device;
    extension->Unit = unit;
    extension->LowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (extension->LowerDevice == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    tapmachine::DriverHost().UpdateMouseClassDevice(Describe(extension));
    return STATUS_SUCCESS;
}

VOID NTAPI Unload(PDRIVER_OBJECT)
{
}

}  // namespace

extern "C" NTSTATUS NTAPI MouseClassDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    NextUnit = 0;
    for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        driver->MajorFunction[major] = DispatchPassDown;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
