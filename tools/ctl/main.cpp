// kve17ctl: archive files and archive readings from the command line.
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlOptions.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace kve17::ctl;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseCommandLine(args, error);
    if (!options) {
        std::fprintf(stderr, "kve17ctl: %s\n", error.c_str());
        const bool command = !args.empty() && IsCommand(args[0]);
        std::fprintf(stderr, "Try 'kve17ctl%s%s --help'.\n", command ? " " : "",
                     command ? args[0].c_str() : "");
        return ExitUsage;
    }
    if (options->Help) {
        std::fputs((options->MainHelp ? MainUsage() : CommandUsage(options->Command)).c_str(),
                   stdout);
        return ExitOk;
    }
    switch (options->Command) {
    case TCommand::Ports:
        return RunPorts();
    case TCommand::Create:
        return RunCreate(*options);
    case TCommand::Read:
        return RunRead(*options);
    case TCommand::History:
        return RunHistory(*options);
    case TCommand::Show:
        return RunShow(*options);
    }
    return ExitUsage;
}
