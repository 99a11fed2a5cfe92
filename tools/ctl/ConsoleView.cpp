#include "tools/ctl/ConsoleView.h"

namespace kve17::ctl {

void TConsoleView::ShowProgress(int blocks) {
    blocks_ = blocks;
    done_ = 0;
    shown_ = true;
    Draw();
}

void TConsoleView::StepProgress() {
    ++done_;
    Draw();
}

void TConsoleView::FinishProgress() {
    if (terminal_ && shown_)
        std::fputs("\r\033[K", out_);
    shown_ = false;
    std::fflush(out_);
}

void TConsoleView::Draw() {
    if (!terminal_ || !shown_)
        return;
    std::fputs("\r\033[K", out_);
    if (device_ > 0)
        std::fprintf(out_, "устройство %d: ", device_);
    std::fprintf(out_, "Идет чтение архива: блок %d из %d", done_, blocks_);
    std::fflush(out_);
}

} // namespace kve17::ctl
