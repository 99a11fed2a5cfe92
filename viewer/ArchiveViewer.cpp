#include "viewer/ArchiveViewer.h"

#include "archive/RecordExport.h"
#include "viewer/ArchiveFileSource.h"
#include "viewer/RecordTableModel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTextDocument>
#include <QToolBar>
#include <QVBoxLayout>
#include <filesystem>
#include <set>
#include <sstream>

namespace kve17 {

namespace {

constexpr int ReloadDelayMs = 150; // lets a save finish its rename before the file is read
constexpr int TypingPauseMs = 300;
constexpr QSize WindowSize{900, 640};
constexpr int ColumnPadding = 24; // room for the sort arrow and the cell margins
const QDate FirstDate{2001, 1, 1};
const QDate LastDate{2099, 12, 31};

QDate DateOf(TDay day) {
    return QDate(day / 10000, day / 100 % 100, day % 100);
}

TDay DayOf(const QDate& date) {
    return date.year() * 10000 + date.month() * 100 + date.day();
}

QString DayString(const std::optional<TDay>& day) {
    return day ? QString::fromStdString(DayText(*day)) : QStringLiteral("—");
}

QDateEdit* MakeDateEdit(QWidget* parent) {
    auto* edit = new QDateEdit(parent);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setDateRange(FirstDate, LastDate);
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
    return edit;
}

} // namespace

TArchiveViewer::TArchiveViewer(std::unique_ptr<TRecordModel> model, QWidget* parent)
    : QMainWindow(parent), Model(model.release()) {
    Model->setParent(this);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Model->WindowTitle());
    BuildActions();
    BuildBody();
    SetDateRange();
    ApplyFilter();
    Watch();
    resize(WindowSize);
}

TArchiveViewer* TArchiveViewer::OpenFile(const QString& path, QWidget* parent, QString& error) {
    auto source = std::make_unique<TArchiveFileSource>(QFileInfo(path).absoluteFilePath());
    if (!source->Load(error))
        return nullptr;
    return new TArchiveViewer(std::make_unique<TRecordTableModel>(std::move(source)), parent);
}

void TArchiveViewer::BuildActions() {
    ACopy = new QAction(QStringLiteral("Копировать"), this);
    ACopy->setShortcut(QKeySequence::Copy);
    ACopy->setToolTip(QStringLiteral("Копировать выбранные записи"));
    AExport = new QAction(QStringLiteral("Экспорт…"), this);
    AExport->setToolTip(QStringLiteral("Сохранить показанные записи в файл CSV"));
    APrint = new QAction(QStringLiteral("Печать…"), this);
    APrint->setShortcut(QKeySequence::Print);
    APdf = new QAction(QStringLiteral("Сохранить в PDF…"), this);
    connect(ACopy, &QAction::triggered, this, &TArchiveViewer::CopySelection);
    connect(AExport, &QAction::triggered, this, &TArchiveViewer::ExportClick);
    connect(APrint, &QAction::triggered, this, &TArchiveViewer::PrintClick);
    connect(APdf, &QAction::triggered, this, &TArchiveViewer::PdfClick);
    tools_ = addToolBar(QStringLiteral("Архив"));
    tools_->setMovable(false);
    tools_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (QAction* action : {ACopy, AExport, APrint, APdf})
        tools_->addAction(action);
}

void TArchiveViewer::AddTool(QAction* action) {
    tools_->addSeparator();
    tools_->addAction(action);
}

QWidget* TArchiveViewer::BuildFilters() {
    auto* box = new QWidget(this);
    SinceBox = new QCheckBox(QStringLiteral("С"), box);
    SinceEdit = MakeDateEdit(box);
    UntilBox = new QCheckBox(QStringLiteral("по"), box);
    UntilEdit = MakeDateEdit(box);
    CodesEdit = new QLineEdit(box);
    CodesEdit->setPlaceholderText(QStringLiteral("все"));
    CodesEdit->setToolTip(QStringLiteral("Коды через запятую, например 1,5,12"));
    CodesEdit->setMaximumWidth(120);
    InvalidBox = new QCheckBox(QStringLiteral("Только недостоверные"), box);
    SearchEdit = new QLineEdit(box);
    SearchEdit->setPlaceholderText(QStringLiteral("Поиск"));
    SearchEdit->setClearButtonEnabled(true);
    auto* reset = new QPushButton(QStringLiteral("Сбросить"), box);
    ChartMode = new QComboBox(box);
    ChartMode->addItems({QStringLiteral("По дням"), QStringLiteral("По кодам")});

    for (QCheckBox* check : {SinceBox, UntilBox, InvalidBox})
        connect(check, &QCheckBox::toggled, this, &TArchiveViewer::ApplyFilter);
    for (QDateEdit* edit : {SinceEdit, UntilEdit})
        connect(edit, &QDateEdit::dateChanged, this, &TArchiveViewer::ApplyFilter);
    for (QLineEdit* edit : {CodesEdit, SearchEdit})
        connect(edit, &QLineEdit::textChanged, this, &TArchiveViewer::TextEdited);
    typingTimer_.setSingleShot(true);
    typingTimer_.setInterval(TypingPauseMs);
    connect(&typingTimer_, &QTimer::timeout, this, &TArchiveViewer::ApplyFilter);
    connect(reset, &QPushButton::clicked, this, &TArchiveViewer::ResetFilters);
    connect(ChartMode, &QComboBox::currentIndexChanged, this, [this](int index) {
        Chart->SetMode(index == 0 ? TEventChart::TMode::PerDay : TEventChart::TMode::PerCode);
    });

    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(6, 4, 6, 4);
    row->addWidget(SinceBox);
    row->addWidget(SinceEdit);
    row->addWidget(UntilBox);
    row->addWidget(UntilEdit);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Коды:"), box));
    row->addWidget(CodesEdit);
    row->addWidget(InvalidBox);
    row->addWidget(SearchEdit, 1);
    row->addWidget(reset);
    row->addSpacing(8);
    row->addWidget(ChartMode);
    return box;
}

void TArchiveViewer::BuildBody() {
    Table = new QTableView(this);
    Table->setModel(Model);
    // The rows come newest first: the indicator says so before sorting is turned on.
    Table->horizontalHeader()->setSortIndicator(ColNumber, Qt::AscendingOrder);
    Table->setSortingEnabled(true);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setAlternatingRowColors(true);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->addAction(ACopy);

    Chart = new TEventChart(this);
    connect(Chart, &TEventChart::DayClicked, this, &TArchiveViewer::ShowDay);
    connect(Chart, &TEventChart::CodeClicked, this, &TArchiveViewer::ShowCode);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(Chart);
    splitter->addWidget(Table);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(BuildFilters());
    column->addWidget(splitter, 1);
    setCentralWidget(central);

    connect(Model, &TRecordModel::FetchFailed, this,
            [this](const QString& error) { statusBar()->showMessage(error); });
    Counts = new QLabel(this);
    statusBar()->addPermanentWidget(Counts, 1);
    SizeColumns();
}

void TArchiveViewer::SizeColumns() {
    // The widest text each column can hold, so a refresh never needs wider columns.
    const std::array<QString, ColumnCount> widest = {
        QStringLiteral("9999"),       QStringLiteral("00.00.00"),
        QStringLiteral("00:00:00"),   QStringLiteral("255 (0xFF)"),
        QStringLiteral("255 (0xFF)"), QString::fromUtf8(InvalidText.data(), InvalidText.size())};
    QFont bold = Table->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    for (int column = 0; column < ColumnCount; ++column) {
        const QString title = Model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const int text =
            std::max(metrics.horizontalAdvance(widest[static_cast<std::size_t>(column)]),
                     metrics.horizontalAdvance(title));
        Table->setColumnWidth(column, text + ColumnPadding);
    }
}

void TArchiveViewer::Watch() {
    const QString path = Model->WatchedPath();
    if (path.isEmpty()) {
        if (Model->PollMs() > 0) {
            connect(&pollTimer_, &QTimer::timeout, this, &TArchiveViewer::ReloadSource);
            pollTimer_.start(Model->PollMs());
        }
        return;
    }
    // A save renames a new file over the old one: the folder's change is what tells of it.
    watcher_.addPath(QFileInfo(path).absolutePath());
    watcher_.addPath(path);
    reloadTimer_.setSingleShot(true);
    reloadTimer_.setInterval(ReloadDelayMs);
    connect(&reloadTimer_, &QTimer::timeout, this, &TArchiveViewer::ReloadSource);
    const auto changed = [this] { reloadTimer_.start(); };
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, changed);
}

void TArchiveViewer::ReloadSource() {
    const QString path = Model->WatchedPath();
    if (!path.isEmpty() && !watcher_.files().contains(path) && QFileInfo::exists(path))
        watcher_.addPath(path);
    QString error;
    bool changed = false;
    if (!Model->Reload(error, changed)) {
        statusBar()->showMessage(error);
        return;
    }
    if (Model->Error().isEmpty())
        statusBar()->clearMessage();
    if (!changed)
        return;
    SetDateRange();
    ApplyFilter();
}

void TArchiveViewer::SetDateRange() {
    const auto [first, last] = Model->StoredDays();
    // Only the dates not yet in use follow the file; a bound the operator set stays.
    if (first && !SinceBox->isChecked()) {
        const QSignalBlocker block(SinceEdit);
        SinceEdit->setDate(DateOf(*first));
    }
    if (last && !UntilBox->isChecked()) {
        const QSignalBlocker block(UntilEdit);
        UntilEdit->setDate(DateOf(*last));
    }
}

void TArchiveViewer::TextEdited() {
    if (Model->Remote())
        typingTimer_.start();
    else
        ApplyFilter();
}

void TArchiveViewer::ApplyFilter() {
    typingTimer_.stop();
    // A date takes part while its box is ticked.
    SinceEdit->setEnabled(SinceBox->isChecked());
    UntilEdit->setEnabled(UntilBox->isChecked());
    TRecordFilter filter;
    if (SinceBox->isChecked())
        filter.Since = DayOf(SinceEdit->date());
    if (UntilBox->isChecked())
        filter.Until = DayOf(UntilEdit->date());
    const QString codes = CodesEdit->text().remove(QLatin1Char(' '));
    if (!codes.isEmpty()) {
        const auto parsed = ParseCodes(codes.toStdString());
        CodesEdit->setStyleSheet(parsed ? QString() : QStringLiteral("background: #fadede"));
        if (parsed)
            filter.Codes = *parsed;
    } else {
        CodesEdit->setStyleSheet({});
    }
    filter.OnlyInvalid = InvalidBox->isChecked();
    filter.Text = SearchEdit->text().toStdString();
    Model->SetFilter(std::move(filter));
    Chart->Show(Model->PerDay(), Model->PerCode());
    UpdateCounts();
}

void TArchiveViewer::UpdateCounts() {
    const TRowCounts counts = Model->Counts();
    QString text = QStringLiteral("Показано записей: %1 из %2, недостоверных: %3")
                       .arg(counts.Shown)
                       .arg(counts.Stored)
                       .arg(counts.Invalid);
    if (counts.First)
        text +=
            QStringLiteral("   Даты: %1 — %2").arg(DayString(counts.First), DayString(counts.Last));
    if (const int added = Model->AddedCount(); added > 0)
        text += QStringLiteral("   Добавлено последним чтением: %1").arg(added);
    Counts->setText(text);
}

void TArchiveViewer::ShowDay(int day) {
    const QSignalBlocker blockSince(SinceBox), blockUntil(UntilBox);
    SinceBox->setChecked(true);
    UntilBox->setChecked(true);
    const QSignalBlocker blockFrom(SinceEdit), blockTo(UntilEdit);
    SinceEdit->setDate(DateOf(day));
    UntilEdit->setDate(DateOf(day));
    ApplyFilter();
}

void TArchiveViewer::ShowCode(int code) {
    CodesEdit->setText(QString::number(code));
}

void TArchiveViewer::ResetFilters() {
    {
        const QSignalBlocker blockSince(SinceBox), blockUntil(UntilBox), blockInvalid(InvalidBox),
            blockCodes(CodesEdit), blockSearch(SearchEdit);
        SinceBox->setChecked(false);
        UntilBox->setChecked(false);
        InvalidBox->setChecked(false);
        CodesEdit->clear();
        SearchEdit->clear();
    }
    SetDateRange();
    ApplyFilter();
}

QString TArchiveViewer::SelectionText() const {
    std::set<int> selected;
    for (const QModelIndex& index : Table->selectionModel()->selectedRows())
        selected.insert(index.row());
    std::vector<TRecordRow> rows;
    if (selected.empty()) {
        QString error;
        if (!Model->ShownRows(rows, error)) {
            statusBar()->showMessage(error);
            return {};
        }
    }
    for (int row : selected)
        rows.push_back(Model->RowAt(row));
    return QString::fromStdString(TabText(rows, AllRows(rows)));
}

void TArchiveViewer::CopySelection() {
    QApplication::clipboard()->setText(SelectionText());
}

bool TArchiveViewer::ArchiveTarget(const QString& path, QString& error) const {
    const QString viewed = Model->WatchedPath();
    std::error_code ignored;
    // Compared as files, so that a link or a second name of the shown archive is caught too.
    const bool shown = !viewed.isEmpty() && std::filesystem::equivalent(
                                                QFile::encodeName(path).toStdString(),
                                                QFile::encodeName(viewed).toStdString(), ignored);
    if (!shown && QFileInfo(path).suffix().compare(QStringLiteral("dat"), Qt::CaseInsensitive) != 0)
        return false;
    error = QStringLiteral("Файл %1 — файл архива, экспорт заменил бы его. Выберите другое имя.")
                .arg(path);
    return true;
}

bool TArchiveViewer::ExportCsv(const QString& path, char separator, QString& error) const {
    if (ArchiveTarget(path, error))
        return false;
    std::vector<TRecordRow> rows;
    if (!Model->ShownRows(rows, error))
        return false;
    std::ostringstream text;
    WriteCsv(text, rows, AllRows(rows), separator);
    const std::string bytes = text.str();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        error = QStringLiteral("Файл %1 не удается записать: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool TArchiveViewer::PrintTo(QPrinter& printer, QString& error) const {
    std::vector<TRecordRow> rows;
    if (!Model->ShownRows(rows, error))
        return false;
    QString html = QStringLiteral("<h3>%1</h3><p>%2</p>"
                                  "<table border='1' cellspacing='0' cellpadding='3'><tr>")
                       .arg(Model->Title().toHtmlEscaped(), Counts->text().toHtmlEscaped());
    for (std::string_view title : ColumnTitles)
        html += QStringLiteral("<th>%1</th>")
                    .arg(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    html += QStringLiteral("</tr>");
    for (const TRecordRow& row : rows) {
        html += QStringLiteral("<tr>");
        for (const std::string& text : RowTexts(row))
            html += QStringLiteral("<td>%1</td>").arg(QString::fromStdString(text).toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    QTextDocument document;
    document.setHtml(html);
    document.print(&printer);
    return true;
}

bool TArchiveViewer::SavePdf(const QString& path, QString& error) const {
    if (ArchiveTarget(path, error))
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    if (!PrintTo(printer, error))
        return false;
    // A file that cannot be opened leaves the printer in its error state (an existing file's
    // size would say nothing).
    if (printer.printerState() == QPrinter::Error) {
        error = QStringLiteral("Файл %1 не удается записать").arg(path);
        return false;
    }
    return true;
}

void TArchiveViewer::ExportClick() {
    const QString semicolon = QStringLiteral("CSV, разделитель «;» (*.csv)");
    const QString comma = QStringLiteral("CSV, разделитель «,» (*.csv)");
    QString filter = semicolon;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт"), {},
                                                semicolon + QStringLiteral(";;") + comma, &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!ExportCsv(path, filter == comma ? ',' : ';', error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

void TArchiveViewer::PrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    QString error;
    if (dialog.exec() == QDialog::Accepted && !PrintTo(printer, error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

void TArchiveViewer::PdfClick() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить в PDF"), {},
                                                QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (!SavePdf(path, error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

} // namespace kve17
