#include "history/ReadingHistory.h"

#include "history/History.h"

#include <cstdlib>

namespace kve17::history {

std::optional<std::string> HistoryFromEnvironment() {
    const char* value = std::getenv("KVE17_HISTORY");
    if (value == nullptr || *value == '\0')
        return DefaultHistoryPath();
    if (std::string_view(value) == "off")
        return std::nullopt;
    return std::string(value);
}

TReadingHistory::TReadingHistory(std::string where, TConnectionOptions options)
    : where_(std::move(where)), options_(options) {}

TReadingHistory::~TReadingHistory() = default;

namespace {

bool Succeeded(const TReadingResult& result) {
    return result.Started && result.Saved && result.LinkResult == 0;
}

THistoryReading ReadingOf(const TReadingPlace& place, const TReadingResult& result,
                          std::string_view resultText) {
    THistoryReading reading;
    reading.Line = place.Line;
    reading.Port = place.Port;
    reading.Place = place.Place;
    reading.Address = place.Address;
    reading.File = place.File;
    reading.Mode = result.Mode;
    reading.Ok = Succeeded(result);
    if (reading.Ok) {
        reading.Records = result.Listing;
        reading.Found = result.NewListed;
    }
    reading.Result = resultText;
    return reading;
}

} // namespace

THistoryOutcome TReadingHistory::Keep(const TReadingPlace& place, const TReadingResult& result,
                                      std::string_view resultText) {
    THistoryOutcome outcome;
    if (!result.Started)
        return outcome;
    outcome.Tried = true;
    try {
        if (!history_)
            history_ = std::make_unique<THistory>(THistory::Open(where_, options_));
        const TAppendOutcome appended = history_->Append(ReadingOf(place, result, resultText));
        outcome.Written = true;
        outcome.Added = appended.Added;
        outcome.Gap = appended.Gap;
        outcome.Warning = appended.Warning;
    } catch (const std::exception& e) {
        // A folder that cannot be made, no memory: still the reading's success stands. The next
        // reading opens the history anew.
        history_.reset();
        outcome.Message = std::string("История не записана: ") + e.what();
    }
    return outcome;
}

} // namespace kve17::history
