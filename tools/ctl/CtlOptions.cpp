#include "tools/ctl/CtlOptions.h"

#include "link/Comportclass.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace kve17::ctl {

namespace {

struct TCommandName {
    std::string_view Name;
    TCommand Command;
};

constexpr TCommandName Commands[] = {{"ports", TCommand::Ports},
                                     {"create", TCommand::Create},
                                     {"read", TCommand::Read},
                                     {"show", TCommand::Show}};

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Options of a sub-command that take a value.
bool TakesValue(TCommand command, std::string_view name) {
    if (command != TCommand::Read)
        return false;
    return name == "--port" || name == "--device" || name == "--baud" || name == "--parity" ||
           name == "--stop" || name == "--delay-tx" || name == "--history" || name == "--line";
}

bool ApplyReadOption(std::string_view name, std::string_view value, TReadOptions& read,
                     std::string& error) {
    if (name == "--port") {
        if (value.empty() || value.size() > 255)
            return error = "--port needs a port name or a device path", false;
        read.Port = value;
        return true;
    }
    if (name == "--history" || name == "--line") {
        if (value.empty())
            return error = std::string(name) + " needs a value", false;
        (name == "--line" ? read.Line : read.History) = value;
        return true;
    }
    const auto number = Number(value);
    if (name == "--device") {
        if (!number || *number < 1 || *number > 31)
            return error = "--device must be a device number from 1 to 31", false;
        read.Device = *number;
    } else if (name == "--baud") {
        const auto rate = number ? LinkBaudRate(*number) : std::nullopt;
        if (!rate)
            return error = "--baud must be one of 110 300 600 1200 2400 4800 9600 14400 19200 "
                           "38400 56000 57600 115200",
                   false;
        read.Baud = *number;
        read.Rate = *rate;
    } else if (name == "--parity") {
        if (value != "N" && value != "O" && value != "E")
            return error = "--parity must be N, O or E", false;
        read.Parity = value[0];
    } else if (name == "--stop") {
        if (!number || (*number != 1 && *number != 2))
            return error = "--stop must be 1 or 2", false;
        read.Stop = *number;
    } else if (name == "--delay-tx") {
        if (!number || *number < 0 || *number > 60000)
            return error = "--delay-tx must be a number of milliseconds from 0 to 60000", false;
        read.DelayTx = *number;
    }
    return true;
}

bool ApplyFlag(std::string_view name, TCtlOptions& options) {
    if (name == "--help" || name == "-h")
        return options.Help = true;
    if (options.Command == TCommand::Create && name == "--force")
        return options.Force = true;
    if (options.Command == TCommand::Show && name == "--csv")
        return options.Csv = true;
    if (options.Command == TCommand::Read && name == "--trace")
        return options.Read.Trace = true;
    if (options.Command == TCommand::Read && name == "--no-history")
        return options.Read.NoHistory = true;
    return false;
}

bool CheckOperands(TCtlOptions& options, const std::vector<std::string>& operands,
                   std::string& error) {
    const bool wantsFile = options.Command != TCommand::Ports;
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
    bool known = false;
    for (const auto& c : Commands)
        if (args[0] == c.Name) {
            options.Command = c.Command;
            known = true;
        }
    if (!known) {
        error = "unknown command '" + args[0] + "'";
        return std::nullopt;
    }
    std::vector<std::string> operands;
    bool optionsEnd = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (TakesValue(options.Command, name)) {
            std::string_view value;
            if (equals != std::string_view::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return error = std::string(name) + " needs a value", std::nullopt;
            if (!ApplyReadOption(name, value, options.Read, error))
                return std::nullopt;
        } else if (equals != std::string_view::npos || !ApplyFlag(name, options)) {
            error = "unknown option '" + std::string(arg) + "'";
            return std::nullopt;
        }
    }
    if (options.Help)
        return options;
    if (!CheckOperands(options, operands, error))
        return std::nullopt;
    return options;
}

const char* CommandName(TCommand command) {
    for (const auto& c : Commands)
        if (c.Command == command)
            return c.Name.data();
    return "";
}

bool IsCommand(const std::string& word) {
    for (const auto& c : Commands)
        if (word == c.Name)
            return true;
    return false;
}

const char* MainUsage() {
    return "Usage: kve17ctl COMMAND [OPTIONS]\n"
           "\n"
           "Reads the event archive of KVE-17 devices into archive files (.dat, 7940 bytes).\n"
           "\n"
           "Commands:\n"
           "  ports                      list the serial ports: name and device path\n"
           "  create FILE [--force]      create a fresh archive file\n"
           "  read --port P --device N FILE\n"
           "                             read a device's archive into an archive file\n"
           "  show FILE [--csv]          list the stored records, newest first\n"
           "\n"
           "'kve17ctl COMMAND --help' describes a command.\n"
           "Exit status: 0 on success, 1 when the operation failed, 2 on a usage error.\n";
}

const char* CommandUsage(TCommand command) {
    switch (command) {
    case TCommand::Ports:
        return "Usage: kve17ctl ports\n"
               "\n"
               "Lists the serial ports the program offers, one a line: name, a tab, device "
               "path.\n";
    case TCommand::Create:
        return "Usage: kve17ctl create FILE [--force]\n"
               "\n"
               "Creates a fresh archive file. A name without extension gets \".dat\"; any\n"
               "other extension is refused. An existing file is kept unless --force is given.\n"
               "\n"
               "  --force     replace an existing file (its archive is lost)\n"
               "  -h, --help  this text\n";
    case TCommand::Read:
        return "Usage: kve17ctl read --port NAME|PATH --device N [OPTIONS] FILE\n"
               "\n"
               "Reads the archive of device N into the archive FILE: the whole archive into a\n"
               "fresh file, only the records added since into a file that holds a reading.\n"
               "\n"
               "  --port NAME|PATH  port name (COM3) or device path (/dev/ttyUSB0), as given\n"
               "  --device N        device number, 1 to 31\n"
               "  --baud RATE       110 300 600 1200 2400 4800 9600 14400 19200 38400 56000\n"
               "                    57600 115200 (default 9600)\n"
               "  --parity N|O|E    none, odd or even parity (default N)\n"
               "  --stop 1|2        stop bits (default 2)\n"
               "  --delay-tx MS     pause before every request, milliseconds (default 25)\n"
               "  --trace           every frame sent and received, in hex with a time stamp,\n"
               "                    to stderr\n"
               "  --history PATH|postgresql://...\n"
               "                    the event history the new records are added to (default\n"
               "                    $XDG_DATA_HOME/kve17/history.sqlite)\n"
               "  --no-history      keep no history of this reading\n"
               "  --line NAME       the line's lasting name in the history (default: the port)\n"
               "  -h, --help        this text\n"
               "\n"
               "Messages go to stderr, a progress line too when it is a terminal; a summary\n"
               "goes to stdout. Exit status 1 when the port, the device or the file failed; a\n"
               "history that cannot be written is reported but does not fail the reading.\n";
    case TCommand::Show:
        return "Usage: kve17ctl show FILE [--csv]\n"
               "\n"
               "Lists the records of an archive file from the newest to the oldest, up to the\n"
               "end markers: time stamp, code, detail, and whether the record is marked\n"
               "invalid. Slots never written are left out.\n"
               "\n"
               "  --csv       comma-separated values with a header row\n"
               "  -h, --help  this text\n";
    }
    return "";
}

} // namespace kve17::ctl
