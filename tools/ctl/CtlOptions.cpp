#include "tools/ctl/CtlOptions.h"

#include "link/Comportclass.h"
#include "tools/cli/CommandLine.h"

#include <stdexcept>
#include <string_view>

namespace kve17::ctl {

namespace {

struct TCommandText {
    std::string_view Name;
    TCommand Command;
    std::string_view Synopsis; // its line in the list of commands
    std::string_view Summary;
    std::string_view Usage;  // after "Usage: kve17ctl "
    std::string_view About;  // what it does, before the options
    std::string_view Footer; // after the options; may be empty
};

constexpr TCommandText Commands[] = {
    {"ports", TCommand::Ports, "ports", "list the serial ports: name and device path", "ports",
     "Lists the serial ports the program offers, one a line: name, a tab, device path.\n", ""},
    {"create", TCommand::Create, "create FILE [--force]", "create a fresh archive file",
     "create FILE [--force]",
     "Creates a fresh archive file. A name without extension gets \".dat\"; any\n"
     "other extension is refused. An existing file is kept unless --force is given.\n",
     ""},
    {"read", TCommand::Read, "read --port P --device N FILE",
     "read a device's archive into an archive file",
     "read --port NAME|PATH --device N [OPTIONS] FILE\n"
     "   or: kve17ctl read --port NAME|PATH --device LIST --dir DIR [OPTIONS]",
     "Reads the archive of device N into the archive FILE: the whole archive into a\n"
     "fresh file, only the records added since into a file that holds a reading.\n"
     "With --dir, reads the devices of LIST one after the other over the one port,\n"
     "each into DIR/device-NN.dat (created fresh when missing); a device that fails\n"
     "does not stop the others, and a table of the results ends the reading.\n",
     "Messages go to stderr, a progress line too when it is a terminal; a summary\n"
     "goes to stdout. Exit status 1 when the port, the device or the file failed\n"
     "(with --dir: when any device failed); a history that cannot be written is\n"
     "reported but fails no reading.\n"},
    {"history", TCommand::History, "history [OPTIONS]",
     "list events or readings from the event history", "history [OPTIONS]",
     "Lists the events of the history, newest first per device (devices by line and\n"
     "number), or with --readings the log of the readings, newest first.\n",
     "A date bound leaves out events without a readable date.\n"},
    {"collect", TCommand::Collect, "collect --config FILE",
     "read every line and device a configuration lists", "collect --config FILE [OPTIONS]",
     "Reads the lines of the configuration FILE one after the other, each as a\n"
     "reading of a whole line does: every listed device into its archive file and\n"
     "the history. A line whose port fails does not stop the others; a table per line\n"
     "(or one JSON object) ends the collection. Made for schedulers such as a\n"
     "systemd timer.\n",
     "Exit status 0 when every device of every line was read, 1 when any failed, 2\n"
     "when the configuration is wrong (its file and line named).\n"},
    {"show", TCommand::Show, "show FILE [OPTIONS]", "list the stored records, newest first",
     "show FILE [OPTIONS]",
     "Lists the records of an archive file from the newest to the oldest, up to the\n"
     "end markers, with the columns of the viewer: number, date, time, code and\n"
     "detail (decimal and hex), and \"недостоверна\" for a record marked invalid.\n"
     "Slots never written are left out. Two-digit years are taken as 2001 to 2099.\n",
     "A date bound leaves out records without a readable date.\n"},
    {"scan", TCommand::Scan, "scan --port P", "list the devices that answer on a line",
     "scan --port NAME|PATH [OPTIONS]",
     "Asks every address of LIST once for its newest archive block, with a reply\n"
     "time-out fitted to the line speed instead of the reading's repeats, and lists\n"
     "the devices that answer.\n",
     "Exit status 0 when the port opened (whether or not a device answers), 1 when\n"
     "it did not.\n"},
};

const TCommandText& TextOf(TCommand command) {
    for (const auto& c : Commands)
        if (c.Command == command)
            return c;
    return Commands[0];
}

[[noreturn]] void Refuse(const char* message) {
    throw std::invalid_argument(message);
}

// The number `v` when it lies from `low` to `high`; refused with `message` otherwise.
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

// How the line is driven: speed, framing, pacing, tracing, and the wait for a held port.
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

// Where the history lies: a file or a postgresql:// address.
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

void DeclareRead(CLI::App& app, TReadOptions& read) {
    DeclarePort(app, read);
    DeclareDevices(app, read, "N|LIST", "device number, 1 to 31; with --dir a list: 1-31, 1,3,7-9");
    cli::AddValue(app, "--dir", "DIR", "folder of the archive files of a LIST of devices",
                  [&](std::string_view v) {
                      if (v.empty())
                          Refuse("--dir needs a folder");
                      read.Dir = v;
                  });
    DeclareLine(app, read);
    DeclareHistory(app, read);
}

void DeclareCollect(CLI::App& app, TCtlOptions& options) {
    cli::AddValue(app, "--config", "FILE", "the lines, devices and folders to read",
                  [&](std::string_view v) {
                      if (v.empty())
                          Refuse("--config needs a file");
                      options.Config = v;
                  });
    DeclareHistoryPlace(app,
                        "the event history: a file, or postgresql://... (default:\n"
                        "the configuration's, else $XDG_DATA_HOME/kve17/history.sqlite)",
                        options.Read.History);
    cli::AddFlag(app, "--no-history", "keep no history of these readings", options.Read.NoHistory);
    cli::AddFlag(app, "--json", "the summary as JSON on stdout", options.Read.Json);
}

void DeclareScan(CLI::App& app, TReadOptions& read) {
    DeclarePort(app, read);
    DeclareDevices(app, read, "LIST", "the addresses to ask, e.g. 1-10,12 (default 1-31)");
    cli::AddValue(app, "--timeout", "MS",
                  "reply time-out per address, milliseconds (default: fitted\n"
                  "to the line speed, about 110 at 9600)",
                  [&](std::string_view v) {
                      read.TimeoutMs =
                          NumberIn(v, 1, 60000,
                                   "--timeout must be a number of milliseconds from 1 to 60000");
                  });
    DeclareLine(app, read);
}

// The record filter that show and history share.
void DeclareFilter(CLI::App& app, TCtlOptions& options) {
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
             day("--since", options.Filter.Since));
    AddValue(app, "--until", "DATE", "records of DATE and earlier",
             day("--until", options.Filter.Until));
    AddValue(app, "--code", "N[,N...]", "records with these codes only (may be repeated)",
             [&](std::string_view v) {
                 const auto codes = ParseCodes(v);
                 if (!codes)
                     Refuse("--code must be codes from 0 to 255, separated by commas");
                 options.Filter.Codes.insert(codes->begin(), codes->end());
             });
    cli::AddFlag(app, "--invalid", "records marked invalid only", options.Filter.OnlyInvalid);
}

void DeclareShow(CLI::App& app, TCtlOptions& options) {
    using cli::AddValue;
    DeclareFilter(app, options);
    cli::AddFlag(app, "--csv", "CSV (RFC 4180, UTF-8, CRLF) with a header row", options.Csv);
    AddValue(app, "--separator", ";|,", "the CSV separator (default ',')", [&](std::string_view v) {
        if (v != ";" && v != ",")
            Refuse("--separator must be ';' or ','");
        options.Separator = v[0];
        options.SeparatorGiven = true;
    });
    cli::AddFlag(app, "--json",
                 "a JSON array of records: number, offset, date, time,\ncode, detail, invalid",
                 options.Json);
}

void DeclareHistoryQuery(CLI::App& app, TCtlOptions& options) {
    using cli::AddValue;
    THistoryQuery& q = options.History;
    DeclareHistoryPlace(app,
                        "the history: a file, or postgresql://... (default\n"
                        "$XDG_DATA_HOME/kve17/history.sqlite)",
                        q.Where);
    AddValue(app, "--line", "NAME", "only this line", [&](std::string_view v) { q.Line = v; });
    AddValue(app, "--device", "N", "only device N, 1 to 31", [&](std::string_view v) {
        q.Device = NumberIn(v, 1, 31, "--device must be a device number from 1 to 31");
    });
    DeclareFilter(app, options);
    cli::AddFlag(app, "--readings", "the reading log instead of the events", q.Readings);
    cli::AddFlag(app, "--lines", "the lines, their ports and devices instead of the events",
                 q.Lines);
    AddValue(app, "--rename-line", "NAME", "give the line NAME the name of --to",
             [&](std::string_view v) { q.RenameFrom = v; });
    AddValue(app, "--to", "NEW", "the new name of --rename-line", [&](std::string_view v) {
        if (v.empty())
            Refuse("--to needs a name");
        q.RenameTo = v;
    });
    cli::AddFlag(app, "--csv", "comma-separated values with a header row", options.Csv);
    cli::AddFlag(app, "--json", "a JSON array", options.Json);
}

// Every option of a command, in the order its help lists them; the operands go to `operands`.
void Declare(CLI::App& app, TCtlOptions& options, std::vector<std::string>& operands) {
    cli::PrepareApp(app);
    app.add_option("FILE", operands);
    switch (options.Command) {
    case TCommand::Ports:
        break;
    case TCommand::Create:
        cli::AddFlag(app, "--force", "replace an existing file (its archive is lost)",
                     options.Force);
        break;
    case TCommand::Read:
        DeclareRead(app, options.Read);
        break;
    case TCommand::History:
        DeclareHistoryQuery(app, options);
        break;
    case TCommand::Show:
        DeclareShow(app, options);
        break;
    case TCommand::Scan:
        DeclareScan(app, options.Read);
        break;
    case TCommand::Collect:
        DeclareCollect(app, options);
        break;
    }
    cli::AddFlag(app, "-h,--help", "this text", options.Help);
}

// The operands and the options a command cannot do without.
std::string OperandFault(TCtlOptions& options, const std::vector<std::string>& operands) {
    const TReadOptions& read = options.Read;
    const bool wantsFile = options.Command != TCommand::Ports &&
                           options.Command != TCommand::Scan &&
                           options.Command != TCommand::History &&
                           options.Command != TCommand::Collect && read.Dir.empty();
    const THistoryQuery& q = options.History;
    if (q.RenameFrom.empty() != q.RenameTo.empty())
        return "--rename-line and --to go together";
    if (q.Readings + q.Lines + !q.RenameFrom.empty() > 1)
        return "--readings, --lines and --rename-line exclude each other";
    if (options.Command == TCommand::Read && !read.Dir.empty() && !operands.empty())
        return "no FILE with --dir: the files are DIR/device-NN.dat";
    if (operands.size() != (wantsFile ? 1u : 0u))
        return wantsFile ? "exactly one archive FILE expected" : "no operand expected";
    if (wantsFile)
        options.File = operands.front();
    if (options.Command == TCommand::Scan) {
        if (read.Port.empty())
            return "--port is required";
        if (read.Devices.empty())
            options.Read.Devices = cli::AddressList("--device", "1-31");
    }
    if (options.Command == TCommand::Collect && options.Config.empty())
        return "--config is required";
    if (options.Csv && options.Json)
        return "--csv and --json exclude each other";
    if (options.SeparatorGiven && !options.Csv)
        return "--separator goes with --csv";
    if (options.Command != TCommand::Read)
        return "";
    if (read.Port.empty() || read.Devices.empty())
        return "--port and --device are required";
    if (read.Dir.empty() && read.Devices.size() > 1)
        return "a list of devices is read with --dir DIR, one file each";
    return "";
}

} // namespace

std::optional<TCtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
    TCtlOptions options;
    if (args.empty()) {
        error = "a command is required";
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        options.Help = options.MainHelp = true;
        return options;
    }
    if (args[0] == "--version") {
        options.Version = true;
        return options;
    }
    if (!IsCommand(args[0])) {
        error = "unknown command '" + args[0] + "'";
        return std::nullopt;
    }
    for (const auto& c : Commands)
        if (args[0] == c.Name)
            options.Command = c.Command;
    CLI::App app;
    std::vector<std::string> operands;
    Declare(app, options, operands);
    try {
        cli::ParseArguments(app, {args.begin() + 1, args.end()});
    } catch (const std::invalid_argument& e) {
        error = e.what();
        return std::nullopt;
    }
    if (options.Help)
        return options;
    error = OperandFault(options, operands);
    if (!error.empty())
        return std::nullopt;
    return options;
}

const char* CommandName(TCommand command) {
    return TextOf(command).Name.data();
}

bool IsCommand(const std::string& word) {
    for (const auto& c : Commands)
        if (word == c.Name)
            return true;
    return false;
}

std::string MainUsage() {
    std::string text = "Usage: kve17ctl COMMAND [OPTIONS]\n"
                       "\n"
                       "Reads the event archive of KVE-17 devices into archive files (.dat, 7940 "
                       "bytes).\n"
                       "\n"
                       "Commands:\n";
    constexpr std::size_t column = 27;
    for (const auto& c : Commands) {
        std::string line = "  " + std::string(c.Synopsis);
        line += c.Synopsis.size() < column ? std::string(column - c.Synopsis.size(), ' ')
                                           : "\n" + std::string(column + 2, ' ');
        text += line + std::string(c.Summary) + "\n";
    }
    return text + "\n"
                  "'kve17ctl COMMAND --help' describes a command; 'kve17ctl --version' gives the\n"
                  "version.\n"
                  "Exit status: 0 on success, 1 when the operation failed, 2 on a usage error.\n";
}

std::string CommandUsage(TCommand command) {
    const TCommandText& c = TextOf(command);
    TCtlOptions options;
    options.Command = command;
    std::vector<std::string> operands;
    CLI::App app;
    Declare(app, options, operands);
    std::string text = "Usage: kve17ctl " + std::string(c.Usage) + "\n\n" + std::string(c.About) +
                       "\n" + cli::OptionTable(app);
    if (!c.Footer.empty())
        text += "\n" + std::string(c.Footer);
    return text;
}

} // namespace kve17::ctl
