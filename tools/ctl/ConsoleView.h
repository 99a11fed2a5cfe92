// Progress of a reading on the command line: one line rewritten in place, on a terminal only.
#pragma once

#include "archive/ArchiveOps.h"

#include <cstdio>

namespace kve17::ctl {

class TConsoleView : public IReadingView {
public:
    TConsoleView(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    void ShowProgress(int blocks) override;
    void StepProgress() override;
    void FinishProgress() override;
    void HideLabel() override {}
    // A reading of many devices names the one being read; 0 for none.
    void SetDevice(int device) { device_ = device; }

private:
    void Draw();

    std::FILE* out_;
    bool terminal_;
    bool shown_ = false;
    int blocks_ = 0;
    int done_ = 0;
    int device_ = 0;
};

} // namespace kve17::ctl
