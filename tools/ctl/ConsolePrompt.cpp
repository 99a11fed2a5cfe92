#include "tools/ctl/ConsolePrompt.h"

namespace kve17::ctl {

TMsgAnswer TConsolePrompt::Message(std::string_view text, std::string_view caption, TMsgIcon,
                                   TMsgButtons buttons) {
    last_ = text;
    if (!out_)
        return DismissedAnswer(buttons);
    std::fprintf(out_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(out_);
    return DismissedAnswer(buttons); // nobody to ask on a command line
}

void TConsolePrompt::SimpleMessage(std::string_view text) {
    if (!out_)
        return;
    std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

std::optional<std::string> TConsolePrompt::ChooseFile(std::string_view) {
    return std::nullopt;
}

} // namespace kve17::ctl
