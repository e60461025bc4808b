// The machine's side of the registry: key paths by their root names, the system's own entries,
// and the whole store to and from the text format.
#include "MachineState.h"

#include <tapkernel/Text.h>

namespace tapmachine {

namespace {

using Hive = tapkernel::RegistryStore::Hive;

struct RootedPath {
    Hive hive;
    std::u16string below;  // without a leading backslash; empty for the root itself
};

RootedPath SplitKeyPath(std::u16string_view keyPath)
{
    size_t slash = keyPath.find(u'\\');
    std::u16string_view root = keyPath.substr(0, slash);
    std::u16string below = slash == std::u16string_view::npos ? u"" : std::u16string(keyPath.substr(slash + 1));
    if (tapkernel::EqualsNoCase(root, u"HKLM") || tapkernel::EqualsNoCase(root, kLocalMachineRoot)) {
        return {Hive::LocalMachine, below};
    }
    if (tapkernel::EqualsNoCase(root, u"HKCU") || tapkernel::EqualsNoCase(root, kCurrentUserRoot)) {
        return {Hive::CurrentUser, below};
    }
    if (tapkernel::EqualsNoCase(root, u"HKU") || tapkernel::EqualsNoCase(root, kUsersRoot)) {
        return {Hive::Users, below};
    }
    throw std::invalid_argument("a key path starts with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS: " +
                                tapkernel::ToUtf8(keyPath));
}

// The key's path as the text shows it, below the root name given.
void CollectKeys(tapkernel::RegistryStore &store, const tapkernel::RegistryKeyRef &key,
                 const std::u16string &path, std::vector<RegistryKeyRecord> &out,
                 const std::function<bool(const std::u16string &)> &skip)
{
    if (skip(path)) {
        return;
    }
    RegistryKeyRecord record{path, {}};
    for (tapkernel::RegistryValue &value : store.Values(key)) {
        record.values.push_back({value.name, value.type, value.data});
    }
    // A root without values needs no section: it always exists.
    if (path.find(u'\\') != std::u16string::npos || !record.values.empty()) {
        out.push_back(std::move(record));
    }
    for (const std::u16string &name : store.SubkeyNames(key)) {
        if (auto child = store.Open(key, name)) {
            CollectKeys(store, child, path + u"\\" + name, out, skip);
        }
    }
}

void ClearKey(tapkernel::RegistryStore &store, const tapkernel::RegistryKeyRef &key,
              const std::function<bool(const std::u16string &)> &keep)
{
    for (const std::u16string &name : store.SubkeyNames(key)) {
        if (keep(name)) {
            continue;
        }
        if (auto child = store.Open(key, name)) {
            store.DeleteTree(child);
        }
    }
    for (const tapkernel::RegistryValue &value : store.Values(key)) {
        store.DeleteValue(key, value.name);
    }
}

// Values the system has from installation; written only where missing.
struct SystemValue {
    const char16_t *key;
    const char16_t *name;
    uint32_t type;
    std::vector<uint8_t> data;
};

std::vector<SystemValue> SystemValues()
{
    const std::u16string services = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
    const std::u16string classes = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
    static const std::u16string serial = services + u"Serial";
    static const std::u16string beep = services + u"Beep";
    static const std::u16string mouclass = services + u"mouclass";
    static const std::u16string mouse = classes + std::u16string(kMouseClassGuid);
    static const std::u16string ports = classes + std::u16string(kPortsClassGuid);
    static const std::u16string hid = classes + std::u16string(kHidClassGuid);
    static const std::u16string userMouse = u"HKEY_CURRENT_USER\\Control Panel\\Mouse";
    return {
        {serial.c_str(), u"ImagePath", kRegExpandSz, StringData(u"System32\\DRIVERS\\serial.sys")},
        {serial.c_str(), u"Type", kRegDword, DwordData(1)},
        {serial.c_str(), u"Start", kRegDword, DwordData(1)},
        {serial.c_str(), u"ErrorControl", kRegDword, DwordData(0)},
        {beep.c_str(), u"ImagePath", kRegExpandSz, StringData(u"System32\\DRIVERS\\beep.sys")},
        {beep.c_str(), u"Type", kRegDword, DwordData(1)},
        {beep.c_str(), u"Start", kRegDword, DwordData(1)},
        {beep.c_str(), u"ErrorControl", kRegDword, DwordData(1)},
        {mouclass.c_str(), u"ImagePath", kRegExpandSz, StringData(u"System32\\DRIVERS\\mouclass.sys")},
        {mouclass.c_str(), u"Type", kRegDword, DwordData(1)},
        {mouclass.c_str(), u"Start", kRegDword, DwordData(1)},
        {mouclass.c_str(), u"ErrorControl", kRegDword, DwordData(1)},
        {mouse.c_str(), u"", kRegSz, StringData(u"Mice and other pointing devices")},
        {mouse.c_str(), u"Class", kRegSz, StringData(u"Mouse")},
        {mouse.c_str(), u"UpperFilters", kRegMultiSz, MultiStringData({u"mouclass"})},
        {ports.c_str(), u"", kRegSz, StringData(u"Ports (COM & LPT)")},
        {ports.c_str(), u"Class", kRegSz, StringData(u"Ports")},
        {hid.c_str(), u"", kRegSz, StringData(u"Human Interface Devices")},
        {hid.c_str(), u"Class", kRegSz, StringData(u"HIDClass")},
        // The user's mouse settings as a fresh Windows 2000/XP profile has them.
        {userMouse.c_str(), u"DoubleClickHeight", kRegSz, StringData(u"4")},
        {userMouse.c_str(), u"DoubleClickSpeed", kRegSz, StringData(u"500")},
        {userMouse.c_str(), u"DoubleClickWidth", kRegSz, StringData(u"4")},
    };
}

bool IsHardwareKey(const std::u16string &path)
{
    std::u16string prefix = std::u16string(kLocalMachineRoot) + u"\\HARDWARE";
    return tapkernel::EqualsNoCase(std::u16string_view(path).substr(0, prefix.size()), prefix) &&
           (path.size() == prefix.size() || path[prefix.size()] == u'\\');
}

}  // namespace

tapkernel::RegistryKeyRef MachineState::OpenKey(std::u16string_view keyPath, bool create)
{
    RootedPath rooted = SplitKeyPath(keyPath);
    tapkernel::RegistryKeyRef root = registry_->Root(rooted.hive);
    return create ? registry_->Create(root, rooted.below) : registry_->Open(root, rooted.below);
}

void MachineState::WriteSystemEntries()
{
    for (const SystemValue &value : SystemValues()) {
        tapkernel::RegistryKeyRef key = OpenKey(value.key, true);
        if (!registry_->QueryValue(key, value.name)) {
            registry_->SetValue(key, value.name, value.type, value.data.data(), value.data.size());
        }
    }
    // The key setup programs add their once-only commands to.
    OpenKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", true);
    // The hardware tree is rebuilt at every boot, as the system does.
    tapkernel::RegistryKeyRef hardware = OpenKey(u"HKEY_LOCAL_MACHINE\\HARDWARE", true);
    registry_->DeleteTree(hardware);
    OpenKey(u"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM", true);
}

std::string MachineState::RegistryText()
{
    std::vector<RegistryKeyRecord> keys;
    const std::u16string currentUser = tapkernel::RegistryStore::CurrentUserSid();
    CollectKeys(*registry_, registry_->Root(Hive::LocalMachine), std::u16string(kLocalMachineRoot), keys,
                IsHardwareKey);
    CollectKeys(*registry_, registry_->Root(Hive::CurrentUser), std::u16string(kCurrentUserRoot), keys,
                [](const std::u16string &) { return false; });
    std::u16string usersRoot(kUsersRoot);
    std::u16string currentUserPath = usersRoot + u"\\" + currentUser;
    CollectKeys(*registry_, registry_->Root(Hive::Users), usersRoot, keys, [&](const std::u16string &path) {
        return tapkernel::EqualsNoCase(path, currentUserPath);  // written above as HKEY_CURRENT_USER
    });
    return FormatRegistryText(keys);
}

void MachineState::LoadRegistryText(const std::string &text)
{
    std::vector<RegistryKeyRecord> keys = ParseRegistryText(text);
    const std::u16string currentUser = tapkernel::RegistryStore::CurrentUserSid();
    ClearKey(*registry_, registry_->Root(Hive::LocalMachine),
             [](const std::u16string &name) { return tapkernel::EqualsNoCase(name, u"HARDWARE"); });
    // The current user's tree stays (emptied): the store hands it out as HKEY_CURRENT_USER.
    ClearKey(*registry_, registry_->Root(Hive::Users),
             [&](const std::u16string &name) { return tapkernel::EqualsNoCase(name, currentUser); });
    ClearKey(*registry_, registry_->Root(Hive::CurrentUser), [](const std::u16string &) { return false; });
    for (const RegistryKeyRecord &record : keys) {
        if (IsHardwareKey(record.path)) {
            continue;
        }
        tapkernel::RegistryKeyRef key = OpenKey(record.path, true);
        for (const RegistryValueRecord &value : record.values) {
            registry_->SetValue(key, value.name, value.type, value.data.data(), value.data.size());
        }
    }
}

}  // namespace tapmachine
