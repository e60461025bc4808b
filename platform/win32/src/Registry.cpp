// advapi32's registry calls on the simulated PC's registry store, the one the kernel's Zw*
// routines use. Names and string data are kept in UTF-16 as on Windows; the *A routines convert
// from and to the ANSI code page. Value data keep their exact length and type.
#include <windows.h>

#include "Ansi.h"
#include "Session.h"

#include <tapkernel/Registry.h>

#include <cstring>

namespace tapwin32 {

namespace {

using tapkernel::RegistryKeyRef;
using tapkernel::RegistryStore;

class KeyObject : public Object {
public:
    KeyObject(RegistryKeyRef key, REGSAM access) : Object(Kind::RegistryKey), key_(std::move(key)), access_(access) {}
    const RegistryKeyRef &key() const { return key_; }
    REGSAM access() const { return access_; }

private:
    RegistryKeyRef key_;
    REGSAM access_;
};

// The rights a handle is granted for what was asked: generic rights map to the key rights,
// MAXIMUM_ALLOWED to all of them (the tools run as an administrator).
REGSAM GrantedRights(REGSAM desired)
{
    REGSAM granted = desired & (KEY_ALL_ACCESS | KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) {
        granted |= KEY_ALL_ACCESS;
    }
    if (desired & GENERIC_READ) {
        granted |= KEY_READ;
    }
    if (desired & GENERIC_WRITE) {
        granted |= KEY_WRITE;
    }
    if (desired & GENERIC_EXECUTE) {
        granted |= KEY_EXECUTE;
    }
    return granted;
}

bool IsPredefined(HKEY key)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(key);
    return value >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) && value <= reinterpret_cast<uintptr_t>(HKEY_USERS);
}

// The key a handle stands for, with the rights it was opened with.
struct KeyAccess {
    RegistryKeyRef key;
    REGSAM rights = 0;
    LONG error = ERROR_SUCCESS;
};

KeyAccess ResolveKey(const std::shared_ptr<Session> &session, RegistryStore &store, HKEY handle)
{
    KeyAccess access;
    if (IsPredefined(handle)) {
        access.rights = KEY_ALL_ACCESS;
        if (handle == HKEY_LOCAL_MACHINE) {
            access.key = store.Root(RegistryStore::Hive::LocalMachine);
        } else if (handle == HKEY_CURRENT_USER) {
            access.key = store.Root(RegistryStore::Hive::CurrentUser);
        } else if (handle == HKEY_USERS) {
            access.key = store.Root(RegistryStore::Hive::Users);
        } else { // HKEY_CLASSES_ROOT: the machine's classes
            access.key = store.Open(store.Root(RegistryStore::Hive::LocalMachine), u"SOFTWARE\\Classes");
        }
        if (!access.key) {
            access.error = ERROR_FILE_NOT_FOUND;
        }
        return access;
    }
    std::shared_ptr<Object> object = session->Lookup(reinterpret_cast<HANDLE>(handle));
    if (!object || object->kind() != Object::Kind::RegistryKey) {
        access.error = ERROR_INVALID_HANDLE;
        return access;
    }
    auto *key = static_cast<KeyObject *>(object.get());
    access.key = key->key();
    access.rights = key->access();
    if (store.IsDeleted(access.key)) {
        access.error = ERROR_KEY_DELETED;
    }
    return access;
}

// A subkey path as Windows accepts it: no leading backslash, no empty component (one trailing
// backslash is tolerated).
bool SubkeyPath(LPCSTR subKey, std::u16string *path)
{
    std::string text = subKey ? subKey : "";
    if (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    if (!text.empty() && (text.front() == '\\' || text.find("\\\\") != std::string::npos)) {
        return false;
    }
    *path = AnsiToUtf16(text);
    return true;
}

std::u16string ValueName(LPCSTR name)
{
    return name ? AnsiToUtf16(name) : std::u16string();
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

RegistryStore *Store(const char *routine)
{
    RegistryStore *store = link::Registry();
    if (!store) {
        UserModeFault(routine, "called while no simulated PC is running");
    }
    return store;
}

// The key a handle names and the path of a subkey below it, as the open and create calls take
// them: the handle's own error, or ERROR_BAD_PATHNAME for a path the registry cannot hold.
LONG ResolveSubkey(const std::shared_ptr<Session> &session, RegistryStore &store, HKEY hKey, LPCSTR lpSubKey,
                   KeyAccess *parent, std::u16string *path)
{
    *parent = ResolveKey(session, store, hKey);
    if (parent->error != ERROR_SUCCESS) {
        return parent->error;
    }
    return SubkeyPath(lpSubKey, path) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
}

LONG OpenKey(const char *routine, HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult)
{
    std::shared_ptr<Session> session = Session::Current(routine);
    RegistryStore &store = *Store(routine);
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    KeyAccess parent;
    std::u16string path;
    if (LONG error = ResolveSubkey(session, store, hKey, lpSubKey, &parent, &path); error != ERROR_SUCCESS) {
        return error;
    }
    RegistryKeyRef key = store.Open(parent.key, path);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = reinterpret_cast<HKEY>(session->Insert(std::make_shared<KeyObject>(key, GrantedRights(samDesired))));
    return ERROR_SUCCESS;
}

} // namespace

} // namespace tapwin32

using namespace tapwin32;

extern "C" {

// Opens a subkey with all the rights the caller may have. An empty or NULL subkey gives back
// hKey itself (no new handle), as the documentation says.
LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (phkResult && (!lpSubKey || !*lpSubKey)) {
        std::shared_ptr<Session> session = Session::Current("RegOpenKeyA");
        KeyAccess key = ResolveKey(session, *Store("RegOpenKeyA"), hKey);
        if (key.error != ERROR_SUCCESS) {
            *phkResult = nullptr;
            return key.error;
        }
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return OpenKey("RegOpenKeyA", hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

// Opens a subkey with the rights asked for; later calls on the handle need them (querying a
// value KEY_QUERY_VALUE, setting one KEY_SET_VALUE, creating a subkey KEY_CREATE_SUB_KEY). An
// empty or NULL subkey opens a new handle to hKey. ERROR_FILE_NOT_FOUND when a key on the path
// does not exist.
LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    if (ulOptions & ~static_cast<DWORD>(REG_OPTION_OPEN_LINK)) {
        return ERROR_INVALID_PARAMETER;
    }
    return OpenKey("RegOpenKeyExA", hKey, lpSubKey, samDesired, phkResult);
}

// Opens a subkey, creating it and every missing key on its path. *lpdwDisposition tells whether
// the last key was created (REG_CREATED_NEW_KEY) or already there (REG_OPENED_EXISTING_KEY).
// The parent handle needs KEY_CREATE_SUB_KEY when a key is created.
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition)
{
    (void)Reserved;
    (void)lpClass;
    (void)lpSecurityAttributes;
    std::shared_ptr<Session> session = Session::Current("RegCreateKeyExA");
    RegistryStore &store = *Store("RegCreateKeyExA");
    if (!phkResult || !lpSubKey) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    if (dwOptions & ~static_cast<DWORD>(REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyAccess parent;
    std::u16string path;
    if (LONG error = ResolveSubkey(session, store, hKey, lpSubKey, &parent, &path); error != ERROR_SUCCESS) {
        return error;
    }
    RegistryKeyRef key = store.Open(parent.key, path);
    bool created = false;
    if (!key) {
        if (!(parent.rights & KEY_CREATE_SUB_KEY)) {
            return ERROR_ACCESS_DENIED;
        }
        key = store.Create(parent.key, path, true, &created);
        if (!key) {
            return store.IsDeleted(parent.key) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        }
    }
    *phkResult = reinterpret_cast<HKEY>(session->Insert(std::make_shared<KeyObject>(key, GrantedRights(samDesired))));
    if (lpdwDisposition) {
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

// Reads a value: its type into *lpType, its data into lpData and the data's length into
// *lpcbData. Strings come back in the ANSI code page, one byte per stored character, as stored
// (a missing terminator stays missing). A buffer too small gives ERROR_MORE_DATA with the needed
// length; a NULL lpData just reports the length. A NULL or empty name reads the default value.
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData)
{
    std::shared_ptr<Session> session = Session::Current("RegQueryValueExA");
    RegistryStore &store = *Store("RegQueryValueExA");
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyAccess key = ResolveKey(session, store, hKey);
    if (key.error != ERROR_SUCCESS) {
        return key.error;
    }
    if (!(key.rights & KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::optional<tapkernel::RegistryValue> value = store.QueryValue(key.key, ValueName(lpValueName));
    if (!value) {
        return store.IsDeleted(key.key) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    }
    std::vector<uint8_t> data = std::move(value->data);
    if (IsStringType(value->type)) {
        std::u16string text(data.size() / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        }
        std::string ansi = Utf16ToAnsi(text);
        data.assign(ansi.begin(), ansi.end());
    }
    if (lpType) {
        *lpType = value->type;
    }
    if (!lpcbData) {
        return ERROR_SUCCESS;
    }
    DWORD available = *lpcbData;
    *lpcbData = static_cast<DWORD>(data.size());
    if (!lpData) {
        return ERROR_SUCCESS;
    }
    if (available < data.size()) {
        return ERROR_MORE_DATA;
    }
    if (!data.empty()) {
        std::memcpy(lpData, data.data(), data.size());
    }
    return ERROR_SUCCESS;
}

// Writes a value with the type and the exact bytes given. String data are given in the ANSI code
// page and stored as UTF-16, cbData characters (so the terminator is stored when cbData counts
// it). The handle needs KEY_SET_VALUE.
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, CONST BYTE *lpData,
                           DWORD cbData)
{
    (void)Reserved;
    std::shared_ptr<Session> session = Session::Current("RegSetValueExA");
    RegistryStore &store = *Store("RegSetValueExA");
    if (!lpData && cbData) {
        return ERROR_NOACCESS;
    }
    KeyAccess key = ResolveKey(session, store, hKey);
    if (key.error != ERROR_SUCCESS) {
        return key.error;
    }
    if (!(key.rights & KEY_SET_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    std::vector<uint8_t> data(lpData, lpData + cbData);
    if (IsStringType(dwType)) {
        std::u16string text = AnsiToUtf16(std::string_view(reinterpret_cast<const char *>(lpData), cbData));
        data.resize(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i) {
            data[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
            data[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
    }
    if (!store.SetValue(key.key, ValueName(lpValueName), dwType, data.data(), data.size())) {
        return ERROR_KEY_DELETED;
    }
    link::ReportSetValue(CurrentProgramName(), store.FullPath(key.key), ValueName(lpValueName), dwType, data.data(),
                         data.size());
    return ERROR_SUCCESS;
}

// Deletes a value of a key opened with KEY_SET_VALUE; ERROR_FILE_NOT_FOUND when there is none.
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    std::shared_ptr<Session> session = Session::Current("RegDeleteValueA");
    RegistryStore &store = *Store("RegDeleteValueA");
    KeyAccess key = ResolveKey(session, store, hKey);
    if (key.error != ERROR_SUCCESS) {
        return key.error;
    }
    if (!(key.rights & KEY_SET_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    if (!store.DeleteValue(key.key, ValueName(lpValueName))) {
        return store.IsDeleted(key.key) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    }
    link::ReportDeleteValue(CurrentProgramName(), store.FullPath(key.key), ValueName(lpValueName));
    return ERROR_SUCCESS;
}

// Deletes a subkey that has no subkeys of its own (ERROR_ACCESS_DENIED when it has some, as
// Windows answers); the subkey must be named (an empty name is ERROR_BAD_PATHNAME here).
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    std::shared_ptr<Session> session = Session::Current("RegDeleteKeyA");
    RegistryStore &store = *Store("RegDeleteKeyA");
    KeyAccess parent;
    std::u16string path;
    if (LONG error = ResolveSubkey(session, store, hKey, lpSubKey, &parent, &path); error != ERROR_SUCCESS) {
        return error;
    }
    if (path.empty()) {
        return ERROR_BAD_PATHNAME;
    }
    RegistryKeyRef key = store.Open(parent.key, path);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::u16string fullPath = store.FullPath(key);
    if (!store.DeleteKey(key)) {
        return ERROR_ACCESS_DENIED;
    }
    link::ReportDeleteKey(CurrentProgramName(), fullPath);
    return ERROR_SUCCESS;
}

// Closes a key handle. Closing a predefined key succeeds without effect.
LONG WINAPI RegCloseKey(HKEY hKey)
{
    if (IsPredefined(hKey)) {
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Session> session = Session::Current("RegCloseKey");
    std::shared_ptr<Object> object = session->Lookup(reinterpret_cast<HANDLE>(hKey));
    if (!object || object->kind() != Object::Kind::RegistryKey) {
        return ERROR_INVALID_HANDLE;
    }
    session->Remove(reinterpret_cast<HANDLE>(hKey));
    return ERROR_SUCCESS;
}

} // extern "C"
