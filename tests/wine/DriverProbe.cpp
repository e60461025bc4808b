// DriverProbe.exe: sends the control-code table of the system tests (ControlCodeTable.h) to a
// real driver's control device, for the runs of the real drivers under Wine (scripts/wine-system).
// Not part of the package.
//
//   DriverProbe monotap|polytap codes        every row of the line's table, exact and wrong lengths
//   DriverProbe monotap|polytap right-click  prints "right-click armed=N" (the driver's flag)
//   DriverProbe polytap frames               data mode's answers to IOCTL_TOUCH_GET_CONTACT_FRAME
//   DriverProbe monotap|polytap absent       the control device can no longer be opened
//
// The requests go through NtDeviceIoControlFile, so that the driver's own NTSTATUS and the bytes
// returned are compared, not the Win32 error they are mapped to. One line per check; the last
// line is "N checks, M failed"; exit 0 when none failed.
//
// Under Wine no COM port ever arrives and IoGetDeviceObjectPointer is a stub on which Wine's
// driver host crashes at the next request, so the rows whose answer opens the COM port or the beep
// device are sent only with wrong lengths (refused before anything is opened); the probe says so.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winternl.h>

#include "TapShared.h"

#include "ControlCodeTable.h"

#include <cstdio>
#include <cstring>

namespace {

typedef NTSTATUS(NTAPI *NtDeviceIoControlFileProc)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG,
                                                    PVOID, ULONG, PVOID, ULONG);

struct Answer {
    NTSTATUS status;
    ULONG information;
};

class Probe {
public:
    explicit Probe(HANDLE device) : device_(device)
    {
        // FARPROC to the routine's own type, through the generic function pointer type.
        control_ = reinterpret_cast<NtDeviceIoControlFileProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeviceIoControlFile")));
    }

    Answer Send(ULONG code, const void *input, ULONG inputLength, void *output, ULONG outputLength)
    {
        IO_STATUS_BLOCK io = {};
        NTSTATUS status = control_(device_, nullptr, nullptr, nullptr, &io, code, const_cast<void *>(input),
                                   inputLength, output, outputLength);
        return {status, static_cast<ULONG>(io.Information)};
    }

    Answer Send(ULONG code, ULONG outputLength = 0)
    {
        unsigned char output[tapcontrol::kValidInputSize] = {};
        return Send(code, nullptr, 0, outputLength ? output : nullptr, outputLength);
    }

    void Check(bool passed, const char *what, const char *name, Answer seen)
    {
        checks_++;
        if (!passed) {
            failed_++;
        }
        std::printf("%s %s %s: status 0x%08lX, %lu bytes\n", passed ? "ok  " : "FAIL", name, what,
                    static_cast<unsigned long>(seen.status), seen.information);
    }

    void Expect(Answer seen, NTSTATUS status, ULONG information, const char *what, const char *name)
    {
        Check(seen.status == status && seen.information == information, what, name, seen);
    }

    void Note(const char *text) { std::printf("     %s\n", text); }

    int Summary()
    {
        std::printf("%d checks, %d failed\n", checks_, failed_);
        return failed_ == 0 ? 0 : 1;
    }

private:
    HANDLE device_;
    NtDeviceIoControlFileProc control_ = nullptr;
    int checks_ = 0;
    int failed_ = 0;
};

const char *Why(tapcontrol::Reach reach)
{
    return reach == tapcontrol::kNeedsComPort
               ? "opens or asks the COM port: under Wine none ever arrives and IoGetDeviceObjectPointer crashes "
                 "the driver host"
               : "opens the beep device through IoGetDeviceObjectPointer, which crashes Wine's driver host";
}

template <size_t N>
void RunTable(Probe &probe, const tapcontrol::ControlCodeCase (&table)[N])
{
    for (const tapcontrol::ControlCodeCase &row : table) {
        unsigned char input[tapcontrol::kValidInputSize];
        unsigned char output[tapcontrol::kValidInputSize];
        tapcontrol::ValidInput(row, input);
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            Answer junk = probe.Send(row.code, "xyz", 3, output, 5);
            probe.Check(junk.status == row.status, "with a buffer it ignores", row.name, junk);
        }
        if (row.reach == tapcontrol::kDriverOnly) {
            Answer right = probe.Send(row.code, row.input ? input : nullptr, row.input, row.output ? output : nullptr,
                                      row.output);
            probe.Expect(right, row.status, row.information, "with its exact lengths", row.name);
        } else {
            std::printf("left out %s with its exact lengths: it %s\n", row.name, Why(row.reach));
        }
        if (row.lengths == tapcontrol::kIgnoredLengths) {
            continue;
        }
        tapcontrol::LengthPair wrong[tapcontrol::kWrongLengthCount];
        tapcontrol::WrongLengths(row, wrong);
        for (const tapcontrol::LengthPair &lengths : wrong) {
            char what[64];
            std::snprintf(what, sizeof what, "with input %lu, output %lu", static_cast<unsigned long>(lengths.input),
                          static_cast<unsigned long>(lengths.output));
            Answer seen = probe.Send(row.code, lengths.input ? input : nullptr, lengths.input,
                                     lengths.output ? output : nullptr, lengths.output);
            probe.Expect(seen, STATUS_INVALID_PARAMETER, 0, what, row.name);
        }
    }
    for (uint32_t code : tapcontrol::kUnknownCodes) {
        char name[32];
        std::snprintf(name, sizeof name, "code 0x%08lX", static_cast<unsigned long>(code));
        probe.Expect(probe.Send(code, 4), STATUS_INVALID_DEVICE_REQUEST, 0, "unknown to the driver", name);
    }
}

// GET_RIGHT_CLICK's value, or -1 when the request fails.
long RightClickFlag(Probe &probe)
{
    ULONG value = 0xFFFFFFFF;
    Answer answer = probe.Send(IOCTL_TOUCH_GET_RIGHT_CLICK, nullptr, 0, &value, sizeof value);
    return answer.status == STATUS_SUCCESS && answer.information == sizeof value ? static_cast<long>(value) : -1;
}

void CheckFrame(Probe &probe, unsigned char count, const char *what)
{
    ContactFrame frame;
    std::memset(&frame, 0xCD, sizeof frame);
    Answer answer = probe.Send(IOCTL_TOUCH_GET_CONTACT_FRAME, nullptr, 0, &frame, sizeof frame);
    ContactFrame expected = {};
    expected.ContactCount = count;
    bool same = std::memcmp(&frame, &expected, sizeof frame) == 0;
    probe.Check(answer.status == STATUS_SUCCESS && answer.information == sizeof frame && same, what,
                "GET_CONTACT_FRAME", answer);
    if (!same) {
        std::printf("     ContactCount 0x%02X, expected 0x%02X\n", frame.ContactCount, count);
    }
}

// Data mode without a COM port and without a mouse class above the node (Wine has none, so the
// attributes are never asked for and "no COM port", 0xFF, is not answered): off, on and empty,
// off again.
void RunFrames(Probe &probe)
{
    probe.Expect(probe.Send(IOCTL_TOUCH_STOP_DATA_MODE), STATUS_SUCCESS, 0, "data mode off", "STOP_DATA_MODE");
    CheckFrame(probe, CONTACT_COUNT_DATA_MODE_OFF, "data mode off: 28 bytes, ContactCount 0xFE");
    probe.Expect(probe.Send(IOCTL_TOUCH_START_DATA_MODE), STATUS_SUCCESS, 0, "data mode on", "START_DATA_MODE");
    CheckFrame(probe, CONTACT_COUNT_NONE_QUEUED, "data mode on, nothing touched: 28 zero bytes");
    CheckFrame(probe, CONTACT_COUNT_NONE_QUEUED, "and again");
    probe.Expect(probe.Send(IOCTL_TOUCH_STOP_DATA_MODE), STATUS_SUCCESS, 0, "data mode off", "STOP_DATA_MODE");
    CheckFrame(probe, CONTACT_COUNT_DATA_MODE_OFF, "off again: ContactCount 0xFE");
}

// The single-touch driver has no data mode: START_DATA_MODE answers the value 0.
void RunMonotapDataMode(Probe &probe)
{
    ULONG value = 0xFFFFFFFF;
    Answer answer = probe.Send(IOCTL_TOUCH_START_DATA_MODE, nullptr, 0, &value, sizeof value);
    probe.Check(answer.status == STATUS_SUCCESS && answer.information == 4 && value == 0, "answers the value 0",
                "START_DATA_MODE", answer);
}

void RunRightClick(Probe &probe)
{
    long before = RightClickFlag(probe);
    Answer set = probe.Send(IOCTL_TOUCH_SET_RIGHT_CLICK);
    long after = RightClickFlag(probe);
    probe.Check(set.status == STATUS_SUCCESS && after == 1, "arms the one-shot right click", "SET_RIGHT_CLICK", set);
    std::printf("     right-click armed=%ld before, %ld after\n", before, after);
}

int Usage()
{
    std::printf("usage: DriverProbe monotap|polytap codes|right-click|absent, DriverProbe polytap frames\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        return Usage();
    }
    bool poly = std::strcmp(argv[1], "polytap") == 0;
    if (!poly && std::strcmp(argv[1], "monotap") != 0) {
        return Usage();
    }
    const char *path = poly ? POLYTAP_USER_PATH_A : MONOTAP_USER_PATH_A;
    const char *action = argv[2];
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (std::strcmp(action, "absent") == 0) {
        DWORD error = GetLastError();
        bool absent = device == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND;
        std::printf("%s %s is gone (error %lu)\n", absent ? "ok  " : "FAIL", path, error);
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
        return absent ? 0 : 1;
    }
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("FAIL %s cannot be opened (error %lu)\n", path, GetLastError());
        return 1;
    }
    Probe probe(device);
    if (std::strcmp(action, "codes") == 0) {
        RunRightClick(probe);
        if (poly) {
            RunTable(probe, tapcontrol::kPolytapCodes);
        } else {
            RunTable(probe, tapcontrol::kMonotapCodes);
            RunMonotapDataMode(probe);
        }
    } else if (std::strcmp(action, "right-click") == 0) {
        std::printf("right-click armed=%ld\n", RightClickFlag(probe));
        CloseHandle(device);
        return 0;
    } else if (poly && std::strcmp(action, "frames") == 0) {
        RunFrames(probe);
    } else {
        CloseHandle(device);
        return Usage();
    }
    CloseHandle(device);
    return probe.Summary();
}
