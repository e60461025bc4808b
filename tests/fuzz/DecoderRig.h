// What both decoder fuzz targets share: a mouse device extension of one driver line driven byte by
// byte as the read completion drives it, with a class service that records every delivered
// record, and the header of a fuzz input that chooses the settings and the calibration in force.
//
// An input is a 32-byte header followed by the byte stream:
//
//   byte 0      bits 0-2 MouseMode (4..7 are modes the driver does not know), bit 3 the mouse
//               class has queried the attributes, bit 4 data mode (multi-touch), bit 5 a right
//               click armed before the first byte
//   byte 1      InterActTime (low 3 bits)
//   byte 2      BeepMode (low 2 bits)
//   byte 3      multi-touch: a tool takes one contact frame every this many bytes (0: never)
//   bytes 4-31  the CalibrationData record, as a control code would put it in force
//
// Shorter inputs are padded with zeros. Compiled into each line's target with that line's include
// path, like the line's unit tests.
#pragma once

#include "TapDriver.h"

#include <tapkernel/Kernel.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzzrig {

constexpr size_t kHeaderSize = 32;

struct Delivered {
    MOUSE_INPUT_DATA record;
};

inline std::vector<Delivered> &DeliveredRecords()
{
    static std::vector<Delivered> records;
    return records;
}

inline VOID RecordingClassService(PVOID, PVOID first, PVOID last, PVOID consumed)
{
    auto *begin = static_cast<PMOUSE_INPUT_DATA>(first);
    auto *end = static_cast<PMOUSE_INPUT_DATA>(last);
    if (KeGetCurrentIrql() != DISPATCH_LEVEL || end - begin != 1) {
        std::fprintf(stderr, "fuzz: the class service was called at IRQL %u with %td records\n",
                     static_cast<unsigned>(KeGetCurrentIrql()), end - begin);
        std::abort();
    }
    DeliveredRecords().push_back({*begin});
    *static_cast<PULONG>(consumed) = 1;
}

[[noreturn]] inline void Broken(size_t byteIndex, const char *what)
{
    std::fprintf(stderr, "fuzz: after stream byte %zu: %s\n", byteIndex, what);
    std::abort();
}

struct Header {
    uint8_t bytes[kHeaderSize] = {};

    Header(const uint8_t *data, size_t size) { std::memcpy(bytes, data, size < kHeaderSize ? size : kHeaderSize); }
    ULONG MouseMode() const { return bytes[0] & 7; }
    bool AttributesQueried() const { return (bytes[0] & 8) != 0; }
    bool DataMode() const { return (bytes[0] & 16) != 0; }
    bool RightClickArmed() const { return (bytes[0] & 32) != 0; }
    ULONG InterActTime() const { return bytes[1] & 7; }
    ULONG BeepMode() const { return bytes[2] & 3; }
    unsigned TakeEvery() const { return bytes[3]; }
    CalibrationData Calibration() const
    {
        CalibrationData calibration;
        std::memcpy(&calibration, bytes + 4, sizeof(calibration));
        return calibration;
    }
};

// One mouse device extension with the driver-wide records, fresh for every input. The kernel
// stand-in (events, spin locks, IRQL) lives for the whole run.
class Rig {
public:
    Rig() : extension_(static_cast<MouseDeviceExtension *>(std::calloc(1, sizeof(MouseDeviceExtension)))) {}
    ~Rig() { std::free(extension_); }

    void Reset(const Header &header)
    {
        RtlZeroMemory(&Globals, sizeof(Globals));
        RtlZeroMemory(extension_, sizeof(*extension_));
        KeInitializeMutex(&Globals.PortLock, 0);
        TapProductDriverEntry();
        SetDefaultParameters();
        Globals.Settings.MouseMode = header.MouseMode();
        Globals.Settings.InterActTime = header.InterActTime();
        Globals.Settings.BeepMode = header.BeepMode();
        CalibrationData calibration = header.Calibration();
        StoreCalibration(&calibration);
        Globals.RightClickArmed = header.RightClickArmed();
        DeliveredRecords().clear();
        extension_->IsMouseDevice = TRUE;
        extension_->ClassService = reinterpret_cast<PVOID>(&RecordingClassService);
        extension_->AttributesQueried = header.AttributesQueried();
        KeInitializeEvent(&extension_->BeepEvent, NotificationEvent, FALSE);
        KeInitializeSpinLock(&extension_->ReadLock);
        TapProductInitialize(extension_);
    }

    // One byte as ReadComplete hands it on; TRUE when the decoder completed a packet.
    bool Feed(UCHAR byte)
    {
        bool packet = TapProductDecodeByte(extension_, byte) != FALSE;
        if (packet) {
            ReportPacket(extension_);
        }
        TapProductAfterByte(extension_);
        return packet;
    }

    MouseDeviceExtension &Extension() { return *extension_; }

private:
    tapkernel::Kernel kernel_;
    // The fuzzer's thread is busy all along: without it the kernel's watchdog would see its
    // system worker waiting alone and call the machine deadlocked.
    tapkernel::ThreadRegistration fuzzer_{"fuzzer"};
    MouseDeviceExtension *extension_;
};

// The check byte of a packet: 0xAA plus every byte before it, modulo 256.
inline bool CheckByteRight(const uint8_t *packet, size_t length)
{
    uint8_t sum = 0xAA;
    for (size_t i = 0; i + 1 < length; ++i) {
        sum = static_cast<uint8_t>(sum + packet[i]);
    }
    return sum == packet[length - 1];
}

inline bool KnownButtonFlags(USHORT flags)
{
    switch (flags) {
    case 0:
    case MOUSE_LEFT_BUTTON_DOWN:
    case MOUSE_LEFT_BUTTON_UP:
    case MOUSE_RIGHT_BUTTON_DOWN:
    case MOUSE_RIGHT_BUTTON_UP:
        return true;
    default:
        return false;
    }
}

// Every record delivered since the last call is an absolute position on the screen with one
// button transition at most.
inline size_t CheckDelivered(size_t byteIndex)
{
    std::vector<Delivered> &records = DeliveredRecords();
    for (const Delivered &delivered : records) {
        const MOUSE_INPUT_DATA &record = delivered.record;
        if (record.Flags != MOUSE_MOVE_ABSOLUTE) {
            Broken(byteIndex, "a delivered record is not an absolute move");
        }
        if (record.LastX < 0 || record.LastX > 65535 || record.LastY < 0 || record.LastY > 65535) {
            std::fprintf(stderr, "fuzz: delivered position %d,%d\n", static_cast<int>(record.LastX),
                         static_cast<int>(record.LastY));
            Broken(byteIndex, "a delivered position lies outside 0..65535");
        }
        if (!KnownButtonFlags(record.ButtonFlags)) {
            Broken(byteIndex, "a delivered record carries several button transitions or unknown flags");
        }
    }
    size_t count = records.size();
    records.clear();
    return count;
}

} // namespace fuzzrig
