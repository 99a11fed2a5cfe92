// The event history of every device ever read, in rooms of its own: the append (EventJoin,
// HistoryAppend) that takes from each reading's file the events the history lacks, the queries
// (HistoryQuery) with their listings handed over a row at a time, and the connections
// (HistoryConnection). All SQL lives in this library.
#pragma once

#include "history/HistoryConnection.h"
#include "history/HistoryQuery.h"
#include "history/HistoryTypes.h"

#include <memory>
#include <string>
#include <vector>

namespace kve17::history {

// The record table's filter (dates, codes, invalid records, text) as the history's; any line and
// device.
THistoryFilter HistoryFilter(const TRecordFilter& filter);

class THistory {
public:
    // Prepares (creates or upgrades) the schema; throws EHistory.
    explicit THistory(std::unique_ptr<IHistoryConnection> db);
    static THistory Open(const std::string& where, const TConnectionOptions& options = {});

    // One transaction. A reading without failure: the events of its file that the device's
    // history lacks, joined by the whole record (date included), each once, and a gap marked
    // where the device overwrote events before any reading took them; a failed reading: its
    // log entry alone. Throws EHistory and then nothing is written.
    TAppendOutcome Append(const THistoryReading& reading);

    // Throws EHistory when `from` is unknown or `to` is taken.
    void RenameLine(const std::string& from, const std::string& to);
    std::vector<TLineInfo> Lines();

    // The listings of HistoryQuery.h, whole or a row at a time.
    std::vector<THistoryEvent> Events(const THistoryFilter& filter);
    void StreamEvents(const THistoryFilter& filter, const TEventSink& sink);
    void StreamListing(const THistoryFilter& filter, const TItemSink& sink);
    std::vector<THistoryGap> Gaps(const THistoryFilter& filter);
    std::vector<TReadingLogEntry> Readings(const THistoryFilter& filter);
    void StreamReadings(const THistoryFilter& filter, const TReadingSink& sink);

    std::int64_t CountEvents(const THistoryFilter& filter);
    THistorySummary Summary(const THistoryFilter& filter);
    // Events per day with a date, ascending; per code, ascending.
    std::vector<TDayCount> DayCounts(const THistoryFilter& filter);
    std::vector<TCodeCount> CodeCounts(const THistoryFilter& filter);
    // The three above in one pass over the events, for a filter that the kept per-day counts
    // cannot answer.
    THistoryTally Tally(const THistoryFilter& filter);
    // The place of a device's newest event; 0 when it has none, or the line or device is unknown.
    std::int64_t NewestSeq(const std::string& line, int address);

private:
    std::unique_ptr<IHistoryConnection> db_;

    // Runs `write` in one write transaction, rolled back when it throws.
    template <typename Write> auto Transaction(Write write);
};

} // namespace kve17::history
