#include "link/Comportclass.h"
#include "tests/support/FakeComPort.h"
#include "tests/support/ScriptedPrompt.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kve17 {
namespace {

using test::FakeComPort;
using test::ScriptedPrompt;

constexpr const char* PortLostText =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

struct LineSettings {
    const char* Baud;
    const char* Parity;
    const char* Stop;
    const char* Name;
};

class OpenPortTest : public ::testing::Test {
protected:
    void Apply(const LineSettings& s) {
        ASSERT_TRUE(link.SetBaudText(s.Baud));
        ASSERT_TRUE(link.SetParityText(s.Parity));
        ASSERT_TRUE(link.SetStopText(s.Stop));
        ASSERT_TRUE(link.SetPortName(s.Name));
    }
    void ExpectPortLostShownOnce() {
        ASSERT_EQ(prompt.Shown.size(), 1u);
        EXPECT_EQ(prompt.Shown[0].Text, PortLostText);
        EXPECT_EQ(prompt.Shown[0].Caption, "Ошибка");
        EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Error);
        EXPECT_EQ(prompt.Shown[0].Buttons, TMsgButtons::Ok);
        EXPECT_EQ(prompt.CloseRequests, 1);
    }

    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
};

TEST_F(OpenPortTest, StartsWithTheInitialSettingsAndTouchesNoPort) {
    EXPECT_EQ(link.Povt1, 5);
    EXPECT_EQ(link.Povt2, 10);
    EXPECT_EQ(link.GetDelayTx(), 25);
    EXPECT_EQ(link.GetDelayRx(), 20);
    EXPECT_EQ(link.GetBaudText(), "9600");
    EXPECT_EQ(link.GetParityText(), "N");
    EXPECT_EQ(link.GetStopText(), "2");
    EXPECT_EQ(link.GetPortName(), "COM1");
    EXPECT_EQ(link.TxLen + link.DataLen + link.RxLen + link.RxCount, 0);
    EXPECT_TRUE(port.Calls.empty());
}

TEST_F(OpenPortTest, InitialSettingsOpenAt9600NoParityTwoStopBits) {
    EXPECT_EQ(link.OpenPort(), 0);
    EXPECT_TRUE(port.IsConnected);
    EXPECT_EQ(port.BaudRate, br9600);
    EXPECT_EQ(port.Parity, prNone);
    EXPECT_EQ(port.StopBits, sbTwoStopBits);
    EXPECT_EQ(port.PortName, "COM1");
    // Settings go over while the port is closed; the open applies them.
    EXPECT_EQ(port.Calls, (std::vector<std::string>{"Close", "SetBaudRate", "SetParityBits",
                                                    "SetStopBits", "SetPort", "Open"}));
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(OpenPortTest, HandsEverySettingToThePort) {
    Apply({"115200", "O", "1", "COM12"});
    EXPECT_EQ(link.OpenPort(), 0);
    EXPECT_EQ(port.BaudRate, br115200);
    EXPECT_EQ(port.Parity, prOdd);
    EXPECT_EQ(port.StopBits, sbOneStopBit);
    EXPECT_EQ(port.PortName, "COM12");
}

TEST_F(OpenPortTest, ReopeningAnOpenPortClosesItFirst) {
    ASSERT_EQ(link.OpenPort(), 0);
    port.Calls.clear();
    EXPECT_EQ(link.OpenPort(), 0);
    EXPECT_TRUE(port.IsConnected);
    EXPECT_EQ(port.Calls.front(), "Close");
    EXPECT_EQ(port.Calls.back(), "Open");
}

TEST_F(OpenPortTest, FailedOpenShowsPortLostAsksToCloseAndReturnsMinusOne) {
    port.OpenError = CE_OpenFailed;
    EXPECT_EQ(link.OpenPort(), -1);
    EXPECT_FALSE(port.IsConnected);
    ExpectPortLostShownOnce();
}

TEST_F(OpenPortTest, FailedCloseIsReportedAndTheOpenGoesOn) {
    port.IsConnected = true;
    port.CloseError = CE_ClearComFailed;
    EXPECT_EQ(link.OpenPort(), 0);
    ExpectPortLostShownOnce();
    EXPECT_EQ(port.CountOf("SetPort"), 1);
}

TEST_F(OpenPortTest, ClosePortDropsEveryFailureSilently) {
    port.IsConnected = true;
    port.CloseError = CE_ClearComFailed;
    EXPECT_NO_THROW(link.ClosePort());
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_EQ(prompt.CloseRequests, 0);
    port.CloseError.reset();
    link.ClosePort();
    EXPECT_FALSE(port.IsConnected);
}

struct Refusal {
    const char* Name;
    LineSettings Settings;
    int CallsBeforeRefusal; // settings handed over before the refused one, Close included
};

class OpenPortRefusal : public OpenPortTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(OpenPortRefusal, ReturnsMinusOneLeavesThePortClosedAndSaysNothing) {
    port.IsConnected = true; // refusals come after the close, so an open port ends up closed
    Apply(GetParam().Settings);
    EXPECT_EQ(link.OpenPort(), -1);
    EXPECT_FALSE(port.IsConnected);
    EXPECT_EQ(port.CountOf("Open"), 0);
    EXPECT_EQ(static_cast<int>(port.Calls.size()), GetParam().CallsBeforeRefusal);
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_EQ(prompt.CloseRequests, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EverySetting, OpenPortRefusal,
    ::testing::Values(Refusal{"Baud128000", {"128000", "N", "2", "COM1"}, 1},
                      Refusal{"Baud256000", {"256000", "N", "2", "COM1"}, 1},
                      Refusal{"Baud9601", {"9601", "N", "2", "COM1"}, 1},
                      Refusal{"BaudCustom", {"250000", "N", "2", "COM1"}, 1},
                      Refusal{"BaudNoDigitsReadsZero", {"fast", "N", "2", "COM1"}, 1},
                      Refusal{"BaudEmpty", {"", "N", "2", "COM1"}, 1},
                      Refusal{"BaudDigitsAfterSign", {"+9600", "N", "2", "COM1"}, 1},
                      Refusal{"ParityMark", {"9600", "M", "2", "COM1"}, 2},
                      Refusal{"ParitySpace", {"9600", "S", "2", "COM1"}, 2},
                      Refusal{"ParityLowerCase", {"9600", "n", "2", "COM1"}, 2},
                      Refusal{"ParityEmpty", {"9600", "", "2", "COM1"}, 2},
                      Refusal{"StopThree", {"9600", "N", "3", "COM1"}, 3},
                      Refusal{"StopZero", {"9600", "N", "0", "COM1"}, 3},
                      Refusal{"StopNoDigits", {"9600", "N", "x", "COM1"}, 3},
                      Refusal{"NameMixedCase", {"9600", "N", "2", "Com3"}, 4},
                      Refusal{"NameWithoutCom", {"9600", "N", "2", "/dev/ttyS0"}, 4},
                      Refusal{"NameEmpty", {"9600", "N", "2", ""}, 4}),
    [](const auto& info) { return std::string(info.param.Name); });

struct Accepted {
    const char* Name;
    LineSettings Settings;
    TBaudRate Rate;
    TParityBits Parity;
    TStopBits Stop;
};

class OpenPortAccepts : public OpenPortTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(OpenPortAccepts, MapsTheTextToThePortSetting) {
    Apply(GetParam().Settings);
    EXPECT_EQ(link.OpenPort(), 0);
    EXPECT_EQ(port.BaudRate, GetParam().Rate);
    EXPECT_EQ(port.Parity, GetParam().Parity);
    EXPECT_EQ(port.StopBits, GetParam().Stop);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTableRow, OpenPortAccepts,
    ::testing::Values(
        Accepted{"Baud110", {"110", "N", "1", "COM1"}, br110, prNone, sbOneStopBit},
        Accepted{"Baud300", {"300", "N", "1", "COM1"}, br300, prNone, sbOneStopBit},
        Accepted{"Baud600", {"600", "N", "1", "COM1"}, br600, prNone, sbOneStopBit},
        Accepted{"Baud1200", {"1200", "N", "1", "COM1"}, br1200, prNone, sbOneStopBit},
        Accepted{"Baud2400", {"2400", "N", "1", "COM1"}, br2400, prNone, sbOneStopBit},
        Accepted{"Baud4800", {"4800", "N", "1", "COM1"}, br4800, prNone, sbOneStopBit},
        Accepted{"Baud14400", {"14400", "E", "2", "COM1"}, br14400, prEven, sbTwoStopBits},
        Accepted{"Baud19200", {"19200", "O", "2", "COM1"}, br19200, prOdd, sbTwoStopBits},
        Accepted{"Baud38400", {"38400", "N", "2", "COM1"}, br38400, prNone, sbTwoStopBits},
        Accepted{"Baud56000", {"56000", "N", "2", "COM1"}, br56000, prNone, sbTwoStopBits},
        Accepted{"Baud57600", {"57600", "N", "2", "COM1"}, br57600, prNone, sbTwoStopBits},
        Accepted{"LeadingDigitsOnly", {"9600bd", "E", "2", "COM1"}, br9600, prEven, sbTwoStopBits},
        Accepted{"LowerCaseComName", {"9600", "N", "2", "com7"}, br9600, prNone, sbTwoStopBits},
        Accepted{"ComAnywhereInName", {"9600", "N", "2", "myCOM"}, br9600, prNone, sbTwoStopBits}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LinkTextSetters, RefuseWhatDoesNotFitAndKeepTheField) {
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    EXPECT_TRUE(link.SetBaudText("115200")); // six digits and the zero fill the field
    EXPECT_FALSE(link.SetBaudText("1152000"));
    EXPECT_EQ(link.GetBaudText(), "115200");
    EXPECT_FALSE(link.SetParityText("NO"));
    EXPECT_EQ(link.GetParityText(), "N");
    EXPECT_FALSE(link.SetStopText("12"));
    EXPECT_EQ(link.GetStopText(), "2");
    EXPECT_TRUE(link.SetPortName("COM255"));
    EXPECT_FALSE(link.SetPortName(std::string(link.PortName.size(), 'C')));
    EXPECT_EQ(link.GetPortName(), "COM255");
    EXPECT_FALSE(link.SetPortName(std::string("CO\0M1", 5)));
    EXPECT_EQ(link.GetPortName(), "COM255");
}

TEST(LinkTextSetters, AShorterValueLeavesNoTailOfTheLongerOne) {
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    ASSERT_TRUE(link.SetPortName("COM123"));
    ASSERT_TRUE(link.SetPortName("COM4"));
    EXPECT_EQ(link.GetPortName(), "COM4");
    EXPECT_EQ(link.PortName[5], '\0');
}

} // namespace
} // namespace kve17
