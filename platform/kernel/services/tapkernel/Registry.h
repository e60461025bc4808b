// The registry of the simulated PC: the HKEY_LOCAL_MACHINE and HKEY_USERS trees with typed values.
// Shared by the kernel's Zw* routines and the user-mode Reg* routines. Key and value names are
// case-insensitive and keep the case they were created with; value data keep their exact length.
// Every member is safe to call from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapkernel {

class RegistryKey; // a key of the store; shared so that open handles outlive a deleted key

using RegistryKeyRef = std::shared_ptr<RegistryKey>;

struct RegistryValue {
    std::u16string name;
    uint32_t type = 0; // REG_SZ, REG_DWORD, REG_BINARY, ...
    std::vector<uint8_t> data;
};

class RegistryStore {
public:
    // The trees: \Registry\Machine (HKEY_LOCAL_MACHINE) and \Registry\User (HKEY_USERS). The
    // current user's tree (HKEY_CURRENT_USER) is \Registry\User\<CurrentUserSid()>.
    enum class Hive { LocalMachine, Users, CurrentUser };

    RegistryStore();
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    static std::u16string CurrentUserSid();

    RegistryKeyRef Root(Hive hive);

    // Opens the key at path (components separated by '\', no leading '\') below base; an empty
    // path opens base itself. nullptr when a component does not exist or base has been deleted.
    RegistryKeyRef Open(const RegistryKeyRef &base, std::u16string_view path);
    // Opens or creates the key at path, creating the missing components when createParents is
    // true, or only the last one otherwise (then a missing parent gives nullptr). *created tells
    // whether the last component was created.
    RegistryKeyRef Create(const RegistryKeyRef &base, std::u16string_view path, bool createParents = true,
                          bool *created = nullptr);
    // Resolves a kernel path: "\Registry\Machine\..." or "\Registry\User\...". nullptr if absent.
    RegistryKeyRef OpenKernelPath(std::u16string_view path);

    // Deletes a key that has no subkeys (false if it has some, or is a root).
    bool DeleteKey(const RegistryKeyRef &key);
    // Deletes a key and everything below it (false for a root).
    bool DeleteTree(const RegistryKeyRef &key);
    bool IsDeleted(const RegistryKeyRef &key);

    // Values. The empty name is the key's default value. SetValue fails only on a deleted key.
    bool SetValue(const RegistryKeyRef &key, std::u16string_view name, uint32_t type, const void *data,
                  size_t length);
    std::optional<RegistryValue> QueryValue(const RegistryKeyRef &key, std::u16string_view name);
    bool DeleteValue(const RegistryKeyRef &key, std::u16string_view name);

    // Enumeration in creation order (as the index-based Reg*Enum*/ZwEnumerate* calls see it).
    std::vector<std::u16string> SubkeyNames(const RegistryKeyRef &key);
    std::vector<RegistryValue> Values(const RegistryKeyRef &key);
    std::u16string Name(const RegistryKeyRef &key);     // the key's own name as created
    std::u16string FullPath(const RegistryKeyRef &key); // "\Registry\Machine\..."

    // Convenience for tests and set-up code (UTF-8 paths below a hive, '\' separated).
    void SetDword(Hive hive, const std::string &path, const std::string &name, uint32_t value);
    void SetString(Hive hive, const std::string &path, const std::string &name, const std::string &value);
    void SetBinary(Hive hive, const std::string &path, const std::string &name, const std::vector<uint8_t> &data);
    std::optional<RegistryValue> Query(Hive hive, const std::string &path, const std::string &name);

    // Text form for bench runs: one "[\Registry\...]" line per key, then one line per value:
    // "name"=type:hex bytes. Load replaces the whole content; false (and a message) on bad input.
    std::string SaveText();
    bool LoadText(const std::string &text, std::string *error = nullptr);

private:
    std::mutex mutex_;
    RegistryKeyRef machine_;
    RegistryKeyRef users_;
};

} // namespace tapkernel
