// Rows read a batch at a time, so that a file, a history, an export and a print all stream the
// same way. A cursor is made on the window's thread and may then be read on one other thread.
#pragma once

#include "archive/RecordTable.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kve17 {

// A row of a listing: a record, or a note between two records (a history's gap) in words.
struct TListingRow {
    TRecordRow Record{0, {0, {}, false}, std::nullopt};
    std::string Note; // "" for a record

    static TListingRow Of(const TRecordRow& record) { return {record, {}}; }
    static TListingRow NoteOf(std::string note) {
        return {{0, {0, {}, false}, std::nullopt}, std::move(note)};
    }
};

class IRowCursor {
public:
    virtual ~IRowCursor() = default;
    // The rows in all, notes included.
    virtual std::int64_t Count() const = 0;
    // The next rows, at most `most`; none at the end. Throws std::exception when they cannot be
    // read.
    virtual std::vector<TListingRow> Next(int most) = 0;
};

// Opens a cursor; called on the thread that reads it (a database connection belongs to one).
using TCursorMaker = std::function<std::unique_ptr<IRowCursor>()>;

// Rows already in memory, as a file's are.
class TRowListCursor : public IRowCursor {
public:
    explicit TRowListCursor(std::vector<TRecordRow> rows) : rows_(std::move(rows)) {}
    std::int64_t Count() const override { return static_cast<std::int64_t>(rows_.size()); }
    std::vector<TListingRow> Next(int most) override {
        const std::size_t end = std::min(rows_.size(), next_ + static_cast<std::size_t>(most));
        std::vector<TListingRow> batch;
        batch.reserve(end - next_);
        for (; next_ < end; ++next_)
            batch.push_back(TListingRow::Of(rows_[next_]));
        return batch;
    }

private:
    std::vector<TRecordRow> rows_;
    std::size_t next_ = 0;
};

} // namespace kve17
