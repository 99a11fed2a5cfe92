#include "viewer/HistoryTableModel.h"

#include <QCursor>
#include <QGuiApplication>

namespace kve17 {

namespace {

// The wait cursor while the database answers: a search over a long history takes a moment.
class TBusy {
public:
    TBusy() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusy() { QGuiApplication::restoreOverrideCursor(); }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;
};

} // namespace

QString HistoryReadError(const std::exception& e) {
    return QStringLiteral("История событий не читается: %1").arg(QString::fromUtf8(e.what()));
}

bool RenameHistoryLine(history::THistory& history, const QString& from, const QString& to,
                       QString& error) {
    const QString name = to.trimmed();
    if (name.isEmpty()) {
        error = QStringLiteral("Название линии не может быть пустым.");
        return false;
    }
    try {
        history.RenameLine(from.toStdString(), name.toStdString());
    } catch (const std::exception& e) {
        error = QStringLiteral("Линию «%1» не удается переименовать: %2")
                    .arg(from, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

THistoryTableModel::THistoryTableModel(std::shared_ptr<history::THistory> history, std::string line,
                                       int address, int pollMs, QObject* parent)
    : TRecordModel(parent), history_(std::move(history)), line_(std::move(line)), address_(address),
      pollMs_(pollMs) {}

bool THistoryTableModel::Load(QString& error) {
    try {
        newest_ = history_->NewestSeq(line_, address_);
        stored_ =
            newest_ > 0 ? history_->Summary(OnDevice({}, newest_)) : history::THistorySummary{};
    } catch (const std::exception& e) {
        error = HistoryReadError(e);
        return false;
    }
    seen_ = -1;
    Refresh();
    error = error_;
    return error_.isEmpty();
}

bool THistoryTableModel::RenameLine(const QString& to, QString& error) {
    if (!RenameHistoryLine(*history_, QString::fromStdString(line_), to, error))
        return false;
    line_ = to.trimmed().toStdString();
    return true;
}

QString THistoryTableModel::Title() const {
    return QStringLiteral("история, линия «%1», прибор %2")
        .arg(QString::fromStdString(line_))
        .arg(address_);
}

QString THistoryTableModel::WindowTitle() const {
    return QStringLiteral("История событий — линия «%1», прибор %2")
        .arg(QString::fromStdString(line_))
        .arg(address_);
}

bool THistoryTableModel::Reload(QString& error, bool& changed) {
    changed = false;
    history::THistorySummary stored;
    std::int64_t newest = 0;
    try {
        newest = history_->NewestSeq(line_, address_);
        if (newest == newest_)
            return true;
        if (newest < newest_) {
            error = QStringLiteral("История событий не читается: линии «%1» с прибором %2 в ней "
                                   "больше нет")
                        .arg(QString::fromStdString(line_))
                        .arg(address_);
            return false;
        }
        stored = history_->Summary(OnDevice({}, newest));
    } catch (const std::exception& e) {
        error = HistoryReadError(e);
        return false;
    }
    seen_ = newest_;
    newest_ = newest;
    stored_ = stored;
    Refresh();
    changed = true;
    return true;
}

history::THistoryFilter THistoryTableModel::OnDevice(history::THistoryFilter query,
                                                     std::int64_t upTo) const {
    query.Line = line_;
    query.Address = address_;
    query.UpToSeq = upTo;
    return query;
}

history::THistoryFilter THistoryTableModel::Query() const {
    history::THistoryFilter query = OnDevice(history::HistoryFilter(filter_), newest_);
    query.OrderBy = SortColumn();
    query.Descending = Descending();
    return query;
}

std::vector<TRecordRow> THistoryTableModel::Fetch(std::int64_t offset, std::int64_t limit) const {
    history::THistoryFilter query = Query();
    query.Offset = offset;
    query.Limit = limit;
    const auto events = history_->Events(query);
    std::vector<TRecordRow> rows;
    rows.reserve(events.size());
    for (const history::THistoryEvent& event : events) {
        // The place in the history stands where a file's rows keep their slot.
        const TListedRecord listed{static_cast<int>(event.Seq), event.Record, event.Invalid};
        rows.push_back(
            {static_cast<int>(newest_ - event.Seq + 1), listed, RecordDay(event.Record)});
    }
    return rows;
}

void THistoryTableModel::Refresh() {
    const TBusy busy;
    beginResetModel();
    rows_.clear();
    shown_ = {};
    perDay_.clear();
    perCode_.clear();
    failed_ = false;
    error_.clear();
    if (newest_ > 0) {
        try {
            const history::THistoryFilter query = Query();
            shown_ = filter_.Empty() ? stored_ : history_->Summary(query);
            for (const history::TDayCount& day : history_->DayCounts(query))
                if (const auto parsed = ParseDay(day.Day))
                    perDay_.emplace_back(*parsed, static_cast<int>(day.Count));
            for (const history::TCodeCount& code : history_->CodeCounts(query))
                perCode_.emplace_back(code.Code, static_cast<int>(code.Count));
            rows_ = Fetch(0, PageRows);
        } catch (const std::exception& e) {
            error_ = HistoryReadError(e);
            failed_ = true;
            rows_.clear();
            shown_ = {};
            perDay_.clear();
            perCode_.clear();
        }
    }
    endResetModel();
    if (failed_)
        emit FetchFailed(error_);
}

int THistoryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

bool THistoryTableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !failed_ && static_cast<std::int64_t>(rows_.size()) < shown_.Count;
}

void THistoryTableModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    const TBusy busy;
    std::vector<TRecordRow> page;
    try {
        page = Fetch(static_cast<std::int64_t>(rows_.size()), PageRows);
    } catch (const std::exception& e) {
        error_ = HistoryReadError(e);
    }
    if (page.empty()) {
        // The listing is held to the newest event shown, so it cannot end early unless the
        // database failed.
        failed_ = true;
        emit FetchFailed(error_);
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    rows_.insert(rows_.end(), page.begin(), page.end());
    endInsertRows();
}

const TRecordRow& THistoryTableModel::RowAt(int row) const {
    return rows_[static_cast<std::size_t>(row)];
}

bool THistoryTableModel::RowAdded(int row) const {
    return seen_ >= 0 && RowAt(row).Listed.Offset > seen_;
}

TRowCounts THistoryTableModel::Counts() const {
    return {static_cast<int>(shown_.Count), static_cast<int>(stored_.Count),
            static_cast<int>(shown_.Invalid), ParseDay(shown_.First), ParseDay(shown_.Last)};
}

std::pair<std::optional<TDay>, std::optional<TDay>> THistoryTableModel::StoredDays() const {
    return {ParseDay(stored_.First), ParseDay(stored_.Last)};
}

int THistoryTableModel::AddedCount() const {
    return seen_ >= 0 ? static_cast<int>(newest_ - seen_) : 0;
}

bool THistoryTableModel::ShownRows(std::vector<TRecordRow>& rows, QString& error) const {
    rows = rows_;
    if (static_cast<std::int64_t>(rows.size()) >= shown_.Count)
        return true;
    const TBusy busy;
    try {
        const auto rest = Fetch(static_cast<std::int64_t>(rows.size()), 0);
        rows.insert(rows.end(), rest.begin(), rest.end());
        return true;
    } catch (const std::exception& e) {
        error = HistoryReadError(e);
        return false;
    }
}

} // namespace kve17
