#include "tests/support/ScriptedPrompt.h"

namespace kve17::test {

TMsgAnswer ScriptedPrompt::Message(std::string_view text, std::string_view caption, TMsgIcon icon,
                                   TMsgButtons buttons) {
    Shown.push_back({std::string(text), std::string(caption), icon, buttons});
    if (!Answers.empty()) {
        const TMsgAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    switch (buttons) {
    case TMsgButtons::YesNo:
        return TMsgAnswer::Yes;
    case TMsgButtons::RetryCancel:
        return TMsgAnswer::Cancel;
    case TMsgButtons::Ok:
        break;
    }
    return TMsgAnswer::Ok;
}

void ScriptedPrompt::SimpleMessage(std::string_view text) {
    Shown.push_back({std::string(text), "<simple>", TMsgIcon::None, TMsgButtons::Ok});
}

std::optional<std::string> ScriptedPrompt::ChooseFile(std::string_view title) {
    FileDialogTitles.emplace_back(title);
    if (Files.empty())
        return std::nullopt;
    auto name = Files.front();
    Files.pop_front();
    return name;
}

} // namespace kve17::test
