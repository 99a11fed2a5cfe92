#include "viewer/HistorySource.h"

namespace kve17 {

std::vector<TRecordRow> HistoryRows(const std::vector<history::THistoryEvent>& events) {
    std::vector<TRecordRow> rows;
    rows.reserve(events.size());
    int number = 0;
    for (const history::THistoryEvent& event : events) {
        // The place in the history stands where a file's rows keep their slot.
        const TListedRecord listed{static_cast<int>(event.Seq), event.Record, event.Invalid};
        rows.push_back({++number, listed, RecordDay(event.Record)});
    }
    return rows;
}

THistorySource::THistorySource(std::shared_ptr<history::THistory> history, std::string line,
                               int address)
    : history_(std::move(history)), line_(std::move(line)), address_(address) {}

bool THistorySource::Fetch(std::vector<TRecordRow>& rows, std::int64_t& newest,
                           QString& error) const {
    try {
        history::THistoryFilter filter;
        filter.Line = line_;
        filter.Address = address_;
        const auto events = history_->Events(filter);
        rows = HistoryRows(events);
        newest = events.empty() ? 0 : events.front().Seq;
        return true;
    } catch (const std::exception& e) {
        error = QStringLiteral("История событий не читается: %1").arg(QString::fromUtf8(e.what()));
        return false;
    }
}

bool THistorySource::Load(QString& error) {
    seen_ = -1;
    return Fetch(rows_, newest_, error);
}

QString THistorySource::Title() const {
    return QStringLiteral("история, линия «%1», прибор %2")
        .arg(QString::fromStdString(line_))
        .arg(address_);
}

bool THistorySource::Added(const TRecordRow& row) const {
    return seen_ >= 0 && row.Listed.Offset > seen_;
}

bool THistorySource::Reload(QString& error, bool& changed) {
    changed = false;
    std::vector<TRecordRow> rows;
    std::int64_t newest = 0;
    if (!Fetch(rows, newest, error))
        return false;
    if (newest == newest_ && rows.size() == rows_.size())
        return true;
    seen_ = newest_;
    newest_ = newest;
    rows_ = std::move(rows);
    changed = true;
    return true;
}

} // namespace kve17
