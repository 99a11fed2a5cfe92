// The exchange parameters dialog behind "Настройка обмена", driven from the COM port dialog.
#include "tests/dialogs/DialogFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

class ExchangeDialog : public DialogFixture {
protected:
    ExchangeDialog() { Directory.AddFilePort("COM1"); }

    // Opens the exchange dialog from the port dialog, runs `inNastr` in it, then `afterNastr`
    // back in the port dialog, which then ends by `endPort`.
    void ThroughPortDialog(std::function<void()> inNastr, std::function<void()> afterNastr,
                           std::function<void()> endPort) {
        Driver.When(FormPort, [this] { Click(*FormPort.Button1); });
        Driver.When(FormNastr, std::move(inNastr));
        Driver.When(FormPort, [after = std::move(afterNastr), end = std::move(endPort)] {
            after();
            end();
        });
        PortSetup();
        EXPECT_EQ(Driver.Pending(), 0);
    }

    // By the arrow keys, at most a bounded number of presses: a box that stops short fails.
    void SetTo(int value) {
        for (int press = 0; press < 1000 && FormNastr.Edit1->value() < value; ++press)
            QTest::keyClick(FormNastr.Edit1, Qt::Key_Up);
        for (int press = 0; press < 1000 && FormNastr.Edit1->value() > value; ++press)
            QTest::keyClick(FormNastr.Edit1, Qt::Key_Down);
        EXPECT_EQ(FormNastr.Edit1->value(), value);
    }
};

TEST_F(ExchangeDialog, FirstShowingShowsTheLinksDelayAndHidesTheRest) {
    ThroughPortDialog(
        [&] {
            EXPECT_EQ(FormNastr.Edit1->text(), "25");
            EXPECT_TRUE(FormNastr.Edit1->isVisible());
            EXPECT_TRUE(FormNastr.Label5->isVisible());
            EXPECT_TRUE(FormNastr.OK->isVisible());
            for (const QWidget* hidden : std::initializer_list<const QWidget*>{
                     FormNastr.Edit2, FormNastr.Label2, FormNastr.CBoxPovt1, FormNastr.CBoxPovt2})
                EXPECT_FALSE(hidden->isVisible());
            EXPECT_EQ(FormNastr.Edit2->value(), 20);
            EXPECT_EQ(FormNastr.CBoxPovt1->currentText(), "5");
            EXPECT_EQ(FormNastr.CBoxPovt2->currentText(), "10");
            CloseBox(FormNastr);
        },
        [] {}, [&] { CloseBox(FormPort); });
}

TEST_F(ExchangeDialog, SpinStopsAtOneAndHundredAndTakesNoTyping) {
    ThroughPortDialog(
        [&] {
            TUpDownBox& box = *FormNastr.Edit1;
            QTest::keyClicks(&box, "7");
            QTest::keyClick(&box, Qt::Key_Backspace);
            EXPECT_EQ(box.value(), 25) << "typing changed the delay";
            QTest::keyClick(&box, Qt::Key_PageUp);
            EXPECT_EQ(box.value(), 25) << "the box moves one step at a time";
            SetTo(1);
            QTest::keyClick(&box, Qt::Key_Down);
            box.stepDown(); // the lower spin button
            EXPECT_EQ(box.text(), "1");
            SetTo(100);
            QTest::keyClick(&box, Qt::Key_Up);
            box.stepUp();
            EXPECT_EQ(box.text(), "100");
            Click(*FormNastr.OK);
        },
        [] {}, [&] { CloseBox(FormPort); });
    EXPECT_EQ(Link.DelayTx, 100);
}

TEST_F(ExchangeDialog, OkWritesAllFourAtOnceAndTheyOutliveThePortDialogsCloseBox) {
    Link.Povt1 = 99;
    Link.Povt2 = 99;
    Link.DelayRx = 99;
    ThroughPortDialog(
        [&] {
            SetTo(40);
            Click(*FormNastr.OK);
        },
        [&] {
            // Written as soon as the exchange dialog is accepted, with the port dialog still up.
            EXPECT_EQ(Link.DelayTx, 40);
            EXPECT_EQ(Link.Povt1, 5);
            EXPECT_EQ(Link.Povt2, 10);
            EXPECT_EQ(Link.DelayRx, 20);
        },
        [&] { CloseBox(FormPort); });
    EXPECT_EQ(Link.DelayTx, 40);
    EXPECT_EQ(Link.Povt1, 5);
    EXPECT_EQ(Link.Povt2, 10);
    EXPECT_EQ(Link.DelayRx, 20);

    ThroughPortDialog(
        [&] {
            EXPECT_EQ(FormNastr.Edit1->value(), 40);
            CloseBox(FormNastr);
        },
        [] {}, [&] { CloseBox(FormPort); });
}

TEST_F(ExchangeDialog, CloseBoxWritesNothingAndNextShowingShowsLastAccepted) {
    ThroughPortDialog(
        [&] {
            SetTo(33);
            Click(*FormNastr.OK);
        },
        [] {}, [&] { Click(*FormPort.OK); });
    ASSERT_EQ(Link.DelayTx, 33);

    // Values the dialog would never write, to see that nothing is written at all.
    const auto expectUntouched = [this] {
        EXPECT_EQ(Link.Povt1, 99);
        EXPECT_EQ(Link.Povt2, 99);
        EXPECT_EQ(Link.DelayTx, 77);
        EXPECT_EQ(Link.DelayRx, 99);
    };
    Link.Povt1 = Link.Povt2 = Link.DelayRx = 99;
    Link.DelayTx = 77;
    ThroughPortDialog(
        [&] {
            SetTo(40);
            CloseBox(FormNastr);
        },
        expectUntouched, [&] { Click(*FormPort.OK); });
    expectUntouched();

    ThroughPortDialog(
        [&] {
            EXPECT_EQ(FormNastr.Edit1->value(), 33);
            CloseBox(FormNastr);
        },
        [] {}, [&] { CloseBox(FormPort); });
}

// The delay the dialog sets is the wait before the next request goes out.
TEST_F(ExchangeDialog, NextExchangeWaitsTheAcceptedDelayBeforeWriting) {
    ThroughPortDialog(
        [&] {
            SetTo(40);
            Click(*FormNastr.OK);
        },
        [] {}, [&] { Click(*FormPort.OK); });
    ASSERT_TRUE(Port.IsConnected);

    Bytes reply{1, 67, 128};
    reply.resize(3 + 128, 0x5A);
    Port.Replies.push_back(FakeReply::Of(WithCrc(reply)));
    std::array<std::uint8_t, 256> buffer{};
    const std::array<std::uint8_t, 2> data{0, 1};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Link.Exchange(0, 67, 2, data.data(), buffer), 0);
    ASSERT_EQ(Port.WriteTimes.size(), 1u);
    EXPECT_GE(Port.WriteTimes[0] - start, 40ms);
    EXPECT_LT(Port.WriteTimes[0] - start, 1000ms);
}

} // namespace
} // namespace kve17::test
