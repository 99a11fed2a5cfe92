// The history's only writer: a reading's line found by its place or name (or made), its file
// joined to the device's events (EventJoin.h), a gap marked where the device overwrote events
// before they were read, and the reading logged, failed readings too. Each runs inside the
// caller's write transaction.
#pragma once

#include "history/HistoryConnection.h"
#include "history/HistoryTypes.h"

#include <string>

namespace kve17::history {

TAppendOutcome AppendReading(IHistoryConnection& db, const THistoryReading& reading);

// Throws EHistory when `from` is unknown or `to` is taken.
void RenameLineIn(IHistoryConnection& db, const std::string& from, const std::string& to);

} // namespace kve17::history
