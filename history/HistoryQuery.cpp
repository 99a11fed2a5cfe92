#include "history/HistoryQuery.h"

#include "history/HistoryRows.h"
#include "history/HistorySql.h"
#include "history/TextSearch.h"

#include <map>
#include <tuple>

namespace kve17::history {

namespace {

// The WHERE clause of a filter over events e, devices d and lines l, with its parameters.
std::string EventConditions(IHistoryConnection& db, const THistoryFilter& f, TParams& params,
                            const char* stamp) {
    const TParamList param{params};
    std::string where = " WHERE 1=1" + DeviceConditions(f, param);
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
        where += " AND " + TextCondition(db, f, param);
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

constexpr const char* EventsOfDevices = " FROM events e JOIN devices d ON d.id = e.device_id"
                                        " JOIN lines l ON l.id = d.line_id";

THistoryEvent EventOf(const TRow& row) {
    return {Text(row[0]), static_cast<int>(Int(row[1])),
            Int(row[2]),  RecordOf(row, 5),
            Text(row[3]), Int(row[4]) != 0};
}

THistoryGap GapOf(const TRow& row) {
    return {Text(row[0]), static_cast<int>(Int(row[1])),
            Int(row[2]),  Text(row[3]),
            Text(row[4]), Text(row[5]),
            Text(row[6])};
}

TReadingLogEntry ReadingOf(const TRow& row) {
    TReadingLogEntry r;
    r.At = Text(row[0]);
    r.Line = Text(row[1]);
    r.Address = static_cast<int>(Int(row[2]));
    r.Port = Text(row[3]);
    r.File = Text(row[4]);
    r.Mode = Text(row[5]);
    r.Found = static_cast<int>(Int(row[6]));
    r.Added = static_cast<int>(Int(row[7]));
    r.Result = Text(row[8]);
    r.Ok = Int(row[9]) != 0;
    r.Offered = static_cast<int>(Int(row[10]));
    r.Gap = Int(row[11]) != 0;
    r.Warning = Int(row[12]) != 0;
    return r;
}

using TDeviceKey = std::tuple<std::string, int>;

// The gaps not yet listed, per device, in the order of the listing. A page of a listing
// (Offset, Limit) lists only the gaps between two of its own events.
class TPendingGaps {
public:
    TPendingGaps(std::vector<THistoryGap> gaps, bool oldestFirst, bool paged)
        : oldestFirst_(oldestFirst), paged_(paged) {
        if (oldestFirst)
            std::reverse(gaps.begin(), gaps.end());
        for (THistoryGap& gap : gaps)
            perDevice_[{gap.Line, gap.Address}].push_back(std::move(gap));
    }

    // Lists the device's gaps that come before this event; false when the sink had enough.
    bool Before(const THistoryEvent& e, const TItemSink& sink) {
        const TDeviceKey key{e.Line, e.Address};
        const bool first = last_ != key;
        if (first && last_ && !Rest(*last_, sink))
            return false;
        last_ = key;
        auto& gaps = perDevice_[key];
        while (!gaps.empty() &&
               (oldestFirst_ ? gaps.front().AfterSeq < e.Seq : gaps.front().AfterSeq >= e.Seq)) {
            if (!(paged_ && first) && !sink(gaps.front()))
                return false;
            gaps.erase(gaps.begin());
        }
        return true;
    }

    // The gaps after the last event of each device, and of devices without listed events.
    void Finish(const TItemSink& sink) {
        if (last_ && !Rest(*last_, sink))
            return;
        for (auto& [key, gaps] : perDevice_)
            if (!Rest(key, sink))
                return;
    }

private:
    bool oldestFirst_;
    bool paged_;
    std::map<TDeviceKey, std::vector<THistoryGap>> perDevice_;
    std::optional<TDeviceKey> last_;

    bool Rest(const TDeviceKey& key, const TItemSink& sink) {
        auto& gaps = perDevice_[key];
        for (const THistoryGap& gap : gaps)
            if (!paged_ && !sink(gap))
                return false;
        gaps.clear();
        return true;
    }
};

} // namespace

void StreamEvents(IHistoryConnection& db, const THistoryFilter& filter, const TEventSink& sink) {
    TParams params;
    const std::string where = EventConditions(db, filter, params, "e.stamp");
    db.Stream(std::string("SELECT l.name, d.address, e.seq, e.stamp, e.invalid, ") + EventColumns +
                  EventsOfDevices + where + Order(filter) + Page(filter),
              params, [&sink](const TRow& row) { return sink(EventOf(row)); });
}

void StreamListing(IHistoryConnection& db, const THistoryFilter& filter, const TItemSink& sink) {
    if (filter.OrderBy != ColNumber) {
        StreamEvents(db, filter, [&sink](const THistoryEvent& e) { return sink(e); });
        return;
    }
    TPendingGaps gaps(Gaps(db, filter), filter.Descending, filter.Offset > 0 || filter.Limit > 0);
    bool more = true;
    StreamEvents(db, filter, [&](const THistoryEvent& e) {
        more = gaps.Before(e, sink) && sink(e);
        return more;
    });
    if (more)
        gaps.Finish(sink);
}

std::vector<THistoryGap> Gaps(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    const TParamList param{params};
    std::string where = " WHERE 1=1" + DeviceConditions(filter, param);
    // A gap reaches into the dates when the event after it is not before them and the event
    // before it not after them.
    if (!filter.Since.empty()) {
        NextDay(filter.Since); // checks it
        where += " AND (a.stamp IS NULL OR a.stamp >= " + param(filter.Since) + ")";
    }
    if (!filter.Until.empty())
        where += " AND (b.stamp IS NULL OR b.stamp < " + param(NextDay(filter.Until)) + ")";
    if (filter.UpToSeq > 0)
        where += " AND g.after_seq < " + param(filter.UpToSeq);
    std::vector<THistoryGap> gaps;
    db.Stream("SELECT l.name, d.address, g.after_seq, b.stamp, a.stamp, r.at, r.file FROM gaps g"
              " JOIN devices d ON d.id = g.device_id JOIN lines l ON l.id = d.line_id"
              " JOIN readings r ON r.id = g.reading_id"
              " LEFT JOIN events b ON b.device_id = g.device_id AND b.seq = g.after_seq"
              " LEFT JOIN events a ON a.device_id = g.device_id AND a.seq = g.after_seq + 1" +
                  where + " ORDER BY l.name, d.address, g.after_seq DESC",
              params, [&gaps](const TRow& row) {
                  gaps.push_back(GapOf(row));
                  return true;
              });
    return gaps;
}

void StreamReadings(IHistoryConnection& db, const THistoryFilter& filter,
                    const TReadingSink& sink) {
    THistoryFilter f;
    f.Line = filter.Line;
    f.Address = filter.Address;
    f.Since = filter.Since;
    f.Until = filter.Until;
    TParams params;
    std::string where = EventConditions(db, f, params, "r.at");
    const TParamList param{params};
    if (!filter.AtFrom.empty())
        where += " AND r.at >= " + param(filter.AtFrom);
    if (!filter.AtBefore.empty())
        where += " AND r.at < " + param(filter.AtBefore);
    db.Stream("SELECT r.at, l.name, d.address, r.port, r.file, r.mode, r.found, r.added,"
              " r.result, r.ok, r.offered, r.gap, r.warning FROM readings r"
              " JOIN devices d ON d.id = r.device_id JOIN lines l ON l.id = d.line_id" +
                  where + " ORDER BY r.id DESC" + Page(filter),
              params, [&sink](const TRow& row) { return sink(ReadingOf(row)); });
}

std::int64_t CountEvents(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(db, filter, params, "e.stamp");
    return Int(db.Query(std::string("SELECT count(*)") + EventsOfDevices + where, params)[0][0]);
}

THistorySummary Summary(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(db, filter, params, "e.stamp");
    const TRow row = db.Query(std::string("SELECT count(*), sum(e.invalid), min(e.stamp), "
                                          "max(e.stamp)") +
                                  EventsOfDevices + where,
                              params)[0];
    return {Int(row[0]), Int(row[1]), Text(row[2]).substr(0, 10), Text(row[3]).substr(0, 10)};
}

std::vector<TCodeCount> CodeCounts(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(db, filter, params, "e.stamp");
    std::vector<TCodeCount> codes;
    for (const TRow& row : db.Query(std::string("SELECT e.code, count(*)") + EventsOfDevices +
                                        where + " GROUP BY e.code ORDER BY e.code",
                                    params))
        codes.push_back({static_cast<int>(Int(row[0])), Int(row[1])});
    return codes;
}

THistoryTally Tally(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    const std::string where = EventConditions(db, filter, params, "e.stamp");
    THistoryTally tally;
    std::map<std::string, std::int64_t> days;
    std::map<int, std::int64_t> codes;
    db.Stream(std::string("SELECT substr(e.stamp, 1, 10), e.code, count(*), sum(e.invalid)") +
                  EventsOfDevices + where + " GROUP BY 1, 2",
              params, [&](const TRow& row) {
                  const std::int64_t count = Int(row[2]);
                  tally.Summary.Count += count;
                  tally.Summary.Invalid += Int(row[3]);
                  codes[static_cast<int>(Int(row[1]))] += count;
                  if (row[0])
                      days[*row[0]] += count;
                  return true;
              });
    if (!days.empty()) {
        tally.Summary.First = days.begin()->first;
        tally.Summary.Last = days.rbegin()->first;
    }
    for (const auto& [day, count] : days)
        tally.Days.push_back({day, count});
    for (const auto& [code, count] : codes)
        tally.Codes.push_back({code, count});
    return tally;
}

std::int64_t NewestSeq(IHistoryConnection& db, const std::string& line, int address) {
    const TParams params{line, std::int64_t{address}};
    return Int(db.Query("SELECT max(seq) FROM events WHERE device_id = (SELECT d.id FROM devices"
                        " d JOIN lines l ON l.id = d.line_id WHERE l.name = $1 AND d.address = "
                        "$2)",
                        params)[0][0]);
}

std::vector<TDayCount> DayCounts(IHistoryConnection& db, const THistoryFilter& filter) {
    TParams params;
    std::string sql;
    if (filter.Codes.empty() && !filter.OnlyInvalid && filter.Text.empty() && filter.UpToSeq == 0) {
        // Only line, device and dates: the kept counts answer.
        sql = "SELECT e.day, sum(e.events) FROM event_days e"
              " JOIN devices d ON d.id = e.device_id JOIN lines l ON l.id = d.line_id" +
              EventConditions(db, filter, params, "e.day");
    } else {
        sql = std::string("SELECT substr(e.stamp, 1, 10), count(*)") + EventsOfDevices +
              EventConditions(db, filter, params, "e.stamp") + " AND e.stamp IS NOT NULL";
    }
    std::vector<TDayCount> days;
    for (const TRow& row : db.Query(sql + " GROUP BY 1 ORDER BY 1", params))
        days.push_back({Text(row[0]), Int(row[1])});
    return days;
}

std::vector<TLineInfo> Lines(IHistoryConnection& db) {
    std::vector<TLineInfo> lines;
    const auto rows = db.Query("SELECT l.name, l.port, l.place, d.address FROM lines l LEFT JOIN"
                               " devices d ON d.line_id = l.id ORDER BY l.name, d.address");
    for (const TRow& row : rows) {
        if (lines.empty() || lines.back().Name != Text(row[0]))
            lines.push_back({Text(row[0]), Text(row[1]), Text(row[2]), {}});
        if (row[3])
            lines.back().Addresses.push_back(static_cast<int>(Int(row[3])));
    }
    return lines;
}

} // namespace kve17::history
