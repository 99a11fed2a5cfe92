#include "tests/dialogs/ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kve17::test {

namespace {

// One application object for the whole test program. Offscreen unless the caller picked a
// platform (screenshots run under xcb).
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override { delete app_; }

private:
    int argc_ = 1;
    char name_[13] = "dialogs_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr std::chrono::milliseconds PollInterval{2};

} // namespace

ModalDriver::ModalDriver(std::chrono::milliseconds patience)
    : patience_(patience), lastProgress_(std::chrono::steady_clock::now()) {
    timer_.setInterval(PollInterval);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
    timer_.start();
}

void ModalDriver::When(QWidget& dialog, std::function<void()> act) {
    steps_.push_back({&dialog, std::move(act)});
}

void ModalDriver::Poll() {
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr)
        return;
    if (!dispatched_ && !steps_.empty() && steps_.front().Dialog == top && top->isVisible()) {
        // Queued, so that a step that opens a nested dialog does not block this timer.
        dispatched_ = true;
        QTimer::singleShot(0, top, [this, act = std::move(steps_.front().Act)] {
            dispatched_ = false;
            lastProgress_ = std::chrono::steady_clock::now();
            act();
        });
        steps_.pop_front();
        return;
    }
    if (std::chrono::steady_clock::now() - lastProgress_ > patience_)
        GiveUp();
}

void ModalDriver::GiveUp() {
    QWidget* top = QApplication::activeModalWidget();
    ADD_FAILURE() << "dialog \"" << top->windowTitle().toStdString()
                  << "\" stayed up with no step for it";
    lastProgress_ = std::chrono::steady_clock::now();
    top->close();
}

void Click(QAbstractButton& button) {
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
}

void CloseBox(QWidget& window) {
    // The same close request the window system's close box makes.
    window.close();
}

} // namespace kve17::test
