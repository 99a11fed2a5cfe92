#include "app/ReadingView.h"

#include "app/GuiThread.h"

#include <QLabel>
#include <QProgressBar>

namespace kve17 {

void TReadingView::ShowProgress(int blocks) {
    PostToGui(bar_, [this, blocks] {
        label_.setText(QStringLiteral("Идет чтение архива"));
        label_.show();
        bar_.setRange(0, blocks);
        bar_.setValue(0);
        bar_.show();
    });
}

void TReadingView::StepProgress() {
    PostToGui(bar_, [this] { bar_.setValue(bar_.value() + 1); });
}

void TReadingView::FinishProgress() {
    PostToGui(bar_, [this] {
        bar_.hide();
        label_.setText(QStringLiteral("Закончено чтение архива"));
    });
}

void TReadingView::HideLabel() {
    PostToGui(bar_, [this] { label_.hide(); });
}

} // namespace kve17
