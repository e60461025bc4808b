// What one byte costs the multi-touch driver, on the real module: with the cursor and the frame
// queue both fed (data mode on, nobody taking frames), nothing comes from pool however many bytes
// pass.
#include "PolytapSystem.h"

using namespace polytaptest;

namespace {

constexpr size_t kBytes = 100000;

// One finger, then a second beside it, moving together and lifting: 10- and 15-byte packets.
std::vector<uint8_t> TouchStream()
{
    std::vector<uint8_t> stream;
    for (uint16_t x = 100; stream.size() < kBytes; x = static_cast<uint16_t>(100 + (x + 37) % 800)) {
        const tapmachine::RawContact first{x, 300, 0};
        const tapmachine::RawContact second{static_cast<uint16_t>(x + 50), 400, 1};
        for (const auto &packet : {Packet(0x01, first), Packet(0x02, first), Packet(0x02, first, second),
                                   Packet(0x02, first, second), Packet(0x04, first, second)}) {
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
    }
    return stream;
}

class PolyPerByteCost : public PolytapMachine {};

TEST_F(PolyPerByteCost, AHundredThousandBytesInDataModeTakeNothingFromPool)
{
    AttachController();
    Start();
    ASSERT_EQ(Control(IOCTL_TOUCH_START_DATA_MODE).status, STATUS_SUCCESS);
    TakeRecords();
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    const std::vector<uint8_t> stream = TouchStream();
    const uint64_t allocations = kernel.PoolAllocations(Module());

    Feed(stream);

    EXPECT_FALSE(TakeRecords().empty());
    EXPECT_EQ(TakeFrames().size(), 10u) << "the queue holds the newest ten frames";
    EXPECT_EQ(kernel.PoolAllocations(Module()), allocations) << "no pool allocation on the byte path";
}

}  // namespace
