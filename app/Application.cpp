#include "app/Application.h"

#include "app/AppResources.h"
#include "app/AppTitle.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

namespace kve17 {

namespace {

void ShowExceptionBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(AppTitle),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    LoadAppResources();
    setApplicationName(QString::fromUtf8(AppTitle));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.png")));
    // The program speaks Russian whatever the desktop's language: the standard buttons and the
    // file dialog too, when Qt's own translations are installed.
    auto* translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return false;
}

void TApplication::ShowException(const std::exception& error) {
    if (display_)
        display_(error.what());
    else
        ShowExceptionBox(error.what());
}

void ShowApplicationException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        if (auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance()))
            app->ShowException(caught);
        else
            ShowExceptionBox(caught.what());
    }
}

} // namespace kve17
