// The serial port around the COM port dialog, on a real port over a pseudo-terminal listed in
// the test's own port directory.
#include "serial/ComPort1Settings.h"
#include "tests/dialogs/DialogFixture.h"
#include "tests/support/Pty.h"

#include <QPushButton>

namespace kve17::test {
namespace {

enum class Ending { Ok, CloseBox, RefusedThenCancel, RefusedThenRetry };

struct PortStateRow {
    const char* Name;
    bool OpenWhenShown;
    Ending End;
    bool OpenAfter;
    int RateAfter; // line speed the port has afterwards, when open
};

void PrintTo(const PortStateRow& row, std::ostream* out) {
    *out << row.Name;
}

class PortState : public DialogsOver<TComPort> {
protected:
    PortState() {
        LoadComPort1Settings(Port);
        Directory.AddPort("COM1", Line.SlavePath());
    }

    // Accepts 57600 so that the port is open with settings of its own before the dialog.
    void OpenAt57600() {
        Driver.When(FormPort, [this] {
            Choose(2, 0, 1);
            Click(*FormPort.OK);
        });
        PortSetup();
        ASSERT_TRUE(Port.Connected());
        ASSERT_EQ(Line.SlaveRate(), 57600);
    }

    void RefuseOnce() {
        Choose(3, 2, 1); // even parity with two stop bits
        Click(*FormPort.OK);
    }

    Pty Line;
};

class PortStateTable : public PortState, public ::testing::WithParamInterface<PortStateRow> {};

TEST_P(PortStateTable, PortAfterTheDialogEnds) {
    const PortStateRow& row = GetParam();
    if (row.OpenWhenShown)
        OpenAt57600();

    Driver.When(FormPort, [this] {
        EXPECT_FALSE(Port.Connected()) << "the port is closed while the dialog is up";
        Choose(1, 0, 1); // 19200
    });
    switch (row.End) {
    case Ending::Ok:
        Driver.When(FormPort, [this] { Click(*FormPort.OK); });
        break;
    case Ending::CloseBox:
        Driver.When(FormPort, [this] { CloseBox(FormPort); });
        break;
    case Ending::RefusedThenCancel:
        Prompt.Answers = {TMsgAnswer::Cancel};
        Driver.When(FormPort, [this] { RefuseOnce(); });
        break;
    case Ending::RefusedThenRetry:
        Prompt.Answers = {TMsgAnswer::Retry};
        Driver.When(FormPort, [this] { RefuseOnce(); });
        Driver.When(FormPort, [this] { CloseBox(FormPort); });
        break;
    }
    // The first step only looks; it is the same showing as the ending step that follows.
    PortSetup();

    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_EQ(Port.Connected(), row.OpenAfter);
    if (row.OpenAfter) {
        EXPECT_EQ(Line.SlaveRate(), row.RateAfter);
    }
    const bool refused =
        row.End == Ending::RefusedThenCancel || row.End == Ending::RefusedThenRetry;
    EXPECT_EQ(Prompt.Shown.size(), refused ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortStateTable,
    ::testing::Values(
        PortStateRow{"OkOpensWithNewSettings", true, Ending::Ok, true, 19200},
        PortStateRow{"OkOpensAClosedPort", false, Ending::Ok, true, 19200},
        PortStateRow{"CloseBoxReopensWithOldSettings", true, Ending::CloseBox, true, 57600},
        PortStateRow{"CloseBoxLeavesClosedPortClosed", false, Ending::CloseBox, false, 0},
        PortStateRow{"RefusedThenCancelLeavesPortClosed", true, Ending::RefusedThenCancel, false,
                     0},
        PortStateRow{"RefusedThenRetryFindsPortClosed", true, Ending::RefusedThenRetry, false, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PortState, ListedPortThatCannotOpenReportsLossThenCode132) {
    Directory.AddPort("COM2", Directory.Folder() + "/no-such-device");
    Driver.When(FormPort, [this] {
        FormPort.CBoxPort->setCurrentIndex(1);
        ASSERT_EQ(FormPort.CBoxPort->currentText(), "COM2");
        Click(*FormPort.OK);
    });
    PortSetup();

    EXPECT_FALSE(Port.Connected());
    ASSERT_EQ(Prompt.Shown.size(), 2u);
    EXPECT_EQ(Prompt.Shown[0].Text,
              "COM-порт отключен. Проверьте оборудование, перезапустите программу.");
    EXPECT_EQ(Prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(Prompt.CloseRequests, 1);
    EXPECT_EQ(Prompt.Shown[1].Text, " невозможно открыть последовательный порт ");
    EXPECT_EQ(Prompt.Shown[1].Caption, "Предупреждение");
}

} // namespace
} // namespace kve17::test
