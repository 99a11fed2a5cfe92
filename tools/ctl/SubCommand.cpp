#include "tools/ctl/SubCommand.h"

#include "tools/cli/CommandLine.h"

#include <stdexcept>

namespace kve17::ctl {

namespace {

// Every option of a command, in the order its help lists them; the operands go to `operands`.
void DeclareAll(CLI::App& app, ICommandLine& command, std::vector<std::string>& operands,
                bool& help) {
    cli::PrepareApp(app);
    app.add_option("FILE", operands);
    command.Declare(app);
    cli::AddFlag(app, "-h,--help", "this text", help);
}

} // namespace

std::string ParseInto(ICommandLine& command, const std::vector<std::string>& args, bool& help) {
    CLI::App app;
    std::vector<std::string> operands;
    DeclareAll(app, command, operands, help);
    try {
        cli::ParseArguments(app, args);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return help ? "" : command.Accept(operands);
}

std::string CommandUsage(const TSubCommand& command) {
    CLI::App app;
    std::vector<std::string> operands;
    bool help = false;
    const auto line = command.Make();
    DeclareAll(app, *line, operands, help);
    std::string text = "Usage: kve17ctl " + std::string(command.Usage) + "\n\n" +
                       std::string(command.About) + "\n" + cli::OptionTable(app);
    if (!command.Footer.empty())
        text += "\n" + std::string(command.Footer);
    return text;
}

std::string NoOperand(const std::vector<std::string>& operands) {
    return operands.empty() ? "" : "no operand expected";
}

std::string OneFile(const std::vector<std::string>& operands, std::string& file) {
    if (operands.size() != 1)
        return "exactly one archive FILE expected";
    file = operands.front();
    return "";
}

} // namespace kve17::ctl
