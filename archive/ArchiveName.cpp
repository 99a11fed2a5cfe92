#include "archive/ArchiveOps.h"

namespace kve17 {

namespace {

constexpr std::string_view DefaultExt = ".dat";
constexpr std::string_view WrongNameText = "Неверно задано имя файла";

// Folder separators of both path styles and the drive colon: an extension stands after them.
constexpr std::string_view Separators = "/\\:";

} // namespace

std::string ArchiveExtOf(std::string_view path) {
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos)
        return {};
    const auto separator = path.find_last_of(Separators);
    if (separator != std::string_view::npos && separator > dot)
        return {};
    return std::string(path.substr(dot));
}

std::optional<std::string> NormalizeArchiveName(std::string_view path) {
    // A name that ends in a folder separator names no file.
    if (path.empty() || Separators.find(path.back()) != std::string_view::npos)
        return std::nullopt;
    const std::string ext = ArchiveExtOf(path);
    if (ext == DefaultExt)
        return std::string(path);
    if (ext.empty())
        return std::string(path) + std::string(DefaultExt);
    return std::nullopt;
}

std::optional<std::string> ChooseArchiveFileName(IOperatorPrompt& prompt, std::string_view title,
                                                 std::string_view warningCaption,
                                                 TArchiveNameState& state) {
    for (;;) {
        auto chosen = prompt.ChooseFile(title);
        if (!chosen)
            return std::nullopt;
        state.ArchiveFileName = *chosen;
        state.ArchiveFileExt = ArchiveExtOf(*chosen);
        if (auto name = NormalizeArchiveName(*chosen)) {
            state.ArchiveFileName = *name;
            return name;
        }
        prompt.Message(WrongNameText, warningCaption, TMsgIcon::Warning, TMsgButtons::Ok);
    }
}

} // namespace kve17
