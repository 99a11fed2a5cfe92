#include "app/QtOperatorPrompt.h"

#include "app/AppTitle.h"
#include "app/GuiThread.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace kve17 {

namespace {

const QString DatFilter = QStringLiteral("Файлы типа .dat (*.dat);;Все файлы (*)");

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon BoxIcon(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information:
        return QMessageBox::Information;
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    case TMsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(TMsgButtons buttons) {
    switch (buttons) {
    case TMsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case TMsgButtons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    case TMsgButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

TMsgAnswer AnswerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return TMsgAnswer::Yes;
    case QMessageBox::No:
        return TMsgAnswer::No;
    case QMessageBox::Retry:
        return TMsgAnswer::Retry;
    case QMessageBox::Cancel:
        return TMsgAnswer::Cancel;
    default:
        return TMsgAnswer::Ok;
    }
}

} // namespace

TMsgAnswer QtOperatorPrompt::Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                                     TMsgButtons buttons) {
    TMsgAnswer answer = DismissedAnswer(buttons);
    const QString qtext = FromUtf8(text);
    const QString qcaption = FromUtf8(caption);
    RunOnGuiAndWait(guiThread_, [&] { answer = ShowMessage(qtext, qcaption, icon, buttons); });
    return answer;
}

void QtOperatorPrompt::SimpleMessage(std::string_view text) {
    const QString qtext = FromUtf8(text);
    RunOnGuiAndWait(guiThread_, [&] {
        ShowMessage(qtext, QString::fromUtf8(AppTitle), TMsgIcon::None, TMsgButtons::Ok);
    });
}

std::optional<std::string> QtOperatorPrompt::ChooseFile(std::string_view title) {
    std::optional<std::string> chosen;
    const QString qtitle = FromUtf8(title);
    RunOnGuiAndWait(guiThread_, [&] { chosen = ShowFileDialog(qtitle); });
    return chosen;
}

void QtOperatorPrompt::RequestMainClose() {
    // Queued even on the user-interface thread: the window closes once control is back in the
    // event loop, never inside the handler that asked.
    PostToGui(guiThread_, [this] {
        if (mainWindow_)
            QMetaObject::invokeMethod(mainWindow_.data(), &QWidget::close, Qt::QueuedConnection);
    });
}

TMsgAnswer QtOperatorPrompt::ShowMessage(const QString& text, const QString& caption, TMsgIcon icon,
                                         TMsgButtons buttons) {
    // No owner window, and modal for the whole program.
    QMessageBox box(BoxIcon(icon), caption, text, BoxButtons(buttons));
    box.setWindowModality(Qt::ApplicationModal);
    const int pressed = box.exec();
    if (box.clickedButton() == nullptr)
        return DismissedAnswer(buttons);
    return AnswerOf(pressed);
}

std::optional<std::string> QtOperatorPrompt::ShowFileDialog(const QString& title) {
    QFileDialog dialog(nullptr, title, lastFolder_, DatFilter);
    dialog.setWindowModality(Qt::ApplicationModal);
    // An open dialog that takes new names too; the archive rules check the name afterwards.
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(QStringLiteral("dat"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    lastFolder_ = QFileInfo(path).absolutePath();
    return path.toStdString();
}

} // namespace kve17
