/*
 * SerialLink.cpp - the COM port: opening it, putting its line into a fixed state, reading the
 * controller's byte stream one byte at a time with one reused IRP, and stopping that reader.
 *
 * The reader: IssueReads passes ReadIrp to the port driver; ReadComplete hands the byte to the
 * decoder and the report step, then decides who issues the next read. If the read completed
 * while IssueReads was still inside IoCallDriver (ReadState found TAP_READ_PASSING), the loop of
 * IssueReads issues it when the call returns; otherwise ReadComplete runs IssueReads itself. So
 * a byte that is already waiting never makes the completion call the port again from inside the
 * call, and the stack does not grow with the number of bytes.
 *
 *     IssueReads                          ReadComplete
 *     ReadState := PASSING
 *     IoCallDriver(ReadIrp) ---------->   decode, report
 *        (completes inside: ------------> ReadState PASSING -> COMPLETED: leave it to the loop)
 *     old := ReadState := PASSED
 *     old == COMPLETED: loop              (completes later: ReadState is PASSED -> IssueReads)
 *
 * Every ending of a reader acknowledges it once on ReadDoneEvent: the loop when it finds the
 * reader stopped, closed or removed, whoever would have issued the next read when a read ends the
 * reader (cancelled, port gone, or TAP_READ_RETRY_LIMIT reads in a row without a byte). A
 * reader's start clears the event. A stop therefore waits exactly when Reading was set: either the
 * reader is still running and its ending will come, or it ended by itself and its acknowledgement
 * is already there. Nothing else signals the event.
 */
#include <initguid.h>

#include "TapDriver.h"

#include <wdmguid.h>

/* "\DosDevices\COM" followed by up to ten decimal digits. */
#define PORT_NAME_PREFIX L"\\DosDevices\\COM"
#define PORT_NUMBER_CHARS 12

static BOOLEAN SameGuid(const GUID *First, const GUID *Second)
{
    ULONG i;

    if (First->Data1 != Second->Data1 || First->Data2 != Second->Data2 || First->Data3 != Second->Data3) {
        return FALSE;
    }
    for (i = 0; i < sizeof(First->Data4); i++) {
        if (First->Data4[i] != Second->Data4[i]) {
            return FALSE;
        }
    }
    return TRUE;
}

/* ---- Requests to the port ------------------------------------------------------------------- */

NTSTATUS SyncIoctl(BOOLEAN Internal, ULONG IoControlCode, PDEVICE_OBJECT Device, PVOID InputBuffer,
                   ULONG InputLength, PVOID OutputBuffer, ULONG OutputLength)
{
    KEVENT event;
    IO_STATUS_BLOCK ioStatus;
    PIRP irp;
    NTSTATUS status;

    PAGED_CODE();
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    irp = IoBuildDeviceIoControlRequest(IoControlCode, Device, InputBuffer, InputLength, OutputBuffer,
                                        OutputLength, Internal, &event, &ioStatus);
    if (irp == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = IoCallDriver(Device, irp);
    if (status == STATUS_PENDING) {
        status = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return ioStatus.Status;
}

NTSTATUS ConfigurePort(PMouseDeviceExtension Extension)
{
    PDEVICE_OBJECT port = Extension->PortDevice;
    SERIAL_TIMEOUTS timeouts;
    SERIAL_HANDFLOW handFlow;
    SERIAL_LINE_CONTROL lineControl;
    SERIAL_BAUD_RATE baudRate;
    NTSTATUS status;

    PAGED_CODE();
    status = SyncIoctl(TRUE, IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, port, NULL, 0, &Extension->SavedSerialSettings,
                       sizeof(Extension->SavedSerialSettings));
    if (!NT_SUCCESS(status)) {
        /* A port driver without the basic-settings request: save and set the same by hand. */
        SyncIoctl(FALSE, IOCTL_SERIAL_GET_TIMEOUTS, port, NULL, 0, &Extension->SavedSerialSettings.Timeouts,
                  sizeof(Extension->SavedSerialSettings.Timeouts));
        RtlZeroMemory(&timeouts, sizeof(timeouts));
        SyncIoctl(FALSE, IOCTL_SERIAL_SET_TIMEOUTS, port, &timeouts, sizeof(timeouts), NULL, 0);
        SyncIoctl(FALSE, IOCTL_SERIAL_GET_HANDFLOW, port, NULL, 0, &Extension->SavedSerialSettings.HandFlow,
                  sizeof(Extension->SavedSerialSettings.HandFlow));
        RtlZeroMemory(&handFlow, sizeof(handFlow));
        handFlow.ControlHandShake = SERIAL_DTR_CONTROL;
        handFlow.FlowReplace = SERIAL_RTS_CONTROL;
        handFlow.XonLimit = 0;
        handFlow.XoffLimit = 0;
        status = SyncIoctl(FALSE, IOCTL_SERIAL_SET_HANDFLOW, port, &handFlow, sizeof(handFlow), NULL, 0);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }

    lineControl.StopBits = STOP_BIT_1;
    lineControl.Parity = NO_PARITY;
    lineControl.WordLength = 8;
    status = SyncIoctl(FALSE, IOCTL_SERIAL_SET_LINE_CONTROL, port, &lineControl, sizeof(lineControl), NULL, 0);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    baudRate.BaudRate = TapProductBaudRate();
    return SyncIoctl(FALSE, IOCTL_SERIAL_SET_BAUD_RATE, port, &baudRate, sizeof(baudRate), NULL, 0);
}

VOID RestorePortSettings(PMouseDeviceExtension Extension)
{
    PDEVICE_OBJECT port = Extension->PortDevice;
    NTSTATUS status;

    PAGED_CODE();
    if (port == NULL) {
        return;
    }
    status = SyncIoctl(TRUE, IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, port, &Extension->SavedSerialSettings,
                       sizeof(Extension->SavedSerialSettings), NULL, 0);
    if (!NT_SUCCESS(status)) {
        SyncIoctl(FALSE, IOCTL_SERIAL_SET_TIMEOUTS, port, &Extension->SavedSerialSettings.Timeouts,
                  sizeof(Extension->SavedSerialSettings.Timeouts), NULL, 0);
        SyncIoctl(FALSE, IOCTL_SERIAL_SET_HANDFLOW, port, &Extension->SavedSerialSettings.HandFlow,
                  sizeof(Extension->SavedSerialSettings.HandFlow), NULL, 0);
    }
}

/* ---- Opening and closing -------------------------------------------------------------------- */

/* Builds "\DosDevices\COM<Number>" in a paged buffer that the caller frees with FreePortName.
 * The decimal text is made in a paged buffer of its own, freed here. PASSIVE_LEVEL. */
static NTSTATUS BuildPortName(ULONG Number, PUNICODE_STRING PortName)
{
    UNICODE_STRING numberText;

    PAGED_CODE();
    numberText.Length = 0;
    numberText.MaximumLength = PORT_NUMBER_CHARS * sizeof(WCHAR);
    numberText.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, numberText.MaximumLength, TAP_POOL_TAG);
    if (numberText.Buffer == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PortName->Length = 0;
    PortName->MaximumLength = (USHORT)(sizeof(PORT_NAME_PREFIX) + numberText.MaximumLength);
    PortName->Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, PortName->MaximumLength, TAP_POOL_TAG);
    if (PortName->Buffer == NULL) {
        ExFreePoolWithTag(numberText.Buffer, TAP_POOL_TAG);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlIntegerToUnicodeString(Number, 10, &numberText);
    RtlAppendUnicodeToString(PortName, PORT_NAME_PREFIX);
    RtlAppendUnicodeStringToString(PortName, &numberText);
    ExFreePoolWithTag(numberText.Buffer, TAP_POOL_TAG);
    return STATUS_SUCCESS;
}

static VOID FreePortName(PUNICODE_STRING PortName)
{
    PAGED_CODE();
    ExFreePoolWithTag(PortName->Buffer, TAP_POOL_TAG);
    PortName->Buffer = NULL;
}

/* Opens the named port into PortFileObject and PortDevice and configures it; a port that cannot
 * be configured is released again (its settings are not restored). Returns the status of the
 * open or of the failing configuration request. PASSIVE_LEVEL, PortLock held, no port open. */
static NTSTATUS OpenAndConfigure(PMouseDeviceExtension Extension, PUNICODE_STRING PortName,
                                 PBOOLEAN Opened)
{
    PFILE_OBJECT fileObject;
    PDEVICE_OBJECT deviceObject;
    NTSTATUS status;

    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    *Opened = FALSE;
    status = IoGetDeviceObjectPointer(PortName, FILE_ALL_ACCESS, &fileObject, &deviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *Opened = TRUE;
    Extension->PortFileObject = fileObject;
    Extension->PortDevice = deviceObject;
    status = ConfigurePort(Extension);
    if (!NT_SUCCESS(status)) {
        ReleasePort(Extension);
    }
    return status;
}

VOID ReleasePort(PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    if (Extension->PortFileObject != NULL) {
        ObDereferenceObject(Extension->PortFileObject);
    }
    Extension->PortFileObject = NULL;
    Extension->PortDevice = NULL;
}

NTSTATUS OpenConfiguredPort(PMouseDeviceExtension Extension)
{
    ULONG port = TapLoad(Globals.Settings.Port);
    ULONG enable = TapLoad(Globals.Settings.Enable);
    UNICODE_STRING portName;
    BOOLEAN opened;
    NTSTATUS status;

    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    if (Extension->Reading) {
        return STATUS_SUCCESS;
    }
    if (TAP_PRODUCT_ENABLE_GATES_OPEN_PORT && (port > TAP_MAX_PORT_NUMBER || enable == 0)) {
        return STATUS_SUCCESS;
    }
    if (Extension->PortDevice == NULL) {
        if (port > TAP_MAX_PORT_NUMBER || enable == 0) {
            /* Not enabled, or no port configured: nothing to open. */
            return STATUS_SUCCESS;
        }
        status = BuildPortName(port, &portName);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        status = OpenAndConfigure(Extension, &portName, &opened);
        FreePortName(&portName);
        if (!NT_SUCCESS(status)) {
            TapProductPortOpenFailed(Extension);
            return status;
        }
    }
    return StartReader(Extension);
}

NTSTATUS OpenPortNumber(PMouseDeviceExtension Extension, ULONG Index)
{
    UNICODE_STRING portName;
    BOOLEAN opened = TRUE;
    NTSTATUS status;

    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    if (Index >= TAP_MAX_PORT_NUMBER) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Extension->PortDevice != NULL && Extension->ReadIrp != NULL) {
        return TAP_STATUS_ALREADY_OPEN;
    }
    status = BuildPortName(Index + 1, &portName);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    /* A port open without a read IRP stays as it is: the caller gives it one. */
    if (Extension->PortDevice == NULL) {
        status = OpenAndConfigure(Extension, &portName, &opened);
    }
    FreePortName(&portName);
    if (!opened) {
        return STATUS_UNSUCCESSFUL;
    }
    return status;
}

/* ---- Arrival -------------------------------------------------------------------------------- */

NTSTATUS NTAPI PortArrival(PVOID NotificationStructure, PVOID Context)
{
    PDEVICE_INTERFACE_CHANGE_NOTIFICATION notification = (PDEVICE_INTERFACE_CHANGE_NOTIFICATION)NotificationStructure;
    PMouseDeviceExtension extension;

    PAGED_CODE();
    /* Which port arrived does not matter: any arrival is the moment to try the configured one. */
    if (!SameGuid(&notification->InterfaceClassGuid, &GUID_DEVINTERFACE_COMPORT) ||
        !SameGuid(&notification->Event, &GUID_DEVICE_INTERFACE_ARRIVAL)) {
        return STATUS_SUCCESS;
    }

    AcquirePortLock();
    /* A notification that was already on its way when its pair was removed finds no pair with
     * its number and does nothing. */
    for (extension = Globals.LiveDevices; extension != NULL; extension = extension->NextLive) {
        if (extension->PairNumber == (ULONG)(ULONG_PTR)Context) {
            break;
        }
    }
    if (extension != NULL && !extension->Reading) {
        OpenConfiguredPort(extension);
    }
    ReleasePortLock();
    return STATUS_SUCCESS;
}

NTSTATUS RegisterPortArrivals(PDRIVER_OBJECT DriverObject, PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    return IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                          PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                          (PVOID)&GUID_DEVINTERFACE_COMPORT, DriverObject, PortArrival,
                                          (PVOID)(ULONG_PTR)Extension->PairNumber, &Extension->InterfaceNotification);
}

/* ---- The reader ----------------------------------------------------------------------------- */

/* Acknowledges the end of the reader to a stop that waits, or to the next one. Any IRQL <=
 * DISPATCH_LEVEL. The extension must not be touched after this by the read path. */
static VOID AcknowledgeReaderEnd(PMouseDeviceExtension Extension)
{
    KeSetEvent(&Extension->ReadDoneEvent, IO_NO_INCREMENT, FALSE);
}

NTSTATUS StartReader(PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    if (Extension->ReadIrp == NULL) {
        Extension->ReadIrp = IoAllocateIrp(Extension->PortDevice->StackSize, FALSE);
        if (Extension->ReadIrp == NULL) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    TapProductReaderStarting(Extension);
    return RunReader(Extension);
}

NTSTATUS RunReader(PMouseDeviceExtension Extension)
{
    KIRQL irql;
    NTSTATUS status;

    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    /* No read path exists now; an acknowledgement left by an earlier reader is stale. */
    KeClearEvent(&Extension->ReadDoneEvent);
    Extension->ReadEnded = FALSE;
    Extension->UnproductiveReads = 0;

    KeAcquireSpinLock(&Extension->ReadLock, &irql);
    Extension->Reading = TRUE;
    KeReleaseSpinLock(&Extension->ReadLock, irql);
    InterlockedExchange(&Extension->ReadState, TAP_READ_PASSED);

    status = IssueReads(Extension);
    if (status == STATUS_PENDING || status == STATUS_SUCCESS) {
        return STATUS_SUCCESS;
    }
    /* The reader has ended and acknowledged it; nothing runs on ReadIrp. */
    KeAcquireSpinLock(&Extension->ReadLock, &irql);
    Extension->Reading = FALSE;
    KeReleaseSpinLock(&Extension->ReadLock, irql);
    return status;
}

NTSTATUS IssueReads(PMouseDeviceExtension Extension)
{
    PIRP irp = Extension->ReadIrp;
    PIO_STACK_LOCATION next;
    KIRQL irql;
    NTSTATUS status;
    LONG previous;

    ASSERT(KeGetCurrentIrql() <= DISPATCH_LEVEL);
    for (;;) {
        /* Every kind of stop is tested under the lock that the stops set them under, so a stop
         * either is seen here or comes after the IoReuseIrp and cancels the read issued next. */
        KeAcquireSpinLock(&Extension->ReadLock, &irql);
        if (!Extension->Reading || Extension->Removing || Extension->StopRequested) {
            status = (Extension->Reading && !Extension->Removing) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
            KeReleaseSpinLock(&Extension->ReadLock, irql);
            AcknowledgeReaderEnd(Extension);
            return status;
        }
        IoReuseIrp(irp, STATUS_SUCCESS);
        KeReleaseSpinLock(&Extension->ReadLock, irql);

        InterlockedExchange(&Extension->ReadState, TAP_READ_PASSING);

        irp->AssociatedIrp.SystemBuffer = &Extension->ReadByte;
        next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_READ;
        next->Parameters.Read.Length = 1;
        next->Parameters.Read.ByteOffset.QuadPart = 0;
        IoSetCompletionRoutine(irp, ReadComplete, Extension, TRUE, TRUE, TRUE);

        status = IoCallDriver(Extension->PortDevice, irp);

        previous = InterlockedExchange(&Extension->ReadState, TAP_READ_PASSED);
        if (previous != TAP_READ_COMPLETED) {
            /* Outstanding: ReadComplete continues the reader when it completes. */
            return status;
        }
        /* Completed inside the call: this loop decides what comes next. */
        if (Extension->ReadEnded) {
            AcknowledgeReaderEnd(Extension);
            return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
        }
    }
}

/* Counts a read that brought no byte. TRUE when too many came in a row. */
static BOOLEAN UnproductiveReadLimitReached(PMouseDeviceExtension Extension)
{
    Extension->UnproductiveReads++;
    return Extension->UnproductiveReads >= TAP_READ_RETRY_LIMIT;
}

NTSTATUS NTAPI ReadComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)Context;
    NTSTATUS status = Irp->IoStatus.Status;
    BOOLEAN ended = FALSE;

    ASSERT(KeGetCurrentIrql() <= DISPATCH_LEVEL);
    UNREFERENCED_PARAMETER(DeviceObject);

    /* The byte is fully handled before the hand-off below: once ReadState says COMPLETED, the
     * issuing loop may reuse ReadIrp and run the decoder on the next byte. */
    if (status == STATUS_SUCCESS && Irp->IoStatus.Information != 0) {
        extension->UnproductiveReads = 0;
        if (TapProductDecodeByte(extension, extension->ReadByte)) {
            ReportPacket(extension);
        }
        TapProductAfterByte(extension);
    } else if (status == STATUS_CANCELLED || status == STATUS_DELETE_PENDING ||
               status == STATUS_DEVICE_NOT_CONNECTED) {
        /* Cancelled by a stop, or the port is going away: the reader ends. */
        ended = TRUE;
    } else {
        /* No byte: the read is issued again, unless it keeps failing the same way. */
        ended = UnproductiveReadLimitReached(extension);
    }
    extension->ReadEnded = ended;

    if (InterlockedCompareExchange(&extension->ReadState, TAP_READ_COMPLETED, TAP_READ_PASSING) ==
        TAP_READ_PASSING) {
        /* Still inside the issuing call: its loop issues the next read or ends the reader. */
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    if (ended) {
        AcknowledgeReaderEnd(extension);
    } else {
        IssueReads(extension);
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* ---- Stopping ------------------------------------------------------------------------------- */

VOID StopReader(PMouseDeviceExtension Extension, ULONG How)
{
    KIRQL irql;
    BOOLEAN wasReading;

    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    /* Marked under the lock that IssueReads tests it under: the loop either sees the stop or
     * comes after it, and then the cancel below finds the read it issued. */
    KeAcquireSpinLock(&Extension->ReadLock, &irql);
    wasReading = Extension->Reading;
    if (How == TAP_STOP_FOR_REMOVAL) {
        Extension->Removing = TRUE;
    } else {
        if (How == TAP_STOP_FOR_GOOD) {
            Extension->StopRequested = TRUE;
        }
        Extension->Reading = FALSE;
    }
    KeReleaseSpinLock(&Extension->ReadLock, irql);
    if (wasReading) {
        /* If no read is in the port driver right now, the cancel only marks ReadIrp; the loop
         * that would issue the next read sees the stop first. */
        IoCancelIrp(Extension->ReadIrp);
        KeWaitForSingleObject(&Extension->ReadDoneEvent, Executive, KernelMode, FALSE, NULL);
    }
}

NTSTATUS ClosePort(PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    ASSERT(TAP_PORT_LOCK_HELD());
    if (Extension->PortDevice == NULL) {
        return STATUS_SUCCESS;
    }
    StopReader(Extension, TAP_STOP_FOR_CLOSE);
    if (Extension->ReadIrp != NULL) {
        IoFreeIrp(Extension->ReadIrp);
        Extension->ReadIrp = NULL;
    }
    /* The port keeps the settings the driver gave it. */
    ReleasePort(Extension);
    return STATUS_SUCCESS;
}
