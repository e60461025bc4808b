// The COM port hardware: what its receiver hears of the controller's line, and when.
#include "serial/ComPortModel.h"

#include <gtest/gtest.h>

using namespace tapmachine;

namespace {

struct PortFixture : testing::Test {
    Ticks now = 0;
    ComPortModel port{1, [this] { return now; }};
    int interrupts = 0;

    void SetUp() override { port.ConnectInterrupt([this] { ++interrupts; }); }

    std::vector<uint8_t> Received()
    {
        std::vector<uint8_t> bytes(64);
        bytes.resize(port.TakeReceived(bytes.data(), bytes.size()));
        return bytes;
    }
};

const std::vector<uint8_t> kPacket{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64};

TEST_F(PortFixture, BytesArriveWhenTheirLastBitHas)
{
    port.SetLineFormat(LineFormat{});  // 9600 8N1, as the controller sends
    port.SetReceiving(true);
    port.Transmit(kPacket.data(), kPacket.size(), LineFormat{});
    EXPECT_EQ(port.NextArrival(), 10417);
    port.DeliverArrived(now = 10416);
    EXPECT_EQ(port.BytesWaiting(), 0u);
    EXPECT_EQ(interrupts, 0);
    port.DeliverArrived(now = 20834);
    EXPECT_EQ(Received(), (std::vector<uint8_t>{0x55, 0x00}));
    EXPECT_EQ(interrupts, 1);
    EXPECT_FALSE(port.LineQuiet());
    port.DeliverArrived(now = 200000);
    EXPECT_EQ(Received().size(), 8u);
    EXPECT_TRUE(port.LineQuiet());
}

TEST_F(PortFixture, AClosedPortOrWrongSettingsLoseTheStream)
{
    // Power-on settings (1200 7E1) do not match the controller.
    port.SetReceiving(true);
    port.Transmit(kPacket.data(), kPacket.size(), LineFormat{});
    port.DeliverArrived(now = kTicksPerSecond);
    std::vector<uint8_t> garbled = Received();
    EXPECT_NE(garbled, kPacket);

    // Nobody listening: the bytes are gone, and opening later does not bring them back.
    port.SetReceiving(false);
    port.SetLineFormat(LineFormat{});
    port.Transmit(kPacket.data(), kPacket.size(), LineFormat{});
    port.DeliverArrived(now = 2 * kTicksPerSecond);
    port.SetReceiving(true);
    EXPECT_EQ(port.BytesWaiting(), 0u);

    // Cutting the line loses what is in flight.
    port.Transmit(kPacket.data(), kPacket.size(), LineFormat{});
    port.CutLine();
    port.DeliverArrived(now = 3 * kTicksPerSecond);
    EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST_F(PortFixture, RecordsRequestsWithTheirTime)
{
    now = 1234;
    port.Record({SerialRequest::Kind::DeviceControl, 0x1B0004, {0x80, 0x25, 0, 0}, 0, 0, 0});
    port.Record({SerialRequest::Kind::Read, 0, {}, 1, 0x103, 0});
    auto requests = port.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].time, 1234);
    EXPECT_EQ(DescribeSerialRequest(requests[0]),
              "IOCTL_SERIAL_SET_BAUD_RATE (0x1B0004) in 80 25 00 00 -> 0x00000000");
    EXPECT_EQ(DescribeSerialRequest(requests[1]), "read 1 -> 0x00000103");
    port.ClearRequests();
    EXPECT_TRUE(port.requests().empty());
}

}  // namespace
