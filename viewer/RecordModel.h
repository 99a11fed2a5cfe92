// The table of the viewer: the records of one source that pass a filter, in the order of a
// column, with the texts and shades the table shows. Where the rows come from, how they are
// filtered and sorted, and what they count up to is the subclass's: all held in memory, or
// fetched page by page from a database.
#pragma once

#include "archive/EventDictionary.h"
#include "archive/RecordTable.h"
#include "viewer/RowCursor.h"

#include <QAbstractTableModel>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kve17 {

// Bars of the chart: day (yyyymmdd) or code, and count.
using TBars = std::vector<std::pair<int, int>>;

class TRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int AddedRole = Qt::UserRole + 1;
    // The name of the code, from the dictionary, after the table's own columns.
    static constexpr int NameColumn = ColumnCount;

    using QAbstractTableModel::QAbstractTableModel;

    // What the window's title names: the file, or the device and database.
    virtual QString Title() const = 0;
    virtual QString WindowTitle() const {
        return QStringLiteral("Просмотр архива — %1").arg(Title());
    }
    // A file to watch for changes; "" when the source has none.
    virtual QString WatchedPath() const { return {}; }
    // How often to look for new records when there is no file to watch (ms); 0: never.
    virtual int PollMs() const { return 0; }
    // True when every change of the filter or order is a database query.
    virtual bool Remote() const { return false; }
    // Fetches the records again. False, with `error` set and the rows kept, when that fails;
    // `changed` tells whether the rows differ from before.
    virtual bool Reload(QString& error, bool& changed) = 0;

    // Shows the rows that pass `filter`; nothing is fetched again when it is the same.
    void SetFilter(TRecordFilter filter);
    const TRecordFilter& Filter() const { return filter_; }
    // The names of the codes; an empty dictionary names none.
    void SetNames(std::shared_ptr<const TEventDictionary> names);
    const TEventDictionary& Names() const { return *names_; }

    // Row `row` of the table, which rowCount() covers.
    virtual const TRecordRow& RowAt(int row) const = 0;
    // True for a row the last Reload added.
    virtual bool RowAdded(int row) const = 0;
    // The words of a row that is no record but a note between two (a history's gap); "" for a
    // record's row, which RowAt then holds.
    virtual QString NoteAt(int /*row*/) const { return {}; }
    // The rows that are notes, ascending; the table spans them across its columns.
    virtual std::vector<int> NoteRows() const { return {}; }
    // The rows that pass the filter (Stored: every row) and their days.
    virtual TRowCounts Counts() const = 0;
    // The earliest and latest day of every row.
    virtual std::pair<std::optional<TDay>, std::optional<TDay>> StoredDays() const = 0;
    // The rows that pass the filter, per day and per code, ascending.
    virtual TBars PerDay() const = 0;
    virtual TBars PerCode() const = 0;
    // How many rows the last Reload added.
    virtual int AddedCount() const = 0;
    // How many of all the rows have no readable day (a date range leaves them out).
    virtual int Undated() const = 0;
    // Opens a cursor over every row that passes the filter, in table order, as they are now;
    // the cursor may be read on another thread.
    virtual TCursorMaker Cursor() const = 0;
    // What the exports say of the source: its line ("" for a file) and device (0 for a file).
    virtual std::string Line() const { return {}; }
    virtual int Device() const { return 0; }
    // Why the rows could not be fetched last time; "" when they were.
    const QString& Error() const { return error_; }

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    // Rows could not be fetched; Error() says why.
    void FetchFailed(const QString& error);

protected:
    // Shows the rows anew after the filter changed, or the source.
    virtual void Refresh() = 0;
    // Puts the rows in the order of SortColumn(), Descending().
    virtual void Sort() = 0;

    TColumn SortColumn() const { return sortColumn_; }
    bool Descending() const { return descending_; }

    TRecordFilter filter_;
    mutable QString error_; // a page fetched while the table paints may fail too

private:
    TColumn sortColumn_ = ColNumber;
    bool descending_ = false;
    std::shared_ptr<const TEventDictionary> names_ = std::make_shared<TEventDictionary>();
};

} // namespace kve17
