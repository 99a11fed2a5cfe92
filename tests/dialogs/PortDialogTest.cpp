// The COM port settings dialog and the port set-up around it, on a scripted port.
#include "tests/dialogs/DialogFixture.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <gmock/gmock.h>

namespace kve17::test {
namespace {

using ::testing::ElementsAre;

const char* const WrongData = "Ошибочные данные ";
const char* const PortFailed = " невозможно открыть последовательный порт ";
const char* const PortLost = "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

QStringList Items(const QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i)
        items << list.itemText(i);
    return items;
}

struct Selection {
    QString Skor, Parit, StBit;
};

Selection Shown(const TFormPort& form) {
    return {form.Skor->currentText(), form.Parit->currentText(), form.StBit->currentText()};
}

void ExpectShown(const TFormPort& form, const Selection& expected) {
    const Selection shown = Shown(form);
    EXPECT_EQ(shown.Skor, expected.Skor);
    EXPECT_EQ(shown.Parit, expected.Parit);
    EXPECT_EQ(shown.StBit, expected.StBit);
}

class PortDialog : public DialogFixture {
protected:
    PortDialog() {
        Directory.AddFilePort("COM1");
        Directory.AddFilePort("COM2");
    }
};

TEST_F(PortDialog, FirstShowingSelectsDefaultsAndFirstPort) {
    const std::string firstDevice = Directory.Ports().List().front().Device;
    Driver.When(FormPort, [&] {
        ExpectShown(FormPort, {"9600", "нет", "2"});
        EXPECT_EQ(FormPort.CBoxPort->currentIndex(), 0);
        EXPECT_EQ(FormPort.CBoxPort->currentText(), "COM1");
        EXPECT_EQ(FormPort.CBoxPort->itemData(0, Qt::ToolTipRole).toString().toStdString(),
                  firstDevice);
        EXPECT_EQ(FormPort.CBoxPort->toolTip().toStdString(), firstDevice);
        Click(*FormPort.OK);
    });
    PortSetup();

    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_EQ(Text(Link.BaudText), "9600");
    EXPECT_EQ(Text(Link.ParityText), "N");
    EXPECT_EQ(Text(Link.StopText), "2");
    EXPECT_EQ(Text(Link.PortName), "COM1");
    EXPECT_TRUE(Port.IsConnected);
    EXPECT_EQ(Port.StopBits, sbTwoStopBits);
    EXPECT_TRUE(Prompt.Shown.empty());
}

TEST_F(PortDialog, EvenParityWithTwoStopBitsRetryShowsLastAcceptedSelections) {
    Driver.When(FormPort, [&] {
        Choose(1, 1, 0); // 19200, odd, one stop bit
        Click(*FormPort.OK);
    });
    PortSetup();
    ASSERT_TRUE(Port.IsConnected);

    Prompt.Answers = {TMsgAnswer::Retry};
    Driver.When(FormPort, [&] {
        Choose(3, 2, 1); // 115200, even, two stop bits
        Click(*FormPort.OK);
    });
    Driver.When(FormPort, [&] {
        ExpectShown(FormPort, {"19200", "нечет", "1"});
        CloseBox(FormPort);
    });
    PortSetup();

    EXPECT_EQ(Driver.Pending(), 0);
    ASSERT_EQ(Prompt.Shown.size(), 1u);
    EXPECT_EQ(Prompt.Shown[0].Text, WrongData);
    EXPECT_EQ(Prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(Prompt.Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(Prompt.Shown[0].Buttons, TMsgButtons::RetryCancel);
    // The second showing found the port closed, so its close box does not reopen it.
    EXPECT_FALSE(Port.IsConnected);
    EXPECT_EQ(Text(Link.BaudText), "19200");
    EXPECT_EQ(Text(Link.ParityText), "O");
    EXPECT_EQ(Text(Link.StopText), "1");
}

TEST_F(PortDialog, EvenParityWithTwoStopBitsThenCancelWritesNothingAndLeavesPortClosed) {
    Port.IsConnected = true;
    Driver.When(FormPort, [&] {
        FormPort.CBoxPort->setCurrentIndex(1);
        Choose(2, 2, 1);
        Click(*FormPort.OK);
    });
    PortSetup();

    EXPECT_EQ(Driver.Pending(), 0);
    ASSERT_EQ(Prompt.Shown.size(), 1u);
    EXPECT_EQ(Prompt.Shown[0].Text, WrongData);
    EXPECT_FALSE(Port.IsConnected);
    EXPECT_EQ(Port.CountOf("Open"), 0);
    EXPECT_EQ(Text(Link.BaudText), "9600");
    EXPECT_EQ(Text(Link.ParityText), "N");
    EXPECT_EQ(Text(Link.StopText), "2");
    EXPECT_EQ(Text(Link.PortName), "COM1");
}

struct AcceptedLine {
    const char* Name;
    int Skor, Parit, StBit;
    const char *Baud, *Parity, *Stop;
    TParityBits PortParity;
    TStopBits PortStop;
};

void PrintTo(const AcceptedLine& row, std::ostream* out) {
    *out << row.Name;
}

class PortDialogAccepts : public PortDialog, public ::testing::WithParamInterface<AcceptedLine> {};

TEST_P(PortDialogAccepts, WritesLinkTextsAndOpensWithThem) {
    const AcceptedLine& line = GetParam();
    Driver.When(FormPort, [&] {
        Choose(line.Skor, line.Parit, line.StBit);
        Click(*FormPort.OK);
    });
    PortSetup();

    EXPECT_TRUE(Prompt.Shown.empty());
    EXPECT_EQ(Text(Link.BaudText), line.Baud);
    EXPECT_EQ(Text(Link.ParityText), line.Parity);
    EXPECT_EQ(Text(Link.StopText), line.Stop);
    EXPECT_TRUE(Port.IsConnected);
    EXPECT_EQ(Port.Parity, line.PortParity);
    EXPECT_EQ(Port.StopBits, line.PortStop);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PortDialogAccepts,
    ::testing::Values(AcceptedLine{"OddTwoStop", 0, 1, 1, "9600", "O", "2", prOdd, sbTwoStopBits},
                      AcceptedLine{"EvenOneStop", 2, 2, 0, "57600", "E", "1", prEven, sbOneStopBit},
                      AcceptedLine{"NoneOneStop115200", 3, 0, 0, "115200", "N", "1", prNone,
                                   sbOneStopBit}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PortDialog, RemembersAcceptedSelectionsNotThoseLeftAtCloseBox) {
    Driver.When(FormPort, [&] {
        // As the operator does it: keyboard in the speed list.
        FormPort.Skor->setFocus();
        QTest::keyClick(FormPort.Skor, Qt::Key_Down);
        QTest::keyClick(FormPort.Skor, Qt::Key_Down);
        EXPECT_EQ(FormPort.Skor->currentText(), "57600");
        Click(*FormPort.OK);
    });
    Driver.When(FormPort, [&] {
        ExpectShown(FormPort, {"57600", "нет", "2"});
        Choose(3, 1, 0);
        CloseBox(FormPort);
    });
    Driver.When(FormPort, [&] {
        ExpectShown(FormPort, {"57600", "нет", "2"});
        CloseBox(FormPort);
    });
    PortSetup();
    EXPECT_EQ(Text(Link.BaudText), "57600");
    PortSetup();
    PortSetup();
    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_EQ(Text(Link.BaudText), "57600");
    EXPECT_EQ(Port.BaudRate, br57600);
}

TEST_F(PortDialog, PortListIsRebuiltInDirectoryOrderWithFirstSelected) {
    Driver.When(FormPort, [&] {
        EXPECT_THAT(Items(*FormPort.CBoxPort), ElementsAre("COM1", "COM2"));
        FormPort.CBoxPort->setCurrentIndex(1);
        Click(*FormPort.OK);
    });
    PortSetup();
    EXPECT_EQ(Text(Link.PortName), "COM2");

    Directory.AddFilePort("COM7");
    Directory.AddFilePort("COM3");
    QStringList expected;
    for (const TPortEntry& entry : Directory.Ports().List())
        expected << QString::fromStdString(entry.Name);
    Driver.When(FormPort, [&] {
        EXPECT_EQ(Items(*FormPort.CBoxPort), expected);
        EXPECT_EQ(FormPort.CBoxPort->count(), 4);
        EXPECT_EQ(FormPort.CBoxPort->currentIndex(), 0);
        for (int i = 0; i < FormPort.CBoxPort->count(); ++i)
            EXPECT_EQ(FormPort.CBoxPort->itemData(i, Qt::ToolTipRole).toString().toStdString(),
                      Directory.Ports().List()[i].Device);
        Click(*FormPort.OK);
    });
    PortSetup();
    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_EQ(Text(Link.PortName), expected.front().toStdString());
}

TEST_F(PortDialog, CloseBoxReopensOnlyAPortThatWasOpenAndOnlyOnce) {
    Port.IsConnected = true;
    Driver.When(FormPort, [&] {
        EXPECT_FALSE(Port.IsConnected) << "the port stays closed while the dialog is up";
        Choose(3, 1, 0);
        CloseBox(FormPort);
    });
    PortSetup();
    EXPECT_TRUE(Port.IsConnected);
    EXPECT_EQ(Port.CountOf("Open"), 1);
    EXPECT_EQ(Text(Link.BaudText), "9600");

    Port.IsConnected = false;
    Driver.When(FormPort, [&] { CloseBox(FormPort); });
    PortSetup();
    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_FALSE(Port.IsConnected);
    EXPECT_EQ(Port.CountOf("Open"), 1);
    EXPECT_TRUE(Prompt.Shown.empty());
}

TEST_F(PortDialog, EscapeDoesNotDismissTheDialog) {
    Driver.When(FormPort, [&] {
        QTest::keyClick(&FormPort, Qt::Key_Escape);
        EXPECT_TRUE(FormPort.isVisible());
        Click(*FormPort.OK);
    });
    PortSetup();
    EXPECT_EQ(Driver.Pending(), 0);
    EXPECT_EQ(FormPort.result(), mrOk);
}

TEST_F(PortDialog, ModalResultsAreOkCancelAndYes) {
    Driver.When(FormPort, [&] { Click(*FormPort.OK); });
    EXPECT_EQ(FormPort.exec(), 1);
    Driver.When(FormPort, [&] { CloseBox(FormPort); });
    EXPECT_EQ(FormPort.exec(), 2);
    Driver.When(FormPort, [&] {
        Choose(0, 2, 1);
        Click(*FormPort.OK);
    });
    EXPECT_EQ(FormPort.exec(), 6);
    EXPECT_EQ(Driver.Pending(), 0);
}

class EmptyPortDialog : public DialogFixture {};

TEST_F(EmptyPortDialog, OkWritesEmptyNameAndReportsCode132) {
    Driver.When(FormPort, [&] {
        EXPECT_EQ(FormPort.CBoxPort->count(), 0);
        EXPECT_EQ(FormPort.CBoxPort->currentText(), "");
        Click(*FormPort.OK);
    });
    PortSetup();

    EXPECT_EQ(Text(Link.PortName), "");
    EXPECT_FALSE(Port.IsConnected);
    ASSERT_EQ(Prompt.Shown.size(), 1u);
    EXPECT_EQ(Prompt.Shown[0].Text, PortFailed);
    EXPECT_EQ(Prompt.Shown[0].Caption, "Предупреждение");
    EXPECT_EQ(Prompt.Shown[0].Icon, TMsgIcon::Warning);
}

TEST_F(PortDialog, PortThatCannotOpenReportsLossAsksToCloseThenCode132) {
    Port.OpenError = CE_OpenFailed;
    Driver.When(FormPort, [&] { Click(*FormPort.OK); });
    PortSetup();

    ASSERT_EQ(Prompt.Shown.size(), 2u);
    EXPECT_EQ(Prompt.Shown[0].Text, PortLost);
    EXPECT_EQ(Prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(Prompt.Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(Prompt.CloseRequests, 1);
    EXPECT_EQ(Prompt.Shown[1].Text, PortFailed);
}

} // namespace
} // namespace kve17::test
