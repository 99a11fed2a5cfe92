#include "viewer/RecordTableModel.h"

#include <algorithm>

namespace kve17 {

namespace {

// Records without a day sort before every day; the time, or the day, breaks ties.
qint64 SortKey(const TRecordRow& row, TColumn column) {
    const TArchiveRecord& r = row.Listed.Record;
    const qint64 day = row.Day.value_or(0);
    const qint64 time = r.Hour * 10000 + r.Minute * 100 + r.Second;
    switch (column) {
    case ColDate:
        return day * 1000000 + time;
    case ColTime:
        return time * 100000000LL + day;
    case ColCode:
        return r.Code;
    case ColDetail:
        return r.Detail;
    case ColState:
        return row.Listed.Invalid ? 1 : 0;
    default:
        return row.Number;
    }
}

} // namespace

TRecordTableModel::TRecordTableModel(std::unique_ptr<IRecordSource> source, QObject* parent)
    : TRecordModel(parent), source_(std::move(source)) {
    Refresh();
}

bool TRecordTableModel::Reload(QString& error, bool& changed) {
    if (!source_->Reload(error, changed))
        return false;
    if (changed)
        Refresh();
    return true;
}

void TRecordTableModel::Refresh() {
    beginResetModel();
    shown_ = FilterRows(source_->Rows(), filter_);
    Order();
    endResetModel();
}

void TRecordTableModel::Order() {
    const auto& rows = source_->Rows();
    const TColumn column = SortColumn();
    const bool descending = Descending();
    // Stable, so that rows of equal keys stay newest first, either way.
    std::stable_sort(shown_.begin(), shown_.end(), [&](int a, int b) {
        const qint64 ka = SortKey(rows[static_cast<std::size_t>(a)], column);
        const qint64 kb = SortKey(rows[static_cast<std::size_t>(b)], column);
        return descending ? ka > kb : ka < kb;
    });
}

void TRecordTableModel::Sort() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> sources;
    for (const QModelIndex& index : before)
        sources.push_back(shown_[static_cast<std::size_t>(index.row())]);
    Order();
    std::vector<int> placeOf(source_->Rows().size());
    for (std::size_t row = 0; row < shown_.size(); ++row)
        placeOf[static_cast<std::size_t>(shown_[row])] = static_cast<int>(row);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(
            index(placeOf[static_cast<std::size_t>(sources[static_cast<std::size_t>(i)])],
                  before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const TRecordRow& TRecordTableModel::RowAt(int row) const {
    return source_->Rows()[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])];
}

bool TRecordTableModel::RowAdded(int row) const {
    return source_->Added(RowAt(row));
}

TRowCounts TRecordTableModel::Counts() const {
    return CountRows(source_->Rows(), shown_);
}

std::pair<std::optional<TDay>, std::optional<TDay>> TRecordTableModel::StoredDays() const {
    const TRowCounts counts = CountRows(source_->Rows(), AllRows(source_->Rows()));
    return {counts.First, counts.Last};
}

TBars TRecordTableModel::PerDay() const {
    return CountPerDay(source_->Rows(), shown_);
}

TBars TRecordTableModel::PerCode() const {
    return CountPerCode(source_->Rows(), shown_);
}

int TRecordTableModel::AddedCount() const {
    const auto& rows = source_->Rows();
    return static_cast<int>(std::count_if(
        rows.begin(), rows.end(), [this](const TRecordRow& row) { return source_->Added(row); }));
}

int TRecordTableModel::Undated() const {
    const auto& rows = source_->Rows();
    return static_cast<int>(
        std::count_if(rows.begin(), rows.end(), [](const TRecordRow& row) { return !row.Day; }));
}

TCursorMaker TRecordTableModel::Cursor() const {
    std::vector<TRecordRow> rows;
    rows.reserve(shown_.size());
    for (int i : shown_)
        rows.push_back(source_->Rows()[static_cast<std::size_t>(i)]);
    return [rows = std::move(rows)] { return std::make_unique<TRowListCursor>(rows); };
}

int TRecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

} // namespace kve17
