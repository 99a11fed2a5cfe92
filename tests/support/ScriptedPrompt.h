// An operator who answers from a script and remembers everything shown to them.
#pragma once

#include "link/OperatorPrompt.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kve17::test {

struct ShownMessage {
    std::string Text;
    std::string Caption; // "<simple>" for a simple message
    TMsgIcon Icon;
    TMsgButtons Buttons;
};

class ScriptedPrompt : public IOperatorPrompt {
public:
    // Answers for the next message boxes; when the script runs dry, OK (Yes for Yes/No,
    // Cancel for Retry/Cancel).
    std::deque<TMsgAnswer> Answers;
    // Names the file dialog returns, in order; nothing (cancel) when the script runs dry.
    std::deque<std::optional<std::string>> Files;

    std::vector<ShownMessage> Shown;
    std::vector<std::string> FileDialogTitles;
    int CloseRequests = 0;

    TMsgAnswer Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                       TMsgButtons buttons) override;
    void SimpleMessage(std::string_view text) override;
    std::optional<std::string> ChooseFile(std::string_view title) override;
    void RequestMainClose() override { ++CloseRequests; }
};

} // namespace kve17::test
