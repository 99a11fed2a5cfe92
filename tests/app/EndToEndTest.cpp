// The operator's whole road through the real windows, against a simulated device line: the port
// and speed picked in the COM port dialog, a file created from the tool bar, device 3 read into
// it. The command line must produce the same file from the same line.
#include "archive/ArchiveFormat.h"
#include "dialogs/Obrnastr.h"
#include "dialogs/Obrport.h"
#include "tests/app/AppFixture.h"
#include "tests/support/Ser2net.h"
#include "tools/sim/SimLine.h"

#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fcntl.h>
#include <functional>
#include <termios.h>
#include <unistd.h>

namespace kve17::test {
namespace {

// Runs `act` once `dialog` is on screen, from inside its modal loop.
void WhenShown(QWidget& dialog, std::function<void()> act) {
    auto* poll = new QTimer(&dialog);
    QObject::connect(poll, &QTimer::timeout, [poll, &dialog, act = std::move(act)] {
        if (!dialog.isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act();
    });
    poll->start(10);
}

int RunCtl(const QStringList& arguments, QString* errors) {
    QProcess ctl;
    ctl.start(QStringLiteral(KVE17CTL_PATH), arguments);
    if (!ctl.waitForFinished(60000))
        return -1;
    *errors = QString::fromUtf8(ctl.readAllStandardError());
    return ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
}

class EndToEnd : public AppFixture {
protected:
    void SetUp() override {
        sim.SetDevice(1, sim::MakeArchive(5));
        sim.SetDevice(3, sim::MakeArchive(29));
        portName = ports.AddLink(sim.SlavePath());
        formPort = std::make_unique<TFormPort>(form->Link, form->Ports());
        formNastr = std::make_unique<TFormNastr>(form->Link);
        formPort->SetExchangeDialog(formNastr.get());
        form->SetPortDialog(formPort.get());
        form->show();
    }

    // As the operator: the tool bar's port button, the port and the speed, OK.
    // `tip`, when given, takes the port's tool tip as the list shows it.
    void PickPortAndSpeed(const QString& port, const QString& speed, std::string* tip = nullptr) {
        WhenShown(*formPort, [this, port, speed, tip] {
            formPort->CBoxPort->setCurrentIndex(formPort->CBoxPort->findText(port));
            if (tip)
                *tip = formPort->CBoxPort->toolTip().toStdString();
            formPort->Skor->setCurrentIndex(formPort->Skor->findText(speed));
            QTest::mouseClick(formPort->OK, Qt::LeftButton);
        });
        QTest::mouseClick(form->ToolButton5, Qt::LeftButton);
    }

    // The window's file against the command line's reading of the local line.
    void ExpectSameAsCommandLine(const std::string& windowFile) {
        ASSERT_TRUE(form->close()); // frees the line for the command line
        const QString ctlFile = QString::fromStdString(TempPath("ctl.dat"));
        QString errors;
        ASSERT_EQ(RunCtl({"create", ctlFile}, &errors), 0) << errors.toStdString();
        ASSERT_EQ(RunCtl({"read", "--port", QString::fromStdString(sim.SlavePath()), "--device",
                          "3", "--baud", "115200", "--no-history", ctlFile},
                         &errors),
                  0)
            << errors.toStdString();

        const auto fromWindow = FileBytes(windowFile);
        ASSERT_EQ(fromWindow.size(), static_cast<std::size_t>(ArchiveFileSize));
        EXPECT_EQ(FilePosition(windowFile), 0);
        EXPECT_TRUE(fromWindow == FileBytes(ctlFile.toStdString()))
            << "the window's file and the command line's differ";
    }

    speed_t RemoteLineSpeed() const {
        termios settings{};
        const int fd = open(sim.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        tcgetattr(fd, &settings);
        close(fd);
        return cfgetospeed(&settings);
    }

    sim::SimLine sim;
    std::string portName;
    // Declared after the fixture's window, so they go before it: they use its link.
    std::unique_ptr<TFormPort> formPort;
    std::unique_ptr<TFormNastr> formNastr;
};

TEST_F(EndToEnd, WindowReadingEqualsCommandLineReading) {
    PickPortAndSpeed(QString::fromStdString(portName), QStringLiteral("115200"));
    ASSERT_TRUE(form->ComPort1.Connected());
    EXPECT_EQ(std::string(form->Link.BaudText.data()), "115200");
    EXPECT_EQ(std::string(form->Link.PortName.data()), portName);

    const std::string windowFile = TempPath("window.dat");
    prompt.Files.push_back(TempPath("window")); // ".dat" is appended
    QTest::mouseClick(form->ToolButton1, Qt::LeftButton);
    ASSERT_EQ(prompt.Shown.size(), 1U);
    EXPECT_EQ(prompt.Shown[0].Text, "Создан файл архива " + windowFile);

    SelectDevice(3);
    ReadInto(windowFile);
    ASSERT_EQ(prompt.Shown.size(), 2U);
    EXPECT_EQ(prompt.Shown[1].Text, "Закончено чтение архива");
    EXPECT_GE(sim.Requests(3), 62);
    EXPECT_EQ(sim.Requests(1), 0);

    ExpectSameAsCommandLine(windowFile);
}

TEST_F(EndToEnd, WindowReadingOverRfc2217EqualsLocalCommandLineReading) {
    if (!Ser2net::Installed())
        GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
    Ser2net server(sim.SlavePath());
    const std::string netName = ports.AddLink(server.RfcAddress());
    std::string tip;
    PickPortAndSpeed(QString::fromStdString(netName), QStringLiteral("115200"), &tip);
    EXPECT_EQ(tip, server.RfcAddress()) << "the network link is listed with its address";
    ASSERT_TRUE(form->ComPort1.Connected());
    EXPECT_EQ(std::string(form->Link.PortName.data()), netName);
    const std::string windowFile = TempPath("window.dat");
    prompt.Files.push_back(TempPath("window"));
    QTest::mouseClick(form->ToolButton1, Qt::LeftButton);
    SelectDevice(3);
    ReadInto(windowFile);
    ASSERT_EQ(prompt.Shown.size(), 2U);
    EXPECT_EQ(prompt.Shown[1].Text, "Закончено чтение архива");
    EXPECT_GE(sim.Requests(3), 62);
    EXPECT_EQ(RemoteLineSpeed(), B115200) << "the dialog's speed reached the simulator's line";

    ExpectSameAsCommandLine(windowFile);
}

} // namespace
} // namespace kve17::test
