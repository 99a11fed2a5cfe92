// kve17ctl history: the events or the reading log of the history, as text, CSV or JSON.
#include "history/History.h"

#include "archive/RecordExport.h"
#include "serial/StopSignals.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/LineReport.h"
#include "tools/ctl/SubCommand.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>

namespace kve17::ctl {

namespace {

using history::THistoryEvent;
using history::TReadingLogEntry;

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

struct THistoryOptions {
    THistoryQuery History;
    TRecordFilter Filter;
    bool Csv = false;
    bool Json = false;
};

void DeclareHistoryQuery(CLI::App& app, THistoryOptions& options) {
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
    DeclareFilter(app, options.Filter);
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

std::string AcceptHistoryQuery(THistoryOptions& options, const std::vector<std::string>& operands) {
    const THistoryQuery& q = options.History;
    if (q.RenameFrom.empty() != q.RenameTo.empty())
        return "--rename-line and --to go together";
    if (q.Readings + q.Lines + !q.RenameFrom.empty() > 1)
        return "--readings, --lines and --rename-line exclude each other";
    if (std::string fault = NoOperand(operands); !fault.empty())
        return fault;
    if (options.Csv && options.Json)
        return "--csv and --json exclude each other";
    return "";
}

// The shared record filter as the history's query.
history::THistoryFilter FilterOf(const THistoryOptions& options) {
    history::THistoryFilter f = history::HistoryFilter(options.Filter);
    f.Line = options.History.Line;
    f.Address = options.History.Device;
    return f;
}

// One JSON array printed an element at a time, as PrintJsonValue would print it whole.
class TJsonArrayOut {
public:
    ~TJsonArrayOut() { std::printf(count_ == 0 ? "[]\n" : "\n]\n"); }
    void Add(const nlohmann::json& element) {
        std::string text = element.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        for (std::size_t at = text.find('\n'); at != std::string::npos;
             at = text.find('\n', at + 3))
            text.replace(at, 1, "\n  ");
        std::printf("%s  %s", count_++ == 0 ? "[\n" : ",\n", text.c_str());
    }

private:
    std::size_t count_ = 0;
};

// A row at a time: a listing of any length in the memory of one event.
void PrintEvents(history::THistory& h, const THistoryOptions& options) {
    std::optional<TJsonArrayOut> json;
    if (options.Json)
        json.emplace();
    else if (options.Csv)
        std::printf("line,device,seq,time,code,detail,invalid\n");
    h.StreamEvents(FilterOf(options), [&](const THistoryEvent& e) {
        if (json)
            json->Add({{"line", e.Line},
                       {"device", e.Address},
                       {"seq", e.Seq},
                       {"time", e.Stamp.empty() ? nlohmann::json() : nlohmann::json(e.Stamp)},
                       {"code", e.Record.Code},
                       {"detail", e.Record.Detail},
                       {"invalid", e.Invalid}});
        else if (options.Csv)
            std::printf("%s,%d,%lld,%s,%d,%d,%d\n", CsvField(e.Line, ',').c_str(), e.Address,
                        static_cast<long long>(e.Seq), e.Stamp.c_str(), e.Record.Code,
                        e.Record.Detail, e.Invalid ? 1 : 0);
        else
            std::printf("%s  device %d  %-19s  code %3d  detail %3d%s\n", e.Line.c_str(), e.Address,
                        e.Stamp.empty() ? "-" : e.Stamp.c_str(), e.Record.Code, e.Record.Detail,
                        e.Invalid ? "  invalid" : "");
        // A reader that went away (a closed pipe) ends the listing.
        return std::ferror(stdout) == 0;
    });
}

void PrintReadings(const std::vector<TReadingLogEntry>& log, const THistoryOptions& options) {
    if (options.Json) {
        auto array = nlohmann::json::array();
        for (const auto& r : log)
            array.push_back({{"at", r.At},
                             {"line", r.Line},
                             {"device", r.Address},
                             {"port", r.Port},
                             {"file", r.File},
                             {"mode", r.Mode},
                             {"found", r.Found},
                             {"added", r.Added},
                             {"result", r.Result}});
        PrintJsonValue(array);
        return;
    }
    if (options.Csv)
        std::printf("at,line,device,port,file,mode,found,added,result\n");
    for (const auto& r : log) {
        if (options.Csv)
            std::printf("%s,%s,%d,%s,%s,%s,%d,%d,%s\n", r.At.c_str(), CsvField(r.Line, ',').c_str(),
                        r.Address, CsvField(r.Port, ',').c_str(), CsvField(r.File, ',').c_str(),
                        r.Mode.c_str(), r.Found, r.Added, CsvField(r.Result, ',').c_str());
        else
            std::printf("%s  %s  device %d  %s  %d new, %d added  %s  %s\n", r.At.c_str(),
                        r.Line.c_str(), r.Address, r.Mode.c_str(), r.Found, r.Added, r.File.c_str(),
                        r.Result.c_str());
    }
}

void PrintLines(const std::vector<history::TLineInfo>& lines, const THistoryOptions& options) {
    if (options.Json) {
        auto array = nlohmann::json::array();
        for (const auto& l : lines)
            array.push_back({{"line", l.Name}, {"port", l.Port}, {"devices", l.Addresses}});
        PrintJsonValue(array);
        return;
    }
    if (options.Csv)
        std::printf("line,port,devices\n");
    for (const auto& l : lines) {
        std::string devices;
        for (int a : l.Addresses)
            devices += (devices.empty() ? "" : " ") + std::to_string(a);
        if (options.Csv)
            std::printf("%s,%s,%s\n", CsvField(l.Name, ',').c_str(), CsvField(l.Port, ',').c_str(),
                        devices.c_str());
        else
            std::printf("%s  port %s  devices %s\n", l.Name.c_str(), l.Port.c_str(),
                        devices.c_str());
    }
}

// True when the history file is there; else says why not on stderr (missing, or a path that
// cannot be looked at).
bool HistoryFileFound(const std::string& where) {
    std::error_code ec;
    const bool found = std::filesystem::exists(where, ec);
    if (ec)
        std::fprintf(stderr, "kve17ctl: историю %s не удается проверить: %s\n", where.c_str(),
                     ec.message().c_str());
    else if (!found)
        std::fprintf(stderr, "kve17ctl: истории %s нет\n", where.c_str());
    return found && !ec;
}

int RunHistory(const THistoryOptions& options) {
    const THistoryQuery& q = options.History;
    const std::string where = q.Where.empty() ? history::DefaultHistoryPath() : q.Where;
    try {
        // Reading a history that is not there makes none.
        if (!history::IsServerLocation(where) && !HistoryFileFound(where))
            return ExitFailed;
        history::TConnectionOptions connection;
        connection.StopFd = StopSignalFd();
        history::THistory h = history::THistory::Open(where, connection);
        if (!q.RenameFrom.empty()) {
            h.RenameLine(q.RenameFrom, q.RenameTo);
            std::printf("line \"%s\" is now \"%s\"\n", q.RenameFrom.c_str(), q.RenameTo.c_str());
        } else if (q.Lines) {
            PrintLines(h.Lines(), options);
        } else if (q.Readings) {
            PrintReadings(h.Readings(FilterOf(options)), options);
        } else {
            PrintEvents(h, options);
        }
    } catch (const history::EHistory& e) {
        std::fprintf(stderr, "kve17ctl: %s\n", e.what());
        return ExitFailed;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFailed;
}

} // namespace

extern const TSubCommand HistoryCommand = {
    .Name = "history",
    .Synopsis = "history [OPTIONS]",
    .Summary = "list events or readings from the event history",
    .Usage = "history [OPTIONS]",
    .About = "Lists the events of the history, newest first per device (devices by line and\n"
             "number), or with --readings the log of the readings, newest first.\n",
    .Footer = "A date bound leaves out events without a readable date.\n",
    .Make =
        TCommandLine<THistoryOptions, DeclareHistoryQuery, AcceptHistoryQuery, RunHistory>::Make,
};

} // namespace kve17::ctl
