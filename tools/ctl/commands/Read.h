// kve17ctl read, as `collect` uses it for each line of a configuration.
#pragma once

#include "tools/ctl/CtlOptions.h"

#include <optional>
#include <string>
#include <vector>

namespace kve17::ctl {

// The options of `read ARGS...` (ARGS without the command's name), or nothing with `error` set to
// the fault as `read` would report it.
std::optional<TLineCommand> ParseReading(const std::vector<std::string>& args, std::string& error);

} // namespace kve17::ctl
