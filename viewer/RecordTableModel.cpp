#include "viewer/RecordTableModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace kve17 {

namespace {

const QColor AddedBackground{214, 240, 214};
const QColor InvalidBackground{250, 222, 222};
const QColor InvalidForeground{160, 0, 0};

} // namespace

TRecordTableModel::TRecordTableModel(const IRecordSource& source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {
    Refresh();
}

void TRecordTableModel::Refresh() {
    beginResetModel();
    shown_ = FilterRows(source_.Rows(), filter_);
    endResetModel();
}

void TRecordTableModel::SetFilter(TRecordFilter filter) {
    filter_ = std::move(filter);
    Refresh();
}

const TRecordRow& TRecordTableModel::RowAt(int row) const {
    return source_.Rows()[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])];
}

int TRecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int TRecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TRecordTableModel::SortKey(const TRecordRow& row, int column) const {
    const TArchiveRecord& r = row.Listed.Record;
    switch (column) {
    case ColDate:
    case ColTime: {
        // Records without a day sort before every day; the time breaks ties.
        const qlonglong day = row.Day.value_or(0);
        const qlonglong time = r.Hour * 10000 + r.Minute * 100 + r.Second;
        return column == ColDate ? day * 1000000 + time : time * 100000000LL + day;
    }
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

QVariant TRecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TRecordRow& row = RowAt(index.row());
    const bool added = source_.Added(row);
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(RowTexts(row)[static_cast<std::size_t>(index.column())]);
    case SortRole:
        return SortKey(row, index.column());
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

QVariant TRecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(
        ColumnTitles[static_cast<std::size_t>(section)].data(),
        static_cast<qsizetype>(ColumnTitles[static_cast<std::size_t>(section)].size()));
}

} // namespace kve17
