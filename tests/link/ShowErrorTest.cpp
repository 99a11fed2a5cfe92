#include "link/Comportclass.h"
#include "tests/support/FakeComPort.h"
#include "tests/support/ScriptedPrompt.h"

#include <gtest/gtest.h>
#include <string>

namespace kve17 {
namespace {

using test::FakeComPort;
using test::ScriptedPrompt;

struct ErrorRow {
    const char* Name;
    int DeviceIndex;
    const char* PortName;
    int Code;
    const char* Text;
    bool IsError;
};

class ShowErrorRow : public ::testing::TestWithParam<ErrorRow> {
protected:
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
};

TEST_P(ShowErrorRow, ShowsTheExactTextCaptionAndIcon) {
    const ErrorRow& row = GetParam();
    ASSERT_TRUE(link.SetPortName(row.PortName));
    link.ShowError(row.DeviceIndex, row.Code);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, row.Text);
    EXPECT_EQ(prompt.Shown[0].Caption, row.IsError ? "Ошибка" : "Предупреждение");
    EXPECT_EQ(prompt.Shown[0].Icon, row.IsError ? TMsgIcon::Error : TMsgIcon::Warning);
    EXPECT_EQ(prompt.Shown[0].Buttons, TMsgButtons::Ok);
    EXPECT_EQ(prompt.CloseRequests, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, ShowErrorRow,
    ::testing::Values(
        ErrorRow{"DatabaseBusy6", 0, "COM1", 6, "устройство 1 COM1 Идет запись базы данных. Ждите.",
                 false},
        ErrorRow{"ReceiveError128EndsWithSpace", 4, "COM2", 128,
                 "устройство 5 COM2 ошибка приема данных ", false},
        ErrorRow{"Timeout129", 30, "COM1", 129, "устройство 31 COM1 тайм-аут приема данных", false},
        ErrorRow{"NoReply130", 2, "COM1", 130, "устройство 3 COM1 не отвечает на запрос", false},
        ErrorRow{"BadChecksum131", 9, "COM12", 131, "устройство 10 COM12 ошибка контрольной суммы",
                 false},
        ErrorRow{"OpenFailed132HasNoDeviceAndBothSpaces", 2, "COM1", 132,
                 " невозможно открыть последовательный порт ", false},
        ErrorRow{"NotSet133", 0, "COM1", 133, "вероятно, порт не настроен", true},
        ErrorRow{"PowerOff134", 0, "COM1", 134, "сбой настройки порта при выключении прибора",
                 true},
        ErrorRow{"SetupFailed135", 0, "COM1", 135, "ошибка настройки порта", true},
        ErrorRow{"NotOpen256", 0, "COM1", 256, "Не выбран COM-порт.", true},
        ErrorRow{"OtherCodePaddedToTwoHexDigits", 0, "COM1", 2,
                 "устройство 1 COM1 ошибка обмена 02", false},
        ErrorRow{"UnknownCommand1", 6, "COM3", 1, "устройство 7 COM3 ошибка обмена 01", false},
        ErrorRow{"OtherCodeHexUpperCase", 0, "COM1", 0x4A, "устройство 1 COM1 ошибка обмена 4A",
                 false},
        ErrorRow{"OtherCode255", 0, "COM1", 255, "устройство 1 COM1 ошибка обмена FF", false},
        ErrorRow{"Code127NextTo128", 0, "COM1", 127, "устройство 1 COM1 ошибка обмена 7F", false},
        ErrorRow{"Code136PastTheTable", 0, "COM1", 136, "устройство 1 COM1 ошибка обмена 88",
                 false},
        ErrorRow{"WideCodeKeepsAllDigits", 0, "COM1", 0x1ABC,
                 "устройство 1 COM1 ошибка обмена 1ABC", false}),
    [](const auto& info) { return std::string(info.param.Name); });

// Remembers whether the port was still open when the message went up.
class OrderPrompt : public ScriptedPrompt {
public:
    explicit OrderPrompt(const FakeComPort& port) : port_(port) {}
    TMsgAnswer Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                       TMsgButtons buttons) override {
        OpenWhenShown = port_.IsConnected;
        CloseCallsWhenShown = port_.CountOf("Close");
        return ScriptedPrompt::Message(text, caption, icon, buttons);
    }
    bool OpenWhenShown = true;
    int CloseCallsWhenShown = 0;

private:
    const FakeComPort& port_;
};

TEST(ShowError, Code256ClosesThePortBeforeTheMessage) {
    FakeComPort port;
    port.IsConnected = true;
    OrderPrompt prompt{port};
    TComPortClass link{port, prompt};
    link.ShowError(0, 256);
    EXPECT_EQ(prompt.CloseCallsWhenShown, 1);
    EXPECT_FALSE(prompt.OpenWhenShown);
    ASSERT_EQ(prompt.Shown.size(), 1u);
}

TEST(ShowError, Code256StillShowsItsMessageWhenTheCloseFails) {
    FakeComPort port;
    port.IsConnected = true;
    port.CloseError = CE_ClearComFailed;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    EXPECT_NO_THROW(link.ShowError(0, 256));
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Не выбран COM-порт.");
}

TEST(ShowError, OtherCodesLeaveThePortAlone) {
    FakeComPort port;
    port.IsConnected = true;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    link.ShowError(0, 130);
    link.ShowError(0, 132);
    EXPECT_TRUE(port.Calls.empty());
}

TEST(ShowError, CodeZeroShowsNothing) {
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    link.ShowError(3, 0);
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_TRUE(port.Calls.empty());
}

} // namespace
} // namespace kve17
