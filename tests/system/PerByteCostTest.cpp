// What one byte costs the driver, on the real module: nothing from pool however many bytes pass,
// and a stack that stays where it is however many bytes complete inside one call.
#include "MonotapSystem.h"

#include <algorithm>
#include <cstdint>

using namespace monotaptest;

namespace {

constexpr size_t kBytes = 100000;

// Taps and short drags across the panel, kBytes bytes of whole packets.
std::vector<uint8_t> TouchStream()
{
    std::vector<uint8_t> stream;
    uint16_t x = 200;
    uint16_t y = 300;
    for (unsigned touch = 0; stream.size() < kBytes; ++touch) {
        std::vector<std::vector<uint8_t>> packets = {Packet(0x81, x, y, 32)};
        for (unsigned step = 0; step < touch % 4; ++step) {
            packets.push_back(Packet(0x81, static_cast<uint16_t>(x + 40 * (step + 1)), y, 32));
        }
        packets.push_back(Packet(0x84, x, y));
        for (const auto &packet : packets) {
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
        x = static_cast<uint16_t>(200 + (x + 397) % 3600);
        y = static_cast<uint16_t>(200 + (y + 211) % 3600);
    }
    stream.resize(kBytes - kBytes % 10);
    return stream;
}

class PerByteCost : public MonotapMachine {
protected:
    PerByteCost()
    {
        SetParameter(u"Port", 1);
        SetParameter(u"Enable", 1);
        SetParameter(u"MouseMode", MODE_CLICK_AND_DRAG);
        SetCalibration(IdealCalibration());
        Start();
        TakeRecords();
    }
};

TEST_F(PerByteCost, AHundredThousandBytesTakeNothingFromPool)
{
    tapkernel::Kernel &kernel = tapkernel::Kernel::Current();
    const std::vector<uint8_t> stream = TouchStream();
    const uint64_t allocations = kernel.PoolAllocations(Module());
    const size_t irps = kernel.Usage(Module()).irps;

    Feed(1, stream);

    EXPECT_EQ(TakeRecords().size(), stream.size() / 10) << "one report per packet in Click and Drag";
    EXPECT_EQ(kernel.PoolAllocations(Module()), allocations) << "no pool allocation on the byte path";
    EXPECT_EQ(kernel.Usage(Module()).irps, irps) << "the one read IRP is reused";
}

// Bytes handed over at once are all waiting when each read is issued: every read after the first
// completes inside the port driver's call, and the issuing loop, not the completion routine,
// issues the next one.
TEST_F(PerByteCost, BytesThatCompleteInsideOneCallKeepTheStackWhereItIs)
{
    uintptr_t shallowest = UINTPTR_MAX;
    uintptr_t deepest = 0;
    size_t events = 0;
    int listener = machine.mouse().AddListener([&](const tapmachine::PointerEvent &) {
        volatile char probe = 0;
        const auto at = reinterpret_cast<uintptr_t>(&probe);
        shallowest = std::min(shallowest, at);
        deepest = std::max(deepest, at);
        ++events;
    });
    const std::vector<uint8_t> stream = TouchStream();
    const size_t readsBefore = ReadsIssued(1);

    machine.comPort(1).FeedAtOnce(stream);  // the reads complete on this thread, inside this call
    machine.mouse().RemoveListener(listener);
    machine.WaitIdle();

    EXPECT_EQ(ReadsIssued(1) - readsBefore, stream.size()) << "one read a byte, the last one pending";
    EXPECT_TRUE(LastReadPended(1));
    EXPECT_GT(events, stream.size() / 10);
    EXPECT_LE(deepest - shallowest, 256u) << "the stack grew with the bytes: " << deepest - shallowest << " bytes";
    EXPECT_EQ(TakeRecords().size(), stream.size() / 10);
}

}  // namespace
