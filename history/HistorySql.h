// Pieces of the statements the history's readers share: numbered parameters, the filter's line
// and device, two-digit texts, and the day after a day.
#pragma once

#include "history/HistoryRows.h"
#include "history/HistoryTypes.h"

#include <string>

namespace kve17::history {

// Adds a parameter and gives its place in the statement: "$3".
struct TParamList {
    TParams& Params;
    std::string operator()(TValue value) const {
        Params.push_back(std::move(value));
        return "$" + std::to_string(Params.size());
    }
};

// The day after "YYYY-MM-DD", for a range that includes the whole last day; throws EHistory on
// a text that is no calendar day.
std::string NextDay(const std::string& day);

// A column's value as at least two digits, as the record table writes it.
std::string TwoDigits(const std::string& column);

// The filter's line and device over devices d and lines l, after " WHERE 1=1".
std::string DeviceConditions(const THistoryFilter& f, const TParamList& param);

} // namespace kve17::history
