#include "tools/ctl/CtlOptions.h"

#include "link/Comportclass.h"
#include "tools/cli/CommandLine.h"

#include <stdexcept>

namespace kve17::ctl {

[[noreturn]] void Refuse(const char* message) {
    throw std::invalid_argument(message);
}

int NumberIn(std::string_view v, long long low, long long high, const char* message) {
    const auto number = cli::Number(v);
    if (!number || *number < low || *number > high)
        Refuse(message);
    return static_cast<int>(*number);
}

void DeclarePort(CLI::App& app, TReadOptions& read) {
    cli::AddValue(app, "--port", "NAME|PATH",
                  "port name (COM3), device path (/dev/ttyUSB0), or device\n"
                  "server: tcp://HOST:PORT (raw bytes; line settings are set\n"
                  "on the server) or rfc2217://HOST:PORT (settings sent)",
                  [&](std::string_view v) {
                      if (v.empty() || v.size() > 255)
                          Refuse("--port needs a port name or a device path");
                      read.Port = v;
                  });
}

void DeclareDevices(CLI::App& app, TReadOptions& read, const char* value, const char* help) {
    cli::AddValue(app, "--device", value, help, [&](std::string_view v) {
        if (v.find_first_of(",-") == std::string_view::npos) {
            NumberIn(v, 1, 31, "--device must be a device number from 1 to 31");
        }
        try {
            read.Devices = cli::AddressList("--device", v);
        } catch (const std::invalid_argument&) {
            Refuse("--device must list device numbers from 1 to 31, such as 1-31 or 1,3,7-9");
        }
    });
}

void DeclareLine(CLI::App& app, TReadOptions& read) {
    using cli::AddValue;
    AddValue(app, "--baud", "RATE",
             "110 300 600 1200 2400 4800 9600 14400 19200 38400 56000\n"
             "57600 115200 (default 9600)",
             [&](std::string_view v) {
                 const auto number = cli::Number(v);
                 const auto rate = number ? LinkBaudRate(static_cast<int>(*number)) : std::nullopt;
                 if (!rate)
                     Refuse("--baud must be one of 110 300 600 1200 2400 4800 9600 14400 19200 "
                            "38400 56000 57600 115200");
                 read.Baud = static_cast<int>(*number);
                 read.Rate = *rate;
             });
    AddValue(app, "--parity", "N|O|E", "none, odd or even parity (default N)",
             [&](std::string_view v) {
                 if (v != "N" && v != "O" && v != "E")
                     Refuse("--parity must be N, O or E");
                 read.Parity = v[0];
             });
    AddValue(app, "--stop", "1|2", "stop bits (default 2)", [&](std::string_view v) {
        const auto number = cli::Number(v);
        if (!number || (*number != 1 && *number != 2))
            Refuse("--stop must be 1 or 2");
        read.Stop = static_cast<int>(*number);
    });
    AddValue(app, "--delay-tx", "MS", "pause before every request, milliseconds (default 25)",
             [&](std::string_view v) {
                 read.DelayTx = NumberIn(
                     v, 0, 60000, "--delay-tx must be a number of milliseconds from 0 to 60000");
             });
    cli::AddFlag(app, "--echo",
                 "the adapter sends every transmitted byte back: drop it\n"
                 "before the reply, fail when it differs from what was sent",
                 read.Echo);
    cli::AddFlag(app, "--trace",
                 "every frame sent and received, in hex with a time stamp,\nto stderr", read.Trace);
    AddValue(app, "--wait", "SECONDS",
             "when another reader holds the port, wait up to SECONDS\n"
             "for it (default: refuse at once)",
             [&](std::string_view v) {
                 read.WaitSeconds =
                     NumberIn(v, 0, 86400, "--wait must be a number of seconds from 0 to 86400");
             });
    cli::AddFlag(app, "--json", "the summary as JSON on stdout", read.Json);
}

void DeclareHistoryPlace(CLI::App& app, const std::string& help, std::string& where) {
    cli::AddValue(app, "--history", "PATH|URL", help, [&](std::string_view v) {
        if (v.empty())
            Refuse("--history needs a file or a postgresql:// address");
        where = v;
    });
}

void DeclareHistory(CLI::App& app, TReadOptions& read) {
    using cli::AddValue;
    DeclareHistoryPlace(app,
                        "the event history the new records are added to: a file, or\n"
                        "postgresql://... (default $XDG_DATA_HOME/kve17/history.sqlite)",
                        read.History);
    cli::AddFlag(app, "--no-history", "keep no history of this reading", read.NoHistory);
    AddValue(app, "--line", "NAME", "the line's lasting name in the history (default: the port)",
             [&](std::string_view v) {
                 if (v.empty())
                     Refuse("--line needs a name");
                 read.Line = v;
             });
}

void DeclareFilter(CLI::App& app, TRecordFilter& filter) {
    using cli::AddValue;
    const auto day = [](const char* name, std::optional<TDay>& bound) {
        return [name, &bound](std::string_view v) {
            const auto parsed = ParseDay(v);
            if (!parsed)
                throw std::invalid_argument(std::string(name) +
                                            " must be a date dd.mm.yy or yyyy-mm-dd");
            bound = *parsed;
        };
    };
    AddValue(app, "--since", "DATE", "records of DATE and later (dd.mm.yy or yyyy-mm-dd)",
             day("--since", filter.Since));
    AddValue(app, "--until", "DATE", "records of DATE and earlier", day("--until", filter.Until));
    AddValue(app, "--code", "N[,N...]", "records with these codes only (may be repeated)",
             [&](std::string_view v) {
                 const auto codes = ParseCodes(v);
                 if (!codes)
                     Refuse("--code must be codes from 0 to 255, separated by commas");
                 filter.Codes.insert(codes->begin(), codes->end());
             });
    cli::AddFlag(app, "--invalid", "records marked invalid only", filter.OnlyInvalid);
}

void DeclareCsv(CLI::App& app, TCsvOptions& csv) {
    cli::AddFlag(app, "--csv", "CSV (RFC 4180, UTF-8, CRLF) with a header row", csv.Csv);
    cli::AddValue(app, "--separator", ";|,", "the CSV separator (default ',')",
                  [&](std::string_view v) {
                      if (v != ";" && v != ",")
                          Refuse("--separator must be ';' or ','");
                      csv.Separator = v[0];
                      csv.SeparatorGiven = true;
                  });
}

std::string CsvFault(const TCsvOptions& csv, bool json) {
    if (csv.Csv && json)
        return "--csv and --json exclude each other";
    if (csv.SeparatorGiven && !csv.Csv)
        return "--separator goes with --csv";
    return "";
}

} // namespace kve17::ctl
