// Probe, a small driver the user-mode stand-in's tests talk to: two named devices with links
// (\??\Win32Probe, and \??\Win32ProbeExclusive, an exclusive device), which record every request
// they receive and answer control codes with a reply the test sets. Free of Windows types, so the
// tests that include <windows.h> can use it.
#pragma once

#include <cstdint>
#include <vector>

namespace probe {

constexpr char kPath[] = "\\\\.\\Win32Probe";
constexpr char kExclusivePath[] = "\\\\.\\Win32ProbeExclusive";

// Major functions as the driver saw them.
enum Major : uint8_t { Create = 0x00, Close = 0x02, Read = 0x03, Write = 0x04, DeviceControl = 0x0e, Cleanup = 0x12 };

struct Request {
    uint8_t major = 0;
    uint32_t code = 0;
    uint32_t inputLength = 0;
    uint32_t outputLength = 0;
    bool systemBuffer = false; // AssociatedIrp.SystemBuffer was set
    std::vector<uint8_t> input; // the system buffer's first inputLength bytes, as received
    const void *fileObject = nullptr;
};

// What the next control requests and reads are answered with: the status, the bytes written to
// the start of the system buffer (or the read buffer), and Information.
struct Reply {
    int32_t status = 0;
    std::vector<uint8_t> output;
    uint32_t information = 0;
};

// Loads the driver into the running machine's kernel; Unload checks it leaves nothing behind.
void Load();
void Unload();

void SetReply(const Reply &reply);
std::vector<Request> Requests();
void ClearRequests();

// The next control request is left pending until Release() completes it with the reply.
void HoldNextRequest();
// Blocks until a held request has arrived.
void WaitUntilHeld();
void Release();

// Deletes a registry key and everything below it behind the back of any open handle, as another
// program would (kernel path: \Registry\Machine\...). False when it does not exist.
bool DeleteRegistryTree(const char16_t *kernelPath);

} // namespace probe
