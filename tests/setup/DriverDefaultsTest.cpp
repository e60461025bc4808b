// The installer's table of registry defaults, which the bench's `install` shares.
#include "tap/setup/DriverDefaults.h"

#include <gtest/gtest.h>

namespace {

using tap::setup::InstallerChoices;
using tap::setup::ParametersDefaults;
using tap::setup::ProductLine;
using tap::setup::RegistryValue;
using tap::setup::ValueType;

std::vector<std::string> Names(const std::vector<RegistryValue> &values)
{
    std::vector<std::string> names;
    for (const RegistryValue &value : values) {
        names.push_back(value.name);
    }
    return names;
}

TEST(DriverDefaults, TheSingleTouchLineWritesItsValuesInOrderWithPortTwiceAndEnableAsFourBinaryBytes)
{
    std::vector<RegistryValue> values = ParametersDefaults(ProductLine::SingleTouch, {false, 3, 1, "C:\\WINDOWS\\inf\\oem0.inf"});
    EXPECT_EQ(Names(values), (std::vector<std::string>{"MouseMode", "InterActTime", "BeepMode", "BeepFreq", "BeepTime",
                                                       "DblClickRegion", "Port", "Calibration", "CalibrateMargin",
                                                       "OemInfPath", "Port", "Enable"}));
    EXPECT_EQ(values[0].data, (std::vector<uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(values[5].data, (std::vector<uint8_t>{30, 0, 0, 0}));
    EXPECT_EQ(values[6].data, (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(values[7].type, ValueType::Binary);
    EXPECT_EQ(values[7].data, std::vector<uint8_t>(28, 0));
    EXPECT_EQ(values[8].type, ValueType::Binary);
    EXPECT_EQ(values[8].data, (std::vector<uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(values[9].type, ValueType::String);
    EXPECT_EQ(std::string(values[9].data.begin(), values[9].data.end()), std::string("C:\\WINDOWS\\inf\\oem0.inf") + '\0');
    EXPECT_EQ(values[11].type, ValueType::Binary);
    EXPECT_EQ(values[11].data, (std::vector<uint8_t>{1, 0, 0, 0}));

    // NONE: Port 11 and Enable as the port test left it; USB selected: the first Port is 1.
    values = ParametersDefaults(ProductLine::SingleTouch, {false, 11, 0, "x"});
    EXPECT_EQ(values[6].data, (std::vector<uint8_t>{11, 0, 0, 0}));
    EXPECT_EQ(values[11].data, (std::vector<uint8_t>{0, 0, 0, 0}));
    values = ParametersDefaults(ProductLine::SingleTouch, {true, 4, 0, "x"});
    EXPECT_EQ(values[6].data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(values[10].data, (std::vector<uint8_t>{4, 0, 0, 0}));
}

TEST(DriverDefaults, TheMultiTouchLineWritesItsCalibrationAndNeitherPortNorEnableNorMargin)
{
    std::vector<RegistryValue> values = ParametersDefaults(ProductLine::MultiTouch, {true, 1, 0, "oem1"});
    EXPECT_EQ(Names(values), (std::vector<std::string>{"MouseMode", "InterActTime", "BeepMode", "BeepFreq", "BeepTime",
                                                       "DblClickRegion", "Calibration", "OemInfPath"}));
    ASSERT_EQ(values[6].data.size(), 28u);
    EXPECT_EQ(std::vector<uint8_t>(values[6].data.begin(), values[6].data.begin() + 8),
              (std::vector<uint8_t>{0x73, 0x4C, 0x00, 0x00, 0xA0, 0x43, 0x06, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(values[6].data.begin() + 20, values[6].data.end()),
              (std::vector<uint8_t>{0x00, 0x04, 0, 0, 0x00, 0x03, 0, 0}));
}

TEST(DriverDefaults, TheDoubleClickSizeIsTheRegionAsTextWithItsTerminator)
{
    std::vector<RegistryValue> values = tap::setup::MouseDefaults();
    EXPECT_EQ(Names(values), (std::vector<std::string>{"DoubleClickHeight", "DoubleClickWidth"}));
    for (const RegistryValue &value : values) {
        EXPECT_EQ(value.type, ValueType::String);
        EXPECT_EQ(value.data, (std::vector<uint8_t>{'3', '0', 0}));
    }
}

} // namespace
