// collect: the lines of a configuration read one after the other, for schedulers.
#include "serial/StopSignals.h"
#include "tools/ctl/CollectConfig.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlLine.h"
#include "tools/ctl/LineReport.h"

#include <cstdio>

namespace kve17::ctl {

namespace {

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
        SummaryJson(TCommand::Read, line.Options.Read, reading.Outcomes, reading.Error);
    json.erase("command");
    json["line"] = line.Name;
    json["dir"] = Absolute(line.Options.Read.Dir);
    return json;
}

} // namespace

int RunCollect(const TCtlOptions& options) {
    std::string error;
    const auto lines = LoadCollectConfig(options, error);
    if (!lines) {
        Fail(error);
        return ExitUsage;
    }
    nlohmann::json json = nlohmann::json::array();
    int complete = 0;
    for (const TCollectLine& line : *lines) {
        TLineReading reading;
        // A stop signal ends the collection: the lines after it are not begun.
        if (StopSignal() != 0)
            reading.Error = "not begun: the collection was stopped";
        else
            reading = ReadWholeLine(line.Options);
        complete += AllRead(reading) ? 1 : 0;
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
    const bool ok = complete == static_cast<int>(lines->size());
    if (options.Read.Json)
        PrintJsonValue({{"command", "collect"},
                        {"config", Absolute(options.Config)},
                        {"ok", ok},
                        {"lines", json}});
    else
        std::printf("\n%d of %zu lines read in full\n", complete, lines->size());
    return ok ? ExitOk : ExitFailed;
}

} // namespace kve17::ctl
