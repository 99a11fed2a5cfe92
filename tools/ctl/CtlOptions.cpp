#include "tools/ctl/CtlOptions.h"

#include "link/Comportclass.h"
#include "tools/cli/CommandLine.h"

#include <charconv>
#include <chrono>
#include <cstdio>
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
     "read --port NAME|PATH --device N [OPTIONS] FILE",
     "Reads the archive of device N into the archive FILE: the whole archive into a\n"
     "fresh file, only the records added since into a file that holds a reading.\n",
     "Messages go to stderr, a progress line too when it is a terminal; a summary\n"
     "goes to stdout. Exit status 1 when the port, the device or the file failed; a\n"
     "history that cannot be written is reported but does not fail the reading.\n"},
    {"history", TCommand::History, "history [FILTERS] [--csv|--json]",
     "list events or readings from the event history", "history [OPTIONS]",
     "Lists the events of the history, newest first per device (devices by line and\n"
     "number), or with --readings the log of the readings, newest first.\n",
     "Dates are YYYY-MM-DD, both days included; an event without a calendar day passes\n"
     "no date bound.\n"},
    {"show", TCommand::Show, "show FILE [--csv]", "list the stored records, newest first",
     "show FILE [--csv]",
     "Lists the records of an archive file from the newest to the oldest, up to the\n"
     "end markers: time stamp, code, detail, and whether the record is marked\n"
     "invalid. Slots never written are left out.\n",
     ""},
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

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void DeclareHistory(CLI::App& app, TReadOptions& read) {
    using cli::AddValue;
    AddValue(app, "--history", "PATH|URL",
             "the event history the new records are added to: a file, or\n"
             "postgresql://... (default $XDG_DATA_HOME/kve17/history.sqlite)",
             [&](std::string_view v) {
                 if (v.empty())
                     Refuse("--history needs a file or a postgresql:// address");
                 read.History = v;
             });
    cli::AddFlag(app, "--no-history", "keep no history of this reading", read.NoHistory);
    AddValue(app, "--line", "NAME", "the line's lasting name in the history (default: the port)",
             [&](std::string_view v) {
                 if (v.empty())
                     Refuse("--line needs a name");
                 read.Line = v;
             });
}

// "N[,N…]", each 0 to 255.
std::vector<int> CodeList(std::string_view text) {
    std::vector<int> codes;
    while (true) {
        const auto comma = text.find(',');
        const auto code = Number(text.substr(0, comma));
        if (!code || *code < 0 || *code > 255)
            Refuse("--code takes codes 0 to 255, separated by commas");
        codes.push_back(*code);
        if (comma == std::string_view::npos)
            return codes;
        text.remove_prefix(comma + 1);
    }
}

// A calendar day as YYYY-MM-DD.
std::string Day(std::string_view text, const char* message) {
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    const std::string s(text);
    char tail = 0;
    if (s.size() != 10 || std::sscanf(s.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &tail) != 3 ||
        !std::chrono::year_month_day{std::chrono::year{y}, std::chrono::month{m},
                                     std::chrono::day{d}}
             .ok())
        Refuse(message);
    return s;
}

void DeclareHistoryQuery(CLI::App& app, TCtlOptions& options) {
    using cli::AddValue;
    THistoryQuery& q = options.History;
    AddValue(app, "--history", "PATH|URL",
             "the history: a file, or postgresql://... (default\n"
             "$XDG_DATA_HOME/kve17/history.sqlite)",
             [&](std::string_view v) {
                 if (v.empty())
                     Refuse("--history needs a file or a postgresql:// address");
                 q.Where = v;
             });
    AddValue(app, "--line", "NAME", "only this line", [&](std::string_view v) { q.Line = v; });
    AddValue(app, "--device", "N", "only device N, 1 to 31", [&](std::string_view v) {
        const auto number = Number(v);
        if (!number || *number < 1 || *number > 31)
            Refuse("--device must be a device number from 1 to 31");
        q.Device = *number;
    });
    AddValue(app, "--since", "DATE", "from this day on",
             [&](std::string_view v) { q.Since = Day(v, "--since must be a day as YYYY-MM-DD"); });
    AddValue(app, "--until", "DATE", "up to this day",
             [&](std::string_view v) { q.Until = Day(v, "--until must be a day as YYYY-MM-DD"); });
    AddValue(app, "--code", "N[,N...]", "only these codes",
             [&](std::string_view v) { q.Codes = CodeList(v); });
    cli::AddFlag(app, "--invalid", "only records marked invalid", q.OnlyInvalid);
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
    cli::AddFlag(app, "--json", "a JSON array", q.Json);
}

void DeclareRead(CLI::App& app, TReadOptions& read) {
    using cli::AddValue;
    AddValue(app, "--port", "NAME|PATH",
             "port name (COM3), device path (/dev/ttyUSB0), or device\n"
             "server: tcp://HOST:PORT (raw bytes; line settings are set\n"
             "on the server) or rfc2217://HOST:PORT (settings sent)",
             [&](std::string_view v) {
                 if (v.empty() || v.size() > 255)
                     Refuse("--port needs a port name or a device path");
                 read.Port = v;
             });
    AddValue(app, "--device", "N", "device number, 1 to 31", [&](std::string_view v) {
        const auto number = Number(v);
        if (!number || *number < 1 || *number > 31)
            Refuse("--device must be a device number from 1 to 31");
        read.Device = *number;
    });
    AddValue(app, "--baud", "RATE",
             "110 300 600 1200 2400 4800 9600 14400 19200 38400 56000\n"
             "57600 115200 (default 9600)",
             [&](std::string_view v) {
                 const auto number = Number(v);
                 const auto rate = number ? LinkBaudRate(*number) : std::nullopt;
                 if (!rate)
                     Refuse("--baud must be one of 110 300 600 1200 2400 4800 9600 14400 19200 "
                            "38400 56000 57600 115200");
                 read.Baud = *number;
                 read.Rate = *rate;
             });
    AddValue(app, "--parity", "N|O|E", "none, odd or even parity (default N)",
             [&](std::string_view v) {
                 if (v != "N" && v != "O" && v != "E")
                     Refuse("--parity must be N, O or E");
                 read.Parity = v[0];
             });
    AddValue(app, "--stop", "1|2", "stop bits (default 2)", [&](std::string_view v) {
        const auto number = Number(v);
        if (!number || (*number != 1 && *number != 2))
            Refuse("--stop must be 1 or 2");
        read.Stop = *number;
    });
    AddValue(app, "--delay-tx", "MS", "pause before every request, milliseconds (default 25)",
             [&](std::string_view v) {
                 const auto number = Number(v);
                 if (!number || *number < 0 || *number > 60000)
                     Refuse("--delay-tx must be a number of milliseconds from 0 to 60000");
                 read.DelayTx = *number;
             });
    cli::AddFlag(app, "--echo",
                 "the adapter sends every transmitted byte back: drop it\n"
                 "before the reply, fail when it differs from what was sent",
                 read.Echo);
    cli::AddFlag(app, "--trace",
                 "every frame sent and received, in hex with a time stamp,\nto stderr", read.Trace);
    DeclareHistory(app, read);
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
        cli::AddFlag(app, "--csv", "comma-separated values with a header row", options.Csv);
        break;
    }
    cli::AddFlag(app, "-h,--help", "this text", options.Help);
}

bool CheckOperands(TCtlOptions& options, const std::vector<std::string>& operands,
                   std::string& error) {
    const bool wantsFile =
        options.Command != TCommand::Ports && options.Command != TCommand::History;
    if (options.Csv && options.History.Json) {
        error = "--csv and --json exclude each other";
        return false;
    }
    const THistoryQuery& q = options.History;
    if (q.RenameFrom.empty() != q.RenameTo.empty()) {
        error = "--rename-line and --to go together";
        return false;
    }
    if (q.Readings + q.Lines + !q.RenameFrom.empty() > 1) {
        error = "--readings, --lines and --rename-line exclude each other";
        return false;
    }
    if (operands.size() != (wantsFile ? 1u : 0u)) {
        error = wantsFile ? "exactly one archive FILE expected" : "no operand expected";
        return false;
    }
    if (wantsFile)
        options.File = operands.front();
    if (options.Command == TCommand::Read && (options.Read.Port.empty() || !options.Read.Device)) {
        error = "--port and --device are required";
        return false;
    }
    return true;
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
    if (!CheckOperands(options, operands, error))
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
                  "'kve17ctl COMMAND --help' describes a command.\n"
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
