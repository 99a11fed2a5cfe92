#include "viewer/RowExport.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <unistd.h>

namespace kve17 {

namespace {

constexpr int CsvBatch = 2000;
constexpr int ProgressMs = 100;
constexpr int FontPoints = 9;
constexpr int HeaderLines = 3; // source, filters, print time
constexpr qreal LineSpacing = 1.3;

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Stops a job at the window's wish; true when it has to stop.
bool Stopping(TJobControl& control) {
    if (!control.Cancel)
        return false;
    control.Stopped = true;
    return true;
}

// The measures of a page, all in the device's own units.
struct TPage {
    QFont Font;
    QFont Bold;
    qreal Line = 0;
    qreal Width = 0;
    qreal Height = 0;
    int Rows = 1;

    explicit TPage(QPagedPaintDevice& device) {
        Font.setPointSize(FontPoints);
        Bold = Font;
        Bold.setBold(true);
        Line = QFontMetricsF(Font, &device).height() * LineSpacing;
        Width = device.width();
        Height = device.height();
        // The header lines, a blank line, the column headings above the rows; the page number
        // below them.
        const qreal around = (HeaderLines + 3) * Line;
        Rows = std::max(1, static_cast<int>((Height - around) / Line));
    }
};

struct TColumnPlace {
    QString Title;
    qreal Left = 0;
    qreal Width = 0;
};

// The columns of a page left to right; the name, when there are names, takes what is left.
std::vector<TColumnPlace> Columns(const TPage& page, QPagedPaintDevice& device, bool names) {
    const QFontMetricsF metrics(page.Bold, &device);
    const qreal gap = metrics.horizontalAdvance(QStringLiteral("  "));
    const std::vector<std::pair<QString, QString>> fixed = {
        {Text(ColumnTitles[ColNumber]), QStringLiteral("9999999")},
        {Text(ColumnTitles[ColDate]), QStringLiteral("00.00.00")},
        {Text(ColumnTitles[ColTime]), QStringLiteral("00:00:00")},
        {Text(ColumnTitles[ColCode]), QStringLiteral("255 (0xFF)")},
        {Text(ColumnTitles[ColDetail]), QStringLiteral("255 (0xFF)")},
        {Text(ColumnTitles[ColState]), Text(InvalidText)}};
    std::vector<TColumnPlace> columns;
    qreal used = 0;
    for (const auto& [title, widest] : fixed) {
        const qreal width =
            std::max(metrics.horizontalAdvance(title), metrics.horizontalAdvance(widest)) + gap;
        columns.push_back({title, 0, width});
        used += width;
    }
    if (names)
        columns.insert(columns.begin() + ColCode + 1,
                       {QStringLiteral("Событие"), 0, std::max(page.Width - used, gap)});
    qreal left = 0;
    for (TColumnPlace& column : columns) {
        column.Left = left;
        left += column.Width;
    }
    return columns;
}

QStringList Cells(const TRecordRow& row, const TEventDictionary* names) {
    const auto texts = RowTexts(row);
    QStringList cells;
    for (const std::string& text : texts)
        cells << QString::fromStdString(text);
    if (names != nullptr) {
        const TEventName* name = names->Find(row.Listed.Record.Code);
        cells.insert(ColCode + 1, name ? QString::fromStdString(name->Name) : QString());
    }
    return cells;
}

void DrawHeader(QPainter& painter, const TPage& page, const TPageHeader& header,
                const std::vector<TColumnPlace>& columns) {
    const QRectF line(0, 0, page.Width, page.Line);
    painter.setFont(page.Bold);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(header.Source, Qt::ElideMiddle,
                                                      static_cast<int>(page.Width)));
    painter.setFont(page.Font);
    painter.drawText(line.translated(0, page.Line), Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(header.Filters, Qt::ElideRight,
                                                      static_cast<int>(page.Width)));
    painter.drawText(line.translated(0, 2 * page.Line), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Напечатано %1")
                         .arg(header.Printed.toString(QStringLiteral("dd.MM.yyyy HH:mm"))));
    const qreal top = (HeaderLines + 1) * page.Line;
    painter.setFont(page.Bold);
    for (const TColumnPlace& column : columns)
        painter.drawText(QRectF(column.Left, top, column.Width, page.Line),
                         Qt::AlignLeft | Qt::AlignVCenter, column.Title);
    painter.drawLine(QPointF(0, top + page.Line), QPointF(page.Width, top + page.Line));
    painter.setFont(page.Font);
}

// A note's words from the date's column on, in italics.
void DrawNote(QPainter& painter, const TPage& page, const std::vector<TColumnPlace>& columns,
              qreal top, const std::string& note) {
    QFont italic = page.Font;
    italic.setItalic(true);
    painter.setFont(italic);
    const qreal left = columns[ColDate].Left;
    painter.drawText(QRectF(left, top, page.Width - left, page.Line),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(QString::fromStdString(note), Qt::ElideRight,
                                                      static_cast<int>(page.Width - left)));
    painter.setFont(page.Font);
}

void DrawRows(QPainter& painter, const TPage& page, const std::vector<TColumnPlace>& columns,
              const std::vector<TListingRow>& rows, const TEventDictionary* names) {
    qreal top = (HeaderLines + 2) * page.Line;
    const QFontMetricsF metrics = painter.fontMetrics();
    for (const auto& [row, note] : rows) {
        if (!note.empty()) {
            DrawNote(painter, page, columns, top, note);
            top += page.Line;
            continue;
        }
        const QStringList cells = Cells(row, names);
        for (std::size_t c = 0; c < columns.size(); ++c)
            painter.drawText(QRectF(columns[c].Left, top, columns[c].Width, page.Line),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(cells[static_cast<qsizetype>(c)], Qt::ElideRight,
                                                columns[c].Width));
        top += page.Line;
    }
}

void DrawPageNumber(QPainter& painter, const TPage& page, std::int64_t number, std::int64_t pages) {
    painter.drawText(QRectF(0, page.Height - page.Line, page.Width, page.Line),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Страница %1 из %2").arg(number).arg(pages));
}

QString CannotWrite(const QString& path, const QString& why = {}) {
    return why.isEmpty() ? QStringLiteral("Файл %1 не удается записать").arg(path)
                         : QStringLiteral("Файл %1 не удается записать: %2").arg(path, why);
}

QString ReadFailed(const std::exception& e) {
    return QStringLiteral("Записи не удается прочитать: %1").arg(QString::fromUtf8(e.what()));
}

} // namespace

TPrintLayout PrintLayout(QPagedPaintDevice& device) {
    return {TPage(device).Rows};
}

QString WriteCsvFile(IRowCursor& rows, const QString& path, char separator,
                     const TExportColumns& columns, TJobControl& control) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return CannotWrite(path, file.errorString());
    control.Total = rows.Count();
    std::string text = CsvStart(separator) + CsvHeader(columns, separator);
    try {
        for (auto batch = rows.Next(CsvBatch); !batch.empty(); batch = rows.Next(CsvBatch)) {
            if (Stopping(control)) {
                file.cancelWriting();
                return {};
            }
            for (const auto& [row, note] : batch)
                text += note.empty() ? CsvLine(row, columns, separator)
                                     : CsvNoteLine(note, columns, separator);
            if (file.write(text.data(), static_cast<qint64>(text.size())) !=
                static_cast<qint64>(text.size()))
                return CannotWrite(path, file.errorString());
            text.clear();
            control.Done += static_cast<std::int64_t>(batch.size());
        }
    } catch (const std::exception& e) {
        file.cancelWriting();
        return ReadFailed(e);
    }
    if (!text.empty() && file.write(text.data(), static_cast<qint64>(text.size())) !=
                             static_cast<qint64>(text.size()))
        return CannotWrite(path, file.errorString());
    if (!file.commit())
        return CannotWrite(path, file.errorString());
    return {};
}

QString PrintRows(IRowCursor& rows, QPagedPaintDevice& device, const TPageHeader& header,
                  const TEventDictionary* names, TJobControl& control) {
    const TPage page(device);
    const auto columns = Columns(page, device, names != nullptr);
    control.Total = rows.Count();
    const std::int64_t pages = TPrintLayout{page.Rows}.Pages(rows.Count());
    QPainter painter;
    if (!painter.begin(&device))
        return QStringLiteral("Печать не удается начать");
    try {
        for (std::int64_t number = 1; number <= pages; ++number) {
            if (Stopping(control))
                break;
            const auto batch = rows.Next(page.Rows);
            if (number > 1)
                device.newPage();
            DrawHeader(painter, page, header, columns);
            DrawRows(painter, page, columns, batch, names);
            DrawPageNumber(painter, page, number, pages);
            control.Done += static_cast<std::int64_t>(batch.size());
        }
    } catch (const std::exception& e) {
        painter.end();
        return ReadFailed(e);
    }
    painter.end();
    return {};
}

QString WritePdfFile(IRowCursor& rows, const QString& path, const TPageHeader& header,
                     const TEventDictionary* names, TJobControl& control) {
    // Written beside the target and renamed over it when whole.
    const QFileInfo target(path);
    const QString part =
        target.dir().filePath(QStringLiteral(".%1.%2.part").arg(target.fileName()).arg(getpid()));
    QString error;
    {
        QPdfWriter writer(part);
        writer.setTitle(header.Source);
        writer.setCreator(QStringLiteral("kve17-archive"));
        error = PrintRows(rows, writer, header, names, control);
    }
    if (!error.isEmpty() && !QFileInfo::exists(part))
        error = CannotWrite(path);
    std::error_code failed;
    const auto from = std::filesystem::path(part.toStdString());
    if (error.isEmpty() && !control.Stopped) {
        if (!QFileInfo(part).isFile())
            error = CannotWrite(path);
        else
            std::filesystem::rename(from, std::filesystem::path(path.toStdString()), failed);
        if (failed)
            error = CannotWrite(path, QString::fromStdString(failed.message()));
    }
    if (!error.isEmpty() || control.Stopped)
        std::filesystem::remove(from, failed);
    return error;
}

TRowJob::TRowJob(TWork work, QObject* parent) : QObject(parent) {
    thread_ = QThread::create([control = control_, result = result_, work = std::move(work)] {
        *result = work(*control);
    });
    thread_->setParent(this);
    poll_ = new QTimer(this);
    connect(poll_, &QTimer::timeout, this, [this] { emit Progress(RowsDone(), RowsTotal()); });
    connect(thread_, &QThread::finished, this, [this] {
        poll_->stop();
        error_ = *result_;
        done_ = true;
        emit Progress(RowsDone(), RowsTotal());
        emit Finished();
    });
    poll_->start(ProgressMs);
    thread_->start();
}

TRowJob::~TRowJob() {
    Cancel();
    thread_->wait();
}

} // namespace kve17
