#include "archive/ArchiveFile.h"
#include "archive/ArchiveOps.h"

#include <array>

namespace kve17 {

namespace {

constexpr std::string_view CreateCaption = "Создание файла";

} // namespace

TCreateFileResult CreateFreshFile(const std::string& path, bool overwrite) {
    std::array<std::uint8_t, ArchiveFileSize> bytes{};
    EncodeImage(FreshImage(), bytes);
    switch (WriteWholeFile(path, bytes, overwrite)) {
    case TWriteResult::Written:
        return TCreateFileResult::Created;
    case TWriteResult::Exists:
        return TCreateFileResult::Exists;
    case TWriteResult::Failed:
        break;
    }
    return TCreateFileResult::Failed;
}

TCreateResult CreateArchive(IOperatorPrompt& prompt, TArchiveNameState& state) {
    const auto name =
        ChooseArchiveFileName(prompt, "Создание файла архива", "задание имени файла", state);
    if (!name)
        return TCreateResult::Cancelled;
    if (ArchiveOpensForUpdate(*name) &&
        prompt.Message("Файл с таким именем существует.\nСоздать его заново?", CreateCaption,
                       TMsgIcon::Question, TMsgButtons::YesNo) != TMsgAnswer::Yes)
        return TCreateResult::Kept;
    if (CreateFreshFile(*name, true) != TCreateFileResult::Created) {
        prompt.Message(CreateFailedText, CreateCaption, TMsgIcon::Warning, TMsgButtons::Ok);
        return TCreateResult::Failed;
    }
    prompt.Message("Создан файл архива " + *name, "Подтверждение", TMsgIcon::Information,
                   TMsgButtons::Ok);
    return TCreateResult::Created;
}

} // namespace kve17
