// Pictures of the main window for looking at: idle, with the "Файл" menu open, during a reading
// of a simulated device (label and progress bar shown); the viewer on the file read (per day, per
// code, after a second reading with its new records marked, the invalid records); the history
// both readings wrote (the choice of line and device, the device's events); the COM port dialog
// with a port on a device server chosen, its address as the tool tip. Run under a real X server
// (xvfb-run) or offscreen; writes PNG files into the folder given.
#include "app/Application.h"
#include "app/Obr_armb.h"
#include "app/QtOperatorPrompt.h"
#include "dialogs/Obrport.h"
#include "tests/support/ScriptedPrompt.h"
#include "tools/sim/SimLine.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryPicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <cstdio>

namespace {

bool Save(const QPixmap& picture, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// Grabs the screen once the next modal window is up, then closes that window.
void SaveModal(const QDir& folder, const char* name) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, folder, name] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        QTest::qWait(300);
        Save(modal->screen()->grabWindow(0), folder, name);
        modal->close();
    });
    poll->start(20);
}

} // namespace

int main(int argc, char** argv) {
    using namespace kve17;
    TApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: app_shots FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());

    QTemporaryDir temp;
    TPortDirectory ports({temp.filePath("ports").toStdString(), temp.filePath("sys").toStdString(),
                          temp.filePath("dev").toStdString()});
    sim::SimLine line;
    line.SetDevice(1, sim::MakeArchive(3));
    // Slow replies, so the reading can be caught half-way.
    line.AddFault(1, {sim::FaultKind::Delay, 60, -1, 0});

    test::ScriptedPrompt prompt;
    TForm1 form(prompt, ports);
    const std::string historyFile = temp.filePath("history.sqlite").toStdString();
    form.SetHistory(historyFile);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QTest::qWait(300);
    bool ok = Save(form.grab(), folder, "main-idle.png");
    ok = Save(form.screen()->grabWindow(0), folder, "main-idle-screen.png") && ok;

    form.N1File->popup(form.mapToGlobal(
        form.menuBar()->actionGeometry(form.menuBar()->actions()[0]).bottomLeft()));
    QTest::qWait(300);
    ok = Save(form.screen()->grabWindow(0), folder, "main-menu-screen.png") && ok;
    form.N1File->close();

    form.Link.SetPortName(ports.AddLink(line.SlavePath()));
    form.Link.SetBaudText("115200");
    if (form.Link.OpenPort() != 0)
        return 1;
    const std::string file = temp.filePath("shot.dat").toStdString();
    CreateFreshFile(file, false);
    prompt.Files.push_back(file);
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    if (!QTest::qWaitFor([&form] { return form.ProgressBar1->value() >= 25; }, 30000))
        return 1;
    ok = Save(form.grab(), folder, "main-reading.png") && ok;
    ok = Save(form.screen()->grabWindow(0), folder, "main-reading-screen.png") && ok;
    if (!QTest::qWaitFor([&form] { return !form.Reading(); }, 60000))
        return 1;

    // The viewer on the file just read: per day, then per code.
    TArchiveViewer* viewer = form.OpenViewer(QString::fromStdString(file));
    if (viewer == nullptr || !QTest::qWaitForWindowExposed(viewer))
        return 1;
    QTest::qWait(300);
    ok = Save(viewer->grab(), folder, "viewer-days.png") && ok;
    viewer->ChartMode->setCurrentIndex(1);
    QTest::qWait(300);
    ok = Save(viewer->grab(), folder, "viewer-codes.png") && ok;
    viewer->ChartMode->setCurrentIndex(0);

    // Another reading into the open file: the viewer marks what it added.
    line.Grow(1, 6, 5);
    prompt.Files.push_back(file);
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    if (!QTest::qWaitFor([&form] { return !form.Reading(); }, 60000))
        return 1;
    const auto marked = [viewer] {
        return viewer->Model->index(0, 0).data(TRecordModel::AddedRole).toBool();
    };
    if (!QTest::qWaitFor(marked, 10000))
        return 1;
    QTest::qWait(300);
    ok = Save(viewer->grab(), folder, "viewer-new-records.png") && ok;
    viewer->InvalidBox->setChecked(true);
    QTest::qWait(300);
    ok = Save(viewer->grab(), folder, "viewer-invalid.png") && ok;
    viewer->close();

    // The history both readings wrote: the choice of line and device, then the device's events.
    auto history = std::make_shared<history::THistory>(history::THistory::Open(historyFile));
    THistoryPicker picker(history, &form);
    QString error;
    if (!picker.Fill(error))
        return 1;
    picker.show();
    if (!QTest::qWaitForWindowExposed(&picker))
        return 1;
    ok = Save(picker.grab(), folder, "history-picker.png") && ok;
    picker.close();
    TArchiveViewer* historyViewer =
        OpenHistoryViewer(history, historyFile, picker.ChosenLine().toStdString(),
                          picker.ChosenAddress(), &form, error);
    if (historyViewer == nullptr)
        return 1;
    historyViewer->show();
    if (!QTest::qWaitForWindowExposed(historyViewer))
        return 1;
    QTest::qWait(300);
    ok = Save(historyViewer->grab(), folder, "history-viewer.png") && ok;
    historyViewer->close();

    ports.AddLink("rfc2217://10.0.0.5:4001", "COM9");
    TFormPort formPort(form.Link, ports);
    formPort.show();
    if (!QTest::qWaitForWindowExposed(&formPort))
        return 1;
    formPort.CBoxPort->setCurrentIndex(formPort.CBoxPort->findText("COM9"));
    const QPoint below = formPort.CBoxPort->rect().bottomLeft() + QPoint(8, 4);
    QToolTip::showText(formPort.CBoxPort->mapToGlobal(below), formPort.CBoxPort->toolTip(),
                       formPort.CBoxPort);
    QTest::qWait(500);
    ok = Save(formPort.screen()->grabWindow(0), folder, "port-dialog-network-screen.png") && ok;
    formPort.close();

    // The boxes and the file dialog as the operator gets them from the desktop prompt.
    QtOperatorPrompt desktop;
    SaveModal(folder, "message-finished.png");
    desktop.SimpleMessage("Закончено чтение архива");
    SaveModal(folder, "message-question.png");
    desktop.Message("Файл с таким именем существует.\nСоздать его заново?", "Создание файла",
                    TMsgIcon::Question, TMsgButtons::YesNo);
    SaveModal(folder, "message-history.png");
    desktop.Message("История не записана: база истории /home/op/.local/share/kve17/history.sqlite "
                    "занята другой программой дольше 5000 мс",
                    "Предупреждение", TMsgIcon::Warning, TMsgButtons::Ok);
    SaveModal(folder, "file-dialog.png");
    desktop.ChooseFile("Создание файла архива");
    return ok ? 0 : 1;
}
