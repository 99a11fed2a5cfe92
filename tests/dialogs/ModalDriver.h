// Acts on modal dialogs from inside their own event loops: each step waits until its dialog is
// the active modal window, then runs once. A step that never comes fails the test and closes
// whatever is up, so a broken dialog flow cannot hang the test program.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>

class QAbstractButton;
class QWidget;

namespace kve17::test {

class ModalDriver : public QObject {
public:
    explicit ModalDriver(std::chrono::milliseconds patience = std::chrono::seconds(10));

    void When(QWidget& dialog, std::function<void()> act);
    // Steps still waiting for their dialog.
    int Pending() const { return static_cast<int>(steps_.size()); }

private:
    struct Step {
        QWidget* Dialog;
        std::function<void()> Act;
    };

    void Poll();
    void GiveUp();

    std::deque<Step> steps_;
    QTimer timer_;
    bool dispatched_ = false;
    std::chrono::milliseconds patience_;
    std::chrono::steady_clock::time_point lastProgress_;
};

// A left click in the middle of the button, as the operator gives it.
void Click(QAbstractButton& button);
// The window's close box.
void CloseBox(QWidget& window);

} // namespace kve17::test
