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

#include <memory>

namespace {

using namespace kve17;

void Run(QtOperatorPrompt& prompt) {
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
    TApplication app(argc, argv);
    QtOperatorPrompt prompt;
    try {
        Run(prompt);
    } catch (const std::exception& error) {
        // A failure during start-up is shown like any other; the program then ends normally.
        app.ShowException(error);
    }
    return 0;
}
