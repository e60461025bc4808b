/*
 * PolytapDevice.cpp - the multi-touch product's device hooks into the driver framework: the port's
 * baud rate from the settings, the Enable value written back after an automatic port open, and
 * the product's own control codes (data mode, contact frames, baud rate, probe).
 */
#include "Polytap.h"

/* "\Parameters" appended to the service key path. */
#define PARAMETERS_SUFFIX_W L"\\" TAP_PARAMETERS_SUBKEY_W

ULONG TapProductBaudRate(VOID)
{
    /* No default of its own: an absent BaudRate is 0, which the port refuses. */
    return TapLoad(Globals.Settings.BaudRate);
}

/* PASSIVE_LEVEL. The key path is built in paged pool and freed before return. */
NTSTATUS WriteParameterValue(PCWSTR Name, ULONG Type, PVOID Data, ULONG Length)
{
    UNICODE_STRING keyPath;
    UNICODE_STRING valueName;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    NTSTATUS status;
    ULONG size = Globals.ServiceRegistryPath.Length + sizeof(PARAMETERS_SUFFIX_W);

    PAGED_CODE();
    keyPath.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, size, TAP_POOL_TAG);
    if (keyPath.Buffer == NULL) {
        return STATUS_UNSUCCESSFUL;
    }
    keyPath.Length = 0;
    keyPath.MaximumLength = (USHORT)size;
    RtlAppendUnicodeStringToString(&keyPath, &Globals.ServiceRegistryPath);
    RtlAppendUnicodeToString(&keyPath, PARAMETERS_SUFFIX_W);

    InitializeObjectAttributes(&attributes, &keyPath, OBJ_CASE_INSENSITIVE, NULL, NULL);
    status = ZwOpenKey(&key, KEY_ALL_ACCESS, &attributes);
    if (NT_SUCCESS(status)) {
        if (Type == REG_SZ || Type == REG_DWORD) {
            RtlInitUnicodeString(&valueName, Name);
            status = ZwSetValueKey(key, &valueName, 0, Type, Data, Length);
        } else {
            status = STATUS_INVALID_PARAMETER;
        }
        ZwClose(key);
    }
    ExFreePoolWithTag(keyPath.Buffer, TAP_POOL_TAG);
    return status;
}

/* Records the outcome of an automatic open in the registry only. The Enable in force stays as
 * loaded: a configured port that is absent now is still opened when it arrives later, and the
 * value then goes back to 1. */
static VOID RecordEnable(ULONG Enable)
{
    PAGED_CODE();
    WriteParameterValue(TAP_VALUE_ENABLE_W, REG_DWORD, &Enable, sizeof(Enable));
}

VOID TapProductPortOpenFailed(PMouseDeviceExtension Extension)
{
    UNREFERENCED_PARAMETER(Extension);
    RecordEnable(0);
}

VOID TapProductReaderStarting(PMouseDeviceExtension Extension)
{
    UNREFERENCED_PARAMETER(Extension);
    RecordEnable(1);
}

/* IOCTL_TOUCH_SET_BAUD_RATE: the rate becomes the live setting at once, even if the port then
 * refuses it; the request answers with the port's status. PASSIVE_LEVEL; takes PortLock so that
 * the port cannot be closed under the request. */
static NTSTATUS SetBaudRate(PControlDeviceExtension Control, ULONG BaudRate)
{
    PMouseDeviceExtension extension;
    SERIAL_BAUD_RATE rate;
    NTSTATUS status;

    PAGED_CODE();
    AcquirePortLock();
    extension = Control->MouseExtension;
    if (extension == NULL || extension->PortDevice == NULL) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        TapStore(Globals.Settings.BaudRate, BaudRate);
        rate.BaudRate = BaudRate;
        status = SyncIoctl(FALSE, IOCTL_SERIAL_SET_BAUD_RATE, extension->PortDevice, &rate, sizeof(rate), NULL, 0);
    }
    ReleasePortLock();
    return status;
}

/* The data-mode codes act on this control device's mouse device. PortLock keeps the pair from
 * being taken apart under the request, and keeps PortDevice, which the reply looks at, from
 * changing under it. PASSIVE_LEVEL; takes PortLock, then FrameLock. */
static NTSTATUS DataModeRequest(PControlDeviceExtension Control, ULONG Code, PContactFrame Reply)
{
    PMouseDeviceExtension extension;
    NTSTATUS status = STATUS_SUCCESS;

    PAGED_CODE();
    AcquirePortLock();
    extension = Control->MouseExtension;
    if (extension == NULL) {
        status = STATUS_DELETE_PENDING;
    } else if (Code == IOCTL_TOUCH_START_DATA_MODE) {
        StartDataMode(extension);
    } else if (Code == IOCTL_TOUCH_STOP_DATA_MODE) {
        StopDataMode(extension);
    } else {
        ReplyContactFrame(extension, Reply);
    }
    ReleasePortLock();
    return status;
}

NTSTATUS TapProductControlRequest(PControlDeviceExtension Control, PIRP Irp, PIO_STACK_LOCATION Stack,
                               PULONG_PTR Information)
{
    ULONG code = Stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputLength = Stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = Stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID buffer = Irp->AssociatedIrp.SystemBuffer;
    ContactFrame frame;
    NTSTATUS status;
    ULONG value;

    PAGED_CODE();
    switch (code) {
    case IOCTL_TOUCH_START_DATA_MODE:
    case IOCTL_TOUCH_STOP_DATA_MODE:
        return DataModeRequest(Control, code, NULL);

    case IOCTL_TOUCH_GET_CONTACT_FRAME:
        if (outputLength != sizeof(ContactFrame) || buffer == NULL) {
            return STATUS_INVALID_PARAMETER;
        }
        status = DataModeRequest(Control, code, &frame);
        if (NT_SUCCESS(status)) {
            RtlCopyMemory(buffer, &frame, sizeof(frame));
            *Information = sizeof(ContactFrame);
        }
        return status;

    case IOCTL_TOUCH_SET_BAUD_RATE:
        if (inputLength != sizeof(ULONG) || buffer == NULL) {
            return STATUS_INVALID_PARAMETER;
        }
        RtlCopyMemory(&value, buffer, sizeof(value));
        return SetBaudRate(Control, value);

    case IOCTL_TOUCH_PROBE:
        if (outputLength != sizeof(ULONG) || buffer == NULL) {
            return STATUS_INVALID_PARAMETER;
        }
        value = 1;
        RtlCopyMemory(buffer, &value, sizeof(value));
        *Information = sizeof(ULONG);
        return STATUS_SUCCESS;

    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}
