// The command line of kve17ctl: sub-command, options and operands, checked before anything runs.
#pragma once

#include "serial/ComTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace kve17::ctl {

enum class TCommand { Ports, Create, Read, Show, History };

struct TReadOptions {
    std::string Port;
    int Device = 0; // 1 to 31
    int Baud = 9600;
    TBaudRate Rate = br9600;
    char Parity = 'N';
    int Stop = 2;
    int DelayTx = 25;
    bool Trace = false;
    bool Echo = false;   // the adapter echoes what is sent
    std::string History; // "" for the default history
    bool NoHistory = false;
    std::string Line; // "" for the line of the port
};

// What `history` lists, and from where.
struct THistoryQuery {
    std::string Where; // "" for the default history
    std::string Line;
    int Device = 0; // 0: every device
    std::string Since;
    std::string Until;
    std::vector<int> Codes;
    bool OnlyInvalid = false;
    bool Readings = false;  // the reading log instead of the events
    bool Lines = false;     // the lines and their devices instead of the events
    std::string RenameFrom; // --rename-line: the line to rename to RenameTo
    std::string RenameTo;
    bool Json = false;
};

struct TCtlOptions {
    TCommand Command = TCommand::Ports;
    bool Help = false;
    bool MainHelp = false; // help asked before any command
    std::string File;
    bool Force = false; // create
    bool Csv = false;   // show
    TReadOptions Read;
    THistoryQuery History;
};

// The parsed command line, or nothing with `error` set to the reason.
std::optional<TCtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

std::string MainUsage();
std::string CommandUsage(TCommand command);
const char* CommandName(TCommand command);
bool IsCommand(const std::string& word);

} // namespace kve17::ctl
