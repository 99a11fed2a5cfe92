// A text searched in an event's column texts as the record table shows them (the number counted
// from the device's newest event, the date, the time, the code, the detail and the state),
// turned into conditions on the stored values. The few values a column can take are matched
// here, so the database compares numbers and ranges instead of building a text per event.
#pragma once

#include "history/HistoryConnection.h"
#include "history/HistorySql.h"

namespace kve17::history {

// The condition over events e (devices d, lines l) that `f.Text` is found in one of the event's
// column texts, case aside.
std::string TextCondition(IHistoryConnection& db, const THistoryFilter& f, const TParamList& param);

} // namespace kve17::history
