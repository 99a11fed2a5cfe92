// The command line of kve17ctl: sub-command, options and operands, checked before anything runs.
#pragma once

#include "archive/RecordTable.h"
#include "serial/ComTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace kve17::ctl {

enum class TCommand { Ports, Create, Read, Show, Scan, History, Collect };

// The line and the devices of a reading or a scan.
struct TReadOptions {
    std::string Port;
    std::vector<int> Devices; // 1 to 31, ascending
    int Baud = 9600;
    TBaudRate Rate = br9600;
    char Parity = 'N';
    int Stop = 2;
    int DelayTx = 25;
    bool Trace = false;
    bool Echo = false;   // the adapter echoes what is sent
    std::string Dir;     // a reading of many devices: one file each in this folder
    bool Json = false;   // the summary as JSON on stdout
    int WaitSeconds = 0; // how long to wait for a port another reader holds
    int TimeoutMs = 0;   // a scan's reply time-out; 0 to fit it to the line speed
    std::string History; // "" for the default history
    bool NoHistory = false;
    std::string Line; // "" for the line of the port
};

// What `history` lists, and from where.
struct THistoryQuery {
    std::string Where; // "" for the default history
    std::string Line;
    int Device = 0;         // 0: every device; the records by the options' Filter
    bool Readings = false;  // the reading log instead of the events
    bool Lines = false;     // the lines and their devices instead of the events
    std::string RenameFrom; // --rename-line: the line to rename to RenameTo
    std::string RenameTo;
};

struct TCtlOptions {
    TCommand Command = TCommand::Ports;
    bool Help = false;
    bool Version = false;
    bool MainHelp = false; // help asked before any command
    std::string File;
    bool Force = false;   // create
    bool Csv = false;     // show
    bool Json = false;    // show
    char Separator = ','; // show --csv
    bool SeparatorGiven = false;
    TRecordFilter Filter; // show
    TReadOptions Read;
    THistoryQuery History;
    std::string Config; // collect: the configuration file
};

// The parsed command line, or nothing with `error` set to the reason.
std::optional<TCtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

std::string MainUsage();
std::string CommandUsage(TCommand command);
const char* CommandName(TCommand command);
bool IsCommand(const std::string& word);

} // namespace kve17::ctl
