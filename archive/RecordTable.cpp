#include "archive/RecordTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>

namespace kve17 {

const std::array<std::string_view, ColumnCount> ColumnTitles = {"№",   "Дата",     "Время",
                                                                "Код", "Параметр", "Состояние"};

namespace {

constexpr int Century = 2000;

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

bool InSlotRange(int offset, int from, int to) {
    // Ring order from `from` (included) to `to` (excluded).
    return from <= to ? offset >= from && offset < to : offset >= from || offset < to;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

std::string ValueText(std::uint8_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u (0x%02X)", value, value);
    return text;
}

bool ContainsText(std::string_view text, std::string_view wanted) {
    return Lower(text).find(Lower(wanted)) != std::string::npos;
}

std::optional<TDay> RecordDay(const TArchiveRecord& r) {
    const std::chrono::year_month_day date{std::chrono::year(Century + r.Year),
                                           std::chrono::month(r.Month), std::chrono::day(r.Day)};
    if (r.Year < 1 || r.Year > 99 || !date.ok())
        return std::nullopt;
    return (Century + r.Year) * 10000 + r.Month * 100 + r.Day;
}

std::vector<TRecordRow> ListRows(const TArchiveImage& image) {
    std::vector<TRecordRow> rows;
    const auto listed = ListArchive(image);
    rows.reserve(listed.size());
    int number = 0;
    for (const TListedRecord& record : listed)
        rows.push_back({++number, record, RecordDay(record.Record)});
    return rows;
}

std::array<std::string, ColumnCount> RowTexts(const TRecordRow& row) {
    const std::string stamp = RecordTimeString(row.Listed.Record);
    const auto blank = stamp.find(' ');
    std::array<std::string, ColumnCount> texts;
    texts[ColNumber] = std::to_string(row.Number);
    texts[ColDate] = blank == std::string::npos ? "" : stamp.substr(blank + 1);
    texts[ColTime] = stamp.substr(0, blank);
    texts[ColCode] = ValueText(row.Listed.Record.Code);
    texts[ColDetail] = ValueText(row.Listed.Record.Detail);
    texts[ColState] = row.Listed.Invalid ? std::string(InvalidText) : "";
    return texts;
}

bool Passes(const TRecordRow& row, const TRecordFilter& filter) {
    if (filter.OnlyInvalid && !row.Listed.Invalid)
        return false;
    if (!filter.Codes.empty() && !filter.Codes.contains(row.Listed.Record.Code))
        return false;
    if ((filter.Since || filter.Until) && !row.Day)
        return false;
    if ((filter.Since && *row.Day < *filter.Since) || (filter.Until && *row.Day > *filter.Until))
        return false;
    if (filter.Text.empty())
        return true;
    const auto texts = RowTexts(row);
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& text) { return ContainsText(text, filter.Text); });
}

std::vector<int> FilterRows(const std::vector<TRecordRow>& rows, const TRecordFilter& filter) {
    std::vector<int> shown;
    shown.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (filter.Empty() || Passes(rows[i], filter))
            shown.push_back(static_cast<int>(i));
    return shown;
}

std::vector<int> AllRows(const std::vector<TRecordRow>& rows) {
    std::vector<int> all(rows.size());
    std::iota(all.begin(), all.end(), 0);
    return all;
}

TRowCounts CountRows(const std::vector<TRecordRow>& rows, const std::vector<int>& shown) {
    TRowCounts counts;
    counts.Stored = static_cast<int>(rows.size());
    counts.Shown = static_cast<int>(shown.size());
    for (int i : shown) {
        const TRecordRow& row = rows[static_cast<std::size_t>(i)];
        counts.Invalid += row.Listed.Invalid ? 1 : 0;
        if (!row.Day)
            continue;
        counts.First = counts.First ? std::min(*counts.First, *row.Day) : *row.Day;
        counts.Last = counts.Last ? std::max(*counts.Last, *row.Day) : *row.Day;
    }
    return counts;
}

std::vector<std::pair<TDay, int>> CountPerDay(const std::vector<TRecordRow>& rows,
                                              const std::vector<int>& shown) {
    std::map<TDay, int> perDay;
    for (int i : shown)
        if (const auto& day = rows[static_cast<std::size_t>(i)].Day)
            ++perDay[*day];
    return {perDay.begin(), perDay.end()};
}

std::vector<std::pair<int, int>> CountPerCode(const std::vector<TRecordRow>& rows,
                                              const std::vector<int>& shown) {
    std::map<int, int> perCode;
    for (int i : shown)
        ++perCode[rows[static_cast<std::size_t>(i)].Listed.Record.Code];
    return {perCode.begin(), perCode.end()};
}

std::string DayText(TDay day) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d", day % 100, day / 100 % 100,
                  day / 10000 % 100);
    return text;
}

std::optional<TDay> ParseDay(std::string_view text) {
    std::optional<int> day, month, year;
    if (text.size() == 8 && text[2] == '.' && text[5] == '.') {
        day = Number(text.substr(0, 2));
        month = Number(text.substr(3, 2));
        year = Number(text.substr(6, 2));
        if (year)
            *year += Century;
    } else if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        year = Number(text.substr(0, 4));
        month = Number(text.substr(5, 2));
        day = Number(text.substr(8, 2));
    }
    if (!day || !month || !year || *year <= Century || *year > Century + 99)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;
    return *year * 10000 + *month * 100 + *day;
}

std::string IsoDayText(TDay day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
    return text;
}

std::optional<int> ParseCode(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 ||
        value > 0xFF)
        return std::nullopt;
    return value;
}

namespace {

std::string_view Blankless(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string NotACode(std::string_view text) {
    return "«" + std::string(text) + "» — не код: нужно число от 0 до 255 или от 0x00 до 0xFF";
}

// One item of a code list into `codes`; what is wrong with it, or "".
std::string CodeItem(std::string_view item, std::set<int>& codes) {
    item = Blankless(item);
    if (item.empty())
        return "между запятыми нет кода";
    // A dash after the first character divides a range; "-1" alone is no code.
    const auto dash = item.find('-', 1);
    const std::string_view from = Blankless(item.substr(0, dash));
    const auto first = ParseCode(from);
    if (!first)
        return NotACode(from);
    if (dash == std::string_view::npos) {
        codes.insert(*first);
        return {};
    }
    const std::string_view to = Blankless(item.substr(dash + 1));
    const auto last = ParseCode(to);
    if (!last)
        return NotACode(to);
    if (*last < *first)
        return "в диапазоне «" + std::string(item) + "» начало больше конца";
    for (int code = *first; code <= *last; ++code)
        codes.insert(code);
    return {};
}

} // namespace

TCodeList ParseCodeList(std::string_view text) {
    TCodeList list;
    if (Blankless(text).empty()) {
        list.Error = "нет ни одного кода";
        return list;
    }
    while (true) {
        const auto comma = text.find(',');
        list.Error = CodeItem(text.substr(0, comma), list.Codes);
        if (!list.Error.empty()) {
            list.Codes.clear();
            return list;
        }
        if (comma == std::string_view::npos)
            return list;
        text.remove_prefix(comma + 1);
    }
}

std::optional<std::set<int>> ParseCodes(std::string_view text) {
    TCodeList list = ParseCodeList(text);
    if (!list.Error.empty())
        return std::nullopt;
    return std::move(list.Codes);
}

std::set<int> AddedSlots(const TArchiveImage& before, const TArchiveImage& after) {
    std::set<int> added;
    const bool wrote = PositionValid(after.Position) && after.Position != FreshPosition;
    for (int offset = 0; offset <= LastSlot; offset += RecordSize) {
        const bool changed =
            before.Position == FreshPosition ||
            std::memcmp(before.Ring.data() + offset, after.Ring.data() + offset, RecordSize) != 0;
        const bool written = wrote && before.Position != after.Position &&
                             InSlotRange(offset, before.Position, after.Position);
        if (changed || written)
            added.insert(offset);
    }
    return added;
}

} // namespace kve17
