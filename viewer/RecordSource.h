// Records the viewer holds in memory, as an archive file gives them: the rows, which of them the
// last change added, and how to fetch them again.
#pragma once

#include "archive/RecordTable.h"

#include <QString>
#include <vector>

namespace kve17 {

class IRecordSource {
public:
    virtual ~IRecordSource() = default;
    // What the window's title names: the file, or the device and database.
    virtual QString Title() const = 0;
    virtual const std::vector<TRecordRow>& Rows() const = 0;
    // True for a row the last Reload added.
    virtual bool Added(const TRecordRow& row) const = 0;
    // Fetches the records again. False, with `error` set and the rows kept, when that fails;
    // `changed` tells whether the rows differ from before.
    virtual bool Reload(QString& error, bool& changed) = 0;
    // A file to watch for changes; "" when the source has none.
    virtual QString WatchedPath() const { return {}; }
};

} // namespace kve17
