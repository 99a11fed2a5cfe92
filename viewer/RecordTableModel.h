// The table of records held in memory, as an archive file gives them: filtered and sorted here,
// by the core's filter and the column's order.
#pragma once

#include "viewer/RecordModel.h"
#include "viewer/RecordSource.h"

#include <memory>

namespace kve17 {

class TRecordTableModel : public TRecordModel {
    Q_OBJECT
public:
    explicit TRecordTableModel(std::unique_ptr<IRecordSource> source, QObject* parent = nullptr);

    QString Title() const override { return source_->Title(); }
    QString WatchedPath() const override { return source_->WatchedPath(); }
    bool Reload(QString& error, bool& changed) override;
    const TRecordRow& RowAt(int row) const override;
    bool RowAdded(int row) const override;
    TRowCounts Counts() const override;
    std::pair<std::optional<TDay>, std::optional<TDay>> StoredDays() const override;
    TBars PerDay() const override;
    TBars PerCode() const override;
    int AddedCount() const override;
    int Undated() const override;
    TCursorMaker Cursor() const override;

    int rowCount(const QModelIndex& parent = {}) const override;

protected:
    void Refresh() override;
    void Sort() override;

private:
    void Order();

    std::unique_ptr<IRecordSource> source_;
    std::vector<int> shown_;
};

} // namespace kve17
