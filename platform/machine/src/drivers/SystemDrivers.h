// The drivers built into the simulated PC and what they reach of the machine around them.
//
// The drivers are kernel-style code against the DDK headers, loaded through the same service
// keys and module loader as any other driver (their files under system32\drivers are marker
// files naming them). What real hardware or the window system would give them, they get from
// the machine through DriverHost(): the UART behind a port, the cursor and its listeners, the
// loudspeaker.
#pragma once

#include <ntddk.h>

#include <machine/Machine.h>

namespace tapmachine {

class ComPortModel;

class SystemDriverHost {
public:
    virtual ~SystemDriverHost() = default;
    // The UART the root bus assigned to a port's physical device object, or null.
    virtual ComPortModel *ComPortOf(PDEVICE_OBJECT physicalDevice) = 0;
    // Enables or disables the port's GUID_DEVINTERFACE_COMPORT interface: arrival or removal
    // notifications go to every driver registered for the class.
    virtual void SetPortInterfaceState(ComPortModel &port, BOOLEAN enabled) = 0;

    virtual MouseInput &Mouse() = 0;
    virtual bool MouseClassQueriesAttributes() = 0;
    virtual void UpdateMouseClassDevice(const MouseClassDeviceInfo &info) = 0;

    virtual void RecordBeep(const BeepRecord &beep) = 0;
    virtual Ticks Now() = 0;
};

// The host of the current machine; stops the run when there is no machine.
SystemDriverHost &DriverHost();

}  // namespace tapmachine

// Entry points, registered with the module loader under these built-in names.
extern "C" {
DRIVER_INITIALIZE SerialDriverEntry;      // "serial"
DRIVER_INITIALIZE BeepDriverEntry;        // "beep"
DRIVER_INITIALIZE MouseClassDriverEntry;  // "mouclass"
DRIVER_INITIALIZE RootBusDriverEntry;     // the PnP manager's root bus
}

// ---- Small helpers shared by the built-in drivers --------------------------------------------

// A doubly linked queue of IRPs through Tail.Overlay.ListEntry.
inline VOID QueueInitialize(PLIST_ENTRY head)
{
    head->Flink = head->Blink = head;
}
inline BOOLEAN QueueIsEmpty(const LIST_ENTRY *head)
{
    return head->Flink == head;
}
inline VOID QueueUnlink(PLIST_ENTRY entry)
{
    entry->Blink->Flink = entry->Flink;
    entry->Flink->Blink = entry->Blink;
    entry->Flink = entry->Blink = entry;  // unlinking twice is harmless
}
inline VOID QueueAppend(PLIST_ENTRY head, PLIST_ENTRY entry)
{
    entry->Flink = head;
    entry->Blink = head->Blink;
    head->Blink->Flink = entry;
    head->Blink = entry;
}
inline PIRP QueueIrpOf(PLIST_ENTRY entry)
{
    return CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
}

// Passes an IRP down and waits until the lower drivers have completed it; the IRP is the
// caller's again on return. PASSIVE_LEVEL.
NTSTATUS ForwardAndWait(PDEVICE_OBJECT lowerDevice, PIRP irp);

// Sends an internal or ordinary device control request and waits for it. PASSIVE_LEVEL.
NTSTATUS SendControlAndWait(PDEVICE_OBJECT device, ULONG code, BOOLEAN internal, PVOID input,
                            ULONG inputLength, PVOID output, ULONG outputLength,
                            ULONG_PTR *information);

// Completes an IRP with a status and no data. Returns the status.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
