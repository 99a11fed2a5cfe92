#include "history/History.h"

#include "history/HistoryAppend.h"
#include "history/HistorySchema.h"

#include <cstdio>

namespace kve17::history {

THistoryFilter HistoryFilter(const TRecordFilter& filter) {
    const auto iso = [](TDay day) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
        return std::string(text);
    };
    THistoryFilter f;
    if (filter.Since)
        f.Since = iso(*filter.Since);
    if (filter.Until)
        f.Until = iso(*filter.Until);
    f.Codes.assign(filter.Codes.begin(), filter.Codes.end());
    f.OnlyInvalid = filter.OnlyInvalid;
    f.Text = filter.Text;
    return f;
}

THistory::THistory(std::unique_ptr<IHistoryConnection> db) : db_(std::move(db)) {
    PrepareSchema(*db_);
}

THistory THistory::Open(const std::string& where, const TConnectionOptions& options) {
    return THistory(OpenHistoryConnection(where, options));
}

template <typename Write> auto THistory::Transaction(Write write) {
    db_->BeginWrite();
    try {
        auto result = write(*db_);
        db_->Commit();
        return result;
    } catch (...) {
        db_->Rollback();
        throw;
    }
}

TAppendOutcome THistory::Append(const THistoryReading& reading) {
    return Transaction([&](IHistoryConnection& db) { return AppendReading(db, reading); });
}

void THistory::RenameLine(const std::string& from, const std::string& to) {
    Transaction([&](IHistoryConnection& db) {
        RenameLineIn(db, from, to);
        return true;
    });
}

std::vector<TLineInfo> THistory::Lines() {
    return history::Lines(*db_);
}

std::vector<THistoryEvent> THistory::Events(const THistoryFilter& filter) {
    std::vector<THistoryEvent> events;
    history::StreamEvents(*db_, filter, [&events](const THistoryEvent& e) {
        events.push_back(e);
        return true;
    });
    return events;
}

void THistory::StreamEvents(const THistoryFilter& filter, const TEventSink& sink) {
    history::StreamEvents(*db_, filter, sink);
}

void THistory::StreamListing(const THistoryFilter& filter, const TItemSink& sink) {
    history::StreamListing(*db_, filter, sink);
}

std::vector<THistoryGap> THistory::Gaps(const THistoryFilter& filter) {
    return history::Gaps(*db_, filter);
}

std::vector<TReadingLogEntry> THistory::Readings(const THistoryFilter& filter) {
    std::vector<TReadingLogEntry> log;
    history::StreamReadings(*db_, filter, [&log](const TReadingLogEntry& r) {
        log.push_back(r);
        return true;
    });
    return log;
}

void THistory::StreamReadings(const THistoryFilter& filter, const TReadingSink& sink) {
    history::StreamReadings(*db_, filter, sink);
}

std::int64_t THistory::CountEvents(const THistoryFilter& filter) {
    return history::CountEvents(*db_, filter);
}

THistorySummary THistory::Summary(const THistoryFilter& filter) {
    return history::Summary(*db_, filter);
}

std::vector<TDayCount> THistory::DayCounts(const THistoryFilter& filter) {
    return history::DayCounts(*db_, filter);
}

std::vector<TCodeCount> THistory::CodeCounts(const THistoryFilter& filter) {
    return history::CodeCounts(*db_, filter);
}

THistoryTally THistory::Tally(const THistoryFilter& filter) {
    return history::Tally(*db_, filter);
}

std::int64_t THistory::NewestSeq(const std::string& line, int address) {
    return history::NewestSeq(*db_, line, address);
}

} // namespace kve17::history
