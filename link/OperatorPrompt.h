// How the core speaks to the operator: message boxes, the archive file dialog, and the request
// to close the main window. The desktop program answers with Qt dialogs, the command line with
// text on stderr, tests with a script.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kve17 {

enum class TMsgIcon { None, Information, Warning, Error, Question };
enum class TMsgButtons { Ok, YesNo, RetryCancel };
enum class TMsgAnswer { Ok, Yes, No, Retry, Cancel };

// The answer of a box closed without a button press, or of an operator who cannot be asked:
// No to a question, Cancel to a retry, OK to a message.
constexpr TMsgAnswer DismissedAnswer(TMsgButtons buttons) {
    switch (buttons) {
    case TMsgButtons::YesNo:
        return TMsgAnswer::No;
    case TMsgButtons::RetryCancel:
        return TMsgAnswer::Cancel;
    case TMsgButtons::Ok:
        break;
    }
    return TMsgAnswer::Ok;
}

class IOperatorPrompt {
public:
    virtual ~IOperatorPrompt() = default;

    // A task-modal message box without owner window; returns the button pressed.
    virtual TMsgAnswer Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                               TMsgButtons buttons) = 0;
    // A simple message: the application's title as caption, the text, OK, no icon.
    virtual void SimpleMessage(std::string_view text) = 0;
    // The archive file dialog (default extension ".dat"; the file need not exist). Returns the
    // full path chosen, or nothing when the operator cancels.
    virtual std::optional<std::string> ChooseFile(std::string_view title) = 0;
    // Asks the main window to close once control returns to the event loop.
    virtual void RequestMainClose() = 0;
};

} // namespace kve17
