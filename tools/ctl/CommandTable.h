// The sub-commands of kve17ctl, one row each, and the command line read through them.
#pragma once

#include "tools/ctl/SubCommand.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17::ctl {

// The sub-command of that name; nullptr when there is none.
const TSubCommand* FindCommand(std::string_view name);

// A command line checked before anything runs: help, the version, or a command to run.
struct TParsedLine {
    const TSubCommand* Command = nullptr; // nullptr for the main help and the version
    std::unique_ptr<ICommandLine> Line;   // the command's options
    bool Help = false;
    bool Version = false;
};

// The parsed command line, or nothing with `error` set to the reason.
std::optional<TParsedLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

std::string MainUsage();

} // namespace kve17::ctl
