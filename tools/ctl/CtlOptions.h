// The option groups several sub-commands of kve17ctl share, each declared once: the line of a
// reading or a scan, the history a reading goes to, and the record filter of `show` and
// `history`.
#pragma once

#include "archive/RecordTable.h"
#include "serial/ComTypes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace kve17::ctl {

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

// What is done on a line; its JSON summary is named after it.
enum class TLineJob { Read, Scan };

// The options of a command that works a line: `read`, `scan`, and each line of `collect`.
struct TLineCommand {
    TLineJob Command = TLineJob::Read;
    TReadOptions Read;
    std::string File; // a reading without --dir: its archive file
};

// Refuses an option's value: the message is the user's.
[[noreturn]] void Refuse(const char* message);
// The number `v` when it lies from `low` to `high`; refused with `message` otherwise.
int NumberIn(std::string_view v, long long low, long long high, const char* message);

void DeclarePort(CLI::App& app, TReadOptions& read);
void DeclareDevices(CLI::App& app, TReadOptions& read, const char* value, const char* help);
// How the line is driven: speed, framing, pacing, tracing, and the wait for a held port.
void DeclareLine(CLI::App& app, TReadOptions& read);
// Where the history lies: a file or a postgresql:// address.
void DeclareHistoryPlace(CLI::App& app, const std::string& help, std::string& where);
// The history a reading adds to, or none, and the line's name in it.
void DeclareHistory(CLI::App& app, TReadOptions& read);
// The record filter that show and history share.
void DeclareFilter(CLI::App& app, TRecordFilter& filter);

// The CSV that show and history write: RFC 4180, UTF-8, CRLF, with a header row.
struct TCsvOptions {
    bool Csv = false;
    char Separator = ',';
    bool SeparatorGiven = false;
};
// --csv and --separator.
void DeclareCsv(CLI::App& app, TCsvOptions& csv);
// What keeps the CSV options from going together with `json`, "" when nothing does.
std::string CsvFault(const TCsvOptions& csv, bool json);

} // namespace kve17::ctl
