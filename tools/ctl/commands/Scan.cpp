// kve17ctl scan: the devices that answer on a line.
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/LineScan.h"
#include "tools/ctl/SubCommand.h"

namespace kve17::ctl {

namespace {

// The line's options, the summary named after the scan.
struct TScanOptions : TLineCommand {
    TScanOptions() { Command = TLineJob::Scan; }
};

void DeclareScan(CLI::App& app, TScanOptions& options) {
    TReadOptions& read = options.Read;
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

std::string AcceptScan(TScanOptions& options, const std::vector<std::string>& operands) {
    if (std::string fault = NoOperand(operands); !fault.empty())
        return fault;
    if (options.Read.Port.empty())
        return "--port is required";
    if (options.Read.Devices.empty())
        options.Read.Devices = cli::AddressList("--device", "1-31");
    return "";
}

int RunScan(const TScanOptions& options) {
    const TReadOptions& read = options.Read;
    return OverPort(options, [&](IComPort& port, TComPort& serial) {
        FitScanTimeouts(serial, read);
        TConsolePrompt prompt;
        TComPortClass link(port, prompt, ScanTiming());
        ConfigureLink(link, read);
        if (const auto error = OpenLine(port, link, read)) {
            if (read.Json)
                PrintJson(options.Command, read, {}, *error);
            return ExitFailed;
        }
        // The link's words for each address are kept for the summary, not shown one by one.
        prompt.SetOutput(nullptr);
        const auto outcomes = ScanLine(link, prompt, read.Devices);
        link.ClosePort();
        if (read.Json)
            PrintJson(options.Command, read, outcomes, "");
        else
            PrintScan(outcomes, read);
        return ExitOk;
    });
}

} // namespace

extern const TSubCommand ScanCommand = {
    .Name = "scan",
    .Synopsis = "scan --port P",
    .Summary = "list the devices that answer on a line",
    .Usage = "scan --port NAME|PATH [OPTIONS]",
    .About = "Asks every address of LIST once for its newest archive block, with a reply\n"
             "time-out fitted to the line speed instead of the reading's repeats, and lists\n"
             "the devices that answer.\n",
    .Footer = "Exit status 0 when the port opened (whether or not a device answers), 1 when\n"
              "it did not.\n",
    .Make = TCommandLine<TScanOptions, DeclareScan, AcceptScan, RunScan>::Make,
};

} // namespace kve17::ctl
