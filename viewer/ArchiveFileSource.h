// The records of an archive file, read and never written.
#pragma once

#include "viewer/RecordSource.h"

#include <set>

namespace kve17 {

class TArchiveFileSource : public IRecordSource {
public:
    explicit TArchiveFileSource(QString path);

    // The first load; false with `error` naming the file and the reason.
    bool Load(QString& error);

    QString Title() const override;
    const std::vector<TRecordRow>& Rows() const override { return rows_; }
    bool Added(const TRecordRow& row) const override;
    bool Reload(QString& error, bool& changed) override;
    QString WatchedPath() const override { return path_; }

private:
    bool Read(TArchiveImage& image, QString& error) const;

    QString path_;
    TArchiveImage image_ = FreshImage();
    std::vector<TRecordRow> rows_;
    std::set<int> added_; // slot offsets
};

} // namespace kve17
