// libFuzzer target: random control codes, lengths and buffers sent through DeviceIoControl to the
// control device of the real Monotap module on a simulated PC, with taps on the panel in between
// so that whatever the codes put in force (settings, calibration, right click, ports) meets real
// packets. Every reply must be one the control device defines for that code and those lengths;
// a verifier breach, a sanitizer report or an unexpected reply ends the run.
#include <windows.h>
#include <winioctl.h>

#include <TapShared.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr char16_t kParameters[] = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Monotap\\Parameters";

// One machine for the whole run: booting one per input would cost more than the input.
struct Rig {
    Rig()
    {
        tapmachine::MachineOptions options;
        options.comPorts = {3, 4};
        machine = std::make_unique<tapmachine::Machine>(options);
        machine->InstallDriverModule(TAP_MONOTAP_MODULE, u"Monotap");
        machine->RequirePoolTag(u"Monotap", 'vdtP');
        machine->SetDword(kParameters, u"Port", 3);
        machine->SetDword(kParameters, u"Enable", 1);
        machine->comPort(3).AttachController();
        node = machine->CreateRootDevice(u"*Monotap", u"Monotap");
        if (machine->StartDevice(node) != 0) {
            std::fprintf(stderr, "fuzz: the Monotap device did not start\n");
            std::abort();
        }
        machine->WaitIdle();
        device = CreateFileA(MONOTAP_USER_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             0, NULL);
        if (device == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "fuzz: cannot open the control device (%u)\n", static_cast<unsigned>(GetLastError()));
            std::abort();
        }
    }

    // At the end of the run the device goes away under the verifier's removal and unload checks.
    ~Rig()
    {
        CloseHandle(device);
        machine->RemoveDevice(node);
        machine.reset();
    }

    std::unique_ptr<tapmachine::Machine> machine;
    std::u16string node;
    HANDLE device = INVALID_HANDLE_VALUE;
};

Rig *rig = nullptr;

[[noreturn]] void Unexpected(DWORD code, DWORD inputLength, DWORD outputLength, BOOL ok, DWORD error, DWORD returned)
{
    std::fprintf(stderr,
                 "fuzz: control code 0x%08x with %u bytes in, %u out answered %s (error %u, %u bytes returned), "
                 "which the control device does not define\n",
                 static_cast<unsigned>(code), static_cast<unsigned>(inputLength), static_cast<unsigned>(outputLength),
                 ok ? "TRUE" : "FALSE", static_cast<unsigned>(error), static_cast<unsigned>(returned));
    std::abort();
}

// The control device's table: for a code and the lengths sent, the replies it may give.
void CheckReply(DWORD code, DWORD inputLength, DWORD outputLength, const uint8_t *input, BOOL ok, DWORD error,
                DWORD returned, const uint8_t *output)
{
    auto expect = [&](bool lengthsRight, DWORD information) {
        if (!lengthsRight) {
            if (ok || error != ERROR_INVALID_PARAMETER) {
                Unexpected(code, inputLength, outputLength, ok, error, returned);
            }
        } else if (!ok || returned != information) {
            Unexpected(code, inputLength, outputLength, ok, error, returned);
        }
    };
    DWORD value = 0;
    if (outputLength >= 4) {
        value = output[0] | (output[1] << 8) | (output[2] << 16) | (static_cast<DWORD>(output[3]) << 24);
    }
    switch (code) {
    case IOCTL_TOUCH_CLOSE_PORT:
    case IOCTL_TOUCH_SET_RIGHT_CLICK:
        expect(true, 0);
        break;
    case IOCTL_TOUCH_OPEN_PORT: {
        DWORD port = 0;
        if (inputLength == 4) {
            port = input[0] | (input[1] << 8) | (input[2] << 16) | (static_cast<DWORD>(input[3]) << 24);
        }
        if (inputLength != 4 || port < 1 || port > 10) {
            expect(false, 0);
        } else if (!ok && error != ERROR_GEN_FAILURE && error != ERROR_NO_SYSTEM_RESOURCES) {
            Unexpected(code, inputLength, outputLength, ok, error, returned); // the port may be absent
        } else if (ok && returned != 0) {
            Unexpected(code, inputLength, outputLength, ok, error, returned);
        }
        break;
    }
    case IOCTL_TOUCH_SET_CALIBRATION:
        expect(inputLength == sizeof(CalibrationData), 0);
        break;
    case IOCTL_TOUCH_GET_RAW_SAMPLE:
        expect(outputLength == sizeof(RawSample), sizeof(RawSample));
        break;
    case IOCTL_TOUCH_SET_SETTINGS:
        expect(inputLength == sizeof(MonoPointerSettings), 0);
        break;
    case IOCTL_TOUCH_BEEP:
        expect(inputLength == sizeof(TOUCH_BEEP_REQUEST), 0);
        break;
    case IOCTL_TOUCH_GET_RIGHT_CLICK:
        expect(outputLength == 4, 4);
        if (ok && value > 1) {
            Unexpected(code, inputLength, outputLength, ok, error, returned);
        }
        break;
    case IOCTL_TOUCH_START_DATA_MODE:
        expect(outputLength == 4, 4);
        if (ok && value != 0) {
            Unexpected(code, inputLength, outputLength, ok, error, returned);
        }
        break;
    default:
        if ((code & 3) == METHOD_IN_DIRECT || (code & 3) == METHOD_OUT_DIRECT) {
            // Not sent: the user-mode stand-in has no direct I/O.
            if (ok || error != ERROR_NOT_SUPPORTED) {
                Unexpected(code, inputLength, outputLength, ok, error, returned);
            }
        } else if (ok || error != ERROR_INVALID_FUNCTION) {
            Unexpected(code, inputLength, outputLength, ok, error, returned);
        }
        break;
    }
}

constexpr DWORD kCodes[] = {
    IOCTL_TOUCH_CLOSE_PORT,       IOCTL_TOUCH_OPEN_PORT,       IOCTL_TOUCH_SET_CALIBRATION,
    IOCTL_TOUCH_GET_RAW_SAMPLE,   IOCTL_TOUCH_SET_SETTINGS,    IOCTL_TOUCH_BEEP,
    IOCTL_TOUCH_SET_RIGHT_CLICK,  IOCTL_TOUCH_GET_RIGHT_CLICK, IOCTL_TOUCH_START_DATA_MODE,
    IOCTL_TOUCH_GET_CONTACT_FRAME, IOCTL_TOUCH_STOP_DATA_MODE, IOCTL_TOUCH_SET_BAUD_RATE,
    IOCTL_TOUCH_PROBE,
};
constexpr DWORD kLengths[] = {0, 1, 3, 4, 8, 12, 16, 28, 32, 36};

DWORD PickLength(FuzzedDataProvider &data)
{
    return data.ConsumeBool() ? kLengths[data.ConsumeIntegralInRange<size_t>(0, std::size(kLengths) - 1)]
                              : data.ConsumeIntegralInRange<DWORD>(0, 64);
}

void SendRandomRequest(FuzzedDataProvider &data)
{
    DWORD code;
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
        code = data.ConsumeIntegral<DWORD>();
        break;
    case 1: // a code of the table with another method or access
        code = (kCodes[data.ConsumeIntegralInRange<size_t>(0, std::size(kCodes) - 1)] & ~0xC003u) |
               data.ConsumeIntegralInRange<DWORD>(0, 3) | (data.ConsumeIntegralInRange<DWORD>(0, 3) << 14);
        break;
    default:
        code = kCodes[data.ConsumeIntegralInRange<size_t>(0, std::size(kCodes) - 1)];
        break;
    }
    DWORD inputLength = PickLength(data);
    DWORD outputLength = PickLength(data);
    // Buffers of exactly the lengths sent, so that a read or write past them is reported.
    std::vector<uint8_t> input = data.ConsumeBytes<uint8_t>(inputLength);
    input.resize(inputLength);
    if (code == IOCTL_TOUCH_OPEN_PORT && inputLength == 4 && data.ConsumeBool()) {
        input[0] = data.ConsumeIntegralInRange<uint8_t>(0, 11); // mostly plausible port numbers
        input[1] = input[2] = input[3] = 0;
    }
    std::unique_ptr<uint8_t[]> inputBuffer(inputLength ? new uint8_t[inputLength] : nullptr);
    std::unique_ptr<uint8_t[]> outputBuffer(outputLength ? new uint8_t[outputLength] : nullptr);
    if (inputLength) {
        std::copy(input.begin(), input.end(), inputBuffer.get());
    }
    DWORD returned = 0xFFFFFFFF;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = DeviceIoControl(rig->device, code, inputBuffer.get(), inputLength, outputBuffer.get(), outputLength,
                              &returned, NULL);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CheckReply(code, inputLength, outputLength, input.data(), ok, error, returned, outputBuffer.get());
}

void Tap(FuzzedDataProvider &data)
{
    tapmachine::TouchController &controller = rig->machine->comPort(3).controller();
    controller.TouchRaw({data.ConsumeIntegral<uint16_t>(), data.ConsumeIntegral<uint16_t>()});
    unsigned holds = data.ConsumeIntegralInRange<unsigned>(0, 3);
    for (unsigned i = 0; i < holds; ++i) {
        controller.MoveRaw({data.ConsumeIntegral<uint16_t>(), data.ConsumeIntegral<uint16_t>()});
    }
    controller.Lift();
    rig->machine->Settle();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rig = new Rig();
    std::atexit([] {
        delete rig;
        rig = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    for (int step = 0; step < 16 && data.remaining_bytes() > 0; ++step) {
        if (data.ConsumeIntegralInRange(0, 7) == 0) {
            Tap(data);
        } else {
            SendRandomRequest(data);
        }
    }
    // The machine logs every report, beep and port request; a long run would otherwise grow
    // without end.
    rig->machine->mouse().TakeRecords();
    rig->machine->TakeBeeps();
    for (unsigned port : {3u, 4u}) {
        rig->machine->comPort(port).ClearRequests();
    }
    return 0;
}
