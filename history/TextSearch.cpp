#include "history/TextSearch.h"

#include "archive/RecordTable.h"
#include "history/HistoryQuery.h"

#include <charconv>
#include <cstdio>
#include <optional>

namespace kve17::history {

namespace {

// Past this many runs of matching values a column is compared as text by the database instead:
// so many ranges would cost more than the text does.
constexpr std::size_t MaxRuns = 64;
// Past this many events the numbers are compared as text too, so that a search never counts
// through millions of numbers here.
constexpr std::int64_t MaxNumbers = 200000;
// Past this many seconds of the day the time is compared as text: the search matches most events
// then, and so long a list would cost more than the text does.
constexpr int MaxSeconds = 4096;

constexpr std::string_view Digits = "0123456789";
constexpr const char* Blank = "(e.hour = 255 AND e.minute = 255 AND e.second = 255 AND "
                              "e.day = 255 AND e.month = 255 AND e.year = 255)";

using TRun = std::pair<std::int64_t, std::int64_t>; // first and last, both included

bool OnlyOf(std::string_view text, std::string_view chars) {
    return text.find_first_not_of(chars) == std::string_view::npos;
}

// The runs of 0..count-1 whose text (written by `write` into a buffer) holds `text`, which is
// made of digits and separators alone, so case does not matter; nothing past MaxRuns.
template <typename Write>
std::optional<std::vector<TRun>> Runs(std::int64_t count, std::string_view text, Write write) {
    std::vector<TRun> runs;
    char buffer[32];
    for (std::int64_t i = 0; i < count; ++i) {
        if (write(i, buffer).find(text) == std::string_view::npos)
            continue;
        if (!runs.empty() && runs.back().second == i - 1)
            runs.back().second = i;
        else if (runs.size() == MaxRuns)
            return std::nullopt;
        else
            runs.emplace_back(i, i);
    }
    return runs;
}

std::string LikeText(const TParamList& param, const std::string& text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return " LIKE " + param(pattern + "%") + " ESCAPE '\\'";
}

// The number counted from the device's newest event (or from UpToSeq).
void NumberTerms(IHistoryConnection& db, const THistoryFilter& f, const TParamList& param,
                 std::vector<std::string>& any) {
    if (!OnlyOf(f.Text, Digits))
        return;
    const bool oneDevice = !f.Line.empty() && f.Address != 0;
    const std::int64_t newest =
        f.UpToSeq > 0 ? f.UpToSeq : (oneDevice ? NewestSeq(db, f.Line, f.Address) : 0);
    std::optional<std::vector<TRun>> runs;
    if (newest > 0 && newest <= MaxNumbers)
        runs = Runs(newest, f.Text, [](std::int64_t i, char* buffer) {
            const auto end = std::to_chars(buffer, buffer + 24, i + 1).ptr;
            return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
        });
    if (!runs) {
        const std::string from =
            newest > 0 ? param(newest)
                       : "(SELECT max(s.seq) FROM events s WHERE s.device_id = e.device_id)";
        any.push_back("CAST((" + from + " - e.seq + 1) AS TEXT)" + LikeText(param, f.Text));
        return;
    }
    // Number n is event newest - n + 1.
    for (const auto& [first, last] : *runs)
        any.push_back("e.seq BETWEEN " + param(newest - last) + " AND " + param(newest - first));
}

// "dd.mm.yy" of a day "YYYY-MM-DD".
std::string_view DateText(const std::string& day, char* buffer) {
    std::snprintf(buffer, 16, "%.2s.%.2s.%.2s", day.c_str() + 8, day.c_str() + 5, day.c_str() + 2);
    return {buffer, 8};
}

std::vector<std::string> DaysWithEvents(IHistoryConnection& db, const THistoryFilter& f) {
    TParams params;
    const std::string sql = "SELECT DISTINCT e.day FROM event_days e JOIN devices d ON"
                            " d.id = e.device_id JOIN lines l ON l.id = d.line_id WHERE 1=1" +
                            DeviceConditions(f, TParamList{params}) + " ORDER BY 1";
    std::vector<std::string> days;
    db.Stream(sql, params, [&days](const TRow& row) {
        days.push_back(Text(row[0]));
        return true;
    });
    return days;
}

// The date: of the days that have events by their stamps, of the others by their stored values.
void DateTerms(IHistoryConnection& db, const THistoryFilter& f, const TParamList& param,
               std::vector<std::string>& any) {
    if (!OnlyOf(f.Text, "0123456789."))
        return;
    const std::vector<std::string> days = DaysWithEvents(db, f);
    const auto runs =
        Runs(static_cast<std::int64_t>(days.size()), f.Text, [&days](std::int64_t i, char* buffer) {
            return DateText(days[static_cast<std::size_t>(i)], buffer);
        });
    if (runs) {
        for (const auto& [first, last] : *runs)
            any.push_back("(e.stamp >= " + param(days[static_cast<std::size_t>(first)]) +
                          " AND e.stamp < " + param(NextDay(days[static_cast<std::size_t>(last)])) +
                          ")");
    } else {
        any.push_back("(substr(e.stamp, 9, 2) || '.' || substr(e.stamp, 6, 2) || '.' || "
                      "substr(e.stamp, 3, 2))" +
                      LikeText(param, f.Text));
    }
    any.push_back("(e.stamp IS NULL AND NOT " + std::string(Blank) + " AND " + TwoDigits("e.day") +
                  " || '.' || " + TwoDigits("e.month") + " || '.' || " + TwoDigits("e.year") +
                  LikeText(param, f.Text) + ")");
}

// The time: in range by the second of the day among those whose text holds the searched one,
// out of range (and when too many seconds match to list) by the text of the stored values.
void TimeTerms(const THistoryFilter& f, const TParamList& param, std::vector<std::string>& any) {
    if (!OnlyOf(f.Text, "0123456789:"))
        return;
    const std::string inRange = "e.hour < 24 AND e.minute < 60 AND e.second < 60";
    const std::string text = TwoDigits("e.hour") + " || ':' || " + TwoDigits("e.minute") +
                             " || ':' || " + TwoDigits("e.second");
    std::string seconds;
    int count = 0;
    char buffer[16];
    for (int i = 0; i < 24 * 3600 && count <= MaxSeconds; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", i / 3600, i / 60 % 60, i % 60);
        if (std::string_view(buffer, 8).find(f.Text) != std::string_view::npos)
            seconds += (count++ ? ", " : "") + std::to_string(i);
    }
    if (count > MaxSeconds)
        any.push_back("(" + inRange + " AND " + text + LikeText(param, f.Text) + ")");
    else if (count > 0)
        any.push_back("(" + inRange + " AND e.hour * 3600 + e.minute * 60 + e.second IN (" +
                      seconds + "))");
    any.push_back("(NOT (" + inRange + ") AND NOT " + Blank + " AND " + text +
                  LikeText(param, f.Text) + ")");
}

} // namespace

std::string TextCondition(IHistoryConnection& db, const THistoryFilter& f,
                          const TParamList& param) {
    // A code and a detail show their values alike.
    std::string values;
    int count = 0;
    for (int value = 0; value <= 0xFF; ++value)
        if (ContainsText(ValueText(static_cast<std::uint8_t>(value)), f.Text))
            values += (count++ ? ", " : "") + std::to_string(value);
    if (count == 0x100)
        return "1=1";
    std::vector<std::string> any;
    if (count > 0)
        for (const char* column : {"e.code", "e.detail"})
            any.push_back(std::string(column) + " IN (" + values + ")");
    if (ContainsText(InvalidText, f.Text))
        any.push_back("e.invalid = 1");
    NumberTerms(db, f, param, any);
    DateTerms(db, f, param, any);
    TimeTerms(f, param, any);
    if (any.empty())
        return "1=0";
    std::string condition;
    for (const std::string& one : any)
        condition += (condition.empty() ? "(" : " OR ") + one;
    return condition + ")";
}

} // namespace kve17::history
