// The PnP manager's interface list and the notifications drivers register for, delivered by the
// system worker thread at PASSIVE_LEVEL in the order they were queued. A delivery queued before
// IoUnregisterPlugPlayNotification still runs after it returns, as the real routine allows.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// A registration that fails late reports the existing interfaces first, in the caller's thread, as
// the real routine may do before it returns, and nothing stays registered.
void ReportExistingInCaller(KernelState &state, ULONG flags, const GUID &interfaceClass, PDRIVER_OBJECT driver,
                            PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback, PVOID context)
{
    if ((flags & PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES) == 0) {
        return;
    }
    auto registration = std::make_shared<NotificationRegistration>();
    registration->interfaceClass = interfaceClass;
    registration->callback = callback;
    registration->context = context;
    registration->driver = driver;
    registration->owner = CurrentOwner();
    std::vector<std::u16string> links;
    {
        std::lock_guard<std::mutex> held(state.lock);
        for (const InterfaceRecord &interface : state.interfaces) {
            if (SameGuid(interface.interfaceClass, interfaceClass)) {
                links.push_back(interface.symbolicLink);
            }
        }
    }
    for (const std::u16string &link : links) {
        Deliver(registration, kInterfaceArrival, interfaceClass, link);
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
    KernelState &state = State();
    bool reportBeforeFailing = false;
    {
        std::lock_guard<std::mutex> held(state.lock);
        DriverModule *module = CurrentOwner().module;
        auto failing = module != nullptr ? state.registrationFailures.find(module->name) : state.registrationFailures.end();
        if (failing != state.registrationFailures.end() && failing->second.count > 0) {
            --failing->second.count;
            if (!failing->second.afterReportingExisting) {
                return STATUS_INSUFFICIENT_RESOURCES;
            }
            reportBeforeFailing = true;
        }
    }
    if (reportBeforeFailing) {
        ReportExistingInCaller(state, flags, *static_cast<const GUID *>(categoryData), driver, callback, context);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ReferenceObject("IoRegisterPlugPlayNotification", driver, false);
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

namespace {

std::u16string GuidText(const GUID &guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return ToUtf16(text);
}

} // namespace

extern "C" NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, CONST GUID *interfaceClass,
                                                    PUNICODE_STRING referenceString, PUNICODE_STRING symbolicLinkName)
{
    RequireIrql("IoRegisterDeviceInterface", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::u16string link;
    {
        std::lock_guard<std::mutex> held(state.lock);
        state.LiveDevice("IoRegisterDeviceInterface", pdo);
        for (auto &entry : state.registeredInterfaces) {
            if (entry.second.device == pdo && SameGuid(entry.second.interfaceClass, *interfaceClass)) {
                link = entry.second.symbolicLink;
            }
        }
        if (link.empty()) {
            char number[32];
            std::snprintf(number, sizeof number, "%zu", state.registeredInterfaces.size() + 1);
            link = u"\\??\\ROOT#DEVICE#" + ToUtf16(number) + u"#" + GuidText(*interfaceClass);
            std::u16string reference = FromUnicodeString(referenceString);
            if (!reference.empty()) {
                link += u"\\" + reference;
            }
            RegisteredInterface record;
            record.device = pdo;
            record.interfaceClass = *interfaceClass;
            record.symbolicLink = link;
            state.registeredInterfaces.emplace(UpperCase(link), record);
        }
    }
    size_t bytes = link.size() * sizeof(WCHAR);
    PWSTR buffer;
    {
        ModuleScope system(nullptr); // the I/O manager's allocation, freed by the caller
        buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), 0x67526F49 /* IoRg */));
    }
    if (buffer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(buffer, link.c_str(), bytes + sizeof(WCHAR));
    symbolicLinkName->Buffer = buffer;
    symbolicLinkName->Length = static_cast<USHORT>(bytes);
    symbolicLinkName->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable)
{
    RequireIrql("IoSetDeviceInterfaceState", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::optional<InterfaceId> toRemove;
    GUID interfaceClass{};
    std::u16string link;
    {
        std::lock_guard<std::mutex> held(state.lock);
        auto it = state.registeredInterfaces.find(UpperCase(FromUnicodeString(symbolicLinkName)));
        if (it == state.registeredInterfaces.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        RegisteredInterface &record = it->second;
        if (enable ? record.enabled.has_value() : !record.enabled.has_value()) {
            return STATUS_SUCCESS;
        }
        if (!enable) {
            toRemove = record.enabled;
            record.enabled.reset();
        }
        interfaceClass = record.interfaceClass;
        link = record.symbolicLink;
    }
    if (toRemove) {
        RemoveInterface(state, *toRemove);
        return STATUS_SUCCESS;
    }
    InterfaceId id = AddInterface(state, interfaceClass, link);
    std::lock_guard<std::mutex> held(state.lock);
    state.registeredInterfaces[UpperCase(link)].enabled = id;
    return STATUS_SUCCESS;
}
