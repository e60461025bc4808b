// Every control code of each driver with no buffer, a buffer one byte short, the exact length and
// one byte long, on a started device with its COM port open: the status each gets. The same
// table is in docs/reliability.md. A code that takes no buffer has only two columns: none, and
// four bytes in and out ("long").
#include "LineRig.h"

#include <gtest/gtest.h>

#include <string>

using namespace reliability;

namespace {

enum class Buffer { None, Input, Output };

constexpr NTSTATUS S = STATUS_SUCCESS;
constexpr NTSTATUS P = STATUS_INVALID_PARAMETER;
constexpr NTSTATUS D = STATUS_INVALID_DEVICE_REQUEST;
constexpr NTSTATUS NA = 1; // no such column for this code

struct Row {
    ULONG code;
    const char *name;
    Buffer buffer;
    ULONG length; // the exact length of the buffer that counts
    NTSTATUS none, shortBy1, exact, longBy1;
};

const Row kMonotap[] = {
    {IOCTL_TOUCH_CLOSE_PORT, "IOCTL_TOUCH_CLOSE_PORT", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_OPEN_PORT, "IOCTL_TOUCH_OPEN_PORT", Buffer::Input, 4, P, P, S, P},
    {IOCTL_TOUCH_SET_CALIBRATION, "IOCTL_TOUCH_SET_CALIBRATION", Buffer::Input, 28, P, P, S, P},
    {IOCTL_TOUCH_GET_RAW_SAMPLE, "IOCTL_TOUCH_GET_RAW_SAMPLE", Buffer::Output, 12, P, P, S, P},
    {IOCTL_TOUCH_SET_SETTINGS, "IOCTL_TOUCH_SET_SETTINGS", Buffer::Input, 32, P, P, S, P},
    {IOCTL_TOUCH_BEEP, "IOCTL_TOUCH_BEEP", Buffer::Input, 8, P, P, S, P},
    {IOCTL_TOUCH_SET_RIGHT_CLICK, "IOCTL_TOUCH_SET_RIGHT_CLICK", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_GET_RIGHT_CLICK, "IOCTL_TOUCH_GET_RIGHT_CLICK", Buffer::Output, 4, P, P, S, P},
    {IOCTL_TOUCH_START_DATA_MODE, "IOCTL_TOUCH_START_DATA_MODE", Buffer::Output, 4, P, P, S, P},
    {IOCTL_TOUCH_GET_CONTACT_FRAME, "IOCTL_TOUCH_GET_CONTACT_FRAME", Buffer::Output, 28, D, D, D, D},
    {IOCTL_TOUCH_STOP_DATA_MODE, "IOCTL_TOUCH_STOP_DATA_MODE", Buffer::None, 0, D, NA, NA, D},
    {IOCTL_TOUCH_SET_BAUD_RATE, "IOCTL_TOUCH_SET_BAUD_RATE", Buffer::Input, 4, D, D, D, D},
    {IOCTL_TOUCH_PROBE, "IOCTL_TOUCH_PROBE", Buffer::Output, 4, D, D, D, D},
    {TAP_CTL_CODE(0x80D), "any other code (0x222034)", Buffer::None, 0, D, NA, NA, D},
};

const Row kPolytap[] = {
    {IOCTL_TOUCH_CLOSE_PORT, "IOCTL_TOUCH_CLOSE_PORT", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_OPEN_PORT, "IOCTL_TOUCH_OPEN_PORT", Buffer::Input, 4, P, P, S, P},
    {IOCTL_TOUCH_SET_CALIBRATION, "IOCTL_TOUCH_SET_CALIBRATION", Buffer::Input, 28, P, P, S, P},
    {IOCTL_TOUCH_GET_RAW_SAMPLE, "IOCTL_TOUCH_GET_RAW_SAMPLE", Buffer::Output, 12, P, P, S, P},
    {IOCTL_TOUCH_SET_SETTINGS, "IOCTL_TOUCH_SET_SETTINGS", Buffer::Input, 36, P, P, S, P},
    {IOCTL_TOUCH_BEEP, "IOCTL_TOUCH_BEEP", Buffer::Input, 8, P, P, S, P},
    {IOCTL_TOUCH_SET_RIGHT_CLICK, "IOCTL_TOUCH_SET_RIGHT_CLICK", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_GET_RIGHT_CLICK, "IOCTL_TOUCH_GET_RIGHT_CLICK", Buffer::Output, 4, P, P, S, P},
    {IOCTL_TOUCH_START_DATA_MODE, "IOCTL_TOUCH_START_DATA_MODE", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_GET_CONTACT_FRAME, "IOCTL_TOUCH_GET_CONTACT_FRAME", Buffer::Output, 28, P, P, S, P},
    {IOCTL_TOUCH_STOP_DATA_MODE, "IOCTL_TOUCH_STOP_DATA_MODE", Buffer::None, 0, S, NA, NA, S},
    {IOCTL_TOUCH_SET_BAUD_RATE, "IOCTL_TOUCH_SET_BAUD_RATE", Buffer::Input, 4, P, P, S, P},
    {IOCTL_TOUCH_PROBE, "IOCTL_TOUCH_PROBE", Buffer::Output, 4, P, P, S, P},
    {TAP_CTL_CODE(0x80D), "any other code (0x222034)", Buffer::None, 0, D, NA, NA, D},
};
static_assert(std::size(kMonotap) == std::size(kPolytap), "one row per code in both tables");

// Input for the exact length of each code: a port that is there, a calibration, settings that
// keep the port and its speed, a short beep, the line's speed.
std::vector<uint8_t> ExactInput(const Line &line, ULONG code, ULONG length)
{
    std::vector<uint8_t> input(length, 0);
    auto put = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4 && at + i < input.size(); ++i) {
            input[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    switch (code) {
    case IOCTL_TOUCH_OPEN_PORT:
        put(0, 1);
        break;
    case IOCTL_TOUCH_SET_CALIBRATION:
        for (uint32_t i = 0; i < 7; ++i) {
            put(4 * i, std::vector<uint32_t>{75000, 325000, 75000, 325000, 0, 1024, 768}[i]);
        }
        break;
    case IOCTL_TOUCH_SET_SETTINGS:
        put(0, MODE_CLICK_AND_DRAG);
        put(24, 1);
        if (line.multiTouch) {
            put(28, 9600);
        }
        break;
    case IOCTL_TOUCH_BEEP:
        put(0, 880);
        put(4, 1);
        break;
    case IOCTL_TOUCH_SET_BAUD_RATE:
        put(0, 9600);
        break;
    default:
        break;
    }
    return input;
}

NTSTATUS Send(LineMachine &rig, const Row &row, int column)
{
    // The device as a tool finds it: started, its port open and reading, data mode off.
    EXPECT_EQ(rig.ControlValue(IOCTL_TOUCH_OPEN_PORT, 1).status, STATUS_SUCCESS);
    if (row.buffer == Buffer::None) {
        std::vector<uint8_t> four(4, 0);
        return column == 0 ? rig.Control(row.code).status : rig.Control(row.code, four.data(), 4, 4).status;
    }
    ULONG length = column == 0 ? 0 : row.length + static_cast<ULONG>(column) - 2; // short, exact, long
    std::vector<uint8_t> input = ExactInput(rig.line, row.code, row.length);
    input.resize(length, 0);
    if (row.buffer == Buffer::Input) {
        return rig.Control(row.code, length ? input.data() : nullptr, length, 0).status;
    }
    return rig.Control(row.code, nullptr, 0, length).status;
}

// Data mode left on would turn the cursor's packets into frames too; the table's rows are independent.
void StopDataModeIfOn(LineMachine &rig)
{
    if (rig.line.multiTouch) {
        rig.Control(IOCTL_TOUCH_STOP_DATA_MODE);
    }
}

class ControlCodeTable : public testing::TestWithParam<const Line *> {};

TEST_P(ControlCodeTable, EveryCodeWithNoBufferShortExactAndLong)
{
    LineMachine rig(*GetParam());
    ASSERT_EQ(rig.Start(), STATUS_SUCCESS);
    const Row *rows = GetParam()->multiTouch ? kPolytap : kMonotap;
    for (size_t r = 0; r < std::size(kMonotap); ++r) {
        const Row &row = rows[r];
        const NTSTATUS expected[4] = {row.none, row.shortBy1, row.exact, row.longBy1};
        const char *columns[4] = {"no buffer", "short", "exact", "long"};
        for (int column = 0; column < 4; ++column) {
            if (expected[column] == NA) {
                continue;
            }
            EXPECT_EQ(Send(rig, row, column), expected[column]) << row.name << ", " << columns[column];
        }
        StopDataModeIfOn(rig);
    }
    EXPECT_GT(rig.Tap(), 0u) << "the device works after the whole table";
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, ControlCodeTable, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<const Line *> &info) { return info.param->name; });

} // namespace
