// The event history of every device ever read: appending a reading's new records with its log
// entry, line names, and the listings the viewer and kve17ctl show. All its SQL lives here and
// in HistorySchema.cpp.
#pragma once

#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "archive/RecordTable.h"
#include "history/HistoryConnection.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kve17::history {

// One reading that ended without failure, as the history takes it.
struct THistoryReading {
    std::string Line; // the operator's name of the line; "" for the line of the port
    std::string Port;
    int Address = 0; // 1 to 31
    std::string File;
    TReadingMode Mode = TReadingMode::Fresh;
    std::vector<TListedRecord> Records; // newest first, as TReadingResult::NewRecords
    std::string Result;                 // the program's words
    std::chrono::system_clock::time_point At = std::chrono::system_clock::now();
};

struct THistoryEvent {
    std::string Line;
    int Address = 0;
    std::int64_t Seq = 0; // place in the device's history, rising with age
    TArchiveRecord Record{};
    std::string Stamp; // "2026-03-01 08:15:00"; the day alone when the time is out of range, ""
                       // when the day is
    bool Invalid = false;
};

// "" and 0 stand for any; dates are "YYYY-MM-DD", both days included.
struct THistoryFilter {
    std::string Line;
    int Address = 0;
    std::string Since;
    std::string Until;
    std::vector<int> Codes;
    bool OnlyInvalid = false;
    // Found in any column's text as the record table shows it (RowTexts), the number counted
    // from the device's newest event; "" for any.
    std::string Text;
    // Only the events up to this place in their device's history (0: all), so that the pages of
    // one listing stay the same while readings append.
    std::int64_t UpToSeq = 0;
    // Listings only: rows in the order of a table column (ColNumber: newest first), each device
    // by itself; rows skipped, and at most Limit (0: all).
    TColumn OrderBy = ColNumber;
    bool Descending = false;
    std::int64_t Offset = 0;
    std::int64_t Limit = 0;
};

// The record table's filter (dates, codes, invalid records, text) as the history's; any line and
// device.
THistoryFilter HistoryFilter(const TRecordFilter& filter);

// What the events a filter selects come to.
struct THistorySummary {
    std::int64_t Count = 0;
    std::int64_t Invalid = 0;
    std::string First; // the earliest and latest day, "YYYY-MM-DD"; "" when no event has one
    std::string Last;
};

struct TCodeCount {
    int Code = 0;
    std::int64_t Count = 0;
};

struct TDayCount {
    std::string Day; // "YYYY-MM-DD"
    std::int64_t Count = 0;
};

struct TReadingLogEntry {
    std::string At; // UTC, "2026-12-08T19:55:00Z"
    std::string Line;
    int Address = 0;
    std::string Port;
    std::string File;
    std::string Mode; // "fresh" or "incremental"
    int Found = 0;    // records the reading found new
    int Added = 0;    // events the history took of them
    std::string Result;
};

struct TLineInfo {
    std::string Name;
    std::string Port;
    std::vector<int> Addresses;
};

class THistory {
public:
    // Prepares (creates or upgrades) the schema; throws EHistory.
    explicit THistory(std::unique_ptr<IHistoryConnection> db);
    static THistory Open(const std::string& where);

    // One transaction: the reading's log entry and those of its records that join the device's
    // history after its newest event (by the reading's own rule); a stale reading adds none, a
    // reading with no common record (the device moved on by more than its archive) adds all.
    // Returns the number of events added; throws EHistory and then nothing is written.
    int Append(const THistoryReading& reading);

    // Throws EHistory when `from` is unknown or `to` is taken.
    void RenameLine(const std::string& from, const std::string& to);
    std::vector<TLineInfo> Lines();

    // Newest first per device, devices by line name and address.
    std::vector<THistoryEvent> Events(const THistoryFilter& filter);
    std::int64_t CountEvents(const THistoryFilter& filter);
    THistorySummary Summary(const THistoryFilter& filter);
    // Events per day with a date, ascending; per code, ascending.
    std::vector<TDayCount> DayCounts(const THistoryFilter& filter);
    std::vector<TCodeCount> CodeCounts(const THistoryFilter& filter);
    // The place of a device's newest event; 0 when it has none, or the line or device is unknown.
    std::int64_t NewestSeq(const std::string& line, int address);
    // Newest first; the filter's line, device and dates apply (the dates to the reading's day).
    std::vector<TReadingLogEntry> Readings(const THistoryFilter& filter);

private:
    std::unique_ptr<IHistoryConnection> db_;
};

// The time stamp of a record as the history keeps it: "2026-03-01 08:15:00", the day alone when
// the time of day is out of range, "" when the day is not a calendar day of 2001 to 2099.
std::string EventStamp(const TArchiveRecord& record);

} // namespace kve17::history
