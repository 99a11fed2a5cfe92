// kve17ctl: archive files and archive readings from the command line.
#include "serial/StandardDescriptors.h"
#include "serial/StopSignals.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlOptions.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace kve17::ctl;

int RunCommand(const TCtlOptions& options) {
    switch (options.Command) {
    case TCommand::Ports:
        return RunPorts();
    case TCommand::Create:
        return RunCreate(options);
    case TCommand::Read:
        return RunRead(options);
    case TCommand::History:
        return RunHistory(options);
    case TCommand::Show:
        return RunShow(options);
    case TCommand::Scan:
        return RunScan(options);
    case TCommand::Collect:
        return RunCollect(options);
    }
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    if (!kve17::EnsureStandardDescriptors())
        return ExitFailed;
    kve17::InstallStopSignals();
    kve17::IgnoreFileSizeSignal();
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
    if (options->Version) {
        std::printf("kve17ctl %s\n", KVE17_VERSION);
        return ExitOk;
    }
    if (options->Help) {
        std::fputs((options->MainHelp ? MainUsage() : CommandUsage(options->Command)).c_str(),
                   stdout);
        return ExitOk;
    }
    const int status = RunCommand(*options);
    // Everything is closed by now: end as the signal would have ended the program. The default
    // action skips the stdio flush at exit, so the table or summary already printed goes out first.
    if (kve17::StopSignal() != 0) {
        std::cout.flush();
        std::fflush(stdout);
    }
    kve17::RaiseStopSignal();
    return status;
}
