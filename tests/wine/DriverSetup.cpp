// DriverSetup.exe: installs and removes a touch driver the way the package's installers do, for
// the runs of the real drivers under Wine (scripts/wine-system). Not part of the package.
//
//   DriverSetup install INF-PATH HARDWARE-ID   a root-enumerated node in the Mouse class with the
//                                              hardware ID, registered, then the INF's driver put
//                                              on it with newdev's UpdateDriverForPlugAndPlayDevicesA
//   DriverSetup remove HARDWARE-ID SERVICE     every node with the hardware ID removed, then the
//                                              driver service stopped (the driver unloaded)
//
// One line per step on standard output; exit 0 when every step worked.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The Mouse setup class, in which the installers create the serial touchscreen's node.
const GUID kMouseClass = {0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

int Fail(const char *what)
{
    std::printf("FAIL %s: error %lu\n", what, GetLastError());
    return 1;
}

// A device information set that is destroyed with its owner.
class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet()
    {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceSet(const DeviceSet &) = delete;
    DeviceSet &operator=(const DeviceSet &) = delete;
    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// The hardware ID as a multi-string: the ID, then two NUL characters.
std::vector<char> HardwareIdList(const char *id)
{
    std::vector<char> list(id, id + std::strlen(id));
    list.push_back('\0');
    list.push_back('\0');
    return list;
}

typedef BOOL(WINAPI *UpdateDriverProc)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);

int Install(const char *infPath, const char *hardwareId)
{
    char className[84] = {};
    GUID classGuid;
    if (!SetupDiGetINFClassA(infPath, &classGuid, className, sizeof className, nullptr)) {
        return Fail("SetupDiGetINFClassA");
    }
    DeviceSet set(SetupDiCreateDeviceInfoList(&kMouseClass, nullptr));
    if (!set.valid()) {
        return Fail("SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set.get(), className, &kMouseClass, nullptr, nullptr, DICD_GENERATE_ID, &device)) {
        return Fail("SetupDiCreateDeviceInfoA");
    }
    std::vector<char> ids = HardwareIdList(hardwareId);
    if (!SetupDiSetDeviceRegistryPropertyA(set.get(), &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE *>(ids.data()),
                                           static_cast<DWORD>(ids.size()))) {
        return Fail("SetupDiSetDeviceRegistryPropertyA");
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
        return Fail("DIF_REGISTERDEVICE");
    }
    std::printf("node registered: class %s, hardware ID %s\n", className, hardwareId);

    HMODULE newdev = LoadLibraryA("newdev.dll");
    if (newdev == nullptr) {
        return Fail("LoadLibraryA(newdev.dll)");
    }
    // FARPROC to the routine's own type, through the generic function pointer type.
    auto update = reinterpret_cast<UpdateDriverProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA")));
    if (update == nullptr) {
        FreeLibrary(newdev);
        return Fail("GetProcAddress(UpdateDriverForPlugAndPlayDevicesA)");
    }
    BOOL reboot = FALSE;
    BOOL updated = update(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE, &reboot);
    DWORD error = GetLastError();
    FreeLibrary(newdev);
    if (!updated) {
        SetLastError(error);
        return Fail("UpdateDriverForPlugAndPlayDevicesA");
    }
    std::printf("driver installed from %s (reboot %s)\n", infPath, reboot ? "required" : "not required");
    return 0;
}

// True when the device's hardware-ID list holds the ID.
bool HasHardwareId(HDEVINFO set, SP_DEVINFO_DATA *device, const char *hardwareId)
{
    char ids[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE *>(ids),
                                           sizeof ids - 2, nullptr)) {
        return false;
    }
    for (const char *id = ids; *id != '\0'; id += std::strlen(id) + 1) {
        if (lstrcmpiA(id, hardwareId) == 0) {
            return true;
        }
    }
    return false;
}

int RemoveNodes(const char *hardwareId)
{
    DeviceSet set(SetupDiGetClassDevsA(&kMouseClass, nullptr, nullptr, 0));
    if (!set.valid()) {
        return Fail("SetupDiGetClassDevsA");
    }
    int removed = 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); i++) {
        if (!HasHardwareId(set.get(), &device, hardwareId)) {
            continue;
        }
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device)) {
            return Fail("DIF_REMOVE");
        }
        removed++;
    }
    std::printf("nodes removed: %d\n", removed);
    if (removed == 0) {
        std::printf("FAIL no node with hardware ID %s\n", hardwareId);
        return 1;
    }
    return 0;
}

// A service handle that is closed with its owner.
struct ServiceHandle {
    SC_HANDLE handle;
    explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
    ~ServiceHandle()
    {
        if (handle != nullptr) {
            CloseServiceHandle(handle);
        }
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
};

int StopService(const char *name)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.handle == nullptr) {
        return Fail("OpenSCManagerA");
    }
    ServiceHandle service(OpenServiceA(manager.handle, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service.handle == nullptr) {
        return Fail("OpenServiceA");
    }
    SERVICE_STATUS status = {};
    if (!ControlService(service.handle, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return Fail("ControlService(SERVICE_CONTROL_STOP)");
    }
    for (int i = 0; i < 100; i++) {
        if (!QueryServiceStatus(service.handle, &status)) {
            return Fail("QueryServiceStatus");
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            std::printf("service %s stopped: the driver is unloaded\n", name);
            return 0;
        }
        Sleep(50);
    }
    std::printf("FAIL service %s still in state %lu after 5 s\n", name, status.dwCurrentState);
    return 1;
}

int Usage()
{
    std::printf("usage: DriverSetup install INF-PATH HARDWARE-ID | remove HARDWARE-ID SERVICE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 4 && std::strcmp(argv[1], "install") == 0) {
        return Install(argv[2], argv[3]);
    }
    if (argc == 4 && std::strcmp(argv[1], "remove") == 0) {
        int status = RemoveNodes(argv[2]);
        return StopService(argv[3]) | status;
    }
    return Usage();
}
