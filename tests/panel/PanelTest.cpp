// The applet's entry and its settings on a simulated PC: the CPlApplet answers, PanelSettings'
// defaults, what CPL_INIT reads and what CPL_EXIT writes, for the line and setting this test
// binary is built with (one binary per applet library).
#include <windows.h>
#include <cpl.h>

#include <machine/Machine.h>
#include <tapwin32/UserMode.h>

#include <gtest/gtest.h>

#include "PanelApp.h"
#include "PanelSettings.h"

namespace {

using panel::PanelSettings;
using panel::ThisPanel;

const std::u16string kMouse = u"HKEY_CURRENT_USER\\Control Panel\\Mouse";

std::u16string ParametersKey()
{
    const std::string key = ThisPanel().MultiTouch ? (PANEL_TEST_USB ? "Polyusb" : "Polytap")
                                                   : (PANEL_TEST_USB ? "Monousb" : "Monotap");
    return u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + std::u16string(key.begin(), key.end()) +
           u"\\Parameters";
}

class Panel : public testing::Test {
protected:
    ~Panel() override { EXPECT_EQ(tapwin32::OpenHandleCount(), 0u) << "the applet left a handle open"; }

    void Set(const char16_t *name, uint32_t value) { machine.SetDword(ParametersKey(), name, value); }
    std::optional<uint32_t> Dword(const char16_t *name) const
    {
        std::optional<tapmachine::RegistryValueRecord> value = machine.Value(ParametersKey(), name);
        if (!value || value->data.size() != 4) {
            return std::nullopt;
        }
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | value->data[static_cast<size_t>(i)];
        }
        return number;
    }
    std::string Text(const std::u16string &key, const char16_t *name) const
    {
        std::optional<tapmachine::RegistryValueRecord> value = machine.Value(key, name);
        if (!value) {
            return "(missing)";
        }
        std::string text;
        for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
            text += static_cast<char>(value->data[i]);
        }
        return text.substr(0, text.find('\0'));
    }

    tapmachine::Machine machine;
};

TEST_F(Panel, AnswersEveryMessageOfTheProtocol)
{
    panel::CPanelApp &applet = panel::ThePanelApp();
    EXPECT_EQ(applet.Applet(NULL, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info = {-1, -1, -1, 99};
    EXPECT_EQ(applet.Applet(NULL, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, ThisPanel().MultiTouch ? 1022 : 1007);
    EXPECT_EQ(info.idName, PANEL_TEST_USB ? 1 : 4);
    EXPECT_EQ(info.idInfo, PANEL_TEST_USB ? 2 : 5);
    const LONG_PTR data = info.lData; // the record is packed: no reference to its field
    EXPECT_EQ(data, 0);
    // CPL_NEWINQUIRE leaves the caller's record alone.
    unsigned char record[64];
    memset(record, 0xAB, sizeof record);
    EXPECT_EQ(applet.Applet(NULL, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(record)), 0);
    for (unsigned char byte : record) {
        ASSERT_EQ(byte, 0xAB);
    }
    EXPECT_EQ(applet.Applet(NULL, CPL_SELECT, 0, 0), 0);
    EXPECT_EQ(applet.Applet(NULL, CPL_STOP, 0, 0), 0);
    EXPECT_EQ(applet.Applet(NULL, 42, 0, 0), 1);
    // Nothing under HKLM and no driver: CPL_INIT still succeeds.
    EXPECT_EQ(applet.Applet(NULL, CPL_INIT, 0, 0), 1);
}

TEST_F(Panel, WithoutAParametersKeyKeepsTheDefaultsAndSavesOnlyTheDoubleClickSize)
{
    PanelSettings settings(ThisPanel());
    settings.Load();
    EXPECT_EQ(settings.MouseMode, 3u);
    EXPECT_EQ(settings.DblClickRegion, 25u);
    EXPECT_EQ(settings.InterActTime, 1u);
    EXPECT_EQ(settings.BeepMode, 0u);
    EXPECT_EQ(settings.Port, 0u);
    EXPECT_EQ(settings.Enable, 1u);
    EXPECT_EQ(settings.BaudRate, 9600u);
    EXPECT_EQ(settings.CalibrateMargin, ThisPanel().MultiTouch ? 2u : 1u);
    settings.Save();
    EXPECT_FALSE(machine.KeyExists(ParametersKey()));
    EXPECT_EQ(Text(kMouse, u"DoubleClickHeight"), "25");
    EXPECT_EQ(Text(kMouse, u"DoubleClickWidth"), "25");
}

TEST_F(Panel, ReadsTheValuesThereAreAndThePortOnlyWithTheSerialSetting)
{
    Set(u"MouseMode", 1);
    Set(u"BeepFreq", 450);
    Set(u"CalibrateMargin", 9);
    Set(u"Port", 4);
    Set(u"Enable", 0);
    Set(u"BaudRate", 38400);
    Set(u"FirColor", 7);
    machine.SetValue(ParametersKey(), u"BeepTime", REG_BINARY, {1, 2});  // not 4 bytes: ignored
    PanelSettings settings(ThisPanel());
    settings.Load();
    EXPECT_EQ(settings.MouseMode, 1u);
    EXPECT_EQ(settings.BeepFreq, 450u);
    EXPECT_EQ(settings.BeepTime, 0u);
    EXPECT_EQ(settings.CalibrateMargin, 9u);
    EXPECT_EQ(settings.DblClickRegion, 25u);  // missing: the default
    EXPECT_EQ(settings.Port, PANEL_TEST_USB ? 0u : 4u);
    EXPECT_EQ(settings.Enable, PANEL_TEST_USB ? 1u : 0u);
    EXPECT_EQ(settings.BaudRate, ThisPanel().MultiTouch && !PANEL_TEST_USB ? 38400u : 9600u);
    EXPECT_EQ(settings.FirColor, ThisPanel().MultiTouch ? 7u : 3u);
}

TEST_F(Panel, SavesEveryValueButTheMarginAndTheDoubleClickRegionAsText)
{
    Set(u"MouseMode", 0);  // the key exists
    PanelSettings settings(ThisPanel());
    settings.Load();
    settings.DblClickRegion = 7;
    settings.CalibrateMargin = 12;
    settings.Save();
    EXPECT_EQ(Dword(u"MouseMode"), 0u);
    EXPECT_EQ(Dword(u"InterActTime"), 1u);
    EXPECT_EQ(Dword(u"DblClickRegion"), 7u);
    EXPECT_EQ(Dword(u"BeepMode"), 0u);
    EXPECT_EQ(Dword(u"BeepFreq"), 0u);
    EXPECT_EQ(Dword(u"BeepTime"), 0u);
    // With the USB setting Port and Enable were never read, yet they are written.
    EXPECT_EQ(Dword(u"Port"), 0u);
    EXPECT_EQ(Dword(u"Enable"), 1u);
    EXPECT_FALSE(Dword(u"CalibrateMargin"));
    if (ThisPanel().MultiTouch) {
        EXPECT_EQ(Dword(u"BaudRate"), 9600u);
        EXPECT_EQ(Dword(u"FirColor"), 3u);
        EXPECT_EQ(Dword(u"SecColor"), 3u);
    } else {
        EXPECT_FALSE(Dword(u"BaudRate"));
    }
    EXPECT_EQ(Text(kMouse, u"DoubleClickHeight"), "7");
    EXPECT_EQ(Text(kMouse, u"DoubleClickWidth"), "7");
    std::optional<tapmachine::RegistryValueRecord> height = machine.Value(kMouse, u"DoubleClickHeight");
    ASSERT_TRUE(height);
    EXPECT_EQ(height->type, static_cast<uint32_t>(REG_SZ));
    settings.WriteMargin(12);
    EXPECT_EQ(Dword(u"CalibrateMargin"), 12u);
}

TEST_F(Panel, TheMachineBootsWithTheUsersDoubleClickValues)
{
    EXPECT_EQ(Text(kMouse, u"DoubleClickHeight"), "4");
    EXPECT_EQ(Text(kMouse, u"DoubleClickWidth"), "4");
    EXPECT_EQ(Text(kMouse, u"DoubleClickSpeed"), "500");
}

} // namespace
