#include <tap/common/RegistryValues.h>

BOOL ReadDwordValue(HKEY key, LPCSTR name, DWORD *value)
{
    // Read into a buffer of our own: a shorter value would otherwise overwrite only part of
    // *value, and a longer one leaves the buffer's content undefined.
    BYTE data[4] = {0, 0, 0, 0};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key, name, NULL, NULL, data, &size) != ERROR_SUCCESS || size != sizeof(data)) {
        return FALSE;
    }
    *value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) | (static_cast<DWORD>(data[2]) << 16) |
             (static_cast<DWORD>(data[3]) << 24);
    return TRUE;
}

BOOL WriteDwordValue(HKEY key, LPCSTR name, DWORD value)
{
    BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                    static_cast<BYTE>(value >> 24)};
    return RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof(data)) == ERROR_SUCCESS;
}
