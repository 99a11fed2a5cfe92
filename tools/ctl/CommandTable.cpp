#include "tools/ctl/CommandTable.h"

namespace kve17::ctl {

// Each defined in its own file under commands/. A new sub-command is one file there and its
// name here, declared and listed.
extern const TSubCommand PortsCommand, CreateCommand, ReadCommand, HistoryCommand, CollectCommand,
    ShowCommand, ScanCommand, ServeCommand;

namespace {

// In the order the main help lists them.
constexpr const TSubCommand* Table[] = {
    &PortsCommand,   &CreateCommand, &ReadCommand, &HistoryCommand,
    &CollectCommand, &ServeCommand,  &ShowCommand, &ScanCommand,
};

} // namespace

const TSubCommand* FindCommand(std::string_view name) {
    for (const TSubCommand* c : Table)
        if (name == c->Name)
            return c;
    return nullptr;
}

std::optional<TParsedLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
    TParsedLine parsed;
    if (args.empty()) {
        error = "a command is required";
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        parsed.Help = true;
        return parsed;
    }
    if (args[0] == "--version") {
        parsed.Version = true;
        return parsed;
    }
    parsed.Command = FindCommand(args[0]);
    if (parsed.Command == nullptr) {
        error = "unknown command '" + args[0] + "'";
        return std::nullopt;
    }
    parsed.Line = parsed.Command->Make();
    error = ParseInto(*parsed.Line, {args.begin() + 1, args.end()}, parsed.Help);
    if (!error.empty())
        return std::nullopt;
    return parsed;
}

std::string MainUsage() {
    std::string text = "Usage: kve17ctl COMMAND [OPTIONS]\n"
                       "\n"
                       "Reads the event archive of KVE-17 devices into archive files (.dat, 7940 "
                       "bytes).\n"
                       "\n"
                       "Commands:\n";
    constexpr std::size_t column = 27;
    for (const TSubCommand* c : Table) {
        std::string line = "  " + std::string(c->Synopsis);
        line += c->Synopsis.size() < column ? std::string(column - c->Synopsis.size(), ' ')
                                            : "\n" + std::string(column + 2, ' ');
        text += line + std::string(c->Summary) + "\n";
    }
    return text + "\n"
                  "'kve17ctl COMMAND --help' describes a command; 'kve17ctl --version' gives the\n"
                  "version.\n"
                  "Exit status: 0 on success, 1 when the operation failed, 2 on a usage error.\n";
}

} // namespace kve17::ctl
