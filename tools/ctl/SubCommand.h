// One sub-command of kve17ctl as one unit: its name and texts, its options declared into a
// structure of its own, the check of what the command line gave, and its run. The table
// (CommandTable.cpp) lists the units; the dispatcher, the main help and through it the manual
// page and the bash completion all read that table.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace kve17::ctl {

// A sub-command's options, filled from one command line, and its run on them.
class ICommandLine {
public:
    virtual ~ICommandLine() = default;
    // Every option of the command, in the order its help lists them.
    virtual void Declare(CLI::App& app) = 0;
    // Takes the operands once every option is in; what keeps the command from running, "" when
    // nothing does.
    virtual std::string Accept(const std::vector<std::string>& operands) = 0;
    // Runs the command; the program's exit status.
    virtual int Run() const = 0;
};

// One row of the table.
struct TSubCommand {
    std::string_view Name;
    std::string_view Synopsis; // its line in the list of commands
    std::string_view Summary;
    std::string_view Usage;                  // after "Usage: kve17ctl "
    std::string_view About;                  // what it does, before the options
    std::string_view Footer;                 // after the options; may be empty
    std::unique_ptr<ICommandLine> (*Make)(); // its options at their defaults
};

// The unit of a command over its own `Options`: `DeclareOptions` declares them, `AcceptOperands`
// checks them with the operands (taking those it wants), `RunOptions` runs on them.
template <typename Options, void (*DeclareOptions)(CLI::App&, Options&),
          std::string (*AcceptOperands)(Options&, const std::vector<std::string>&),
          int (*RunOptions)(const Options&)>
class TCommandLine final : public ICommandLine {
public:
    static std::unique_ptr<ICommandLine> Make() { return std::make_unique<TCommandLine>(); }

    void Declare(CLI::App& app) override { DeclareOptions(app, Parsed); }
    std::string Accept(const std::vector<std::string>& operands) override {
        return AcceptOperands(Parsed, operands);
    }
    int Run() const override { return RunOptions(Parsed); }

    Options Parsed;
};

// Parses `args`, the words after the command's name, into `command`; the fault in the user's
// words, "" when the command can run. -h or --help sets `help` and skips the checks.
std::string ParseInto(ICommandLine& command, const std::vector<std::string>& args, bool& help);

// The command's --help.
std::string CommandUsage(const TSubCommand& command);

// The operand check of a command that takes none.
std::string NoOperand(const std::vector<std::string>& operands);
// The operand check of a command that takes one archive FILE, put in `file`.
std::string OneFile(const std::vector<std::string>& operands, std::string& file);

} // namespace kve17::ctl
