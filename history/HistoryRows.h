// The history's own helpers for its rows, shared by the append and the queries: values read
// from text, the event columns and the record they hold, and the stamp kept with an event.
#pragma once

#include "archive/ArchiveFormat.h"
#include "history/HistoryConnection.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kve17::history {

using TParams = std::vector<TValue>;

std::int64_t Int(const std::optional<std::string>& text);
std::string Text(const std::optional<std::string>& text);

// The record's bytes, in the order of TArchiveRecord.
inline constexpr const char* EventColumns =
    "e.code, e.detail, e.second, e.minute, e.hour, e.day, e.month, e.year";
// The record in the eight columns of EventColumns from `first` on.
TArchiveRecord RecordOf(const TRow& row, std::size_t first);
// The record's eight values added to `params`, in the order of EventColumns.
void AddRecord(TParams& params, const TArchiveRecord& record);

// "2026-12-08T19:55:00Z".
std::string UtcText(std::chrono::system_clock::time_point at);

// The time stamp of a record as the history keeps it: "2026-03-01 08:15:00", the day alone when
// the time of day is out of range, "" when the date is no calendar day (RecordDay).
std::string EventStamp(const TArchiveRecord& record);

} // namespace kve17::history
