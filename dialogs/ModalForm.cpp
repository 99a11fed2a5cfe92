#include "dialogs/ModalForm.h"

#include "dialogs/DialogStyle.h"

#include <QKeyEvent>
#include <QShowEvent>

namespace kve17 {

TModalForm::TModalForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setModal(true);
}

void TModalForm::done(int result) {
    if (result == QDialog::Rejected)
        result = mrCancel;
    // A dialog that is not up has nothing to close.
    if (isVisible()) {
        setResult(result);
        FormClose();
    }
    QDialog::done(result);
}

void TModalForm::showEvent(QShowEvent* event) {
    // Spontaneous show events come from the window system (a restore), not from a new showing.
    if (!event->spontaneous()) {
        CentreOnScreen(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TModalForm::keyPressEvent(QKeyEvent* event) {
    // Escape would reject the dialog; only the close box and the system menu do that here.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kve17
