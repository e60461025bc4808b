#include "MonotapSystem.h"

using namespace monotaptest;

namespace {

class Smoke : public MonotapMachine {};

TEST_F(Smoke, ATouchMovesTheCursor)
{
    SetParameter(u"Enable", 1);
    SetParameter(u"Port", 1);
    Start();
    EXPECT_EQ(OpenPort(), 1u);
    auto devices = machine.mouseClassDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_TRUE(devices[0].connected);
    EXPECT_EQ(devices[0].numberOfButtons, 2);
    Feed(1, Packet(0x81, 1000, 1000));
    auto records = TakeRecords();
    EXPECT_EQ(records.size(), 1u);
    ASSERT_EQ(machine.RemoveDevice(node), STATUS_SUCCESS);
}

} // namespace
