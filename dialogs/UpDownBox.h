// A number box with spin buttons attached: the operator changes the value only with the buttons
// or the up and down arrow keys, one step at a time, and it stops at the ends of its range.
#pragma once

#include <QSpinBox>

namespace kve17 {

class TUpDownBox : public QSpinBox {
    Q_OBJECT
public:
    TUpDownBox(int minimum, int maximum, QWidget* parent = nullptr);

    void stepBy(int steps) override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

} // namespace kve17
