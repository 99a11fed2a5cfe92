// The viewer window: the records of one source in a table, newest first, with filters that act
// at once, a chart of the rows shown, the counts in the status bar, and copy, CSV export, print
// and PDF. An archive file is watched and shown again after each reading into it; a history is
// asked for new events every few seconds.
#pragma once

#include "viewer/EventChart.h"
#include "viewer/RecordModel.h"

#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QTimer>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QTableView;
class QToolBar;

namespace kve17 {

class TArchiveViewer : public QMainWindow {
    Q_OBJECT
public:
    // The viewer owns the model.
    explicit TArchiveViewer(std::unique_ptr<TRecordModel> model, QWidget* parent = nullptr);

    // A viewer on an archive file, or nullptr with `error` naming the file and what is wrong.
    static TArchiveViewer* OpenFile(const QString& path, QWidget* parent, QString& error);

    // The selected rows (all shown rows when none is selected), tab-separated with a header.
    QString SelectionText() const;
    void CopySelection();
    // The rows shown in the table's order, with a header row; false with `error` on failure.
    // Neither export replaces an archive file: the one shown or any other `.dat`.
    bool ExportCsv(const QString& path, char separator, QString& error) const;
    bool SavePdf(const QString& path, QString& error) const;
    // False with `error` when the rows cannot be fetched.
    bool PrintTo(QPrinter& printer, QString& error) const;
    // Adds an action of the source's own to the tool bar.
    void AddTool(QAction* action);
    // Narrows the table to one day, as a click on its bar does.
    void ShowDay(int day);
    void ShowCode(int code);
    void ResetFilters();
    // Shows the rows the filters let through now; typing into the code or search field of a
    // database source waits for a pause first, as every change is a query.
    void ApplyFilter();
    // Reads the source again now, as a change of the watched file does a moment later, or the
    // poll of a source without a file.
    void ReloadSource();

    QTableView* Table = nullptr;
    TRecordModel* Model = nullptr;
    TEventChart* Chart = nullptr;
    QCheckBox* SinceBox = nullptr;
    QDateEdit* SinceEdit = nullptr;
    QCheckBox* UntilBox = nullptr;
    QDateEdit* UntilEdit = nullptr;
    QLineEdit* CodesEdit = nullptr;
    QCheckBox* InvalidBox = nullptr;
    QLineEdit* SearchEdit = nullptr;
    QComboBox* ChartMode = nullptr;
    QLabel* Counts = nullptr;
    QAction* ACopy = nullptr;
    QAction* AExport = nullptr;
    QAction* APrint = nullptr;
    QAction* APdf = nullptr;

private:
    // True, with `error` set, for a target an export must not replace: an archive file.
    bool ArchiveTarget(const QString& path, QString& error) const;
    void BuildActions();
    QWidget* BuildFilters();
    void BuildBody();
    void SizeColumns();
    void Watch();
    void TextEdited();
    void UpdateCounts();
    void SetDateRange();
    void ExportClick();
    void PrintClick();
    void PdfClick();

    QFileSystemWatcher watcher_;
    QTimer reloadTimer_;
    QTimer pollTimer_;
    QTimer typingTimer_;
    QToolBar* tools_ = nullptr;
};

} // namespace kve17
