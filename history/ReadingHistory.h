// A finished reading into the history, as the desktop program and kve17ctl both do it, right
// after the reading's file is saved: a reading without failure offers every record of its file
// (the file is the history's buffer, so what a failed write left out comes with the next good
// reading), a failed one is logged. A history failure never touches the reading.
#pragma once

#include "archive/ArchiveOps.h"
#include "history/HistoryConnection.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kve17::history {

class THistory;

// What the desktop program takes from KVE17_HISTORY: unset or empty gives the default file,
// "off" no history, anything else a file path or a postgresql:// connection string.
std::optional<std::string> HistoryFromEnvironment();

struct TReadingPlace {
    std::string Line;  // "" for the line found by its place
    std::string Port;  // as given
    std::string Place; // where the line really is (serial/PortPlace.h)
    int Address = 0;
    std::string File;
};

// What became of one reading in the history.
struct THistoryOutcome {
    bool Tried = false;   // the reading had something for the history (it began)
    bool Written = false; // and the history took it
    int Added = 0;
    bool Gap = false;     // events the device overwrote before they were read: marked
    bool Warning = false; // read the device more often (its new events filled most of the ring)
    std::string Message; // for the operator when not written: "История не записана: …"
};

// One history for the readings of a session, opened at the first reading and again after a
// failure, so that one device's failure does not keep the next device's events out.
class TReadingHistory {
public:
    TReadingHistory(std::string where, TConnectionOptions options = {});
    ~TReadingHistory();

    // A reading that did not begin (no file) is not the history's: nothing is tried. `result`
    // says in the program's words how the reading ended (its failure for a failed one).
    THistoryOutcome Keep(const TReadingPlace& place, const TReadingResult& result,
                         std::string_view resultText);

private:
    std::string where_;
    TConnectionOptions options_;
    std::unique_ptr<THistory> history_;
};

} // namespace kve17::history
