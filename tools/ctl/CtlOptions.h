// The command line of kve17ctl: sub-command, options and operands, checked before anything runs.
#pragma once

#include "serial/ComTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace kve17::ctl {

enum class TCommand { Ports, Create, Read, Show };

struct TReadOptions {
    std::string Port;
    int Device = 0; // 1 to 31
    int Baud = 9600;
    TBaudRate Rate = br9600;
    char Parity = 'N';
    int Stop = 2;
    int DelayTx = 25;
    bool Trace = false;
    std::string History; // "" for the default history
    bool NoHistory = false;
    std::string Line; // "" for the line of the port
};

struct TCtlOptions {
    TCommand Command = TCommand::Ports;
    bool Help = false;
    bool MainHelp = false; // help asked before any command
    std::string File;
    bool Force = false; // create
    bool Csv = false;   // show
    TReadOptions Read;
};

// The parsed command line, or nothing with `error` set to the reason.
std::optional<TCtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

std::string MainUsage();
std::string CommandUsage(TCommand command);
const char* CommandName(TCommand command);
bool IsCommand(const std::string& word);

} // namespace kve17::ctl
