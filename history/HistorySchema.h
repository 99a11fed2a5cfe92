// The only place that knows the history's tables: creates them on first use and upgrades an
// older history, step by step, recording the version in kve17_schema.
#pragma once

#include "history/HistoryConnection.h"

namespace kve17::history {

inline constexpr int SchemaVersion = 2;

// Brings the database to `version` (SchemaVersion unless a test asks for an older one) in one
// transaction. Throws EHistory, also for a history that a newer program has upgraded beyond
// what this one knows.
void PrepareSchema(IHistoryConnection& db, int version = SchemaVersion);

} // namespace kve17::history
