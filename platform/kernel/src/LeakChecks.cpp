// The verifier's leak checks: what a driver module still holds at device removal and at unload,
// the usage counts tests look at, and fault injection in the module's allocations.
#include <cstdio>

#include "KernelState.h"

namespace tapkernel {

std::string PoolTagText(ULONG tag); // Pool.cpp

std::string JoinLines(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items) {
        text += "\n    ";
        text += item;
    }
    return text;
}

namespace {

DriverModule *ModuleOfDevice(KernelState &state, PDEVICE_OBJECT device)
{
    auto *record = device != nullptr ? static_cast<DeviceRecord *>(state.FindObject(device)) : nullptr;
    return record != nullptr ? record->module : nullptr;
}

// Whether module's driver holds a request on file, a file object whose handles are all closed:
// the driver should have completed it at IRP_MJ_CLEANUP, and the object lives on only for it.
bool HoldsRequestOfClosedFile(KernelState &state, const FileRecord *file, DriverModule *module)
{
    if (file->handles != 0) {
        return false;
    }
    for (auto &entry : state.irps) {
        const IrpRecord &irp = *entry.second;
        if (!irp.freed && irp.holdsFile && irp.file == &file->object &&
            ModuleOfDevice(state, HoldingDevice(irp)) == module) {
            return true;
        }
    }
    return false;
}

// A deleted device of module whose remaining references are not the module's: it holds no
// reference on the device, opened no file on it and references none, and keeps no request of a
// file whose handles are all closed. Open handles of programs (or of other drivers) and others'
// opens in flight keep it; requests on them still reach the driver; the device goes at the last
// of them.
bool HeldOnlyByOthers(KernelState &state, const DeviceRecord *device, DriverModule *module)
{
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind != ObjectKind::File || object->freed) {
            continue;
        }
        auto *file = static_cast<FileRecord *>(object);
        if (file->object.DeviceObject != device->device) {
            continue;
        }
        if (file->opener.module == module || state.references.count({module, file->body}) != 0 ||
            HoldsRequestOfClosedFile(state, file, module)) {
            return false; // the driver's own open, or a request it keeps: its leak
        }
    }
    // What references are left are others': their open files, and the opens and requests other
    // threads have in flight at this moment (an open takes its reference on the device before its
    // file object exists). The device goes when the last of them does, as IoDeleteDevice promises.
    return state.references.count({module, device->device}) == 0;
}

} // namespace

std::vector<std::string> ModuleHoldings(KernelState &state, DriverModule *module, LeakCheck check)
{
    std::vector<std::string> found;
    const bool laterOnly = check == LeakCheck::Removal;
    auto counts = [&](const Owner &owner) { return owner.module == module && (!laterOnly || !owner.driverWide); };
    char line[256];
    for (auto &entry : state.pool) {
        if (counts(entry.second.owner)) {
            std::snprintf(line, sizeof line, "pool block %p: %zu bytes, tag '%s'", entry.first, entry.second.size,
                          PoolTagText(entry.second.tag).c_str());
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.irps) {
        const IrpRecord &irp = *entry.second;
        if (!irp.freed && counts(irp.owner)) {
            std::snprintf(line, sizeof line, "IRP %p (not freed)", entry.first);
            found.emplace_back(line);
        }
        // A request of the I/O manager is charged to nobody, but one the driver still holds after
        // the last handle of its file was closed keeps that file object (and its device) alive.
        if (!irp.freed && irp.holdsFile) {
            auto *file = static_cast<FileRecord *>(state.FindObject(irp.file));
            PDEVICE_OBJECT holder = HoldingDevice(irp);
            if (file != nullptr && file->handles == 0 && ModuleOfDevice(state, holder) == module) {
                std::snprintf(line, sizeof line,
                              "IRP %p (major function 0x%02x) of file object %p, whose handles are all closed, "
                              "still pending in device %p",
                              entry.first, irp.locations[static_cast<size_t>(HoldingLocation(irp))].majorFunction,
                              static_cast<void *>(irp.file), static_cast<void *>(holder));
                found.emplace_back(line);
            }
        }
    }
    for (auto &entry : state.references) {
        if (entry.first.first != module) {
            continue;
        }
        LONG count = entry.second.later + (laterOnly ? 0 : entry.second.driverWide);
        if (count > 0) {
            ObjectRecord *object = state.FindObject(entry.first.second);
            const char *kind = object == nullptr ? "object" :
                               object->kind == ObjectKind::Device ? "device object" :
                               object->kind == ObjectKind::File ? "file object" :
                               object->kind == ObjectKind::Thread ? "thread object" : "driver object";
            std::snprintf(line, sizeof line, "%d reference(s) on %s %p", static_cast<int>(count), kind,
                          entry.first.second);
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.handles) {
        if (counts(entry.second.owner)) {
            std::snprintf(line, sizeof line, "open handle %p (%s)", entry.first,
                          entry.second.key ? "registry key" :
                          entry.second.object->kind == ObjectKind::Thread ? "thread" : "file");
            found.emplace_back(line);
        }
    }
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind == ObjectKind::Device && !object->freed) {
            auto *device = static_cast<DeviceRecord *>(object);
            if (device->module == module && (!laterOnly || !device->driverWide) &&
                !(check == LeakCheck::Removal && device->deleted && device->device->AttachedDevice == nullptr &&
                  HeldOnlyByOthers(state, device, module))) {
                const char *condition = !device->deleted ? "not deleted" :
                                        device->device->AttachedDevice != nullptr ? "deleted, a device still attached above it" :
                                        "deleted but still referenced";
                std::snprintf(line, sizeof line, "device object %p (%s) %s", static_cast<void *>(device->device),
                              device->name.empty() ? "unnamed" : ToUtf8(device->name).c_str(), condition);
                found.emplace_back(line);
            }
        }
        if (object->kind == ObjectKind::Thread) {
            auto *thread = static_cast<ThreadRecord *>(object);
            if (thread->systemThread && !thread->terminated && counts(thread->owner)) {
                std::snprintf(line, sizeof line, "%s still running", thread->name.c_str());
                found.emplace_back(line);
            }
        }
    }
    for (auto &entry : state.names) {
        if (!entry.second.linkTarget.empty() && counts(entry.second.owner)) {
            found.push_back("symbolic link " + ToUtf8(entry.second.displayName));
        }
    }
    for (auto &entry : state.registrations) {
        if (counts(entry.second->owner)) {
            std::snprintf(line, sizeof line, "PnP notification registration %p", entry.first);
            found.emplace_back(line);
        }
    }
    return found;
}

ModuleUsage CountUsage(KernelState &state, DriverModule *module)
{
    ModuleUsage usage;
    for (auto &entry : state.pool) {
        if (entry.second.owner.module == module) {
            ++usage.poolBlocks;
            usage.poolBytes += entry.second.size;
        }
    }
    for (auto &entry : state.irps) {
        usage.irps += !entry.second->freed && entry.second->owner.module == module;
    }
    for (auto &entry : state.references) {
        if (entry.first.first == module) {
            usage.objectReferences += static_cast<size_t>(entry.second.later + entry.second.driverWide);
        }
    }
    for (auto &entry : state.handles) {
        usage.handles += entry.second.owner.module == module;
    }
    for (auto &entry : state.objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind == ObjectKind::Device && !object->freed) {
            auto *device = static_cast<DeviceRecord *>(object);
            usage.devices += device->module == module && !device->deleted;
            usage.deletePendingDevices += device->module == module && device->deleted;
        }
        if (object->kind == ObjectKind::Thread) {
            auto *thread = static_cast<ThreadRecord *>(object);
            usage.threads += thread->systemThread && !thread->terminated && thread->owner.module == module;
        }
    }
    for (auto &entry : state.names) {
        usage.symbolicLinks += !entry.second.linkTarget.empty() && entry.second.owner.module == module;
    }
    for (auto &entry : state.registrations) {
        usage.notifications += entry.second->owner.module == module;
    }
    return usage;
}


void Kernel::CheckDeviceRemoval(DriverModule *module)
{
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state_->lock);
    // Every driver of the stack has handled IRP_MN_REMOVE_DEVICE: a device of this module that
    // was deleted under another must have lost it (the driver above detaches after passing the
    // request down).
    for (auto &entry : state_->objects) {
        ObjectRecord *object = entry.second.get();
        if (object->kind != ObjectKind::Device || object->freed) {
            continue;
        }
        auto *device = static_cast<DeviceRecord *>(object);
        PDEVICE_OBJECT upper = device->device->AttachedDevice;
        if (device->module == module && device->deleted && upper != nullptr) {
            auto *upperRecord = static_cast<DeviceRecord *>(state_->FindObject(upper));
            DriverModule *upperModule = upperRecord != nullptr ? upperRecord->module : nullptr;
            BugCheck("device removal (leak check)",
                     "device object %p of %s was deleted, but device %p (%s) is still attached above it at the end "
                     "of the removal: the driver above never detached (IoDetachDevice)",
                     static_cast<void *>(device->device), module->name.c_str(), static_cast<void *>(upper),
                     upperModule != nullptr ? upperModule->name.c_str() : "the machine");
        }
    }
    if (CountUsage(*state_, module).devices != 0) {
        return; // other device stacks of the driver are still present
    }
    std::vector<std::string> left = ModuleHoldings(*state_, module, LeakCheck::Removal);
    if (!left.empty()) {
        BugCheck("device removal (leak check)", "%s still holds, after its devices were removed:%s",
                 module->name.c_str(), JoinLines(left).c_str());
    }
}

void Kernel::CheckReleasedAll(DriverModule *module)
{
    WaitUntilIdle();
    std::lock_guard<std::mutex> held(state_->lock);
    std::vector<std::string> left = ModuleHoldings(*state_, module, LeakCheck::Unload);
    if (!left.empty()) {
        BugCheck("driver unload (leak check)", "%s still holds at unload:%s", module->name.c_str(), JoinLines(left).c_str());
    }
}

ModuleUsage Kernel::Usage(DriverModule *module)
{
    std::lock_guard<std::mutex> held(state_->lock);
    return CountUsage(*state_, module);
}

void Kernel::FailPoolAllocations(DriverModule *module, unsigned skip, unsigned count)
{
    std::lock_guard<std::mutex> held(state_->lock);
    module->poolFailSkip = skip;
    module->poolFailCount = count;
}

void Kernel::ObservePoolAllocations(const std::string &moduleName, std::function<void()> observer)
{
    std::lock_guard<std::mutex> held(state_->lock);
    if (observer) {
        state_->poolObservers[moduleName] = std::move(observer);
    } else {
        state_->poolObservers.erase(moduleName);
    }
}

void Kernel::FailNotificationRegistrations(const std::string &moduleName, unsigned count,
                                           bool afterReportingExisting)
{
    std::lock_guard<std::mutex> held(state_->lock);
    state_->registrationFailures[moduleName] = {count, afterReportingExisting};
}

void Kernel::FailIrpAllocations(DriverModule *module, unsigned skip, unsigned count)
{
    std::lock_guard<std::mutex> held(state_->lock);
    module->irpFailSkip = skip;
    module->irpFailCount = count;
}

} // namespace tapkernel
