// The stored records as a table: the rows the viewer, kve17ctl and the exports show, the filter
// they share, the counts per day and per code, and the records a reading added.
#pragma once

#include "archive/ArchiveListing.h"

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kve17 {

// A calendar day as yyyymmdd. The records carry a two-digit year 1 to 99, and the archive shows
// it as "yy"; it is taken as 2001 to 2099, so "31.12.07" is 20071231.
using TDay = int;

struct TRecordRow {
    int Number; // 1 for the newest, in listing order
    TListedRecord Listed;
    std::optional<TDay> Day; // nothing when the record's date is no calendar day of 2001..2099
};

enum TColumn { ColNumber, ColDate, ColTime, ColCode, ColDetail, ColState, ColumnCount };
// The column headers, in table order.
extern const std::array<std::string_view, ColumnCount> ColumnTitles;
// The state text of an invalid record; a valid one has "".
inline constexpr std::string_view InvalidText = "недостоверна";

std::vector<TRecordRow> ListRows(const TArchiveImage& image);
// The day of a record; nothing when its date is not a real calendar day of 2001 to 2099 (31.02
// is not). The one rule for files and the history alike.
std::optional<TDay> RecordDay(const TArchiveRecord& record);
// The texts of a row as the table shows them: "12", "31.12.07", "09:05:00", "200 (0xC8)".
std::array<std::string, ColumnCount> RowTexts(const TRecordRow& row);
// A code or detail as its column shows it: "200 (0xC8)".
std::string ValueText(std::uint8_t value);
// True when `wanted` is found in `text`; ASCII letters match either case.
bool ContainsText(std::string_view text, std::string_view wanted);

struct TRecordFilter {
    std::optional<TDay> Since; // inclusive
    std::optional<TDay> Until; // inclusive
    std::set<int> Codes;       // empty: every code
    bool OnlyInvalid = false;
    std::string Text; // found in any column's text; ASCII letters match either case

    bool Empty() const { return !Since && !Until && Codes.empty() && !OnlyInvalid && Text.empty(); }
    bool operator==(const TRecordFilter&) const = default;
};

// A record without a day passes no date bound.
bool Passes(const TRecordRow& row, const TRecordFilter& filter);
// Indices into `rows` of the rows that pass, in listing order.
std::vector<int> FilterRows(const std::vector<TRecordRow>& rows, const TRecordFilter& filter);

struct TRowCounts {
    int Shown = 0;
    int Stored = 0;
    int Invalid = 0;           // among those shown
    std::optional<TDay> First; // earliest day shown
    std::optional<TDay> Last;  // latest day shown
};
TRowCounts CountRows(const std::vector<TRecordRow>& rows, const std::vector<int>& shown);
// Every index into `rows`, in listing order.
std::vector<int> AllRows(const std::vector<TRecordRow>& rows);
// Records per day (ascending day) and per code (ascending code) of the rows shown; records
// without a day are not in the per-day counts.
std::vector<std::pair<TDay, int>> CountPerDay(const std::vector<TRecordRow>& rows,
                                              const std::vector<int>& shown);
std::vector<std::pair<int, int>> CountPerCode(const std::vector<TRecordRow>& rows,
                                              const std::vector<int>& shown);

// "dd.mm.yy" of a day.
std::string DayText(TDay day);
// "dd.mm.yy" or "yyyy-mm-dd" (years 2001 to 2099, a real calendar day); nothing otherwise.
std::optional<TDay> ParseDay(std::string_view text);
// "yyyy-mm-dd" of a day, as spreadsheets take a date.
std::string IsoDayText(TDay day);
// One code: decimal "28" or hex "0x1C" (either case), 0 to 255; nothing otherwise.
std::optional<int> ParseCode(std::string_view text);
// Codes as people type them: a comma list of codes and ranges, "1,5,10-20,0x1C", blanks around
// the items allowed.
struct TCodeList {
    std::set<int> Codes;
    std::string Error; // what is wrong, in the operator's words; "" when the list is good
};
TCodeList ParseCodeList(std::string_view text);
// The same list; nothing when it is wrong or empty.
std::optional<std::set<int>> ParseCodes(std::string_view text);

// The slot offsets of the records `after` holds that `before` did not: a slot whose content
// changed, and every slot a reading wrote from the old position up to the new one (so a new
// record equal to what its slot held before still counts). A fresh `before` gives every slot.
std::set<int> AddedSlots(const TArchiveImage& before, const TArchiveImage& after);

} // namespace kve17
