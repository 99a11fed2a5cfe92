// The operator of the command line: every message goes to stderr, nothing is ever asked on
// stdin, so a script never hangs on a question.
#pragma once

#include "link/OperatorPrompt.h"

#include <cstdio>
#include <string>

namespace kve17::ctl {

class TConsolePrompt : public IOperatorPrompt {
public:
    // Messages go to `out`; nowhere when it is null (they are still remembered).
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
    // The text of the last message box since ForgetLast, without its caption; "" when none.
    const std::string& LastMessage() const { return last_; }
    void ForgetLast() { last_.clear(); }
    void SetOutput(std::FILE* out) { out_ = out; }

private:
    std::FILE* out_;
    bool closeRequested_ = false;
    std::string last_;
};

} // namespace kve17::ctl
