// The reading indicator of the main window (the label and the progress bar), driven from the
// reading's thread: every change is carried out on the user-interface thread, in order.
#pragma once

#include "archive/ArchiveOps.h"

class QLabel;
class QProgressBar;

namespace kve17 {

class TReadingView : public IReadingView {
public:
    // Both must outlive every reading that uses the view.
    TReadingView(QLabel& label, QProgressBar& bar) : label_(label), bar_(bar) {}

    void ShowProgress(int blocks) override;
    void StepProgress() override;
    void FinishProgress() override;
    void HideLabel() override;

private:
    QLabel& label_;
    QProgressBar& bar_;
};

} // namespace kve17
