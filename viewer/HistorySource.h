// The events of one device from the event history, read and never written.
#pragma once

#include "history/History.h"
#include "viewer/RecordSource.h"

#include <memory>

namespace kve17 {

class THistorySource : public IRecordSource {
public:
    THistorySource(std::shared_ptr<history::THistory> history, std::string line, int address);

    // The first load; false with `error` saying why the history could not be read.
    bool Load(QString& error);

    QString Title() const override;
    const std::vector<TRecordRow>& Rows() const override { return rows_; }
    // Rows are numbered from the newest; the events a reload found new are marked.
    bool Added(const TRecordRow& row) const override;
    bool Reload(QString& error, bool& changed) override;

    const std::string& Line() const { return line_; }
    int Address() const { return address_; }

private:
    bool Fetch(std::vector<TRecordRow>& rows, std::int64_t& newest, QString& error) const;

    std::shared_ptr<history::THistory> history_;
    std::string line_;
    int address_;
    std::vector<TRecordRow> rows_;
    std::int64_t newest_ = 0; // the newest event's place in the device's history
    std::int64_t seen_ = -1;  // the newest place before the last reload; -1: nothing marked
};

// The rows of a device's events, newest first, numbered from 1 as the table shows them.
std::vector<TRecordRow> HistoryRows(const std::vector<history::THistoryEvent>& events);

} // namespace kve17
