// Start-up: the application object, the main window, then the two settings dialogs (the
// exchange parameters dialog reads the link's delays, so it comes after the main window), and
// the message loop until the main window has closed.
#include "app/Application.h"
#include "app/Forms.h"
#include "app/Obr_armb.h"
#include "app/QtOperatorPrompt.h"
#include "dialogs/Obrnastr.h"
#include "dialogs/Obrport.h"
#include "history/ReadingHistory.h"
#include "serial/StandardDescriptors.h"
#include "serial/StopSignals.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace kve17;

constexpr const char* UsageText =
    "Usage: kve17-archive [FILE.dat]...\n"
    "\n"
    "The desktop program for the event archives of KVE-17 devices: choose the device and the\n"
    "COM port, create an archive file, read the device's archive into it, and view archive\n"
    "files and the event history. Each FILE.dat given opens in a viewer of its own.\n"
    "\n"
    "  -h, --help     this text\n"
    "      --version  the program's version\n"
    "\n"
    "Every start begins with the built-in settings: device 1, 9600 baud, no parity, two stop\n"
    "bits, and the port closed until the COM port dialog is accepted. SIGINT, SIGTERM and SIGHUP\n"
    "end the program whatever window is open; a reading under way keeps its file as it was.\n"
    "\n"
    "Environment:\n"
    "  KVE17_HISTORY  the event history every reading adds to: an SQLite file or a\n"
    "                 postgresql:// URL; \"off\" for none. Default:\n"
    "                 $XDG_DATA_HOME/kve17/history.sqlite (~/.local/share/kve17/...)\n"
    "\n"
    "Files:\n"
    "  $XDG_RUNTIME_DIR/kve17/ports/COM<n>\n"
    "                      a link that names a port: a device path or a device\n"
    "                      server's address (tcp://HOST:PORT, rfc2217://HOST:PORT)\n"
    "  /etc/kve17/events/kve17.txt, ~/.config/kve17/events/kve17.txt\n"
    "                      the names and severities of the event codes, a line\n"
    "                      \"code; name; severity\" each, the user's overriding the\n"
    "                      system's; an example of the form is in\n"
    "                      /usr/share/doc/kve17-archive/examples/events\n"
    "  ~/.config/kve17/viewer.conf\n"
    "                      the viewer's last window size\n";

// Closes every modal window that shows itself once the program is stopping: a message box that
// comes after the signal would otherwise hold the program open.
class TCloseModals : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && widget != nullptr && widget->isModal())
            QTimer::singleShot(0, widget, &QWidget::close);
        return false;
    }
};

// A stop signal closes the open message boxes (and any that come later) and the main window,
// which waits for a reading to give up; the port is then closed as on any exit.
void CloseOnStopSignal(QApplication& app) {
    if (StopSignalFd() < 0)
        return;
    auto* notifier = new QSocketNotifier(StopSignalFd(), QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, &app] {
        notifier->setEnabled(false);
        app.installEventFilter(new TCloseModals(&app));
        while (QWidget* modal = QApplication::activeModalWidget())
            if (!modal->close())
                break;
        if (Form1 != nullptr)
            Form1->close();
    });
}

void Run(QtOperatorPrompt& prompt, const QStringList& files) {
    auto form1 = std::make_unique<TForm1>(prompt, TPortDirectory());
    Form1 = form1.get();
    prompt.SetMainWindow(Form1);
    auto formPort = std::make_unique<TFormPort>(Form1->Link, Form1->Ports());
    FormPort = formPort.get();
    auto formNastr = std::make_unique<TFormNastr>(Form1->Link);
    FormNastr = formNastr.get();
    FormPort->SetExchangeDialog(FormNastr);
    Form1->SetPortDialog(FormPort);
    Form1->SetHistory(history::HistoryFromEnvironment());

    Form1->show();
    // Each archive file named on the command line opens in a viewer of its own.
    Form1->OpenViewers(files);
    // A signal that came while a box of the start-up was open has closed every window already.
    if (StopSignal() == 0)
        TApplication::exec();

    // The dialogs hold references into the main window's link, so they go first.
    FormNastr = nullptr;
    FormPort = nullptr;
    Form1 = nullptr;
    formNastr.reset();
    formPort.reset();
}

} // namespace

int main(int argc, char** argv) {
    if (!EnsureStandardDescriptors())
        return 1;
    // Answered before the application object exists, so they need no display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(UsageText, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kve17-archive %s\n", KVE17_VERSION);
        return 0;
    }
    TApplication app(argc, argv);
    InstallStopSignals();
    IgnoreFileSizeSignal();
    CloseOnStopSignal(app);
    QtOperatorPrompt prompt;
    try {
        Run(prompt, TApplication::arguments().mid(1));
    } catch (const std::exception& error) {
        // A failure during start-up is shown like any other; the program then ends normally.
        app.ShowException(error);
    }
    RaiseStopSignal();
    return 0;
}
