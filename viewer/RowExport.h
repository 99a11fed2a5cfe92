// Exports and printing over a row cursor, off the window's thread: CSV to a file, and pages to a
// printer or a PDF file, each page with the column headings, the source, the line, the filters,
// its number and the total, and the print time. A job reports its progress and can be cancelled;
// a cancelled or failed job leaves no file behind.
#pragma once

#include "archive/RecordExport.h"
#include "viewer/RowCursor.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QPagedPaintDevice;
class QThread;
class QTimer;

namespace kve17 {

// Past this many rows a print takes long enough that the operator is told the pages first.
inline constexpr std::int64_t LongPrintRows = 5000;

// What every printed page says besides its rows.
struct TPageHeader {
    QString Source; // "Файл архива …" or "История событий: линия …, устройство …"
    QString Filters; // the filters in use, in words
    QDateTime Printed;
};

// How many rows a page of `device` holds, and so how many pages a print takes.
struct TPrintLayout {
    int RowsPerPage = 1;
    std::int64_t Pages(std::int64_t rows) const {
        return std::max<std::int64_t>(1, (rows + RowsPerPage - 1) / RowsPerPage);
    }
};
TPrintLayout PrintLayout(QPagedPaintDevice& device);

// Shared by a job and the window: the rows done so far, and the window's wish to cancel.
struct TJobControl {
    std::atomic<std::int64_t> Done{0};
    std::atomic<std::int64_t> Total{0};
    std::atomic<bool> Cancel{false};
    std::atomic<bool> Stopped{false}; // set by the job when it stopped on Cancel, unfinished
};

// Each returns "" when done or cancelled, else what went wrong in the operator's words.
QString WriteCsvFile(IRowCursor& rows, const QString& path, char separator,
                     const TExportColumns& columns, TJobControl& control);
QString PrintRows(IRowCursor& rows, QPagedPaintDevice& device, const TPageHeader& header,
                  const TEventDictionary* names, TJobControl& control);
// PrintRows into a PDF file at `path`, which is replaced only by a whole document.
QString WritePdfFile(IRowCursor& rows, const QString& path, const TPageHeader& header,
                     const TEventDictionary* names, TJobControl& control);

// One export or print running on a thread of its own from the moment it is made.
class TRowJob : public QObject {
    Q_OBJECT
public:
    using TWork = std::function<QString(TJobControl&)>;

    TRowJob(TWork work, QObject* parent = nullptr);
    // Cancels a job still running and waits for it to stop.
    ~TRowJob() override;

    void Cancel() { control_->Cancel = true; }
    bool Done() const { return done_; }
    bool Cancelled() const { return done_ && control_->Stopped; }
    // What went wrong; "" when the job succeeded or was cancelled.
    const QString& Error() const { return error_; }
    std::int64_t RowsDone() const { return control_->Done; }
    std::int64_t RowsTotal() const { return control_->Total; }

signals:
    void Progress(qint64 done, qint64 total);
    void Finished();

private:
    std::shared_ptr<TJobControl> control_ = std::make_shared<TJobControl>();
    std::shared_ptr<QString> result_ = std::make_shared<QString>();
    QThread* thread_ = nullptr;
    QTimer* poll_ = nullptr;
    QString error_;
    bool done_ = false;
};

} // namespace kve17
