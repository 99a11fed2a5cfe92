#include "history/ReadingHistory.h"

#include "history/History.h"

#include <cstdlib>
#include <string_view>

namespace kve17::history {

std::optional<std::string> HistoryFromEnvironment() {
    const char* value = std::getenv("KVE17_HISTORY");
    if (value == nullptr || *value == '\0')
        return DefaultHistoryPath();
    if (std::string_view(value) == "off")
        return std::nullopt;
    return std::string(value);
}

THistoryOutcome AppendToHistory(const std::string& where, const TReadingPlace& place,
                                const TReadingResult& result) {
    THistoryOutcome outcome;
    if (!result.Started || !result.Saved || result.LinkResult != 0)
        return outcome;
    THistoryReading reading;
    reading.Line = place.Line;
    reading.Port = place.Port;
    reading.Address = place.Address;
    reading.File = place.File;
    reading.Mode = result.Mode;
    reading.Records = result.NewRecords;
    reading.Result = std::string(ReadingDoneText);
    try {
        outcome.Added = THistory::Open(where).Append(reading);
        outcome.Written = true;
    } catch (const std::exception& e) {
        // A folder that cannot be made, no memory: still the reading's success stands.
        outcome.Message = std::string("История не записана: ") + e.what();
    }
    return outcome;
}

} // namespace kve17::history
