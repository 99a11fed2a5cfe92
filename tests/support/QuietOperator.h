// An operator who is never asked anything and a progress display nobody watches: for the fuzz
// targets and benchmarks, which look only at results.
#pragma once

#include "archive/ArchiveOps.h"
#include "link/OperatorPrompt.h"

namespace kve17::test {

class QuietPrompt : public IOperatorPrompt {
public:
    TMsgAnswer Message(std::string_view, std::string_view, TMsgIcon, TMsgButtons buttons) override {
        return DismissedAnswer(buttons);
    }
    void SimpleMessage(std::string_view) override {}
    std::optional<std::string> ChooseFile(std::string_view) override { return std::nullopt; }
    void RequestMainClose() override {}
};

class QuietView : public IReadingView {
public:
    void ShowProgress(int) override {}
    void StepProgress() override {}
    void FinishProgress() override {}
    void HideLabel() override {}
};

} // namespace kve17::test
