#include "viewer/RecordModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace kve17 {

namespace {

const QColor AddedBackground{214, 240, 214};
const QColor InvalidBackground{250, 222, 222};
const QColor InvalidForeground{160, 0, 0};
const QColor AlarmBackground{255, 204, 188};
const QColor WarningBackground{255, 240, 186};
const QColor InfoBackground{226, 238, 251};
const QColor NoteBackground{228, 224, 240};

// A note's row: its words from the date on, the whole of them in its tip.
QVariant NoteData(const QModelIndex& index, int role, const QString& note) {
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == ColDate ? note : QString();
    case Qt::ToolTipRole:
        return note;
    case Qt::BackgroundRole:
        return QBrush(NoteBackground);
    case Qt::FontRole: {
        QFont font;
        font.setItalic(true);
        return font;
    }
    default:
        return {};
    }
}

QVariant SeverityBackground(TSeverity severity) {
    switch (severity) {
    case TSeverity::Alarm:
        return QBrush(AlarmBackground);
    case TSeverity::Warning:
        return QBrush(WarningBackground);
    case TSeverity::Info:
        return QBrush(InfoBackground);
    default:
        return {};
    }
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void TRecordModel::SetNames(std::shared_ptr<const TEventDictionary> names) {
    beginResetModel();
    names_ = names ? std::move(names) : std::make_shared<TEventDictionary>();
    endResetModel();
}

void TRecordModel::SetFilter(TRecordFilter filter) {
    if (filter == filter_)
        return;
    filter_ = std::move(filter);
    Refresh();
}

void TRecordModel::sort(int column, Qt::SortOrder order) {
    // The names sort as their codes: a database knows no names.
    if (column == NameColumn)
        column = ColCode;
    // The same order again changes nothing, and a database source would fetch all anew.
    if (column < 0 || column >= ColumnCount ||
        (column == sortColumn_ && descending_ == (order == Qt::DescendingOrder)))
        return;
    sortColumn_ = static_cast<TColumn>(column);
    descending_ = order == Qt::DescendingOrder;
    Sort();
}

int TRecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount + 1;
}

QVariant TRecordModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (const QString note = NoteAt(index.row()); !note.isEmpty())
        return NoteData(index, role, note);
    const TRecordRow& row = RowAt(index.row());
    const bool added = RowAdded(index.row());
    const TEventName* name = names_->Find(row.Listed.Record.Code);
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == NameColumn)
            return name ? QString::fromStdString(name->Name) : QString();
        return QString::fromStdString(RowTexts(row)[static_cast<std::size_t>(index.column())]);
    case AddedRole:
        return added;
    case Qt::BackgroundRole:
        if (added)
            return QBrush(AddedBackground);
        if (row.Listed.Invalid)
            return QBrush(InvalidBackground);
        return name ? SeverityBackground(name->Severity) : QVariant();
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
        if (added)
            return QStringLiteral("Запись добавлена последним чтением");
        if (name && name->Severity != TSeverity::None)
            return QStringLiteral("%1: %2").arg(Text(SeverityText(name->Severity)),
                                                QString::fromStdString(name->Name));
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == ColNumber ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                           : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section > NameColumn)
        return {};
    if (section == NameColumn)
        return QStringLiteral("Событие");
    return Text(ColumnTitles[static_cast<std::size_t>(section)]);
}

} // namespace kve17
