// What a COM port looks like from outside its driver: the settings its driver was given, every
// request the driver received, and the switches a test can throw.
#pragma once

#include <machine/SerialLine.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tapmachine {

// The settings records of the serial port interface, field for field.
struct SerialTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
    bool operator==(const SerialTimeouts &o) const
    {
        return readIntervalTimeout == o.readIntervalTimeout &&
               readTotalTimeoutMultiplier == o.readTotalTimeoutMultiplier &&
               readTotalTimeoutConstant == o.readTotalTimeoutConstant &&
               writeTotalTimeoutMultiplier == o.writeTotalTimeoutMultiplier &&
               writeTotalTimeoutConstant == o.writeTotalTimeoutConstant;
    }
};

struct SerialHandflow {
    uint32_t controlHandShake = 0;
    uint32_t flowReplace = 0;
    int32_t xonLimit = 0;
    int32_t xoffLimit = 0;
    bool operator==(const SerialHandflow &o) const
    {
        return controlHandShake == o.controlHandShake && flowReplace == o.flowReplace &&
               xonLimit == o.xonLimit && xoffLimit == o.xoffLimit;
    }
};

struct SerialSettings {
    LineFormat line;  // baud rate and line control
    SerialTimeouts timeouts;
    SerialHandflow handflow;
    uint32_t rxFifo = 0;
    uint32_t txFifo = 0;
};

// Settings of a port nobody has configured yet: 1200 baud, 7 data bits, even parity, one stop
// bit; no time-outs; DTR on, RTS on. They match no touch controller.
SerialSettings PowerOnSerialSettings();

// One request as the serial port driver received it.
struct SerialRequest {
    enum class Kind { Create, Close, Cleanup, Read, DeviceControl, InternalDeviceControl, Other };
    Kind kind = Kind::Other;
    uint32_t code = 0;  // control code, or the major function for Other
    std::vector<uint8_t> input;  // input buffer of a control request, as received
    uint32_t outputLength = 0;   // output length of a control request, read length of a read
    int32_t status = 0;          // NTSTATUS the driver answered with (STATUS_PENDING for a pended read)
    Ticks time = 0;
};

std::string DescribeSerialRequest(const SerialRequest &request);

}  // namespace tapmachine
