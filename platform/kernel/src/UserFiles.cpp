// User-mode file I/O and the object namespace as the simulated PC and the user-mode stand-in see
// them: opening devices, requests on file objects, handles closed at shutdown, device interfaces.
#include "KernelState.h"

namespace tapkernel {

// Pnp.cpp
InterfaceId AddInterface(KernelState &state, const GUID &interfaceClass, std::u16string_view link);
void RemoveInterface(KernelState &state, InterfaceId id);

PDEVICE_OBJECT Kernel::FindDevice(std::u16string_view name)
{
    std::lock_guard<std::mutex> held(state_->lock);
    std::u16string remainder;
    NTSTATUS status;
    return ResolveDevice(*state_, name, &remainder, &status);
}

std::optional<std::u16string> Kernel::LinkTarget(std::u16string_view linkName)
{
    std::lock_guard<std::mutex> held(state_->lock);
    auto it = state_->names.find(NormalisePath(linkName));
    if (it == state_->names.end() || it->second.linkTarget.empty()) {
        return std::nullopt;
    }
    return it->second.linkTarget;
}

bool Kernel::IsDeviceDeleted(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> held(state_->lock);
    ObjectRecord *record = state_->FindObject(device);
    return record == nullptr || record->freed || static_cast<DeviceRecord *>(record)->deleted;
}

NTSTATUS Kernel::OpenFile(std::u16string_view name, ACCESS_MASK access, PFILE_OBJECT *file)
{
    return OpenDeviceFile("Kernel::OpenFile", name, access, file);
}

NTSTATUS Kernel::DeviceIoControl(PFILE_OBJECT file, ULONG code, const void *input, ULONG inputLength, void *output,
                                 ULONG outputLength, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_DEVICE_CONTROL, code, input, inputLength, output, outputLength, information);
}

NTSTATUS Kernel::Read(PFILE_OBJECT file, void *buffer, ULONG length, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_READ, 0, nullptr, 0, buffer, length, information);
}

NTSTATUS Kernel::Write(PFILE_OBJECT file, const void *buffer, ULONG length, ULONG_PTR *information)
{
    return SendFileRequest(file, IRP_MJ_WRITE, 0, buffer, length, nullptr, 0, information);
}

void Kernel::CloseFile(PFILE_OBJECT file)
{
    CloseFileHandle(file);
}

void Kernel::ReferenceFile(PFILE_OBJECT file)
{
    std::lock_guard<std::mutex> held(state_->lock);
    ObjectRecord *record = state_->FindObject(file);
    if (record == nullptr || record->kind != ObjectKind::File || record->freed) {
        BugCheck("Kernel::ReferenceFile", "%p is not an open file object", static_cast<void *>(file));
    }
    ++record->references;
}

void Kernel::DereferenceFile(PFILE_OBJECT file)
{
    RequireIrql("Kernel::DereferenceFile", PASSIVE_LEVEL, PASSIVE_LEVEL);
    DereferenceObject("Kernel::DereferenceFile", file, false);
}

size_t Kernel::CloseUserFiles()
{
    RequireIrql("Kernel::CloseUserFiles", PASSIVE_LEVEL, PASSIVE_LEVEL);
    std::vector<std::pair<PFILE_OBJECT, LONG>> open;
    {
        std::lock_guard<std::mutex> held(state_->lock);
        for (auto &entry : state_->objects) {
            ObjectRecord *object = entry.second.get();
            if (object->kind != ObjectKind::File || object->freed) {
                continue;
            }
            auto *file = static_cast<FileRecord *>(object);
            if (file->handles > 0 && file->opener.module == nullptr) {
                open.emplace_back(&file->object, file->handles);
            }
        }
    }
    size_t closed = 0;
    for (auto &[file, handles] : open) {
        for (LONG i = 0; i < handles; ++i, ++closed) {
            CloseFileHandle(file);
        }
    }
    return closed;
}

InterfaceId Kernel::RegisterDeviceInterface(const GUID &interfaceClass, std::u16string_view symbolicLinkName)
{
    return AddInterface(*state_, interfaceClass, symbolicLinkName);
}

void Kernel::RemoveDeviceInterface(InterfaceId id)
{
    RemoveInterface(*state_, id);
}

} // namespace tapkernel
