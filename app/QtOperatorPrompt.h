// The operator as the desktop program meets them: task-modal message boxes, the archive file
// dialog and the close request of the main window. Every call may come from the reading's
// thread; it is carried out on the user-interface thread and the caller waits for the answer.
#pragma once

#include "link/OperatorPrompt.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace kve17 {

class QtOperatorPrompt : public IOperatorPrompt {
public:
    // Construct on the user-interface thread.
    QtOperatorPrompt() = default;

    // The window RequestMainClose closes; set once the main window exists.
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }

    TMsgAnswer Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                       TMsgButtons buttons) override;
    void SimpleMessage(std::string_view text) override;
    std::optional<std::string> ChooseFile(std::string_view title) override;
    void RequestMainClose() override;

private:
    TMsgAnswer ShowMessage(const QString& text, const QString& caption, TMsgIcon icon,
                           TMsgButtons buttons);
    std::optional<std::string> ShowFileDialog(const QString& title);

    QObject guiThread_; // lives on the thread that constructed the prompt
    QPointer<QWidget> mainWindow_;
    QString lastFolder_;
};

} // namespace kve17
