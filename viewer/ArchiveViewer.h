// The viewer window: the records of one source in a table, newest first, with filters that act
// as they are typed, a chart of the rows shown, the counts below, and copy, CSV export, print and
// PDF (running beside the window, which answers meanwhile). An archive file is watched and shown
// again after each reading into it; a history is asked for new events every few seconds. A
// source that cannot be read shows a bar across the window until it can again.
#pragma once

#include "viewer/EventChart.h"
#include "viewer/RecordModel.h"
#include "viewer/RowExport.h"

#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>

class QAction;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QProgressDialog;
class QTableView;
class QToolBar;

namespace kve17 {

class TArchiveViewer : public QMainWindow {
    Q_OBJECT
public:
    // The viewer owns the model; `names` names the codes (none when nullptr).
    explicit TArchiveViewer(std::unique_ptr<TRecordModel> model, QWidget* parent = nullptr,
                            std::shared_ptr<const TEventDictionary> names = nullptr);
    ~TArchiveViewer() override;

    // A viewer on an archive file, or nullptr with `error` naming the file and what is wrong.
    static TArchiveViewer* OpenFile(const QString& path, QWidget* parent, QString& error,
                                    std::shared_ptr<const TEventDictionary> names = nullptr);

    // The selected rows (all shown rows when none is selected), tab-separated with a header.
    QString SelectionText();
    void CopySelection();
    // Start writing the rows shown, in the table's order, beside the window; nullptr with
    // `error` when refused at once. None replaces an archive file: the one shown or any `.dat`.
    TRowJob* StartCsv(const QString& path, char separator, QString& error);
    TRowJob* StartPdf(const QString& path, QString& error);
    TRowJob* StartPrint(std::unique_ptr<QPrinter> printer, QString& error);
    // The export or print under way; nullptr when none is.
    TRowJob* Job() const { return job_; }
    // What the operator is asked before a print onto `device` that takes long; "" for a short one.
    QString LongPrintQuestion(QPagedPaintDevice& device) const;
    // The file name an export of the rows shown suggests: source, line and dates, in the
    // archive's folder.
    QString SuggestedName(const QString& suffix) const;
    // The filters in use, in words, as printed pages say them.
    QString FilterWords() const;
    // Adds an action of the source's own to the tool bar.
    void AddTool(QAction* action);
    // Narrows the table to the days `first` to `last` (yyyymmdd), as a click on a bar does.
    void ShowDays(int first, int last);
    void ShowCode(int code);
    void ResetFilters();
    // Shows the rows the filters let through now; typing into the code or search field of a
    // database source waits for a pause first, as every change is a query.
    void ApplyFilter();
    // Reads the source again now, as a change of the watched file does a moment later, or the
    // poll of a source without a file.
    void ReloadSource();
    // Shows `text` in the bar under the filters, as a problem or as done work.
    void ShowNotice(const QString& text, bool problem);
    // Why the source cannot be shown as it is now; "" while it can.
    QString ProblemText() const;
    // Why the table is empty; "" while it shows rows.
    QString EmptyText() const;

    QTableView* Table = nullptr;
    TRecordModel* Model = nullptr;
    TEventChart* Chart = nullptr;
    QCheckBox* SinceBox = nullptr;
    QDateEdit* SinceEdit = nullptr;
    QCheckBox* UntilBox = nullptr;
    QDateEdit* UntilEdit = nullptr;
    QLineEdit* CodesEdit = nullptr;
    QComboBox* SeverityBox = nullptr;
    QCheckBox* InvalidBox = nullptr;
    QLineEdit* SearchEdit = nullptr;
    QComboBox* ChartMode = nullptr;
    QLabel* FilterMessage = nullptr; // what is wrong with a filter, under the filters
    QLabel* Notice = nullptr;        // what an export or print came to
    QLabel* Counts = nullptr;
    QProgressDialog* Progress = nullptr;
    QAction* ACopy = nullptr;
    QAction* AExport = nullptr;
    QAction* APrint = nullptr;
    QAction* APdf = nullptr;
    QAction* AReset = nullptr;
    QAction* AClose = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // True, with `error` set, for a target an export must not replace: an archive file.
    bool ArchiveTarget(const QString& path, QString& error) const;
    // Starts `work`; `doing` says what it does, `done` and `cancelled` how it ended.
    TRowJob* Start(TRowJob::TWork work, const QString& doing, const QString& done,
                   const QString& cancelled, QString& error);
    TPageHeader PageHeader() const;
    void BuildActions();
    void BuildMenus();
    QWidget* BuildFilters();
    void BuildBody();
    void SetTabOrder();
    // Spans each note (a history's gap) across the columns from the date on.
    void SpanNotes();
    void SizeColumns();
    void PlaceWindow();
    void Watch();
    void TextEdited();
    void UpdateCounts();
    void UpdateEmpty();
    void SetDateRange();
    void ShowProblem(const QString& problem);
    // The filter the fields make; `wrong` gathers what is wrong with them.
    TRecordFilter FieldsFilter(QStringList& wrong);
    void ExportClick();
    void PrintClick();
    void PdfClick();

    std::shared_ptr<const TEventDictionary> names_;
    QFileSystemWatcher watcher_;
    QTimer reloadTimer_;
    QTimer pollTimer_;
    QTimer typingTimer_;
    QToolBar* tools_ = nullptr;
    QBoxLayout* filterRow_ = nullptr;
    QWidget* problemBar_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* empty_ = nullptr;
    QString problemText_;
    QDateTime lastGood_; // when the rows shown were last read whole
    QPointer<TRowJob> job_;
};

} // namespace kve17
