#include "history/History.h"

#include "history/HistorySchema.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>

namespace kve17::history {

namespace {

// A device's last events are what a reading can overlap: its archive holds no more.
constexpr int TailEvents = SlotCount;

using TParams = std::vector<TValue>;

std::int64_t Int(const std::optional<std::string>& text) {
    std::int64_t value = 0;
    if (text)
        std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

std::string Text(const std::optional<std::string>& text) {
    return text.value_or("");
}

std::string UtcText(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// The day after "YYYY-MM-DD", for a range that includes the whole last day.
std::string NextDay(const std::string& day) {
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    if (std::sscanf(day.c_str(), "%d-%u-%u", &y, &m, &d) != 3)
        throw EHistory("неверная дата " + day + " (нужна ГГГГ-ММ-ДД)");
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{m},
                                          std::chrono::day{d}};
    if (!ymd.ok())
        throw EHistory("неверная дата " + day + " (нужна ГГГГ-ММ-ДД)");
    const std::chrono::year_month_day next{std::chrono::sys_days{ymd} + std::chrono::days{1}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(next.year()),
                  static_cast<unsigned>(next.month()), static_cast<unsigned>(next.day()));
    return text;
}

// A column's value as at least two digits, as the record table writes it.
std::string TwoDigits(const std::string& column) {
    return "(CASE WHEN " + column + " < 10 THEN '0' ELSE '' END || " + column + ")";
}

// The condition that `text` is found in one of an event's column texts (see RowTexts): the
// number, date and time by LIKE on texts built as the table builds them, the code, detail and
// state by the values whose text holds it.
std::string TextCondition(const THistoryFilter& f,
                          const std::function<std::string(TValue)>& param) {
    std::string pattern = "%";
    for (const char c : f.Text) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    pattern += '%';
    const std::string like = " LIKE " + param(pattern) + " ESCAPE '\\'";
    const std::string newest =
        f.UpToSeq > 0 ? param(f.UpToSeq)
                      : "(SELECT max(s.seq) FROM events s WHERE s.device_id = e.device_id)";
    std::vector<std::string> any = {"CAST((" + newest + " - e.seq + 1) AS TEXT)" + like,
                                    TwoDigits("e.day") + " || '.' || " + TwoDigits("e.month") +
                                        " || '.' || " + TwoDigits("e.year") + like,
                                    TwoDigits("e.hour") + " || ':' || " + TwoDigits("e.minute") +
                                        " || ':' || " + TwoDigits("e.second") + like};
    // A code and a detail show their values alike.
    std::string values;
    int count = 0;
    for (int value = 0; value <= 0xFF; ++value)
        if (ContainsText(ValueText(static_cast<std::uint8_t>(value)), f.Text))
            values += (count++ ? ", " : "") + std::to_string(value);
    if (count == 0x100)
        return "1=1";
    if (count > 0)
        for (const char* column : {"e.code", "e.detail"})
            any.push_back(std::string(column) + " IN (" + values + ")");
    if (ContainsText(InvalidText, f.Text))
        any.push_back("e.invalid = 1");
    std::string condition;
    for (const std::string& one : any)
        condition += (condition.empty() ? "(" : " OR ") + one;
    return condition + ")";
}

// The WHERE clause of a filter over events e, devices d and lines l, with its parameters.
std::string EventConditions(const THistoryFilter& f, TParams& params, const char* stamp) {
    std::string where = " WHERE 1=1";
    const auto param = [&params](TValue value) {
        params.push_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    if (!f.Line.empty())
        where += " AND l.name = " + param(f.Line);
    if (f.Address != 0)
        where += " AND d.address = " + param(std::int64_t{f.Address});
    if (!f.Since.empty()) {
        NextDay(f.Since); // checks it
        where += std::string(" AND ") + stamp + " >= " + param(f.Since);
    }
    if (!f.Until.empty())
        where += std::string(" AND ") + stamp + " < " + param(NextDay(f.Until));
    if (!f.Codes.empty()) {
        where += " AND e.code IN (";
        for (std::size_t i = 0; i < f.Codes.size(); ++i)
            where += (i ? ", " : "") + param(std::int64_t{f.Codes[i]});
        where += ")";
    }
    if (f.OnlyInvalid)
        where += " AND e.invalid = 1";
    if (f.UpToSeq > 0)
        where += " AND e.seq <= " + param(f.UpToSeq);
    if (!f.Text.empty())
        where += " AND " + TextCondition(f, param);
    return where;
}

// Each device by itself, in the order of the column; equal keys newest first, as in a table
// sorted by that column.
std::string Order(const THistoryFilter& f) {
    const std::string dir = f.Descending ? " DESC" : "";
    const std::string day =
        "CASE WHEN e.stamp IS NULL THEN 0 ELSE e.year * 10000 + e.month * 100 + e.day END" + dir;
    const std::string time = "e.hour" + dir + ", e.minute" + dir + ", e.second" + dir;
    std::string keys;
    switch (f.OrderBy) {
    case ColDate:
        keys = day + ", " + time + ", ";
        break;
    case ColTime:
        keys = time + ", " + day + ", ";
        break;
    case ColCode:
        keys = "e.code" + dir + ", ";
        break;
    case ColDetail:
        keys = "e.detail" + dir + ", ";
        break;
    case ColState:
        keys = "e.invalid" + dir + ", ";
        break;
    default:
        return std::string(" ORDER BY l.name, d.address, e.seq") + (f.Descending ? "" : " DESC");
    }
    return " ORDER BY l.name, d.address, " + keys + "e.seq DESC";
}

std::string Page(const THistoryFilter& f) {
    std::string page;
    if (f.Limit > 0)
        page += " LIMIT " + std::to_string(f.Limit);
    else if (f.Offset > 0)
        page += " LIMIT 9223372036854775807";
    if (f.Offset > 0)
        page += " OFFSET " + std::to_string(f.Offset);
    return page;
}

constexpr const char* EventColumns =
    "e.code, e.detail, e.second, e.minute, e.hour, e.day, e.month, e.year";

TArchiveRecord RecordOf(const TRow& row, std::size_t first) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(Int(row[first + i])); };
    return {byte(0), byte(1), byte(2), byte(3), byte(4), byte(5), byte(6), byte(7)};
}

// How many of the reading's records (newest first) are newer than the device's history.
std::size_t NewerThanHistory(const std::vector<TArchiveRecord>& tail,
                             const std::vector<TListedRecord>& records) {
    if (tail.empty() || records.empty())
        return records.size();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (SameEvent(tail.front(), records[i].Record))
            return i;
    // The history's newest is not among them: a reading older than the history brings nothing
    // new; one that has nothing in common with it brings all.
    for (const TArchiveRecord& stored : tail)
        if (SameEvent(stored, records.front().Record))
            return 0;
    return records.size();
}

} // namespace

std::string EventStamp(const TArchiveRecord& r) {
    const std::chrono::year_month_day date{std::chrono::year{2000 + r.Year},
                                           std::chrono::month{r.Month}, std::chrono::day{r.Day}};
    if (r.Year < 1 || r.Year > 99 || !date.ok())
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "20%02u-%02u-%02u", r.Year, r.Month, r.Day);
    std::string stamp = text;
    if (r.Hour < 24 && r.Minute < 60 && r.Second < 60) {
        std::snprintf(text, sizeof text, " %02u:%02u:%02u", r.Hour, r.Minute, r.Second);
        stamp += text;
    }
    return stamp;
}

THistoryFilter HistoryFilter(const TRecordFilter& filter) {
    const auto iso = [](TDay day) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
        return std::string(text);
    };
    THistoryFilter f;
    if (filter.Since)
        f.Since = iso(*filter.Since);
    if (filter.Until)
        f.Until = iso(*filter.Until);
    f.Codes.assign(filter.Codes.begin(), filter.Codes.end());
    f.OnlyInvalid = filter.OnlyInvalid;
    f.Text = filter.Text;
    return f;
}

THistory::THistory(std::unique_ptr<IHistoryConnection> db) : db_(std::move(db)) {
    PrepareSchema(*db_);
}

THistory THistory::Open(const std::string& where) {
    return THistory(OpenHistoryConnection(where));
}

namespace {

std::int64_t LineId(IHistoryConnection& db, const std::string& name, const std::string& port) {
    if (name.empty()) {
        // The port's own line, or the line it was renamed to.
        for (const char* sql : {"SELECT id FROM lines WHERE name = $1",
                                "SELECT id FROM lines WHERE port = $1 ORDER BY id LIMIT 1"}) {
            const TParams params{port};
            if (const auto rows = db.Query(sql, params); !rows.empty())
                return Int(rows[0][0]);
        }
    }
    const TParams params{name.empty() ? port : name, port};
    return Int(db.Query("INSERT INTO lines (name, port) VALUES ($1, $2) ON CONFLICT (name) DO "
                        "UPDATE SET port = excluded.port RETURNING id",
                        params)[0][0]);
}

std::int64_t DeviceId(IHistoryConnection& db, std::int64_t line, int address) {
    const TParams params{line, std::int64_t{address}};
    db.Execute("INSERT INTO devices (line_id, address) VALUES ($1, $2) ON CONFLICT (line_id, "
               "address) DO NOTHING",
               params);
    // On the server the device's row is the lock that orders two collectors of one device.
    const bool server = db.Dialect() == TDialect::Postgres;
    return Int(db.Query(server ? "SELECT id FROM devices WHERE line_id = $1 AND address = $2 "
                                 "FOR UPDATE"
                               : "SELECT id FROM devices WHERE line_id = $1 AND address = $2",
                        params)[0][0]);
}

int AppendIn(IHistoryConnection& db, const THistoryReading& reading) {
    const std::int64_t device =
        DeviceId(db, LineId(db, reading.Line, reading.Port), reading.Address);
    const TParams tailParams{device, std::int64_t{TailEvents}};
    const auto tailRows = db.Query(std::string("SELECT e.seq, ") + EventColumns +
                                       " FROM events e WHERE e.device_id = $1"
                                       " ORDER BY e.seq DESC LIMIT $2",
                                   tailParams);
    std::vector<TArchiveRecord> tail;
    for (const TRow& row : tailRows)
        tail.push_back(RecordOf(row, 1));
    const std::size_t added = NewerThanHistory(tail, reading.Records);

    const TParams log{UtcText(reading.At),
                      device,
                      reading.Port,
                      reading.File,
                      std::string(reading.Mode == TReadingMode::Fresh ? "fresh" : "incremental"),
                      static_cast<std::int64_t>(reading.Records.size()),
                      static_cast<std::int64_t>(added),
                      reading.Result};
    const std::int64_t readingId =
        Int(db.Query("INSERT INTO readings (at, device_id, port, file, mode, found, added, "
                     "result) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) RETURNING id",
                     log)[0][0]);
    std::int64_t seq = tailRows.empty() ? 0 : Int(tailRows[0][0]);
    std::map<std::string, std::int64_t> perDay;
    for (std::size_t i = added; i-- > 0;) {
        const TListedRecord& listed = reading.Records[i];
        const TArchiveRecord& r = listed.Record;
        const std::string stamp = EventStamp(r);
        if (!stamp.empty())
            ++perDay[stamp.substr(0, 10)];
        const TParams event{device,
                            ++seq,
                            readingId,
                            std::int64_t{r.Code},
                            std::int64_t{r.Detail},
                            std::int64_t{r.Second},
                            std::int64_t{r.Minute},
                            std::int64_t{r.Hour},
                            std::int64_t{r.Day},
                            std::int64_t{r.Month},
                            std::int64_t{r.Year},
                            stamp.empty() ? TValue{nullptr} : TValue{stamp},
                            std::int64_t{listed.Invalid ? 1 : 0}};
        db.Execute("INSERT INTO events (device_id, seq, reading_id, code, detail, second, "
                   "minute, hour, day, month, year, stamp, invalid) VALUES ($1, $2, $3, $4, $5, "
                   "$6, $7, $8, $9, $10, $11, $12, $13)",
                   event);
    }
    for (const auto& [day, count] : perDay) {
        const TParams params{device, day, count};
        db.Execute("INSERT INTO event_days (device_id, day, events) VALUES ($1, $2, $3)"
                   " ON CONFLICT (device_id, day) DO UPDATE SET events = event_days.events + "
                   "excluded.events",
                   params);
    }
    return static_cast<int>(added);
}

} // namespace

int THistory::Append(const THistoryReading& reading) {
    db_->BeginWrite();
    try {
        const int added = AppendIn(*db_, reading);
        db_->Commit();
        return added;
    } catch (...) {
        db_->Rollback();
        throw;
    }
}

void THistory::RenameLine(const std::string& from, const std::string& to) {
    if (to.empty())
        throw EHistory("имя линии не может быть пустым");
    db_->BeginWrite();
    try {
        const TParams target{to};
        if (from != to && !db_->Query("SELECT id FROM lines WHERE name = $1", target).empty())
            throw EHistory("линия \"" + to + "\" уже есть в истории");
        const TParams source{from};
        if (db_->Query("SELECT id FROM lines WHERE name = $1", source).empty())
            throw EHistory("линии \"" + from + "\" нет в истории");
        const TParams params{to, from};
        db_->Execute("UPDATE lines SET name = $1 WHERE name = $2", params);
        db_->Commit();
    } catch (...) {
        db_->Rollback();
        throw;
    }
}

std::vector<TLineInfo> THistory::Lines() {
    std::vector<TLineInfo> lines;
    const auto rows = db_->Query("SELECT l.name, l.port, d.address FROM lines l LEFT JOIN devices "
                                 "d ON d.line_id = l.id ORDER BY l.name, d.address");
    for (const TRow& row : rows) {
        if (lines.empty() || lines.back().Name != Text(row[0]))
            lines.push_back({Text(row[0]), Text(row[1]), {}});
        if (row[2])
            lines.back().Addresses.push_back(static_cast<int>(Int(row[2])));
    }
    return lines;
}

std::vector<THistoryEvent> THistory::Events(const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(filter, params, "e.stamp");
    const auto rows = db_->Query(std::string("SELECT l.name, d.address, e.seq, e.stamp, "
                                             "e.invalid, ") +
                                     EventColumns +
                                     " FROM events e JOIN devices d ON d.id = e.device_id"
                                     " JOIN lines l ON l.id = d.line_id" +
                                     where + Order(filter) + Page(filter),
                                 params);
    std::vector<THistoryEvent> events;
    events.reserve(rows.size());
    for (const TRow& row : rows)
        events.push_back({Text(row[0]), static_cast<int>(Int(row[1])), Int(row[2]),
                          RecordOf(row, 5), Text(row[3]), Int(row[4]) != 0});
    return events;
}

std::int64_t THistory::CountEvents(const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(filter, params, "e.stamp");
    return Int(db_->Query("SELECT count(*) FROM events e JOIN devices d ON d.id = e.device_id"
                          " JOIN lines l ON l.id = d.line_id" +
                              where,
                          params)[0][0]);
}

THistorySummary THistory::Summary(const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(filter, params, "e.stamp");
    const TRow row = db_->Query("SELECT count(*), sum(e.invalid), min(e.stamp), max(e.stamp)"
                                " FROM events e JOIN devices d ON d.id = e.device_id"
                                " JOIN lines l ON l.id = d.line_id" +
                                    where,
                                params)[0];
    return {Int(row[0]), Int(row[1]), Text(row[2]).substr(0, 10), Text(row[3]).substr(0, 10)};
}

std::vector<TCodeCount> THistory::CodeCounts(const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(filter, params, "e.stamp");
    const auto rows = db_->Query("SELECT e.code, count(*) FROM events e"
                                 " JOIN devices d ON d.id = e.device_id"
                                 " JOIN lines l ON l.id = d.line_id" +
                                     where + " GROUP BY e.code ORDER BY e.code",
                                 params);
    std::vector<TCodeCount> codes;
    for (const TRow& row : rows)
        codes.push_back({static_cast<int>(Int(row[0])), Int(row[1])});
    return codes;
}

std::int64_t THistory::NewestSeq(const std::string& line, int address) {
    const TParams params{line, std::int64_t{address}};
    return Int(db_->Query("SELECT max(seq) FROM events WHERE device_id = (SELECT d.id FROM devices"
                          " d JOIN lines l ON l.id = d.line_id WHERE l.name = $1 AND d.address = "
                          "$2)",
                          params)[0][0]);
}

std::vector<TDayCount> THistory::DayCounts(const THistoryFilter& filter) {
    TParams params;
    std::string sql;
    if (filter.Codes.empty() && !filter.OnlyInvalid && filter.Text.empty() && filter.UpToSeq == 0) {
        // Only line, device and dates: the kept counts answer.
        sql = "SELECT e.day, sum(e.events) FROM event_days e"
              " JOIN devices d ON d.id = e.device_id JOIN lines l ON l.id = d.line_id" +
              EventConditions(filter, params, "e.day");
    } else {
        sql = "SELECT substr(e.stamp, 1, 10), count(*) FROM events e"
              " JOIN devices d ON d.id = e.device_id JOIN lines l ON l.id = d.line_id" +
              EventConditions(filter, params, "e.stamp") + " AND e.stamp IS NOT NULL";
    }
    const auto rows = db_->Query(sql + " GROUP BY 1 ORDER BY 1", params);
    std::vector<TDayCount> days;
    for (const TRow& row : rows)
        days.push_back({Text(row[0]), Int(row[1])});
    return days;
}

std::vector<TReadingLogEntry> THistory::Readings(const THistoryFilter& filter) {
    THistoryFilter f = filter;
    f.Codes.clear();
    f.OnlyInvalid = false;
    f.Text.clear();
    f.UpToSeq = 0;
    TParams params;
    const std::string where = EventConditions(f, params, "r.at");
    const auto rows = db_->Query(
        "SELECT r.at, l.name, d.address, r.port, r.file, r.mode, r.found, r.added, r.result"
        " FROM readings r JOIN devices d ON d.id = r.device_id JOIN lines l ON l.id = d.line_id" +
            where + " ORDER BY r.id DESC" + Page(filter),
        params);
    std::vector<TReadingLogEntry> log;
    for (const TRow& row : rows)
        log.push_back({
            Text(row[0]),
            Text(row[1]),
            static_cast<int>(Int(row[2])),
            Text(row[3]),
            Text(row[4]),
            Text(row[5]),
            static_cast<int>(Int(row[6])),
            static_cast<int>(Int(row[7])),
            Text(row[8]),
        });
    return log;
}

} // namespace kve17::history
