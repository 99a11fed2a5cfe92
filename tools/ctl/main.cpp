// kve17ctl: archive files and archive readings from the command line.
#include "serial/StandardDescriptors.h"
#include "serial/StopSignals.h"
#include "tools/ctl/CommandTable.h"
#include "tools/ctl/CtlCommands.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace kve17::ctl;
    if (!kve17::EnsureStandardDescriptors())
        return ExitFailed;
    kve17::InstallStopSignals();
    kve17::IgnoreFileSizeSignal();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto parsed = ParseCommandLine(args, error);
    if (!parsed) {
        std::fprintf(stderr, "kve17ctl: %s\n", error.c_str());
        const bool command = !args.empty() && FindCommand(args[0]) != nullptr;
        std::fprintf(stderr, "Try 'kve17ctl%s%s --help'.\n", command ? " " : "",
                     command ? args[0].c_str() : "");
        return ExitUsage;
    }
    if (parsed->Version) {
        std::printf("kve17ctl %s\n", KVE17_VERSION);
        return ExitOk;
    }
    if (parsed->Help) {
        std::fputs((parsed->Command ? CommandUsage(*parsed->Command) : MainUsage()).c_str(),
                   stdout);
        return ExitOk;
    }
    const int status = parsed->Line->Run();
    // Everything is closed by now: end as the signal would have ended the program. The default
    // action skips the stdio flush at exit, so the table or summary already printed goes out first.
    if (kve17::StopSignal() != 0) {
        std::cout.flush();
        std::fflush(stdout);
    }
    kve17::RaiseStopSignal();
    return status;
}
