// collect: the lines of a configuration read one after the other, for schedulers.
#include "serial/StopSignals.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CollectConfig.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlLine.h"
#include "tools/ctl/LineReport.h"
#include "tools/ctl/SubCommand.h"

#include <cstdio>

namespace kve17::ctl {

namespace {

void DeclareCollect(CLI::App& app, TCollectOptions& options) {
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

std::string AcceptCollect(TCollectOptions& options, const std::vector<std::string>& operands) {
    if (std::string fault = NoOperand(operands); !fault.empty())
        return fault;
    if (options.Config.empty())
        return "--config is required";
    return "";
}

bool AllRead(const TLineReading& reading) {
    return reading.Error.empty() && AllOk(reading.Outcomes);
}

void PrintLine(const TCollectLine& line, const TLineReading& reading) {
    std::printf("line %s on %s\n", line.Name.c_str(), line.Options.Read.Port.c_str());
    if (reading.Error.empty())
        PrintReadingTable(reading.Outcomes);
    else
        std::printf("not read: %s\n", reading.Error.c_str());
}

nlohmann::json LineJson(const TCollectLine& line, const TLineReading& reading) {
    nlohmann::json json =
        SummaryJson(TLineJob::Read, line.Options.Read, reading.Outcomes, reading.Error);
    json.erase("command");
    json["line"] = line.Name;
    json["dir"] = Absolute(line.Options.Read.Dir);
    return json;
}

int RunCollect(const TCollectOptions& options) {
    std::string error;
    const auto lines = LoadCollectConfig(options, error);
    if (!lines) {
        Fail(error);
        return ExitUsage;
    }
    nlohmann::json json = nlohmann::json::array();
    int complete = 0;
    bool historyWritten = true;
    for (const TCollectLine& line : *lines) {
        TLineReading reading;
        // A stop signal ends the collection: the lines after it are not begun.
        if (StopSignal() != 0)
            reading.Error = "not begun: the collection was stopped";
        else
            reading = ReadWholeLine(line.Options);
        complete += AllRead(reading) ? 1 : 0;
        historyWritten = historyWritten && AllHistoryWritten(reading.Outcomes);
        if (options.Read.Json) {
            json.push_back(LineJson(line, reading));
        } else {
            if (&line != &lines->front())
                std::printf("\n");
            PrintLine(line, reading);
        }
        SayHistory(line.Options.Read, reading.Outcomes);
        std::fflush(stdout);
    }
    const bool read = complete == static_cast<int>(lines->size());
    const bool ok = read && historyWritten;
    if (options.Read.Json)
        PrintJsonValue({{"command", "collect"},
                        {"config", Absolute(options.Config)},
                        {"ok", ok},
                        {"lines", json}});
    else
        std::printf("\n%d of %zu lines read in full\n", complete, lines->size());
    return !read ? ExitFailed : ok ? ExitOk : ExitHistory;
}

} // namespace

extern const TSubCommand CollectCommand = {
    .Name = "collect",
    .Synopsis = "collect --config FILE",
    .Summary = "read every line and device a configuration lists",
    .Usage = "collect --config FILE [OPTIONS]",
    .About = "Reads the lines of the configuration FILE one after the other, each as a\n"
             "reading of a whole line does: every listed device into its archive file and\n"
             "the history. A line whose port fails does not stop the others; a table per line\n"
             "(or one JSON object) ends the collection. Made for schedulers such as a\n"
             "systemd timer.\n",
    .Footer = "Exit status 0 when every device of every line was read and its history\n"
              "written; 1 when any device or line failed; 2 when the configuration is wrong\n"
              "(its file and line named); 3 when every file was saved but a history was not\n"
              "written (its events are written with the next reading it takes). With --json\n"
              "each device carries \"history\" as `read --json` does, and \"ok\" is false\n"
              "when a history was not written. Any status but 0 fails a systemd service.\n",
    .Make = TCommandLine<TCollectOptions, DeclareCollect, AcceptCollect, RunCollect>::Make,
};

} // namespace kve17::ctl
