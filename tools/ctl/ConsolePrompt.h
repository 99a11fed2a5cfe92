// The operator of the command line: every message goes to stderr, nothing is ever asked on
// stdin, so a script never hangs on a question.
#pragma once

#include "link/OperatorPrompt.h"

#include <cstdio>

namespace kve17::ctl {

class TConsolePrompt : public IOperatorPrompt {
public:
    explicit TConsolePrompt(std::FILE* out = stderr) : out_(out) {}

    // "caption: text"; questions get their negative answer (No, Cancel).
    TMsgAnswer Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                       TMsgButtons buttons) override;
    // The text alone, as information.
    void SimpleMessage(std::string_view text) override;
    std::optional<std::string> ChooseFile(std::string_view title) override;
    void RequestMainClose() override { closeRequested_ = true; }

    // The link lost its port and asked the program to end.
    bool CloseRequested() const { return closeRequested_; }

private:
    std::FILE* out_;
    bool closeRequested_ = false;
};

} // namespace kve17::ctl
