/*
 * Beep.cpp - the click sound. The read path only signals BeepEvent; the beep thread of each
 * device pair answers it with one request to the beep driver, so the read path never waits for
 * a beep. IOCTL_TOUCH_BEEP sends its beep in the caller's thread through the same SendBeep.
 */
#include "TapDriver.h"

#include <ntddbeep.h>

static PControlDeviceExtension ControlOf(PMouseDeviceExtension Extension)
{
    return (PControlDeviceExtension)Extension->ControlDevice->DeviceExtension;
}

static VOID AcquireBeepLock(PControlDeviceExtension Control)
{
    PAGED_CODE();
    KeWaitForSingleObject(&Control->BeepLock, Executive, KernelMode, FALSE, NULL);
}

static VOID ReleaseBeepLock(PControlDeviceExtension Control)
{
    KeReleaseMutex(&Control->BeepLock, FALSE);
}

/* PASSIVE_LEVEL, from AddDevice. The thread runs until StopBeepThread. */
NTSTATUS StartBeepThread(PMouseDeviceExtension Extension)
{
    PControlDeviceExtension control = ControlOf(Extension);
    HANDLE thread;
    NTSTATUS status;

    PAGED_CODE();
    InterlockedExchange(&control->BeepThreadStop, FALSE);
    KeInitializeEvent(&Extension->BeepEvent, NotificationEvent, FALSE);
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, BeepWorker, Extension);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, NULL, KernelMode, (PVOID *)&Extension->BeepThread,
                                       NULL);
    if (!NT_SUCCESS(status)) {
        /* Removal could not wait for a thread it holds no object of: end it at once, long before
         * the device can go, and work without beeps. */
        Extension->BeepThread = NULL;
        InterlockedExchange(&control->BeepThreadStop, TRUE);
        KeSetEvent(&Extension->BeepEvent, IO_NO_INCREMENT, FALSE);
    }
    ZwClose(thread);
    return status;
}

/* PASSIVE_LEVEL, from the removal; the read path has stopped, so nobody signals BeepEvent. */
VOID StopBeepThread(PMouseDeviceExtension Extension)
{
    PAGED_CODE();
    if (Extension->BeepThread == NULL) {
        return;
    }
    InterlockedExchange(&ControlOf(Extension)->BeepThreadStop, TRUE);
    KeSetEvent(&Extension->BeepEvent, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(Extension->BeepThread, Executive, KernelMode, FALSE, NULL);
    ObDereferenceObject(Extension->BeepThread);
    Extension->BeepThread = NULL;
}

/* System thread, PASSIVE_LEVEL. Requests that arrive while a beep is being sent fold into one:
 * the event is a flag, not a counter. */
VOID NTAPI BeepWorker(PVOID Context)
{
    PMouseDeviceExtension extension = (PMouseDeviceExtension)Context;
    PControlDeviceExtension control = ControlOf(extension);

    PAGED_CODE();
    for (;;) {
        KeWaitForSingleObject(&extension->BeepEvent, Executive, KernelMode, FALSE, NULL);
        KeClearEvent(&extension->BeepEvent);
        if (TapLoad(control->BeepThreadStop)) {
            PsTerminateSystemThread(STATUS_SUCCESS);
        }
        SendBeep(control, TapLoad(Globals.Settings.BeepFreq), TapLoad(Globals.Settings.BeepTime));
    }
}

/* Opens \Device\Beep and keeps a reference to its device object (the file object is dropped).
 * PASSIVE_LEVEL, BeepLock held. */
static NTSTATUS OpenBeepDevice(PControlDeviceExtension Control)
{
    UNICODE_STRING beepName;
    PFILE_OBJECT fileObject;
    PDEVICE_OBJECT deviceObject;
    NTSTATUS status;

    PAGED_CODE();
    beepName.Length = sizeof(DD_BEEP_DEVICE_NAME_U) - sizeof(WCHAR);
    beepName.MaximumLength = sizeof(DD_BEEP_DEVICE_NAME_U);
    beepName.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, beepName.MaximumLength, TAP_POOL_TAG);
    if (beepName.Buffer == NULL) {
        return STATUS_UNSUCCESSFUL;
    }
    RtlCopyMemory(beepName.Buffer, DD_BEEP_DEVICE_NAME_U, sizeof(DD_BEEP_DEVICE_NAME_U));

    status = IoGetDeviceObjectPointer(&beepName, FILE_ALL_ACCESS, &fileObject, &deviceObject);
    if (NT_SUCCESS(status)) {
        Control->BeepDevice = deviceObject;
        ObReferenceObject(deviceObject);
        ObDereferenceObject(fileObject);
    }
    ExFreePoolWithTag(beepName.Buffer, TAP_POOL_TAG);
    return status;
}

/* PASSIVE_LEVEL. The beep thread and IOCTL_TOUCH_BEEP may both come here at once: BeepLock
 * makes the first open happen once and keeps removal from releasing the device under a beep. */
NTSTATUS SendBeep(PControlDeviceExtension Control, ULONG Frequency, ULONG Duration)
{
    BEEP_SET_PARAMETERS parameters;
    NTSTATUS status = STATUS_SUCCESS;

    PAGED_CODE();
    AcquireBeepLock(Control);
    if (Control->BeepClosed) {
        /* The pair is gone; a handle to its control device outlived it. */
        status = STATUS_DELETE_PENDING;
    } else if (Control->BeepDevice == NULL) {
        status = OpenBeepDevice(Control);
    }
    if (NT_SUCCESS(status)) {
        parameters.Frequency = Frequency;
        parameters.Duration = Duration;
        status = SyncIoctl(FALSE, IOCTL_BEEP_SET, Control->BeepDevice, &parameters, sizeof(parameters), NULL, 0);
    }
    ReleaseBeepLock(Control);
    return status;
}

/* PASSIVE_LEVEL, from the removal after the beep thread has ended. */
VOID CloseBeepDevice(PControlDeviceExtension Control)
{
    PAGED_CODE();
    AcquireBeepLock(Control);
    if (Control->BeepDevice != NULL) {
        ObDereferenceObject(Control->BeepDevice);
        Control->BeepDevice = NULL;
    }
    Control->BeepClosed = TRUE;
    ReleaseBeepLock(Control);
}
