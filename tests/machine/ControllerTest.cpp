// The touch controller model: packet bytes, panel geometry, line pacing and what a receiver with
// other line settings reads.
#include <machine/ControllerPackets.h>
#include <machine/PanelGeometry.h>
#include <machine/SerialLine.h>
#include <machine/TouchController.h>

#include <gtest/gtest.h>

#include <vector>

using namespace tapmachine;

namespace {

using Bytes = std::vector<uint8_t>;

// Collects what the controller transmits, packet by packet.
class RecordingLine : public ByteSink {
public:
    void Transmit(const uint8_t *bytes, size_t count, const LineFormat &format) override
    {
        packets.emplace_back(bytes, bytes + count);
        formats.push_back(format);
    }
    std::vector<Bytes> packets;
    std::vector<LineFormat> formats;
};

TEST(ControllerPackets, SingleTouchPacketBytes)
{
    SingleTouchPacket touching{kSingleTouchTouching, 4660, 1656, 32};
    auto bytes = EncodePacket(touching);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
              (Bytes{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64}));

    SingleTouchPacket lifted{kSingleTouchNotTouching, 4660, 1656, 0};
    EXPECT_EQ(EncodePacket(lifted)[9], 0x47);

    // Bytes 1 and 8 count in the check byte, which wraps modulo 256.
    SingleTouchPacket odd{kSingleTouchTouching, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF};
    auto oddBytes = EncodePacket(odd);
    EXPECT_EQ(oddBytes[9], PacketCheckByte(oddBytes.data(), 9));
    EXPECT_EQ(oddBytes[9], static_cast<uint8_t>(0xAA + 0x55 + 0xFF + 0x81 + 6 * 0xFF));
}

TEST(ControllerPackets, MultiTouchPacketBytes)
{
    MultiTouchPacket one;
    one.status = kMultiTouchDown;
    one.contactCount = 1;
    one.contacts[0] = {4660, 1656, 0};
    EXPECT_EQ(EncodePacket(one), (Bytes{0x55, 0x00, 0x01, 0x01, 0x34, 0x12, 0x78, 0x06, 0x00, 0xC5}));

    MultiTouchPacket two;
    two.status = kMultiTouchTouching;
    two.contactCount = 2;
    two.contacts[0] = {16, 32, 0};
    two.contacts[1] = {48, 64, 1};
    EXPECT_EQ(EncodePacket(two), (Bytes{0x55, 0x00, 0x02, 0x02, 0x10, 0x00, 0x20, 0x00, 0x00, 0x30,
                                        0x00, 0x40, 0x00, 0x01, 0xA4}));

    MultiTouchPacket none;
    none.contactCount = 0;
    EXPECT_THROW(EncodePacket(none), std::invalid_argument);
}

TEST(PanelGeometry, DefaultPanelIsLinearAndOffset)
{
    PanelGeometry panel;
    EXPECT_EQ(panel.ToRaw({0, 0}), (RawPoint{48, 32}));
    EXPECT_EQ(panel.ToRaw({1023, 767}), (RawPoint{4095 + 48, 4095 + 32}));
    RawPoint middle = panel.ToRaw({512, 384});
    EXPECT_NEAR(middle.x, 48 + 2049, 1);
    EXPECT_NEAR(middle.y, 32 + 2050, 1);
    // Pixels off the screen extrapolate but stay in the packet's 16-bit range.
    EXPECT_EQ(panel.ToRaw({-100000, 0}).x, 0);
}

TEST(PanelGeometry, SwappedAndMirroredPanelsRoundTripAndCalibrate)
{
    for (bool swap : {false, true}) {
        for (bool mirrorX : {false, true}) {
            for (bool mirrorY : {false, true}) {
                PanelGeometry panel;
                panel.swapAxes = swap;
                panel.mirrorX = mirrorX;
                panel.mirrorY = mirrorY;
                SCOPED_TRACE(testing::Message() << "swap " << swap << " mirror " << mirrorX << mirrorY);
                for (PixelPoint p : {PixelPoint{0, 0}, PixelPoint{1023, 0}, PixelPoint{0, 767},
                                     PixelPoint{300, 500}, PixelPoint{1023, 767}}) {
                    EXPECT_EQ(panel.ToPixel(panel.ToRaw(p)), p);
                }
                // The ideal calibration names the raw value at the edges the drivers expect.
                IdealCalibration cal = panel.Calibration();
                RawPoint topLeft = panel.ToRaw({0, 0});
                RawPoint bottomRight = panel.ToRaw({1023, 767});
                if (swap) {
                    EXPECT_EQ(cal.orientation, 1);
                    EXPECT_EQ(cal.rawXEnd, topLeft.x * 100);       // top edge
                    EXPECT_EQ(cal.rawXStart, bottomRight.x * 100); // bottom edge
                    EXPECT_EQ(cal.rawYStart, topLeft.y * 100);     // left edge
                    EXPECT_EQ(cal.rawYEnd, bottomRight.y * 100);   // right edge
                } else {
                    EXPECT_EQ(cal.orientation, 0);
                    EXPECT_EQ(cal.rawXStart, topLeft.x * 100);
                    EXPECT_EQ(cal.rawXEnd, bottomRight.x * 100);
                    EXPECT_EQ(cal.rawYStart, topLeft.y * 100);
                    EXPECT_EQ(cal.rawYEnd, bottomRight.y * 100);
                }
            }
        }
    }
    PanelGeometry swapped;
    swapped.swapAxes = true;
    // Moving right on the screen changes raw Y only.
    EXPECT_EQ(swapped.ToRaw({0, 100}).x, swapped.ToRaw({900, 100}).x);
    EXPECT_LT(swapped.ToRaw({0, 100}).y, swapped.ToRaw({900, 100}).y);
}

TEST(SerialLine, PacesTenBitsPerByteAtTheBaudRate)
{
    SerialLine line;
    LineFormat format;  // 9600 8N1
    Bytes packet(10, 0x55);
    Ticks last = line.Transmit(packet.data(), packet.size(), format, 1000);
    // 100 bits at 9600 baud: 10.416 ms after the start.
    EXPECT_EQ(last, 1000 + 104167);
    EXPECT_EQ(line.NextArrival(), 1000 + 10417);
    EXPECT_EQ(line.TakeArrived(1000 + 10416).size(), 0u);
    EXPECT_EQ(line.TakeArrived(1000 + 52084).size(), 5u);  // five frames of 1041.67 us

    // Sent while the line is busy: queued behind, timed without accumulating rounding.
    Ticks queued = line.Transmit(packet.data(), packet.size(), format, 2000);
    EXPECT_EQ(queued, 1000 + 208334);
    EXPECT_EQ(line.TakeArrived(queued).size(), 15u);
    EXPECT_TRUE(line.Empty());

    // A quiet line starts the next character when it is sent.
    EXPECT_EQ(line.Transmit(packet.data(), 1, format, 5'000'000), 5'000'000 + 10417);

    LineFormat twoStopsParity{9600, 8, kEvenParity, kTwoStopBits};
    EXPECT_EQ(twoStopsParity.FrameHalfBits(), 24u);
}

TEST(SerialLine, ReceiverWithOtherSettingsReadsGarbledBytes)
{
    LineFormat sender;  // 9600 8N1
    for (unsigned b = 0; b < 256; ++b) {
        EXPECT_EQ(ReceiveCharacter(static_cast<uint8_t>(b), sender, sender), b);
    }
    // Seven data bits at the right rate lose the top bit.
    LineFormat sevenBits{9600, 7, kNoParity, kOneStopBit};
    EXPECT_EQ(ReceiveCharacter(0xC5, sender, sevenBits), 0x45);

    // A wrong baud rate garbles a packet, the same way every time.
    Bytes packet{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64};
    for (uint32_t rate : {1200u, 4800u, 19200u, 38400u}) {
        LineFormat receiver{rate, 8, kNoParity, kOneStopBit};
        Bytes first, second;
        for (uint8_t b : packet) {
            if (auto r = ReceiveCharacter(b, sender, receiver)) first.push_back(*r);
            if (auto r = ReceiveCharacter(b, sender, receiver)) second.push_back(*r);
        }
        EXPECT_NE(first, packet) << rate;
        EXPECT_EQ(first, second) << rate;
    }
    // At double speed the receiver samples each sent bit twice: 0x55 (01010101) reads as bits
    // 0,0,1,1,0,0,1,1 -> 0xCC.
    EXPECT_EQ(ReceiveCharacter(0x55, sender, LineFormat{19200}), 0x66);
    // A receiver eight times slower finds no start bit where it looks for one.
    EXPECT_FALSE(ReceiveCharacter(0xFF, sender, LineFormat{1200}).has_value());
}

TEST(TouchController, SingleTouchGesturesBecomePackets)
{
    RecordingLine line;
    PanelGeometry identity;
    identity.rawOffsetX = identity.rawOffsetY = 0;
    TouchController controller({Protocol::SingleTouch, 9600, identity, 32}, line);

    controller.TouchRaw({4660, 1656});
    controller.Hold(2);
    controller.Lift();
    ASSERT_EQ(line.packets.size(), 4u);
    EXPECT_EQ(line.packets[0], (Bytes{0x55, 0x00, 0x81, 0x34, 0x12, 0x78, 0x06, 0x20, 0x00, 0x64}));
    EXPECT_EQ(line.packets[1], line.packets[0]);
    EXPECT_EQ(line.packets[2], line.packets[0]);
    // The lift repeats the last position, not touching.
    EXPECT_EQ(line.packets[3], (Bytes{0x55, 0x00, 0x84, 0x34, 0x12, 0x78, 0x06, 0x00, 0x00, 0x47}));
    EXPECT_EQ(line.formats[0], LineFormat{});

    line.packets.clear();
    controller.Drag({0, 0}, {1023, 767}, 3);
    ASSERT_EQ(line.packets.size(), 5u);  // touch, three moves, lift
    EXPECT_EQ(line.packets[0][2], kSingleTouchTouching);
    EXPECT_EQ(line.packets[3][3] | (line.packets[3][4] << 8), 4095);  // the last move is at the end
    EXPECT_EQ(line.packets[4][2], kSingleTouchNotTouching);

    // A 100 ms hold at 9600 baud: 10 packets of 10.4 ms.
    line.packets.clear();
    controller.TouchRaw({1, 1});
    controller.HoldFor(std::chrono::milliseconds(100));
    EXPECT_EQ(line.packets.size(), 1u + 10u);
    EXPECT_EQ(controller.PacketDuration(), 104167);
    controller.Lift();

    EXPECT_THROW(controller.TouchContacts({{{1, 1}, 0}, {{2, 2}, 1}}), std::logic_error);
    EXPECT_THROW(controller.Hold(), std::logic_error);  // no finger down
}

TEST(TouchController, MultiTouchGesturesCarryStatusBitsAndContacts)
{
    RecordingLine line;
    PanelGeometry identity;
    identity.rawOffsetX = identity.rawOffsetY = 0;
    TouchController controller({Protocol::MultiTouch, 19200, identity, 0}, line);

    controller.TouchRaw({4660, 1656});
    EXPECT_EQ(line.packets.back(), (Bytes{0x55, 0x00, 0x01, 0x01, 0x34, 0x12, 0x78, 0x06, 0x00, 0xC5}));
    EXPECT_EQ(line.formats.back().baudRate, 19200u);
    controller.Hold();
    EXPECT_EQ(line.packets.back()[2], kMultiTouchTouching);
    controller.Lift();
    EXPECT_EQ(line.packets.back()[2], kMultiTouchLift);
    EXPECT_EQ(line.packets.back()[4], 0x34);  // at the last position

    controller.TouchContactsRaw({{{16, 32}, 0}, {{48, 64}, 1}});
    EXPECT_EQ(line.packets.back().size(), 15u);
    EXPECT_EQ(line.packets.back()[2], kMultiTouchDown);
    controller.MoveContactsRaw({{{16, 32}, 0}, {{48, 64}, 1}});
    EXPECT_EQ(line.packets.back(), (Bytes{0x55, 0x00, 0x02, 0x02, 0x10, 0x00, 0x20, 0x00, 0x00, 0x30,
                                          0x00, 0x40, 0x00, 0x01, 0xA4}));
    controller.Lift();  // both contacts leave
    EXPECT_EQ(line.packets.back().size(), 15u);
    EXPECT_EQ(line.packets.back()[2], kMultiTouchLift);
    EXPECT_FALSE(controller.touching());

    controller.SendBytes({0x01, 0x02});
    EXPECT_EQ(line.packets.back(), (Bytes{0x01, 0x02}));
    EXPECT_EQ(controller.packetsSent(), 6u);
}

}  // namespace
