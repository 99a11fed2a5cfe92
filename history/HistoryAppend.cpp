#include "history/HistoryAppend.h"

#include "history/EventJoin.h"
#include "history/HistoryRows.h"

#include <algorithm>
#include <map>
#include <optional>

namespace kve17::history {

namespace {

// A device's last events are what a file can overlap: its archive holds no more.
constexpr int TailEvents = SlotCount;

// Serialises the collectors of one server that change lines (any fixed number will do).
constexpr const char* LinesLockSql = "SELECT pg_advisory_xact_lock(1717018)";

// --- Lines: a line is a place; a name given by the operator selects it and takes the place.

struct TLine {
    std::int64_t Id = 0;
    std::string Port;
    std::optional<std::string> Place;
};

std::optional<TLine> FindLine(IHistoryConnection& db, const char* condition, const TValue& key) {
    const TParams params{key};
    const auto rows = db.Query(
        std::string("SELECT id, port, place FROM lines WHERE ") + condition + " LIMIT 1", params);
    if (rows.empty())
        return std::nullopt;
    return TLine{Int(rows[0][0]), Text(rows[0][1]), rows[0][2]};
}

// A line of an older history (no place yet) that this port's readings went to: the one named
// after the port, else the first that had the port.
std::optional<TLine> OlderLineOfPort(IHistoryConnection& db, const std::string& port) {
    if (auto line = FindLine(db, "place IS NULL AND name = $1", port))
        return line;
    return FindLine(db, "place IS NULL AND port = $1 ORDER BY id", port);
}

// What a new line's name adds when the port's text names another line already: the host of a
// local place ("host:/dev/…"), or the whole place of a server.
std::string PlaceOwner(const std::string& place) {
    const auto colon = place.find(':');
    if (colon == std::string::npos || place.find("://") != std::string::npos)
        return place;
    return place.substr(0, colon);
}

bool NameTaken(IHistoryConnection& db, const std::string& name) {
    return FindLine(db, "name = $1", name).has_value();
}

// The port's text, else "COM1 (host)", else that with a number.
std::string NewLineName(IHistoryConnection& db, const std::string& port, const std::string& place) {
    if (!NameTaken(db, port))
        return port;
    const std::string owned = port + " (" + PlaceOwner(place) + ")";
    std::string name = owned;
    for (int n = 2; NameTaken(db, name); ++n)
        name = owned + " " + std::to_string(n);
    return name;
}

std::int64_t InsertLine(IHistoryConnection& db, const std::string& name, const std::string& port) {
    const TParams params{name, port};
    return Int(
        db.Query("INSERT INTO lines (name, port) VALUES ($1, $2) RETURNING id", params)[0][0]);
}

// A place belongs to one line at a time.
void Claim(IHistoryConnection& db, std::int64_t line, const std::string& place,
           const std::string& port) {
    const TParams release{place, line};
    db.Execute("UPDATE lines SET place = NULL WHERE place = $1 AND id <> $2", release);
    const TParams claim{place, port, line};
    db.Execute("UPDATE lines SET place = $1, port = $2 WHERE id = $3", claim);
}

std::int64_t LineId(IHistoryConnection& db, const THistoryReading& reading) {
    const std::string place = reading.Place.empty() ? reading.Port : reading.Place;
    const bool named = !reading.Line.empty();
    const auto find = [&] {
        return named ? FindLine(db, "name = $1", reading.Line) : FindLine(db, "place = $1", place);
    };
    if (const auto line = find(); line && line->Place == place && line->Port == reading.Port)
        return line->Id;
    if (db.Dialect() == TDialect::Postgres)
        db.Query(LinesLockSql);
    std::optional<TLine> line = find();
    if (!line && !named)
        line = OlderLineOfPort(db, reading.Port);
    const std::int64_t id =
        line ? line->Id
             : InsertLine(db, named ? reading.Line : NewLineName(db, reading.Port, place),
                          reading.Port);
    Claim(db, id, place, reading.Port);
    return id;
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

// --- The join.

struct TTail {
    std::vector<TArchiveRecord> Records; // oldest first
    std::int64_t NewestSeq = 0;
};

TTail DeviceTail(IHistoryConnection& db, std::int64_t device) {
    const TParams params{device, std::int64_t{TailEvents}};
    TTail tail;
    db.Stream(std::string("SELECT e.seq, ") + EventColumns +
                  " FROM events e WHERE e.device_id = $1 ORDER BY e.seq DESC LIMIT $2",
              params, [&tail](const TRow& row) {
                  if (tail.Records.empty())
                      tail.NewestSeq = Int(row[0]);
                  tail.Records.push_back(RecordOf(row, 1));
                  return true;
              });
    std::reverse(tail.Records.begin(), tail.Records.end());
    return tail;
}

// True when the device's history holds this very record anywhere: a file far older than the
// history's last events.
bool Holds(IHistoryConnection& db, std::int64_t device, const TArchiveRecord& r) {
    const std::string stamp = EventStamp(r);
    TParams params{device};
    AddRecord(params, r);
    std::string sql = "SELECT 1 FROM events WHERE device_id = $1 AND code = $2 AND detail = $3"
                      " AND second = $4 AND minute = $5 AND hour = $6 AND day = $7"
                      " AND month = $8 AND year = $9 AND stamp ";
    if (stamp.empty()) {
        sql += "IS NULL LIMIT 1";
    } else {
        sql += "= $10 LIMIT 1";
        params.emplace_back(stamp);
    }
    return !db.Query(sql, params).empty();
}

struct TPlan {
    std::vector<const TListedRecord*> Events; // to add, oldest first
    bool Gap = false;
};

TPlan Plan(IHistoryConnection& db, std::int64_t device, const THistoryReading& reading,
           const TTail& tail) {
    std::vector<TArchiveRecord> file;
    file.reserve(reading.Records.size());
    for (auto it = reading.Records.rbegin(); it != reading.Records.rend(); ++it)
        file.push_back(it->Record);
    const TJoin join = JoinFile(file, tail.Records);
    TPlan plan;
    if (join.Kind == TJoinKind::Disjoint) {
        if (join.New.empty() || Holds(db, device, file[join.New.back()]))
            return plan;
        plan.Gap = true;
    }
    for (const std::size_t at : join.New)
        plan.Events.push_back(&reading.Records[reading.Records.size() - 1 - at]);
    return plan;
}

// --- The writes.

std::int64_t LogReading(IHistoryConnection& db, std::int64_t device, const THistoryReading& reading,
                        const TAppendOutcome& outcome) {
    const TParams log{UtcText(reading.At),
                      device,
                      reading.Port,
                      reading.File,
                      std::string(reading.Mode == TReadingMode::Fresh ? "fresh" : "incremental"),
                      std::int64_t{reading.Found},
                      std::int64_t{outcome.Added},
                      reading.Result,
                      std::int64_t{reading.Ok ? 1 : 0},
                      std::int64_t{outcome.Offered},
                      std::int64_t{outcome.Gap ? 1 : 0},
                      std::int64_t{outcome.Warning ? 1 : 0}};
    return Int(db.Query("INSERT INTO readings (at, device_id, port, file, mode, found, added, "
                        "result, ok, offered, gap, warning) VALUES ($1, $2, $3, $4, $5, $6, $7, "
                        "$8, $9, $10, $11, $12) RETURNING id",
                        log)[0][0]);
}

// Rows of events a statement inserts at once: one round trip to a server instead of many.
constexpr std::size_t EventsPerInsert = 64;
constexpr std::size_t EventColumnCount = 13;

// "INSERT INTO events (…) VALUES ($1, … $13), ($14, …)" for `rows` rows.
std::string InsertEventsSql(std::size_t rows) {
    std::string sql =
        "INSERT INTO events (device_id, seq, reading_id, code, detail, second, minute,"
        " hour, day, month, year, stamp, invalid) VALUES ";
    for (std::size_t row = 0; row < rows; ++row) {
        sql += row ? ", (" : "(";
        for (std::size_t c = 1; c <= EventColumnCount; ++c)
            sql += (c > 1 ? ", $" : "$") + std::to_string(row * EventColumnCount + c);
        sql += ")";
    }
    return sql;
}

void InsertEvents(IHistoryConnection& db, std::int64_t device, std::int64_t readingId,
                  std::int64_t seq, const std::vector<const TListedRecord*>& events) {
    static const std::string many = InsertEventsSql(EventsPerInsert);
    static const std::string one = InsertEventsSql(1);
    std::map<std::string, std::int64_t> perDay;
    TParams rows;
    rows.reserve(EventsPerInsert * EventColumnCount);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const TListedRecord& listed = *events[i];
        const std::string stamp = EventStamp(listed.Record);
        if (!stamp.empty())
            ++perDay[stamp.substr(0, 10)];
        rows.insert(rows.end(), {device, ++seq, readingId});
        AddRecord(rows, listed.Record);
        rows.emplace_back(stamp.empty() ? TValue{nullptr} : TValue{stamp});
        rows.emplace_back(std::int64_t{listed.Invalid ? 1 : 0});
        // Full batches together, the rest row by row: two statements to prepare.
        const bool full = rows.size() == EventsPerInsert * EventColumnCount;
        if (full || events.size() - i <= events.size() % EventsPerInsert) {
            db.Execute(full ? many : one, rows);
            rows.clear();
        }
    }
    for (const auto& [day, count] : perDay) {
        const TParams params{device, day, count};
        db.Execute("INSERT INTO event_days (device_id, day, events) VALUES ($1, $2, $3)"
                   " ON CONFLICT (device_id, day) DO UPDATE SET events = event_days.events + "
                   "excluded.events",
                   params);
    }
}

} // namespace

TAppendOutcome AppendReading(IHistoryConnection& db, const THistoryReading& reading) {
    const std::int64_t device = DeviceId(db, LineId(db, reading), reading.Address);
    TAppendOutcome outcome;
    if (!reading.Ok) {
        LogReading(db, device, reading, outcome);
        return outcome;
    }
    const TTail tail = DeviceTail(db, device);
    const TPlan plan = Plan(db, device, reading, tail);
    outcome.Offered = static_cast<int>(reading.Records.size());
    outcome.Added = static_cast<int>(plan.Events.size());
    outcome.Gap = plan.Gap;
    outcome.Warning = plan.Gap || (!tail.Records.empty() && outcome.Added >= RingFillWarning);
    const std::int64_t readingId = LogReading(db, device, reading, outcome);
    if (plan.Gap) {
        const TParams gap{device, tail.NewestSeq, readingId};
        db.Execute("INSERT INTO gaps (device_id, after_seq, reading_id) VALUES ($1, $2, $3)", gap);
    }
    InsertEvents(db, device, readingId, tail.NewestSeq, plan.Events);
    return outcome;
}

void RenameLineIn(IHistoryConnection& db, const std::string& from, const std::string& to) {
    if (to.empty())
        throw EHistory(THistoryFault::EmptyName);
    if (from != to && NameTaken(db, to))
        throw EHistory(THistoryFault::NameTaken, {to});
    if (!NameTaken(db, from))
        throw EHistory(THistoryFault::UnknownLine, {from});
    const TParams params{to, from};
    db.Execute("UPDATE lines SET name = $1 WHERE name = $2", params);
}

} // namespace kve17::history
