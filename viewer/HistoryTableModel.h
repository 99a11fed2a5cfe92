// The events of one device from the event history, read and never written. The history may
// hold millions of them: the filter, the order and the counts are the database's, and the table
// fetches the page of the rows it shows, wherever they are (the end at once, not every page
// before it).
#pragma once

#include "history/History.h"
#include "viewer/RecordModel.h"

#include <map>
#include <memory>
#include <string>

namespace kve17 {

class THistoryTableModel : public TRecordModel {
    Q_OBJECT
public:
    static constexpr int PageRows = 500;
    static constexpr int KeptPages = 40;      // pages held; the rest are fetched again when shown
    static constexpr int PollInterval = 5000; // ms; a server has no file to watch

    // `where` is the history's place (file or server), which exports open again on their own
    // thread.
    THistoryTableModel(std::shared_ptr<history::THistory> history, std::string where,
                       std::string line, int address, int pollMs = PollInterval,
                       QObject* parent = nullptr);

    // The first load; false with `error` saying why the history could not be read.
    bool Load(QString& error);

    std::string Line() const override { return line_; }
    int Device() const override { return address_; }
    // Renames the line in the history; the rows stay. False with `error` when it refuses.
    bool RenameLine(const QString& to, QString& error);
    int Address() const { return address_; }

    QString Title() const override;
    QString WindowTitle() const override;
    int PollMs() const override { return pollMs_; }
    bool Remote() const override { return true; }
    // Rows are numbered from the device's newest event; the events a reload found are marked.
    bool Reload(QString& error, bool& changed) override;
    const TRecordRow& RowAt(int row) const override;
    bool RowAdded(int row) const override;
    // A gap stands between the two events it lies between, in the number order only.
    QString NoteAt(int row) const override;
    std::vector<int> NoteRows() const override;
    TRowCounts Counts() const override;
    std::pair<std::optional<TDay>, std::optional<TDay>> StoredDays() const override;
    TBars PerDay() const override { return perDay_; }
    TBars PerCode() const override { return perCode_; }
    int AddedCount() const override;
    int Undated() const override { return undated_; }
    TCursorMaker Cursor() const override;
    // How many pages the table has fetched since the last refresh: what a jump to the end costs.
    int PagesFetched() const { return fetched_; }

    int rowCount(const QModelIndex& parent = {}) const override;

protected:
    void Refresh() override;
    void Sort() override { Refresh(); }

private:
    // `query` held to the events of the device up to place `upTo`.
    history::THistoryFilter OnDevice(history::THistoryFilter query, std::int64_t upTo) const;
    // The listing of the rows shown: the filter, the order, the device, up to its newest event.
    history::THistoryFilter Query() const;
    // The page that holds the `event`th event shown, fetched when it is not held; nullptr when
    // that fails.
    const std::vector<TRecordRow>* Page(int event) const;
    // Reads the device's summary and undated count up to `newest`.
    void ReadStored(std::int64_t newest);
    // The gaps of `query`'s listing at their rows; none outside the number order.
    void PlaceGaps(const history::THistoryFilter& query);
    // The gap at `row`; nullptr for an event's row.
    const history::THistoryGap* GapAt(int row) const;
    // The place among the events shown of the event at `row`.
    int EventAt(int row) const;

    struct TGapRow {
        int Row = 0;
        history::THistoryGap Gap;
    };

    std::shared_ptr<history::THistory> history_;
    std::string where_;
    std::string line_;
    int address_;
    int pollMs_;
    std::int64_t newest_ = 0; // the place of the newest event shown
    std::int64_t seen_ = -1;  // the newest place before the last reload; -1: nothing marked
    history::THistorySummary stored_;
    history::THistorySummary shown_;
    TBars perDay_;
    TBars perCode_;
    int undated_ = 0;
    // Pages of rows in table order by their number; fetched as the table shows them.
    mutable std::map<std::int64_t, std::vector<TRecordRow>> pages_;
    std::vector<TGapRow> gaps_; // ascending by row
    mutable int fetched_ = 0;
    mutable bool failed_ = false; // a page could not be fetched: no more until a refresh
};

// The rows of `events` as a table shows them, numbered from the device's newest event `newest`.
std::vector<TRecordRow> HistoryRows(const std::vector<history::THistoryEvent>& events,
                                    std::int64_t newest);

// What a gap row says: the two events it lies between, and the reading that found it.
QString GapText(const history::THistoryGap& gap);
// A message for a history that could not be read.
QString HistoryReadError(const std::exception& e);
// Renames line `from` to `to` (trimmed); false with `error` for an empty or taken name.
bool RenameHistoryLine(history::THistory& history, const QString& from, const QString& to,
                       QString& error);

} // namespace kve17
