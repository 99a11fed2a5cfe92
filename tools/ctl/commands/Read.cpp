// kve17ctl read: a device's archive into its archive file, or a line's devices into a folder.
#include "tools/ctl/commands/Read.h"

#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/SubCommand.h"

#include <cstdio>

namespace kve17::ctl {

namespace {

void DeclareRead(CLI::App& app, TLineCommand& options) {
    TReadOptions& read = options.Read;
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

std::string AcceptRead(TLineCommand& options, const std::vector<std::string>& operands) {
    const TReadOptions& read = options.Read;
    if (!read.Dir.empty() && !operands.empty())
        return "no FILE with --dir: the files are DIR/device-NN.dat";
    if (std::string fault =
            read.Dir.empty() ? OneFile(operands, options.File) : NoOperand(operands);
        !fault.empty())
        return fault;
    if (read.Port.empty() || read.Devices.empty())
        return "--port and --device are required";
    if (read.Dir.empty() && read.Devices.size() > 1)
        return "a list of devices is read with --dir DIR, one file each";
    return "";
}

int Summarize(const TLineCommand& options, const std::vector<TDeviceOutcome>& outcomes) {
    const bool ok = AllOk(outcomes);
    if (options.Read.Json)
        PrintJson(options.Command, options.Read, outcomes, "");
    else if (!options.Read.Dir.empty())
        PrintReadingTable(outcomes);
    else if (ok)
        std::printf("%s reading of device %d: %d records stored, %d new records merged\n",
                    ModeName(outcomes.front().Mode), outcomes.front().Device,
                    outcomes.front().StoredRecords, outcomes.front().NewRecords);
    return ReadingStatus(outcomes);
}

int ReadOver(IComPort& port, const TLineCommand& options, TConsolePrompt& prompt) {
    std::vector<TDeviceOutcome> outcomes;
    if (const auto error = ReadTargetsOver(port, options, prompt, outcomes)) {
        if (options.Read.Json)
            PrintJson(options.Command, options.Read, {}, *error);
        return ExitFailed;
    }
    const int status = Summarize(options, outcomes);
    SayHistory(options.Read, outcomes);
    return status;
}

int RunRead(const TLineCommand& options) {
    if (const std::string fault = options.Read.Dir.empty() ? "" : DirFault(options.Read.Dir);
        !fault.empty()) {
        Fail(fault);
        if (options.Read.Json)
            PrintJson(options.Command, options.Read, {}, fault);
        return ExitFailed;
    }
    TConsolePrompt prompt;
    return OverPort(options,
                    [&](IComPort& port, TComPort&) { return ReadOver(port, options, prompt); });
}

using TReadLine = TCommandLine<TLineCommand, DeclareRead, AcceptRead, RunRead>;

} // namespace

std::optional<TLineCommand> ParseReading(const std::vector<std::string>& args, std::string& error) {
    TReadLine line;
    bool help = false;
    error = ParseInto(line, args, help);
    if (!error.empty())
        return std::nullopt;
    return line.Parsed;
}

extern const TSubCommand ReadCommand = {
    .Name = "read",
    .Synopsis = "read --port P --device N FILE",
    .Summary = "read a device's archive into an archive file",
    .Usage = "read --port NAME|PATH --device N [OPTIONS] FILE\n"
             "   or: kve17ctl read --port NAME|PATH --device LIST --dir DIR [OPTIONS]",
    .About = "Reads the archive of device N into the archive FILE: the whole archive into a\n"
             "fresh file, only the records added since into a file that holds a reading.\n"
             "With --dir, reads the devices of LIST one after the other over the one port,\n"
             "each into DIR/device-NN.dat (created fresh when missing); a device that fails\n"
             "does not stop the others, and a table of the results ends the reading.\n",
    .Footer = "Messages go to stderr, a progress line too when it is a terminal; a summary\n"
              "goes to stdout. Exit status 0 when every device was read and its history\n"
              "written; 1 when the port, the device or the file failed (with --dir: when any\n"
              "device failed); 3 when every file was saved but a history was not written\n"
              "(its events are written with the next reading it takes). With --json each\n"
              "device carries \"history\": written, reason, added, gap, warning (null without\n"
              "a history), and \"ok\" is false when a history was not written.\n",
    .Make = TReadLine::Make,
};

} // namespace kve17::ctl
