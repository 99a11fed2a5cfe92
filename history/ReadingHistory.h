// A finished reading into the history, as the desktop program and kve17ctl both do it: only
// after a reading without failure, and a history failure never touches the reading.
#pragma once

#include "archive/ArchiveOps.h"

#include <optional>
#include <string>

namespace kve17::history {

// What the desktop program takes from KVE17_HISTORY: unset or empty gives the default file,
// "off" no history, anything else a file path or a postgresql:// connection string.
std::optional<std::string> HistoryFromEnvironment();

struct TReadingPlace {
    std::string Line; // "" for the line of the port
    std::string Port;
    int Address = 0;
    std::string File;
};

struct THistoryOutcome {
    bool Written = false;
    int Added = 0;
    std::string Message; // for the operator when not written: "История не записана: …"
};

THistoryOutcome AppendToHistory(const std::string& where, const TReadingPlace& place,
                                const TReadingResult& result);

} // namespace kve17::history
