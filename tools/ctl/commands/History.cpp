// kve17ctl history: the events or the reading log of the history, as text, CSV or JSON.
#include "history/History.h"

#include "archive/RecordExport.h"
#include "serial/StopSignals.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/LineReport.h"
#include "tools/ctl/SubCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>

namespace kve17::ctl {

namespace {

using history::THistoryEvent;
using history::THistoryGap;
using history::TReadingLogEntry;

// What `history` lists, and from where.
struct THistoryQuery {
    std::string Where; // "" for the default history
    std::string Line;
    int Device = 0;         // 0: every device; the records by the options' Filter
    bool Readings = false;  // the reading log instead of the events
    bool Lines = false;     // the lines and their devices instead of the events
    bool Gaps = false;      // only the gaps
    std::string RenameFrom; // --rename-line: the line to rename to RenameTo
    std::string RenameTo;
};

struct THistoryOptions {
    THistoryQuery History;
    TRecordFilter Filter;
    TCsvOptions Csv;
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
    cli::AddFlag(app, "--gaps", "only the gaps: events the devices overwrote unread", q.Gaps);
    cli::AddFlag(app, "--lines", "the lines, their ports and devices instead of the events",
                 q.Lines);
    AddValue(app, "--rename-line", "NAME", "give the line NAME the name of --to",
             [&](std::string_view v) { q.RenameFrom = v; });
    AddValue(app, "--to", "NEW", "the new name of --rename-line", [&](std::string_view v) {
        if (v.empty())
            Refuse("--to needs a name");
        q.RenameTo = v;
    });
    DeclareCsv(app, options.Csv);
    cli::AddFlag(app, "--json", "a JSON array", options.Json);
}

std::string AcceptHistoryQuery(THistoryOptions& options, const std::vector<std::string>& operands) {
    const THistoryQuery& q = options.History;
    if (q.RenameFrom.empty() != q.RenameTo.empty())
        return "--rename-line and --to go together";
    if (q.Readings + q.Lines + q.Gaps + !q.RenameFrom.empty() > 1)
        return "--readings, --gaps, --lines and --rename-line exclude each other";
    if (std::string fault = NoOperand(operands); !fault.empty())
        return fault;
    return CsvFault(options.Csv, options.Json);
}

// "2026-12-08T19:55:00Z" as the local time "2026-12-09 05:55:00 +1000"; as it is when it is no
// such text.
std::string LocalText(const std::string& utc) {
    std::tm tm{};
    const char* end = ::strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (end == nullptr || *end != '\0')
        return utc;
    const std::time_t t = ::timegm(&tm);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

// The UTC instant ("2026-12-08T14:00:00Z") at which the local day `days` after `day` begins.
std::string LocalDayStart(TDay day, int days) {
    std::tm tm{};
    tm.tm_year = day / 10000 - 1900;
    tm.tm_mon = day / 100 % 100 - 1;
    tm.tm_mday = day % 100 + days;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The shared record filter as the history's query; the reading log's days are local days.
history::THistoryFilter FilterOf(const THistoryOptions& options) {
    history::THistoryFilter f = history::HistoryFilter(options.Filter);
    f.Line = options.History.Line;
    f.Address = options.History.Device;
    if (options.History.Readings) {
        f.Since.clear();
        f.Until.clear();
        if (options.Filter.Since)
            f.AtFrom = LocalDayStart(*options.Filter.Since, 0);
        if (options.Filter.Until)
            f.AtBefore = LocalDayStart(*options.Filter.Until, 1);
    }
    return f;
}

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json() : nlohmann::json(text);
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

// The rows of a listing in the format asked for, a row at a time: a listing of any length in
// the memory of one row. False once stdout fails (a reader that went away ends the listing).
class TListingOut {
public:
    TListingOut(const THistoryOptions& options, const std::vector<std::string>& header)
        : csv_(options.Csv) {
        if (options.Json)
            json_.emplace();
        else if (csv_.Csv)
            Csv(header);
    }
    bool Row(const std::vector<std::string>& csv, const nlohmann::json& json,
             const std::string& text) {
        if (json_)
            json_->Add(json);
        else if (csv_.Csv)
            Csv(csv);
        else
            std::printf("%s\n", text.c_str());
        return std::ferror(stdout) == 0;
    }

private:
    void Csv(const std::vector<std::string>& fields) {
        std::fputs(CsvRow(fields, csv_.Separator).c_str(), stdout);
    }

    TCsvOptions csv_;
    std::optional<TJsonArrayOut> json_;
};

// printf into a string of any length (names and paths are as long as they are).
std::string Format(const char* format, auto... values) {
    std::string text(static_cast<std::size_t>(std::snprintf(nullptr, 0, format, values...)), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

const std::vector<std::string> EventColumns = {
    "line",    "device", "seq",       "time",       "code",       "detail",
    "invalid", "gap",    "after_seq", "before_seq", "after_time", "before_time"};

bool PrintEvent(TListingOut& out, const THistoryEvent& e, const TEventDictionary* names) {
    const auto n = [](auto v) { return std::to_string(v); };
    std::vector<std::string> csv = {e.Line,
                                    n(e.Address),
                                    n(e.Seq),
                                    e.Stamp,
                                    n(e.Record.Code),
                                    n(e.Record.Detail),
                                    n(e.Invalid ? 1 : 0),
                                    "0",
                                    "",
                                    "",
                                    "",
                                    ""};
    nlohmann::json json = {{"line", e.Line},        {"device", e.Address},
                           {"seq", e.Seq},          {"time", TextOrNull(e.Stamp)},
                           {"code", e.Record.Code}, {"detail", e.Record.Detail},
                           {"invalid", e.Invalid}};
    if (names) {
        const auto [name, severity] = NameCells(names, e.Record.Code);
        csv.insert(csv.end(), {name, severity});
        json["name"] = TextOrNull(name);
        json["severity"] = TextOrNull(severity);
    }
    return out.Row(csv, json,
                   Format("%s  device %d  %-19s  code %3d  detail %3d%s", e.Line.c_str(), e.Address,
                          e.Stamp.empty() ? "-" : e.Stamp.c_str(), e.Record.Code, e.Record.Detail,
                          e.Invalid ? "  invalid" : "") +
                       EventNameText(names, e.Record.Code));
}

// A gap lies after event AfterSeq and before AfterSeq + 1 (THistoryGap::Before and After are
// their times).
nlohmann::json GapJson(const THistoryGap& g) {
    return {{"gap", true},
            {"line", g.Line},
            {"device", g.Address},
            {"after_seq", g.AfterSeq},
            {"before_seq", g.AfterSeq + 1},
            {"after_time", TextOrNull(g.Before)},
            {"before_time", TextOrNull(g.After)},
            {"found_at", g.FoundAt},
            {"file", g.File}};
}

std::string GapText(const THistoryGap& g) {
    return Format("%s  device %d  -- gap: events overwritten unread, after seq %lld (%s) and "
                  "before seq %lld (%s)",
                  g.Line.c_str(), g.Address, static_cast<long long>(g.AfterSeq),
                  g.Before.empty() ? "-" : g.Before.c_str(), static_cast<long long>(g.AfterSeq + 1),
                  g.After.empty() ? "-" : g.After.c_str());
}

bool PrintGapInListing(TListingOut& out, const THistoryGap& g, bool named) {
    std::vector<std::string> csv = {g.Line,
                                    std::to_string(g.Address),
                                    "",
                                    "",
                                    "",
                                    "",
                                    "",
                                    "1",
                                    std::to_string(g.AfterSeq),
                                    std::to_string(g.AfterSeq + 1),
                                    g.Before,
                                    g.After};
    if (named)
        csv.insert(csv.end(), {"", ""});
    return out.Row(csv, GapJson(g), GapText(g));
}

void PrintListing(history::THistory& h, const THistoryOptions& options) {
    // With a dictionary kept, the code's name and severity follow each event.
    const TEventDictionary* names = EventNames();
    std::vector<std::string> columns = EventColumns;
    if (names)
        columns.insert(columns.end(), {"name", "severity"});
    TListingOut out(options, columns);
    h.StreamListing(FilterOf(options), [&](const history::THistoryItem& item) {
        if (const auto* gap = std::get_if<THistoryGap>(&item))
            return PrintGapInListing(out, *gap, names != nullptr);
        return PrintEvent(out, std::get<THistoryEvent>(item), names);
    });
}

void PrintGaps(history::THistory& h, const THistoryOptions& options) {
    TListingOut out(options, {"line", "device", "after_seq", "before_seq", "after_time",
                              "before_time", "found_at", "file"});
    for (const THistoryGap& g : h.Gaps(FilterOf(options)))
        if (!out.Row({g.Line, std::to_string(g.Address), std::to_string(g.AfterSeq),
                      std::to_string(g.AfterSeq + 1), g.Before, g.After, g.FoundAt, g.File},
                     GapJson(g),
                     GapText(g) +
                         Format("; found %s in %s", LocalText(g.FoundAt).c_str(), g.File.c_str())))
            return;
}

// The log's times are UTC; a person reads them in local time, a program as they are.
void PrintReadings(history::THistory& h, const THistoryOptions& options) {
    TListingOut out(options, {"at", "line", "device", "port", "file", "mode", "found", "added",
                              "result", "ok", "offered", "gap", "warning"});
    h.StreamReadings(FilterOf(options), [&out](const TReadingLogEntry& r) {
        const auto n = [](auto v) { return std::to_string(v); };
        return out.Row({r.At, r.Line, n(r.Address), r.Port, r.File, r.Mode, n(r.Found), n(r.Added),
                        r.Result, n(r.Ok ? 1 : 0), n(r.Offered), n(r.Gap ? 1 : 0),
                        n(r.Warning ? 1 : 0)},
                       {{"at", r.At},
                        {"line", r.Line},
                        {"device", r.Address},
                        {"port", r.Port},
                        {"file", r.File},
                        {"mode", r.Mode},
                        {"found", r.Found},
                        {"added", r.Added},
                        {"result", r.Result},
                        {"ok", r.Ok},
                        {"offered", r.Offered},
                        {"gap", r.Gap},
                        {"warning", r.Warning}},
                       Format("%s  %s  device %d  %s  %d new, %d added  %s  %s",
                              LocalText(r.At).c_str(), r.Line.c_str(), r.Address, r.Mode.c_str(),
                              r.Found, r.Added, r.File.c_str(), r.Result.c_str()));
    });
}

void PrintLines(const std::vector<history::TLineInfo>& lines, const THistoryOptions& options) {
    TListingOut out(options, {"line", "port", "devices"});
    for (const auto& l : lines) {
        std::string devices;
        for (int a : l.Addresses)
            devices += (devices.empty() ? "" : " ") + std::to_string(a);
        if (!out.Row(
                {l.Name, l.Port, devices},
                {{"line", l.Name}, {"port", l.Port}, {"devices", l.Addresses}},
                Format("%s  port %s  devices %s", l.Name.c_str(), l.Port.c_str(), devices.c_str())))
            return;
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

// What the listing on stdout came to: status 1, said, when it could not be written whole.
int ListingWritten() {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return ExitOk;
    if (errno != EPIPE)
        std::fprintf(stderr, "kve17ctl: the listing could not be written: %s\n",
                     std::strerror(errno));
    return ExitFailed;
}

int RunHistory(const THistoryOptions& options) {
    const THistoryQuery& q = options.History;
    try {
        const std::string where = q.Where.empty() ? history::DefaultHistoryPath() : q.Where;
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
            PrintReadings(h, options);
        } else if (q.Gaps) {
            PrintGaps(h, options);
        } else {
            PrintListing(h, options);
        }
    } catch (const std::exception& e) {
        // The history's own failures, and the file system's (a folder that cannot be looked at).
        std::fprintf(stderr, "kve17ctl: %s\n", e.what());
        return ExitFailed;
    }
    return ListingWritten();
}

} // namespace

extern const TSubCommand HistoryCommand = {
    .Name = "history",
    .Synopsis = "history [OPTIONS]",
    .Summary = "list events or readings from the event history",
    .Usage = "history [OPTIONS]",
    .About = "Lists the events of the history, newest first per device (devices by line and\n"
             "number), each gap in its place: events the device overwrote before they were\n"
             "read, between the two known events around it (JSON: an object with \"gap\":\n"
             "true, after_seq, before_seq, after_time, before_time; CSV: a row with gap 1).\n"
             "With --gaps only the gaps, with --readings the log of the readings, newest\n"
             "first.\n",
    .Footer = "Times: an event's time is the device's own clock, as it stands in the archive,\n"
              "with no time zone. The reading log is kept in UTC: --readings shows it in\n"
              "local time, its JSON and CSV in UTC (\"2026-12-08T19:55:00Z\"), and its --since\n"
              "and --until are local days. For the events a date bound is the device's day\n"
              "and leaves out events without a readable date.\n"
              "Exit status 1 when the history cannot be opened or read, or the listing\n"
              "cannot be written.\n",
    .Make =
        TCommandLine<THistoryOptions, DeclareHistoryQuery, AcceptHistoryQuery, RunHistory>::Make,
};

} // namespace kve17::ctl
