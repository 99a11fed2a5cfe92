// The table of the viewer: the rows of a source that pass the core's filter, with the texts the
// core gives them. Sorting is left to a proxy over it, by SortRole.
#pragma once

#include "archive/RecordTable.h"
#include "viewer/RecordSource.h"

#include <QAbstractTableModel>

namespace kve17 {

class TRecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int AddedRole = Qt::UserRole + 1;

    explicit TRecordTableModel(const IRecordSource& source, QObject* parent = nullptr);

    // After the source's rows changed, or to apply another filter.
    void Refresh();
    void SetFilter(TRecordFilter filter);
    const TRecordFilter& Filter() const { return filter_; }

    const std::vector<TRecordRow>& Rows() const { return source_.Rows(); }
    // Indices into Rows() of the rows shown, in listing order.
    const std::vector<int>& Shown() const { return shown_; }
    const TRecordRow& RowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVariant SortKey(const TRecordRow& row, int column) const;

    const IRecordSource& source_;
    TRecordFilter filter_;
    std::vector<int> shown_;
};

} // namespace kve17
