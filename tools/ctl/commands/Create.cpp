// kve17ctl create: a fresh archive file.
#include "archive/ArchiveOps.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/SubCommand.h"

namespace kve17::ctl {

namespace {

struct TCreateOptions {
    std::string File;
    bool Force = false;
};

void DeclareCreate(CLI::App& app, TCreateOptions& options) {
    cli::AddFlag(app, "--force", "replace an existing file (its archive is lost)", options.Force);
}

std::string AcceptCreate(TCreateOptions& options, const std::vector<std::string>& operands) {
    return OneFile(operands, options.File);
}

int RunCreate(const TCreateOptions& options) {
    const auto name = NormalizeArchiveName(options.File);
    if (!name) {
        Say(stderr, "Неверно задано имя файла");
        return ExitFailed;
    }
    switch (CreateFreshFile(*name, options.Force)) {
    case TCreateFileResult::Created:
        Say(stdout, "Создан файл архива " + Absolute(*name));
        return ExitOk;
    case TCreateFileResult::Exists:
        Say(stderr, "Файл с таким именем существует.");
        Fail("--force creates it anew");
        return ExitFailed;
    case TCreateFileResult::Failed:
        break;
    }
    Say(stderr, CreateFailedText);
    return ExitFailed;
}

} // namespace

extern const TSubCommand CreateCommand = {
    .Name = "create",
    .Synopsis = "create FILE [--force]",
    .Summary = "create a fresh archive file",
    .Usage = "create FILE [--force]",
    .About = "Creates a fresh archive file. A name without extension gets \".dat\"; any\n"
             "other extension is refused. An existing file is kept unless --force is given.\n",
    .Footer = "",
    .Make = TCommandLine<TCreateOptions, DeclareCreate, AcceptCreate, RunCreate>::Make,
};

} // namespace kve17::ctl
