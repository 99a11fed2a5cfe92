// The history's readers: a filter turned into SQL, the listings of events, gaps and readings
// handed over a row at a time (so that a million events need no more memory than one), and the
// counts the viewer draws.
#pragma once

#include "history/HistoryConnection.h"
#include "history/HistoryTypes.h"

#include <functional>

namespace kve17::history {

// Each takes one row; false ends the listing early.
using TEventSink = std::function<bool(const THistoryEvent&)>;
using TItemSink = std::function<bool(const THistoryItem&)>;
using TReadingSink = std::function<bool(const TReadingLogEntry&)>;

// Newest first per device (or in the filter's column order), devices by line name and address.
void StreamEvents(IHistoryConnection& db, const THistoryFilter& filter, const TEventSink& sink);
// The events as StreamEvents lists them, with each gap between the two events it lies between
// (a page, with Offset or Limit, only those between two of its events); gaps are only placed so
// in the number order (ColNumber), elsewhere the events come alone.
void StreamListing(IHistoryConnection& db, const THistoryFilter& filter, const TItemSink& sink);
// The gaps of the filter's line and device that reach into its dates, newest first per device.
std::vector<THistoryGap> Gaps(IHistoryConnection& db, const THistoryFilter& filter);
// Newest first; the filter's line, device and dates apply (the dates to the reading's day).
void StreamReadings(IHistoryConnection& db, const THistoryFilter& filter, const TReadingSink& sink);

std::int64_t CountEvents(IHistoryConnection& db, const THistoryFilter& filter);
THistorySummary Summary(IHistoryConnection& db, const THistoryFilter& filter);
std::vector<TDayCount> DayCounts(IHistoryConnection& db, const THistoryFilter& filter);
std::vector<TCodeCount> CodeCounts(IHistoryConnection& db, const THistoryFilter& filter);
THistoryTally Tally(IHistoryConnection& db, const THistoryFilter& filter);
std::int64_t NewestSeq(IHistoryConnection& db, const std::string& line, int address);
std::vector<TLineInfo> Lines(IHistoryConnection& db);

} // namespace kve17::history
