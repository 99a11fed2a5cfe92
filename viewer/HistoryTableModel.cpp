#include "viewer/HistoryTableModel.h"

#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <algorithm>
#include <deque>

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

// "2026-03-01 08:15:00" as the table shows a record's day and time; a day alone stays so.
QString StampWords(const std::string& stamp) {
    if (stamp.empty())
        return QStringLiteral("событием без даты");
    const QString text = QString::fromStdString(stamp);
    const QDate day = QDate::fromString(text.left(10), Qt::ISODate);
    if (!day.isValid())
        return text;
    return (day.toString(QStringLiteral("dd.MM.yy")) + text.mid(10)).trimmed();
}

} // namespace

QString GapText(const history::THistoryGap& gap) {
    const QDateTime found = QDateTime::fromString(QString::fromStdString(gap.FoundAt), Qt::ISODate);
    const QString when = found.isValid()
                             ? found.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"))
                             : QString::fromStdString(gap.FoundAt);
    return QStringLiteral("Пропуск: устройство перезаписало события между %1 и %2, пока их не "
                          "прочитали (найден чтением %3, файл %4)")
        .arg(StampWords(gap.Before), StampWords(gap.After), when, QString::fromStdString(gap.File));
}

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

THistoryTableModel::THistoryTableModel(std::shared_ptr<history::THistory> history,
                                       std::string where, std::string line, int address, int pollMs,
                                       QObject* parent)
    : TRecordModel(parent), history_(std::move(history)), where_(std::move(where)),
      line_(std::move(line)), address_(address), pollMs_(pollMs) {}

std::vector<TRecordRow> HistoryRows(const std::vector<history::THistoryEvent>& events,
                                    std::int64_t newest) {
    std::vector<TRecordRow> rows;
    rows.reserve(events.size());
    for (const history::THistoryEvent& event : events) {
        // The place in the history stands where a file's rows keep their slot.
        const TListedRecord listed{static_cast<int>(event.Seq), event.Record, event.Invalid};
        rows.push_back({static_cast<int>(newest - event.Seq + 1), listed, RecordDay(event.Record)});
    }
    return rows;
}

void THistoryTableModel::ReadStored(std::int64_t newest) {
    if (newest <= 0) {
        stored_ = {};
        undated_ = 0;
        return;
    }
    const history::THistoryFilter device = OnDevice({}, newest);
    stored_ = history_->Summary(device);
    std::int64_t dated = 0;
    for (const history::TDayCount& day : history_->DayCounts(device))
        dated += day.Count;
    undated_ = static_cast<int>(stored_.Count - dated);
}

bool THistoryTableModel::Load(QString& error) {
    try {
        newest_ = history_->NewestSeq(line_, address_);
        ReadStored(newest_);
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
    return QStringLiteral("история, линия «%1», устройство %2")
        .arg(QString::fromStdString(line_))
        .arg(address_);
}

QString THistoryTableModel::WindowTitle() const {
    return QStringLiteral("История событий — линия «%1», устройство %2")
        .arg(QString::fromStdString(line_))
        .arg(address_);
}

bool THistoryTableModel::Reload(QString& error, bool& changed) {
    changed = false;
    std::int64_t newest = 0;
    try {
        newest = history_->NewestSeq(line_, address_);
        if (newest == newest_)
            return true;
        if (newest < newest_) {
            error = QStringLiteral("История событий не читается: линии «%1» с устройством %2 в "
                                   "ней больше нет")
                        .arg(QString::fromStdString(line_))
                        .arg(address_);
            return false;
        }
        ReadStored(newest);
    } catch (const std::exception& e) {
        error = HistoryReadError(e);
        return false;
    }
    seen_ = newest_;
    newest_ = newest;
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

void THistoryTableModel::Refresh() {
    const TBusy busy;
    beginResetModel();
    pages_.clear();
    fetched_ = 0;
    shown_ = {};
    perDay_.clear();
    perCode_.clear();
    gaps_.clear();
    failed_ = false;
    error_.clear();
    if (newest_ > 0) {
        try {
            const history::THistoryFilter query = Query();
            // Unfiltered, the kept per-day counts answer; a filter is counted in one pass.
            history::THistoryTally tally;
            if (filter_.Empty()) {
                tally.Summary = stored_;
                tally.Days = history_->DayCounts(query);
                tally.Codes = history_->CodeCounts(query);
            } else {
                tally = history_->Tally(query);
            }
            shown_ = tally.Summary;
            PlaceGaps(query);
            for (const history::TDayCount& day : tally.Days)
                if (const auto parsed = ParseDay(day.Day))
                    perDay_.emplace_back(*parsed, static_cast<int>(day.Count));
            for (const history::TCodeCount& code : tally.Codes)
                perCode_.emplace_back(code.Code, static_cast<int>(code.Count));
        } catch (const std::exception& e) {
            error_ = HistoryReadError(e);
            failed_ = true;
            shown_ = {};
            perDay_.clear();
            perCode_.clear();
            gaps_.clear();
        }
    }
    endResetModel();
    // The first page now, so that a failure shows with the counts rather than on scrolling.
    if (!failed_ && shown_.Count > 0)
        Page(0);
    if (failed_)
        emit FetchFailed(error_);
}

void THistoryTableModel::PlaceGaps(const history::THistoryFilter& query) {
    if (SortColumn() != ColNumber)
        return;
    std::vector<history::THistoryGap> gaps = history_->Gaps(query); // newest first
    if (Descending())
        std::reverse(gaps.begin(), gaps.end());
    // A gap comes after the events shown on its newer side (oldest first: its older side). The
    // places run 1, 2, … without a hole, so unfiltered the events up to a gap are its place;
    // filtered, the places shown are listed once.
    std::vector<std::int64_t> shown;
    if (!filter_.Empty() && !gaps.empty()) {
        shown.reserve(static_cast<std::size_t>(shown_.Count));
        history_->StreamEvents(query, [&shown](const history::THistoryEvent& e) {
            shown.push_back(e.Seq);
            return true;
        });
        std::sort(shown.begin(), shown.end());
    }
    for (history::THistoryGap& gap : gaps) {
        const std::int64_t older =
            filter_.Empty()
                ? gap.AfterSeq
                : std::upper_bound(shown.begin(), shown.end(), gap.AfterSeq) - shown.begin();
        const std::int64_t before = Descending() ? older : shown_.Count - older;
        gaps_.push_back({static_cast<int>(before), std::move(gap)});
    }
    std::stable_sort(gaps_.begin(), gaps_.end(),
                     [](const TGapRow& a, const TGapRow& b) { return a.Row < b.Row; });
    for (std::size_t i = 0; i < gaps_.size(); ++i)
        gaps_[i].Row += static_cast<int>(i);
}

const history::THistoryGap* THistoryTableModel::GapAt(int row) const {
    const auto at = std::lower_bound(gaps_.begin(), gaps_.end(), row,
                                     [](const TGapRow& gap, int r) { return gap.Row < r; });
    return at != gaps_.end() && at->Row == row ? &at->Gap : nullptr;
}

int THistoryTableModel::EventAt(int row) const {
    const auto after = std::lower_bound(gaps_.begin(), gaps_.end(), row,
                                        [](const TGapRow& gap, int r) { return gap.Row < r; });
    return row - static_cast<int>(after - gaps_.begin());
}

QString THistoryTableModel::NoteAt(int row) const {
    const history::THistoryGap* gap = GapAt(row);
    return gap ? GapText(*gap) : QString();
}

std::vector<int> THistoryTableModel::NoteRows() const {
    std::vector<int> rows;
    for (const TGapRow& gap : gaps_)
        rows.push_back(gap.Row);
    return rows;
}

const std::vector<TRecordRow>* THistoryTableModel::Page(int event) const {
    const std::int64_t number = event / PageRows;
    if (const auto held = pages_.find(number); held != pages_.end())
        return &held->second;
    if (failed_)
        return nullptr;
    const TBusy busy;
    history::THistoryFilter query = Query();
    query.Offset = number * PageRows;
    query.Limit = PageRows;
    std::vector<TRecordRow> rows;
    try {
        rows = HistoryRows(history_->Events(query), newest_);
    } catch (const std::exception& e) {
        error_ = HistoryReadError(e);
    }
    // The listing is held to the newest event shown, so a page cannot come short unless the
    // database failed.
    const std::int64_t expected = std::min<std::int64_t>(PageRows, shown_.Count - query.Offset);
    if (static_cast<std::int64_t>(rows.size()) != expected) {
        if (error_.isEmpty())
            error_ = QStringLiteral("История событий не читается: страница %1 пришла неполной")
                         .arg(number + 1);
        failed_ = true;
        // Told after the view's paint, which may not be interrupted by a reset.
        auto* self = const_cast<THistoryTableModel*>(this);
        QMetaObject::invokeMethod(
            self, [self] { emit self->FetchFailed(self->error_); }, Qt::QueuedConnection);
        return nullptr;
    }
    // The page farthest from this one goes first.
    if (static_cast<int>(pages_.size()) >= KeptPages) {
        const auto last = std::prev(pages_.end());
        pages_.erase(number - pages_.begin()->first > last->first - number ? pages_.begin() : last);
    }
    ++fetched_;
    return &(pages_[number] = std::move(rows));
}

int THistoryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.Count) + static_cast<int>(gaps_.size());
}

const TRecordRow& THistoryTableModel::RowAt(int row) const {
    static const TRecordRow None{0, {0, {}, false}, std::nullopt};
    if (GapAt(row) != nullptr)
        return None;
    const int event = EventAt(row);
    const auto* page = Page(event);
    return page ? (*page)[static_cast<std::size_t>(event % PageRows)] : None;
}

bool THistoryTableModel::RowAdded(int row) const {
    return seen_ >= 0 && GapAt(row) == nullptr && RowAt(row).Listed.Offset > seen_;
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

namespace {

// The rows of one listing, a page at a time, over a connection of its own: the events, with the
// gaps at the rows the table shows them.
class THistoryCursor : public IRowCursor {
public:
    using TNotes = std::vector<std::pair<std::int64_t, std::string>>; // row, words; ascending
    static constexpr std::int64_t FetchRows = 5000;

    THistoryCursor(std::string where, history::THistoryFilter query, std::int64_t newest,
                   std::int64_t events, TNotes notes)
        : where_(std::move(where)), query_(std::move(query)), newest_(newest), events_(events),
          notes_(std::move(notes)) {}

    std::int64_t Count() const override {
        return events_ + static_cast<std::int64_t>(notes_.size());
    }
    std::vector<TListingRow> Next(int most) override {
        std::vector<TListingRow> rows;
        while (static_cast<int>(rows.size()) < most && row_ < Count()) {
            if (note_ < notes_.size() && notes_[note_].first == row_) {
                rows.push_back(TListingRow::NoteOf(notes_[note_++].second));
                ++row_;
                continue;
            }
            // The events up to the next note, as many as the batch still takes.
            std::int64_t take =
                std::min<std::int64_t>(most - static_cast<int>(rows.size()), events_ - handed_);
            if (note_ < notes_.size())
                take = std::min(take, notes_[note_].first - row_);
            if (take <= 0)
                break; // never: a note stands at every row the events leave
            for (const TRecordRow& row : Events(take))
                rows.push_back(TListingRow::Of(row));
            row_ += take;
            handed_ += take;
        }
        return rows;
    }

private:
    std::string where_;
    history::THistoryFilter query_;
    std::int64_t newest_;
    std::int64_t events_;
    TNotes notes_;
    std::size_t note_ = 0;    // the next note
    std::int64_t row_ = 0;    // the next row
    std::int64_t handed_ = 0; // events handed over
    std::unique_ptr<history::THistory> history_;

    std::deque<TRecordRow> fetched_; // rows fetched and not yet handed over
    std::int64_t asked_ = 0;         // events asked of the database so far
    std::int64_t below_ = 0;         // the place of the last event fetched

    // The next `count` events, fetched thousands at a time: a page's query skips every row
    // before it, so few and long ones; newest first, each starts below the last one's place.
    std::vector<TRecordRow> Events(std::int64_t count) {
        while (static_cast<std::int64_t>(fetched_.size()) < count) {
            if (!history_)
                history_ = std::make_unique<history::THistory>(history::THistory::Open(where_));
            const bool newestFirst = query_.OrderBy == ColNumber && !query_.Descending;
            if (newestFirst && below_ > 0)
                query_.UpToSeq = below_ - 1;
            query_.Offset = newestFirst ? 0 : asked_;
            query_.Limit =
                std::min<std::int64_t>(std::max<std::int64_t>(count, FetchRows), events_ - asked_);
            const auto rows = HistoryRows(history_->Events(query_), newest_);
            if (query_.Limit <= 0 || static_cast<std::int64_t>(rows.size()) != query_.Limit)
                throw std::runtime_error("история событий выдала меньше событий, чем насчитала");
            fetched_.insert(fetched_.end(), rows.begin(), rows.end());
            asked_ += query_.Limit;
            below_ = rows.back().Listed.Offset;
        }
        std::vector<TRecordRow> rows(fetched_.begin(), fetched_.begin() + count);
        fetched_.erase(fetched_.begin(), fetched_.begin() + count);
        return rows;
    }
};

} // namespace

TCursorMaker THistoryTableModel::Cursor() const {
    const std::int64_t events = failed_ ? 0 : shown_.Count;
    THistoryCursor::TNotes notes;
    if (!failed_)
        for (const TGapRow& gap : gaps_)
            notes.emplace_back(gap.Row, GapText(gap.Gap).toStdString());
    return [where = where_, query = Query(), newest = newest_, events, notes] {
        return std::make_unique<THistoryCursor>(where, query, newest, events, notes);
    };
}

} // namespace kve17
