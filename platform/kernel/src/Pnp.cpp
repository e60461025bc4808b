// The PnP manager's interface list and the notifications drivers register for, delivered by the
// system worker thread at PASSIVE_LEVEL in the order they were queued. A delivery queued before
// IoUnregisterPlugPlayNotification still runs after it returns, as the real routine allows.
#include "KernelState.h"

namespace tapkernel {

namespace {

// Kept private: a driver defines the GUIDs it uses itself (<initguid.h>), as on Windows.
const GUID kInterfaceArrival = {0xcb3a4004, 0x46f0, 0x11d0, {0xb0, 0x8f, 0x00, 0x60, 0x97, 0x13, 0x05, 0x3f}};
const GUID kInterfaceRemoval = {0xcb3a4005, 0x46f0, 0x11d0, {0xb0, 0x8f, 0x00, 0x60, 0x97, 0x13, 0x05, 0x3f}};

bool SameGuid(const GUID &a, const GUID &b)
{
    return IsEqualGUID(a, b) != 0;
}

void Deliver(const std::shared_ptr<NotificationRegistration> &registration, const GUID &event,
             const GUID &interfaceClass, const std::u16string &link)
{
    std::u16string name = link;
    UNICODE_STRING linkName;
    linkName.Buffer = reinterpret_cast<PWSTR>(name.data());
    linkName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
    linkName.MaximumLength = linkName.Length;
    DEVICE_INTERFACE_CHANGE_NOTIFICATION notification{};
    notification.Version = 1;
    notification.Size = sizeof(notification);
    notification.Event = event;
    notification.InterfaceClassGuid = interfaceClass;
    notification.SymbolicLinkName = &linkName;
    {
        KernelState &state = State();
        std::lock_guard<std::mutex> held(state.lock);
        state.CheckNotFreed("PnP notification callback", registration->context, "callback context");
    }
    DriverCall call("PnP notification callback", registration->owner.module);
    registration->callback(&notification, registration->context);
    call.CheckIrql();
}

void QueueDelivery(KernelState &state, const std::shared_ptr<NotificationRegistration> &registration,
                   const GUID &event, const InterfaceRecord &interface)
{
    GUID interfaceClass = interface.interfaceClass;
    std::u16string link = interface.symbolicLink;
    QueueWorkLocked(state, [registration, event, interfaceClass, link] {
        Deliver(registration, event, interfaceClass, link);
    });
}

void QueueToRegistrations(KernelState &state, const GUID &event, const InterfaceRecord &interface)
{
    for (auto &entry : state.registrations) {
        const std::shared_ptr<NotificationRegistration> &registration = entry.second;
        if (registration->active && SameGuid(registration->interfaceClass, interface.interfaceClass)) {
            QueueDelivery(state, registration, event, interface);
        }
    }
}

} // namespace

void QueueWorkLocked(KernelState &state, std::function<void()> task)
{
    state.work.push_back(std::move(task));
    __atomic_store_n(&state.workEvent.Header.SignalState, 1, __ATOMIC_SEQ_CST);
    SignalObject(state, &state.workEvent);
}

void KernelState::QueueWork(std::function<void()> task)
{
    std::lock_guard<std::mutex> held(lock);
    QueueWorkLocked(*this, std::move(task));
}

// The system worker thread: runs queued work at PASSIVE_LEVEL until the kernel shuts down.
void WorkerLoop(KernelState *state)
{
    for (;;) {
        KeWaitForSingleObject(&state->workEvent, Executive, KernelMode, FALSE, nullptr);
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> held(state->lock);
                if (state->work.empty()) {
                    break;
                }
                task = std::move(state->work.front());
                state->work.pop_front();
            }
            task();
        }
    }
}

InterfaceId AddInterface(KernelState &state, const GUID &interfaceClass, std::u16string_view link)
{
    std::lock_guard<std::mutex> held(state.lock);
    InterfaceRecord record;
    record.id = state.nextInterfaceId++;
    record.interfaceClass = interfaceClass;
    record.symbolicLink = std::u16string(link);
    state.interfaces.push_back(record);
    QueueToRegistrations(state, kInterfaceArrival, record);
    return record.id;
}

void RemoveInterface(KernelState &state, InterfaceId id)
{
    std::lock_guard<std::mutex> held(state.lock);
    for (auto it = state.interfaces.begin(); it != state.interfaces.end(); ++it) {
        if (it->id == id) {
            InterfaceRecord record = *it;
            state.interfaces.erase(it);
            QueueToRegistrations(state, kInterfaceRemoval, record);
            return;
        }
    }
    BugCheck("RemoveDeviceInterface", "no device interface has id %llu", static_cast<unsigned long long>(id));
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" NTSTATUS NTAPI IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY category, ULONG flags,
                                                         PVOID categoryData, PDRIVER_OBJECT driver,
                                                         PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback,
                                                         PVOID context, PVOID *entry)
{
    RequireIrql("IoRegisterPlugPlayNotification", PASSIVE_LEVEL, PASSIVE_LEVEL);
    if (category != EventCategoryDeviceInterfaceChange) {
        return STATUS_NOT_IMPLEMENTED;
    }
    if (categoryData == nullptr || callback == nullptr || entry == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ReferenceObject("IoRegisterPlugPlayNotification", driver, false);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    state.CheckNotFreed("IoRegisterPlugPlayNotification", context, "callback context");
    auto registration = std::make_shared<NotificationRegistration>();
    registration->interfaceClass = *static_cast<const GUID *>(categoryData);
    registration->callback = callback;
    registration->context = context;
    registration->driver = driver;
    registration->owner = CurrentOwner();
    state.registrations.emplace(registration.get(), registration);
    if ((flags & PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES) != 0) {
        for (const InterfaceRecord &interface : state.interfaces) {
            if (SameGuid(interface.interfaceClass, registration->interfaceClass)) {
                QueueDelivery(state, registration, kInterfaceArrival, interface);
            }
        }
    }
    *entry = registration.get();
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI IoUnregisterPlugPlayNotification(PVOID entry)
{
    RequireIrql("IoUnregisterPlugPlayNotification", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    PDRIVER_OBJECT driver = nullptr;
    {
        std::lock_guard<std::mutex> held(state.lock);
        auto it = state.registrations.find(entry);
        if (it == state.registrations.end()) {
            BugCheck("IoUnregisterPlugPlayNotification", "%p is not a notification registration (ended twice?)", entry);
        }
        it->second->active = false;
        driver = it->second->driver;
        state.registrations.erase(it);
    }
    DereferenceObject("IoUnregisterPlugPlayNotification", driver, false);
    return STATUS_SUCCESS;
}
