// The application object: an exception that escapes an event handler is shown in the standard
// exception box and the program goes on with the next message. It also gives every window the
// program's name and icon.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>
#include <string>

namespace kve17 {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Replaces the message box of ShowException; tests record the text instead.
    void SetExceptionDisplay(std::function<void(const std::string&)> display) {
        display_ = std::move(display);
    }
    void ShowException(const std::exception& error);

private:
    std::function<void(const std::string&)> display_;
};

// Shows an exception caught outside the event loop (such as one handed back by the reading's
// thread) the way the application object shows one that escaped a handler.
void ShowApplicationException(std::exception_ptr error);

} // namespace kve17
