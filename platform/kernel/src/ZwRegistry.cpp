// The kernel's registry routines over the store: keys opened by kernel path (\Registry\Machine,
// \Registry\User) or relative to an open key, values read in the three information classes with
// the real routine's rules for short buffers.
#include <cstring>

#include "KernelState.h"

namespace tapkernel {
namespace {

constexpr ULONG kFullHeader = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
constexpr ULONG kPartialHeader = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
constexpr ULONG kBasicHeader = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);

ULONG AlignToUlong(ULONG offset)
{
    return (offset + sizeof(ULONG) - 1) & ~static_cast<ULONG>(sizeof(ULONG) - 1);
}

// The key a handle refers to, checked for the access the caller needs.
NTSTATUS KeyOfHandle(KernelState &state, HANDLE handle, ACCESS_MASK needed, RegistryKeyRef *key)
{
    auto it = state.handles.find(handle);
    if (it == state.handles.end()) {
        return STATUS_INVALID_HANDLE;
    }
    if (!it->second.key) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    if ((it->second.access & needed) != needed) {
        return STATUS_ACCESS_DENIED;
    }
    *key = it->second.key;
    return STATUS_SUCCESS;
}

struct KeyPath {
    RegistryKeyRef base;
    std::u16string relative;
};

NTSTATUS ResolvePath(KernelState &state, POBJECT_ATTRIBUTES attributes, KeyPath *path)
{
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string name = FromUnicodeString(attributes->ObjectName);
    if (attributes->RootDirectory != nullptr) {
        if (!name.empty() && name[0] == u'\\') {
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        }
        NTSTATUS status = KeyOfHandle(state, attributes->RootDirectory, 0, &path->base);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        path->relative = name;
        return STATUS_SUCCESS;
    }
    std::u16string upper = UpperCase(name);
    for (std::u16string_view hive : {std::u16string_view(u"\\REGISTRY\\MACHINE"), std::u16string_view(u"\\REGISTRY\\USER")}) {
        if (upper.compare(0, hive.size(), hive) == 0 && (upper.size() == hive.size() || upper[hive.size()] == u'\\')) {
            path->base = state.registry->Root(hive.size() == 17 ? RegistryStore::Hive::LocalMachine
                                                                : RegistryStore::Hive::Users);
            path->relative = name.substr(hive.size());
            return STATUS_SUCCESS;
        }
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS InsertKeyHandle(KernelState &state, RegistryKeyRef key, ACCESS_MASK access, PHANDLE handle)
{
    HandleEntry entry;
    entry.key = std::move(key);
    entry.access = access;
    entry.owner = CurrentOwner();
    *handle = state.InsertHandle(std::move(entry));
    return STATUS_SUCCESS;
}

} // namespace
} // namespace tapkernel

using namespace tapkernel;

extern "C" NTSTATUS NTAPI ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes)
{
    RequireIrql("ZwOpenKey", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    KeyPath path;
    NTSTATUS status = ResolvePath(state, attributes, &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (state.registry->IsDeleted(path.base)) {
        return STATUS_KEY_DELETED;
    }
    RegistryKeyRef key = state.registry->Open(path.base, path.relative);
    if (!key) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return InsertKeyHandle(state, std::move(key), access, keyHandle);
}

extern "C" NTSTATUS NTAPI ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG,
                                      PUNICODE_STRING, ULONG, PULONG disposition)
{
    RequireIrql("ZwCreateKey", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    KeyPath path;
    NTSTATUS status = ResolvePath(state, attributes, &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (state.registry->IsDeleted(path.base)) {
        return STATUS_KEY_DELETED;
    }
    bool created = false;
    RegistryKeyRef key = state.registry->Create(path.base, path.relative, false, &created);
    if (!key) {
        return STATUS_OBJECT_NAME_NOT_FOUND; // a parent is missing
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return InsertKeyHandle(state, std::move(key), access, keyHandle);
}

extern "C" NTSTATUS NTAPI ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                                          KEY_VALUE_INFORMATION_CLASS informationClass, PVOID information,
                                          ULONG length, PULONG resultLength)
{
    RequireIrql("ZwQueryValueKey", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    RegistryKeyRef key;
    NTSTATUS status = KeyOfHandle(state, keyHandle, KEY_QUERY_VALUE, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (state.registry->IsDeleted(key)) {
        return STATUS_KEY_DELETED;
    }
    std::optional<RegistryValue> value = state.registry->QueryValue(key, FromUnicodeString(valueName));
    if (!value) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    auto nameBytes = static_cast<ULONG>(value->name.size() * sizeof(WCHAR));
    auto dataBytes = static_cast<ULONG>(value->data.size());
    auto *out = static_cast<uint8_t *>(information);
    switch (informationClass) {
    case KeyValueBasicInformation: {
        ULONG required = kBasicHeader + nameBytes;
        *resultLength = required;
        if (length < kBasicHeader) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        auto *basic = static_cast<PKEY_VALUE_BASIC_INFORMATION>(information);
        basic->TitleIndex = 0;
        basic->Type = value->type;
        basic->NameLength = nameBytes;
        ULONG room = length - kBasicHeader;
        std::memcpy(out + kBasicHeader, value->name.data(), room < nameBytes ? room : nameBytes);
        return length < required ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
    }
    case KeyValueFullInformation: {
        ULONG dataOffset = AlignToUlong(kFullHeader + nameBytes);
        ULONG required = dataOffset + dataBytes;
        *resultLength = required;
        if (length < kFullHeader) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        auto *full = static_cast<PKEY_VALUE_FULL_INFORMATION>(information);
        full->TitleIndex = 0;
        full->Type = value->type;
        full->DataOffset = dataOffset;
        full->DataLength = dataBytes;
        full->NameLength = nameBytes;
        ULONG room = length - kFullHeader;
        std::memcpy(out + kFullHeader, value->name.data(), room < nameBytes ? room : nameBytes);
        if (length < required) {
            return STATUS_BUFFER_OVERFLOW;
        }
        if (dataBytes != 0) { // an empty value has no data to copy (and data() may be null)
            std::memcpy(out + dataOffset, value->data.data(), dataBytes);
        }
        return STATUS_SUCCESS;
    }
    case KeyValuePartialInformation: {
        ULONG required = kPartialHeader + dataBytes;
        *resultLength = required;
        if (length < kPartialHeader) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        auto *partial = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(information);
        partial->TitleIndex = 0;
        partial->Type = value->type;
        partial->DataLength = dataBytes;
        if (length < required) {
            return STATUS_BUFFER_OVERFLOW;
        }
        if (dataBytes != 0) {
            std::memcpy(out + kPartialHeader, value->data.data(), dataBytes);
        }
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

extern "C" NTSTATUS NTAPI ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG, ULONG type, PVOID data,
                                        ULONG dataSize)
{
    RequireIrql("ZwSetValueKey", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    RegistryKeyRef key;
    NTSTATUS status = KeyOfHandle(state, keyHandle, KEY_SET_VALUE, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (dataSize != 0 && data == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!state.registry->SetValue(key, FromUnicodeString(valueName), type, data, dataSize)) {
        return STATUS_KEY_DELETED;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName)
{
    RequireIrql("ZwDeleteValueKey", PASSIVE_LEVEL, PASSIVE_LEVEL);
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    RegistryKeyRef key;
    NTSTATUS status = KeyOfHandle(state, keyHandle, KEY_SET_VALUE, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (state.registry->IsDeleted(key)) {
        return STATUS_KEY_DELETED;
    }
    return state.registry->DeleteValue(key, FromUnicodeString(valueName)) ? STATUS_SUCCESS
                                                                           : STATUS_OBJECT_NAME_NOT_FOUND;
}
