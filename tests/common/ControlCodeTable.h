// The control codes of both drivers' control devices as the tools see them: for each code the
// exact input and output lengths, the answer with those lengths, and what answering takes.
//
// One table for every place that checks the drivers against it: the system tests of the
// simulated PC (tests/system, tests/polytap-system) and DriverProbe.exe, which sends the same
// requests to the real drivers under Wine (tests/wine). Include it after the header that gives
// NTSTATUS and the STATUS_ names (<ntddk.h> or, in user mode, <windows.h> with <ntstatus.h>) and
// TapShared.h.
//
// Rows are answered in order on a started device pair whose COM port is open (the simulated PC)
// or absent (Wine); the rows marked kNeedsComPort or kNeedsBeepDevice are those whose answer with
// the exact lengths opens or uses the COM port or the beep device.
#ifndef TAP_TESTS_CONTROL_CODE_TABLE_H
#define TAP_TESTS_CONTROL_CODE_TABLE_H

#include <cstdint>
#include <cstring>

namespace tapcontrol {

// What a row's answer with the exact lengths reaches beyond the driver.
enum Reach : unsigned {
    kDriverOnly = 0,
    kNeedsComPort = 1,     // opens the COM port, or asks the open port's driver
    kNeedsBeepDevice = 2,  // opens \Device\Beep and waits for the beep
};

// How a row treats its lengths.
enum Lengths : unsigned {
    kExactLengths,    // any other input or output length: STATUS_INVALID_PARAMETER, nothing done
    kIgnoredLengths,  // the code takes no buffer; whatever comes with it is ignored
};

struct ControlCodeCase {
    const char *name;
    uint32_t code;
    uint32_t input;        // the exact input length
    uint32_t output;       // the exact output length
    NTSTATUS status;       // the answer with those lengths
    uint32_t information;  // and its Information (bytes returned)
    Lengths lengths;
    Reach reach;
};

// The single-touch driver, \\.\MonotapSymLnk1. With the port open, IOCTL_TOUCH_OPEN_PORT of any
// number 1..10 leaves it as it is and succeeds; CLOSE_PORT comes last because it closes it.
const ControlCodeCase kMonotapCodes[] = {
    {"OPEN_PORT", IOCTL_TOUCH_OPEN_PORT, 4, 0, STATUS_SUCCESS, 0, kExactLengths, kNeedsComPort},
    {"SET_CALIBRATION", IOCTL_TOUCH_SET_CALIBRATION, 28, 0, STATUS_SUCCESS, 0, kExactLengths, kDriverOnly},
    {"GET_RAW_SAMPLE", IOCTL_TOUCH_GET_RAW_SAMPLE, 0, 12, STATUS_SUCCESS, 12, kExactLengths, kDriverOnly},
    {"SET_SETTINGS", IOCTL_TOUCH_SET_SETTINGS, 32, 0, STATUS_SUCCESS, 0, kExactLengths, kDriverOnly},
    {"BEEP", IOCTL_TOUCH_BEEP, 8, 0, STATUS_SUCCESS, 0, kExactLengths, kNeedsBeepDevice},
    {"GET_RIGHT_CLICK", IOCTL_TOUCH_GET_RIGHT_CLICK, 0, 4, STATUS_SUCCESS, 4, kExactLengths, kDriverOnly},
    {"START_DATA_MODE", IOCTL_TOUCH_START_DATA_MODE, 0, 4, STATUS_SUCCESS, 4, kExactLengths, kDriverOnly},
    {"SET_RIGHT_CLICK", IOCTL_TOUCH_SET_RIGHT_CLICK, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
    {"CLOSE_PORT", IOCTL_TOUCH_CLOSE_PORT, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
    // The multi-touch driver's own codes are unknown here.
    {"GET_CONTACT_FRAME", IOCTL_TOUCH_GET_CONTACT_FRAME, 0, 28, STATUS_INVALID_DEVICE_REQUEST, 0, kIgnoredLengths,
     kDriverOnly},
    {"STOP_DATA_MODE", IOCTL_TOUCH_STOP_DATA_MODE, 0, 0, STATUS_INVALID_DEVICE_REQUEST, 0, kIgnoredLengths,
     kDriverOnly},
    {"SET_BAUD_RATE", IOCTL_TOUCH_SET_BAUD_RATE, 4, 0, STATUS_INVALID_DEVICE_REQUEST, 0, kIgnoredLengths,
     kDriverOnly},
    {"PROBE", IOCTL_TOUCH_PROBE, 0, 4, STATUS_INVALID_DEVICE_REQUEST, 0, kIgnoredLengths, kDriverOnly},
};

// The multi-touch driver, \\.\PolytapSymLnk1. The baud rate goes to the open port, whose driver
// gives the answer; with no port open the request is refused with STATUS_INVALID_PARAMETER.
const ControlCodeCase kPolytapCodes[] = {
    {"OPEN_PORT", IOCTL_TOUCH_OPEN_PORT, 4, 0, STATUS_SUCCESS, 0, kExactLengths, kNeedsComPort},
    {"SET_CALIBRATION", IOCTL_TOUCH_SET_CALIBRATION, 28, 0, STATUS_SUCCESS, 0, kExactLengths, kDriverOnly},
    {"GET_RAW_SAMPLE", IOCTL_TOUCH_GET_RAW_SAMPLE, 0, 12, STATUS_SUCCESS, 12, kExactLengths, kDriverOnly},
    {"SET_SETTINGS", IOCTL_TOUCH_SET_SETTINGS, 36, 0, STATUS_SUCCESS, 0, kExactLengths, kDriverOnly},
    {"BEEP", IOCTL_TOUCH_BEEP, 8, 0, STATUS_SUCCESS, 0, kExactLengths, kNeedsBeepDevice},
    {"GET_RIGHT_CLICK", IOCTL_TOUCH_GET_RIGHT_CLICK, 0, 4, STATUS_SUCCESS, 4, kExactLengths, kDriverOnly},
    {"GET_CONTACT_FRAME", IOCTL_TOUCH_GET_CONTACT_FRAME, 0, 28, STATUS_SUCCESS, 28, kExactLengths, kDriverOnly},
    {"SET_BAUD_RATE", IOCTL_TOUCH_SET_BAUD_RATE, 4, 0, STATUS_SUCCESS, 0, kExactLengths, kNeedsComPort},
    {"PROBE", IOCTL_TOUCH_PROBE, 0, 4, STATUS_SUCCESS, 4, kExactLengths, kDriverOnly},
    {"START_DATA_MODE", IOCTL_TOUCH_START_DATA_MODE, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
    {"STOP_DATA_MODE", IOCTL_TOUCH_STOP_DATA_MODE, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
    {"SET_RIGHT_CLICK", IOCTL_TOUCH_SET_RIGHT_CLICK, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
    {"CLOSE_PORT", IOCTL_TOUCH_CLOSE_PORT, 0, 0, STATUS_SUCCESS, 0, kIgnoredLengths, kDriverOnly},
};

// Codes neither driver knows: below the first, above the last shared one, another device type.
const uint32_t kUnknownCodes[] = {0x222000, 0x222034, 0x00010000};

// The lengths a row is tried with besides its exact ones: one byte short, one byte over and none,
// on the side that carries the record (the input when there is one, else the output).
struct LengthPair {
    uint32_t input;
    uint32_t output;
};
const unsigned kWrongLengthCount = 3;
inline void WrongLengths(const ControlCodeCase &row, LengthPair out[kWrongLengthCount])
{
    if (row.input != 0) {
        out[0] = {row.input - 1, row.output};
        out[1] = {row.input + 1, row.output};
        out[2] = {0, row.output};
    } else {
        out[0] = {row.input, row.output - 1};
        out[1] = {row.input, row.output + 1};
        out[2] = {row.input, 0};
    }
}

// An input that is valid for the row, 64 bytes so that one byte over still has data behind it:
// port 1; settings in the default mode on port 1 with Enable 1 (and BaudRate 9600 in the 36-byte
// record); a 440 Hz beep of 10 ms; a calibration of the middle of the raw range; 9600 baud.
const uint32_t kValidInputSize = 64;
inline void ValidInput(const ControlCodeCase &row, uint8_t input[kValidInputSize])
{
    const uint32_t monoSettings[8] = {MODE_CLICK_AND_DRAG, 30, 0, 0, 0, 0, 1, 1};
    const uint32_t polySettings[9] = {MODE_CLICK_AND_DRAG, 30, 0, 0, 0, 0, 1, 9600, 1};
    const int32_t calibration[7] = {75000, 325000, 75000, 325000, 0, 1024, 768};
    const uint32_t beep[2] = {440, 10};
    const uint32_t one = 1;
    const uint32_t baud = 9600;

    std::memset(input, 0, kValidInputSize);
    if (row.code == IOCTL_TOUCH_SET_SETTINGS && row.input == sizeof polySettings) {
        std::memcpy(input, polySettings, sizeof polySettings);
    } else if (row.code == IOCTL_TOUCH_SET_SETTINGS) {
        std::memcpy(input, monoSettings, sizeof monoSettings);
    } else if (row.code == IOCTL_TOUCH_SET_CALIBRATION) {
        std::memcpy(input, calibration, sizeof calibration);
    } else if (row.code == IOCTL_TOUCH_BEEP) {
        std::memcpy(input, beep, sizeof beep);
    } else if (row.code == IOCTL_TOUCH_SET_BAUD_RATE) {
        std::memcpy(input, &baud, sizeof baud);
    } else {
        std::memcpy(input, &one, sizeof one);
    }
}

} // namespace tapcontrol

#endif
