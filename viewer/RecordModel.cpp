#include "viewer/RecordModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace kve17 {

namespace {

const QColor AddedBackground{214, 240, 214};
const QColor InvalidBackground{250, 222, 222};
const QColor InvalidForeground{160, 0, 0};

} // namespace

void TRecordModel::SetFilter(TRecordFilter filter) {
    if (filter == filter_)
        return;
    filter_ = std::move(filter);
    Refresh();
}

void TRecordModel::sort(int column, Qt::SortOrder order) {
    // The same order again changes nothing, and a database source would fetch all anew.
    if (column < 0 || column >= ColumnCount ||
        (column == sortColumn_ && descending_ == (order == Qt::DescendingOrder)))
        return;
    sortColumn_ = static_cast<TColumn>(column);
    descending_ = order == Qt::DescendingOrder;
    Sort();
}

int TRecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TRecordModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TRecordRow& row = RowAt(index.row());
    const bool added = RowAdded(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(RowTexts(row)[static_cast<std::size_t>(index.column())]);
    case AddedRole:
        return added;
    case Qt::BackgroundRole:
        if (added)
            return QBrush(AddedBackground);
        if (row.Listed.Invalid)
            return QBrush(InvalidBackground);
        return {};
    case Qt::ForegroundRole:
        return row.Listed.Invalid ? QVariant(QBrush(InvalidForeground)) : QVariant();
    case Qt::FontRole:
        if (row.Listed.Invalid && index.column() == ColState) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::ToolTipRole:
        return added ? QStringLiteral("Запись добавлена последним чтением") : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == ColNumber ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                           : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(
        ColumnTitles[static_cast<std::size_t>(section)].data(),
        static_cast<qsizetype>(ColumnTitles[static_cast<std::size_t>(section)].size()));
}

} // namespace kve17
