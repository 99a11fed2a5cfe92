#include "dialogs/UpDownBox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

namespace kve17 {

TUpDownBox::TUpDownBox(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
    setRange(minimum, maximum);
    setSingleStep(1);
    setWrapping(false);
    setAccelerated(false);
    // The box itself takes no typing; QSpinBox::setReadOnly would also disable the buttons.
    lineEdit()->setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
}

// Qt selects the text on focus and on every step, which makes a box that takes no typing look
// editable.
void TUpDownBox::stepBy(int steps) {
    QSpinBox::stepBy(steps);
    lineEdit()->deselect();
}

void TUpDownBox::focusInEvent(QFocusEvent* event) {
    QSpinBox::focusInEvent(event);
    lineEdit()->deselect();
}

void TUpDownBox::keyPressEvent(QKeyEvent* event) {
    // Qt steps ten at a time on these; the box moves one step only, by the arrow keys.
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->accept();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

void TUpDownBox::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

} // namespace kve17
