#include "viewer/ArchiveViewer.h"

#include "viewer/ArchiveFileSource.h"
#include "viewer/RecordTableModel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <filesystem>
#include <set>

namespace kve17 {

namespace {

constexpr int ReloadDelayMs = 150; // lets a save finish its rename before the file is read
constexpr int TypingPauseMs = 300;
constexpr QSize PreferredSize{1100, 760};
constexpr double MostOfScreen = 0.9;
constexpr int CascadeStep = 28;
constexpr int ColumnPadding = 24; // room for the sort arrow and the cell margins
constexpr int NameWidth = 220;
// A code no record has: a code filter of it alone lets nothing through.
constexpr int NoCode = -1;
const QDate FirstDate{2001, 1, 1};
const QDate LastDate{2099, 12, 31};
const QString WrongField = QStringLiteral("background: #fadede");

QDate DateOf(TDay day) {
    return QDate(day / 10000, day / 100 % 100, day % 100);
}

TDay DayOf(const QDate& date) {
    return date.year() * 10000 + date.month() * 100 + date.day();
}

QString DayString(const std::optional<TDay>& day) {
    return day ? QString::fromStdString(DayText(*day)) : QStringLiteral("—");
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QDateEdit* MakeDateEdit(QWidget* parent, const QString& name) {
    auto* edit = new QDateEdit(parent);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setDateRange(FirstDate, LastDate);
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
    edit->setAccessibleName(name);
    return edit;
}

QAction* MakeAction(QObject* parent, const QString& text, const QList<QKeySequence>& keys,
                    const QString& tip = {}) {
    auto* action = new QAction(text, parent);
    action->setShortcuts(keys);
    action->setToolTip(tip.isEmpty() ? text : tip);
    return action;
}

// The severities the filter offers, after "все".
constexpr std::array<TSeverity, 3> FilterSeverities = {TSeverity::Alarm, TSeverity::Warning,
                                                       TSeverity::Info};

QSettings ViewerSettings() {
    return QSettings(QStringLiteral("kve17"), QStringLiteral("viewer"));
}

// A name a file can carry: letters, digits and "-" only.
QString FilePart(QString text) {
    for (QChar& c : text)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('-');
    return text;
}

} // namespace

TArchiveViewer::TArchiveViewer(std::unique_ptr<TRecordModel> model, QWidget* parent,
                               std::shared_ptr<const TEventDictionary> names)
    : QMainWindow(parent), Model(model.release()),
      names_(names ? std::move(names) : std::make_shared<TEventDictionary>()) {
    Model->setParent(this);
    Model->SetNames(names_);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Model->WindowTitle());
    BuildActions();
    BuildMenus();
    BuildBody();
    SetTabOrder();
    SetDateRange();
    lastGood_ = QDateTime::currentDateTime();
    ApplyFilter();
    ShowProblem(Model->Error());
    Watch();
    PlaceWindow();
}

TArchiveViewer::~TArchiveViewer() {
    // A job still running stops before the rows it reads go away.
    delete job_.data();
}

TArchiveViewer* TArchiveViewer::OpenFile(const QString& path, QWidget* parent, QString& error,
                                         std::shared_ptr<const TEventDictionary> names) {
    auto source = std::make_unique<TArchiveFileSource>(QFileInfo(path).absoluteFilePath());
    if (!source->Load(error))
        return nullptr;
    return new TArchiveViewer(std::make_unique<TRecordTableModel>(std::move(source)), parent,
                              std::move(names));
}

void TArchiveViewer::BuildActions() {
    ACopy = MakeAction(this, QStringLiteral("Копировать"), {QKeySequence::Copy},
                       QStringLiteral("Копировать выбранные записи"));
    AExport = MakeAction(this, QStringLiteral("Экспорт…"), {QKeySequence(Qt::CTRL | Qt::Key_E)},
                         QStringLiteral("Сохранить показанные записи в файл CSV"));
    APrint = MakeAction(this, QStringLiteral("Печать…"), {QKeySequence::Print});
    APdf = MakeAction(this, QStringLiteral("Сохранить в PDF…"),
                      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)});
    AReset =
        MakeAction(this, QStringLiteral("Сбросить фильтры"), {QKeySequence(Qt::CTRL | Qt::Key_R)});
    AClose = MakeAction(this, QStringLiteral("Закрыть"),
                        {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)});
    connect(ACopy, &QAction::triggered, this, &TArchiveViewer::CopySelection);
    connect(AExport, &QAction::triggered, this, &TArchiveViewer::ExportClick);
    connect(APrint, &QAction::triggered, this, &TArchiveViewer::PrintClick);
    connect(APdf, &QAction::triggered, this, &TArchiveViewer::PdfClick);
    connect(AReset, &QAction::triggered, this, &TArchiveViewer::ResetFilters);
    connect(AClose, &QAction::triggered, this, &QWidget::close);
    tools_ = addToolBar(QStringLiteral("Архив"));
    tools_->setAccessibleName(QStringLiteral("Панель инструментов просмотра"));
    tools_->setMovable(false);
    tools_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (QAction* action : {ACopy, AExport, APrint, APdf})
        tools_->addAction(action);
}

void TArchiveViewer::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->addActions({AExport, APdf, APrint});
    file->addSeparator();
    file->addAction(AClose);
    menuBar()->addMenu(QStringLiteral("Правка"))->addAction(ACopy);
    menuBar()->addMenu(QStringLiteral("Вид"))->addAction(AReset);
}

void TArchiveViewer::AddTool(QAction* action) {
    tools_->addSeparator();
    tools_->addAction(action);
}

QWidget* TArchiveViewer::BuildFilters() {
    auto* box = new QWidget(this);
    SinceBox = new QCheckBox(QStringLiteral("С"), box);
    SinceBox->setAccessibleName(QStringLiteral("Отбор с даты"));
    SinceEdit = MakeDateEdit(box, QStringLiteral("Начальная дата"));
    UntilBox = new QCheckBox(QStringLiteral("по"), box);
    UntilBox->setAccessibleName(QStringLiteral("Отбор по дату"));
    UntilEdit = MakeDateEdit(box, QStringLiteral("Конечная дата"));
    CodesEdit = new QLineEdit(box);
    CodesEdit->setPlaceholderText(QStringLiteral("все"));
    CodesEdit->setToolTip(QStringLiteral("Коды и диапазоны через запятую, десятичные или 0x…, "
                                         "например 1,5,10-20,0x1C"));
    CodesEdit->setAccessibleName(QStringLiteral("Коды"));
    CodesEdit->setMinimumWidth(
        CodesEdit->fontMetrics().horizontalAdvance(QStringLiteral("1,5,10-20,0x1C,255")) +
        ColumnPadding);
    SeverityBox = new QComboBox(box);
    SeverityBox->addItem(QStringLiteral("все"));
    for (TSeverity severity : FilterSeverities)
        SeverityBox->addItem(Text(SeverityText(severity)));
    SeverityBox->setAccessibleName(QStringLiteral("Важность"));
    InvalidBox = new QCheckBox(QStringLiteral("Только недостоверные"), box);
    InvalidBox->setAccessibleName(InvalidBox->text());
    SearchEdit = new QLineEdit(box);
    SearchEdit->setPlaceholderText(QStringLiteral("Поиск"));
    SearchEdit->setClearButtonEnabled(true);
    SearchEdit->setAccessibleName(QStringLiteral("Поиск"));
    SearchEdit->setMinimumWidth(SearchEdit->fontMetrics().horizontalAdvance(
                                    QStringLiteral("00.00.00 00:00:00 255 (0xFF)")) +
                                ColumnPadding);
    auto* reset = new QPushButton(AReset->text(), box);
    reset->setAccessibleName(AReset->text());
    ChartMode = new QComboBox(box);
    ChartMode->addItems({QStringLiteral("По датам"), QStringLiteral("По кодам")});
    ChartMode->setAccessibleName(QStringLiteral("Вид графика"));

    for (QCheckBox* check : {SinceBox, UntilBox, InvalidBox})
        connect(check, &QCheckBox::toggled, this, &TArchiveViewer::ApplyFilter);
    for (QDateEdit* edit : {SinceEdit, UntilEdit})
        connect(edit, &QDateEdit::dateChanged, this, &TArchiveViewer::ApplyFilter);
    for (QLineEdit* edit : {CodesEdit, SearchEdit})
        connect(edit, &QLineEdit::textChanged, this, &TArchiveViewer::TextEdited);
    connect(SeverityBox, &QComboBox::currentIndexChanged, this, &TArchiveViewer::ApplyFilter);
    typingTimer_.setSingleShot(true);
    typingTimer_.setInterval(TypingPauseMs);
    connect(&typingTimer_, &QTimer::timeout, this, &TArchiveViewer::ApplyFilter);
    connect(reset, &QPushButton::clicked, this, &TArchiveViewer::ResetFilters);
    connect(ChartMode, &QComboBox::currentIndexChanged, this, [this](int index) {
        Chart->SetMode(index == 0 ? TEventChart::TMode::PerDay : TEventChart::TMode::PerCode);
    });

    // Two groups side by side; one above the other when the window is too narrow for both.
    auto* first = new QHBoxLayout;
    first->addWidget(SinceBox);
    first->addWidget(SinceEdit);
    first->addWidget(UntilBox);
    first->addWidget(UntilEdit);
    first->addSpacing(8);
    auto* codes = new QLabel(QStringLiteral("Коды:"), box);
    codes->setBuddy(CodesEdit);
    first->addWidget(codes);
    first->addWidget(CodesEdit);
    auto* severity = new QLabel(QStringLiteral("Важность:"), box);
    severity->setBuddy(SeverityBox);
    first->addWidget(severity);
    first->addWidget(SeverityBox);
    first->addWidget(InvalidBox);
    first->addStretch();
    const bool named = !names_->Empty();
    severity->setVisible(named);
    SeverityBox->setVisible(named);
    auto* second = new QHBoxLayout;
    second->addWidget(SearchEdit, 1);
    second->addWidget(reset);
    second->addSpacing(8);
    second->addWidget(ChartMode);
    filterRow_ = new QBoxLayout(QBoxLayout::LeftToRight);
    filterRow_->addLayout(first);
    filterRow_->addLayout(second, 1);

    FilterMessage = new QLabel(box);
    FilterMessage->setStyleSheet(QStringLiteral("color: #a00000"));
    FilterMessage->setWordWrap(true);
    FilterMessage->setAccessibleName(QStringLiteral("Ошибка в отборе"));
    FilterMessage->hide();
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(6, 4, 6, 4);
    column->addLayout(filterRow_);
    column->addWidget(FilterMessage);
    // The row's width does not hold the window wide: below it the row wraps (resizeEvent).
    box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return box;
}

void TArchiveViewer::BuildBody() {
    Table = new QTableView(this);
    Table->setModel(Model);
    Table->setAccessibleName(QStringLiteral("Записи"));
    // The rows come newest first: the indicator says so before sorting is turned on.
    Table->horizontalHeader()->setSortIndicator(ColNumber, Qt::AscendingOrder);
    Table->setSortingEnabled(true);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the next control, as in any other part of the window.
    Table->setTabKeyNavigation(false);
    Table->setAlternatingRowColors(true);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->horizontalHeader()->setStretchLastSection(true);
    // The name stands beside its code.
    Table->horizontalHeader()->moveSection(TRecordModel::NameColumn, ColCode + 1);
    Table->setColumnHidden(TRecordModel::NameColumn, names_->Empty());
    empty_ = new QLabel(Table->viewport());
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    empty_->setStyleSheet(QStringLiteral("color: #606060"));
    (new QVBoxLayout(Table->viewport()))->addWidget(empty_);

    Chart = new TEventChart(this);
    Chart->SetNames(names_.get());
    connect(Chart, &TEventChart::DaysClicked, this, &TArchiveViewer::ShowDays);
    connect(Chart, &TEventChart::CodeClicked, this, &TArchiveViewer::ShowCode);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(Chart);
    splitter->addWidget(Table);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);

    problemBar_ = new QWidget(this);
    problemBar_->setAutoFillBackground(true);
    problemBar_->setStyleSheet(QStringLiteral("background: #f6c8c0; color: #600000"));
    problem_ = new QLabel(problemBar_);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setAccessibleName(QStringLiteral("Источник не читается"));
    (new QVBoxLayout(problemBar_))->addWidget(problem_);
    problemBar_->hide();
    Notice = new QLabel(this);
    Notice->setWordWrap(true);
    Notice->setContentsMargins(8, 4, 8, 4);
    Notice->setAccessibleName(QStringLiteral("Итог экспорта"));
    Notice->hide();

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(problemBar_);
    column->addWidget(BuildFilters());
    column->addWidget(Notice);
    column->addWidget(splitter, 1);
    setCentralWidget(central);

    connect(Model, &TRecordModel::FetchFailed, this, &TArchiveViewer::ShowProblem);
    connect(Model, &QAbstractItemModel::modelReset, this, &TArchiveViewer::SpanNotes);
    SpanNotes();
    Counts = new QLabel(this);
    Counts->setAccessibleName(QStringLiteral("Счет записей"));
    statusBar()->addPermanentWidget(Counts, 1);
    SizeColumns();
}

void TArchiveViewer::SpanNotes() {
    // The date's column and every one after it, the name's moved beside the code included.
    Table->clearSpans();
    for (int row : Model->NoteRows())
        Table->setSpan(row, ColDate, 1, Model->columnCount() - ColDate);
}

void TArchiveViewer::SetTabOrder() {
    QWidget* previous = SinceBox;
    for (QWidget* next : std::initializer_list<QWidget*>{
             SinceEdit, UntilBox, UntilEdit, CodesEdit, SeverityBox, InvalidBox, SearchEdit,
             findChild<QPushButton*>(), ChartMode, Chart, Table}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

void TArchiveViewer::SizeColumns() {
    // The widest text each column can hold, so a refresh never needs wider columns.
    const std::array<QString, ColumnCount> widest = {
        QStringLiteral("999999"),     QStringLiteral("00.00.00"),   QStringLiteral("00:00:00"),
        QStringLiteral("255 (0xFF)"), QStringLiteral("255 (0xFF)"), Text(InvalidText)};
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
    Table->setColumnWidth(TRecordModel::NameColumn, NameWidth);
}

void TArchiveViewer::PlaceWindow() {
    const QRect screen = this->screen()->availableGeometry();
    QSize size = ViewerSettings().value(QStringLiteral("size"), PreferredSize).toSize();
    size = size.boundedTo(QSize(static_cast<int>(screen.width() * MostOfScreen),
                                static_cast<int>(screen.height() * MostOfScreen)));
    resize(size.expandedTo(minimumSizeHint()));
    // A new viewer steps down and right from the newest one open, back to the corner when it
    // would leave the screen.
    QPoint at = screen.topLeft() + QPoint(CascadeStep, CascadeStep);
    for (QWidget* other : QApplication::topLevelWidgets())
        if (other != this && other->isVisible() && qobject_cast<TArchiveViewer*>(other))
            at = other->pos() + QPoint(CascadeStep, CascadeStep);
    if (!screen.contains(QRect(at, size)))
        at = screen.topLeft() + QPoint(CascadeStep, CascadeStep);
    move(at);
}

void TArchiveViewer::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    int wide = 0;
    for (int i = 0; i < filterRow_->count(); ++i)
        wide += filterRow_->itemAt(i)->minimumSize().width() + filterRow_->spacing();
    filterRow_->setDirection(width() < wide + 12 ? QBoxLayout::TopToBottom
                                                 : QBoxLayout::LeftToRight);
}

void TArchiveViewer::closeEvent(QCloseEvent* event) {
    ViewerSettings().setValue(QStringLiteral("size"), size());
    QMainWindow::closeEvent(event);
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
        ShowProblem(error);
        return;
    }
    if (changed) {
        SetDateRange();
        ApplyFilter();
    }
    if (Model->Error().isEmpty())
        lastGood_ = QDateTime::currentDateTime();
    ShowProblem(Model->Error());
}

void TArchiveViewer::ShowProblem(const QString& problem) {
    problemText_ = problem;
    problemBar_->setVisible(!problem.isEmpty());
    setWindowTitle(problem.isEmpty() ? Model->WindowTitle()
                                     : Model->WindowTitle() + QStringLiteral(" — не читается"));
    if (!problem.isEmpty())
        problem_->setText(
            QStringLiteral("%1\nПоказаны записи, прочитанные %2; они могут быть устаревшими.")
                .arg(problem, lastGood_.toString(QStringLiteral("dd.MM.yyyy в HH:mm:ss"))));
    UpdateEmpty();
}

void TArchiveViewer::ShowNotice(const QString& text, bool problem) {
    Notice->setText(text);
    Notice->setStyleSheet(problem ? QStringLiteral("background: #f6c8c0; color: #600000")
                                  : QStringLiteral("background: #d6f0d6"));
    Notice->setVisible(!text.isEmpty());
}

QString TArchiveViewer::ProblemText() const {
    return problemText_;
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

TRecordFilter TArchiveViewer::FieldsFilter(QStringList& wrong) {
    TRecordFilter filter;
    // A date takes part while its box is ticked.
    SinceEdit->setEnabled(SinceBox->isChecked());
    UntilEdit->setEnabled(UntilBox->isChecked());
    if (SinceBox->isChecked())
        filter.Since = DayOf(SinceEdit->date());
    if (UntilBox->isChecked())
        filter.Until = DayOf(UntilEdit->date());
    const bool inverted = filter.Since && filter.Until && *filter.Since > *filter.Until;
    for (QDateEdit* edit : {SinceEdit, UntilEdit})
        edit->setStyleSheet(inverted ? WrongField : QString());
    if (inverted) {
        wrong << QStringLiteral("Даты: начало %1 позже конца %2 — отбор по датам не применен, "
                                "пока даты не исправлены.")
                     .arg(SinceEdit->text(), UntilEdit->text());
        filter.Since = filter.Until = std::nullopt;
    }
    const QString codes = CodesEdit->text();
    TCodeList list;
    if (!codes.trimmed().isEmpty())
        list = ParseCodeList(codes.toStdString());
    CodesEdit->setStyleSheet(list.Error.empty() ? QString() : WrongField);
    if (!list.Error.empty())
        wrong << QStringLiteral("Коды: %1 — отбор по кодам не применен, пока список не исправлен.")
                     .arg(QString::fromStdString(list.Error));
    filter.Codes = std::move(list.Codes);
    if (const int severity = SeverityBox->currentIndex(); severity > 0) {
        const std::set<int> named =
            names_->CodesOf(FilterSeverities[static_cast<std::size_t>(severity - 1)]);
        std::set<int> codes;
        for (int code : named)
            if (filter.Codes.empty() || filter.Codes.contains(code))
                codes.insert(code);
        filter.Codes = codes.empty() ? std::set<int>{NoCode} : codes;
    }
    filter.OnlyInvalid = InvalidBox->isChecked();
    filter.Text = SearchEdit->text().toStdString();
    return filter;
}

void TArchiveViewer::ApplyFilter() {
    typingTimer_.stop();
    QStringList wrong;
    TRecordFilter filter = FieldsFilter(wrong);
    FilterMessage->setText(wrong.join(QLatin1Char('\n')));
    FilterMessage->setVisible(!wrong.isEmpty());
    Model->SetFilter(std::move(filter));
    Chart->Show(Model->PerDay(), Model->PerCode());
    UpdateCounts();
    UpdateEmpty();
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
    const TRecordFilter& filter = Model->Filter();
    if ((filter.Since || filter.Until) && Model->Undated() > 0)
        text += QStringLiteral("   Без даты, не показаны: %1").arg(Model->Undated());
    if (const int added = Model->AddedCount(); added > 0)
        text += QStringLiteral("   Добавлено последним чтением: %1").arg(added);
    Counts->setText(text);
}

QString TArchiveViewer::EmptyText() const {
    if (Model->rowCount() > 0)
        return {};
    const TRowCounts counts = Model->Counts();
    if (!problemText_.isEmpty() && counts.Stored == 0)
        return QStringLiteral("Записи не прочитаны: причина — в полосе вверху окна.");
    if (counts.Stored == 0)
        return Model->Remote()
                   ? QStringLiteral("В истории нет событий этого устройства.")
                   : QStringLiteral("В файле нет записей: архив в него еще не читался.");
    QString text = QStringLiteral("Ни одна из записей (%1) не проходит отбор.").arg(counts.Stored);
    const TRecordFilter& filter = Model->Filter();
    if ((filter.Since || filter.Until) && Model->Undated() > 0)
        text += QStringLiteral("\nЗаписи без даты (%1) при отборе по датам не показываются.")
                    .arg(Model->Undated());
    return text;
}

void TArchiveViewer::UpdateEmpty() {
    if (empty_ == nullptr)
        return;
    const QString text = EmptyText();
    empty_->setText(text);
    empty_->setVisible(!text.isEmpty());
}

void TArchiveViewer::ShowDays(int first, int last) {
    const QSignalBlocker blockSince(SinceBox), blockUntil(UntilBox);
    SinceBox->setChecked(true);
    UntilBox->setChecked(true);
    const QSignalBlocker blockFrom(SinceEdit), blockTo(UntilEdit);
    SinceEdit->setDate(DateOf(first));
    UntilEdit->setDate(DateOf(last));
    ApplyFilter();
}

void TArchiveViewer::ShowCode(int code) {
    CodesEdit->setText(QString::number(code));
    ApplyFilter();
}

void TArchiveViewer::ResetFilters() {
    {
        const QSignalBlocker blockSince(SinceBox), blockUntil(UntilBox), blockInvalid(InvalidBox),
            blockCodes(CodesEdit), blockSearch(SearchEdit), blockSeverity(SeverityBox);
        SinceBox->setChecked(false);
        UntilBox->setChecked(false);
        InvalidBox->setChecked(false);
        CodesEdit->clear();
        SearchEdit->clear();
        SeverityBox->setCurrentIndex(0);
    }
    SetDateRange();
    ApplyFilter();
}

QString TArchiveViewer::FilterWords() const {
    const TRecordFilter& filter = Model->Filter();
    QStringList parts;
    if (filter.Since)
        parts << QStringLiteral("с %1").arg(Text(DayText(*filter.Since)));
    if (filter.Until)
        parts << QStringLiteral("по %1").arg(Text(DayText(*filter.Until)));
    if (!filter.Codes.empty() && CodesEdit->styleSheet().isEmpty() &&
        !CodesEdit->text().trimmed().isEmpty())
        parts << QStringLiteral("коды %1").arg(CodesEdit->text().trimmed());
    if (SeverityBox->currentIndex() > 0)
        parts << QStringLiteral("важность «%1»").arg(SeverityBox->currentText());
    if (filter.OnlyInvalid)
        parts << QStringLiteral("только недостоверные");
    if (!filter.Text.empty())
        parts << QStringLiteral("поиск «%1»").arg(QString::fromStdString(filter.Text));
    return parts.isEmpty() ? QStringLiteral("Отбор: все записи")
                           : QStringLiteral("Отбор: %1").arg(parts.join(QStringLiteral(", ")));
}

QString TArchiveViewer::SelectionText() {
    std::set<int> selected;
    for (const QModelIndex& index : Table->selectionModel()->selectedRows())
        selected.insert(index.row());
    std::vector<TRecordRow> rows;
    for (int row : selected)
        if (Model->NoteAt(row).isEmpty())
            rows.push_back(Model->RowAt(row));
    if (selected.empty()) {
        try {
            auto cursor = Model->Cursor()();
            for (auto batch = cursor->Next(5000); !batch.empty(); batch = cursor->Next(5000))
                for (const TListingRow& row : batch)
                    if (row.Note.empty())
                        rows.push_back(row.Record);
        } catch (const std::exception& e) {
            ShowProblem(QString::fromUtf8(e.what()));
            return {};
        }
    }
    return QString::fromStdString(
        TabText(rows, AllRows(rows), names_->Empty() ? nullptr : names_.get()));
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

QString TArchiveViewer::SuggestedName(const QString& suffix) const {
    const TRowCounts counts = Model->Counts();
    QString name = Model->Remote() ? QStringLiteral("линия-%1_устройство-%2")
                                         .arg(FilePart(QString::fromStdString(Model->Line())))
                                         .arg(Model->Device())
                                   : QFileInfo(Model->WatchedPath()).completeBaseName();
    if (counts.First)
        name += QStringLiteral("_%1").arg(Text(IsoDayText(*counts.First)));
    if (counts.Last && counts.Last != counts.First)
        name += QStringLiteral("_%1").arg(Text(IsoDayText(*counts.Last)));
    const QString folder =
        Model->Remote() ? QDir::homePath() : QFileInfo(Model->WatchedPath()).absolutePath();
    return QDir(folder).filePath(name + QLatin1Char('.') + suffix);
}

TPageHeader TArchiveViewer::PageHeader() const {
    const QString source = Model->Remote()
                               ? QStringLiteral("История событий: линия «%1», устройство %2")
                                     .arg(QString::fromStdString(Model->Line()))
                                     .arg(Model->Device())
                               : QStringLiteral("Файл архива %1").arg(Model->WatchedPath());
    return {source, QStringLiteral("%1; записей: %2").arg(FilterWords()).arg(Model->Counts().Shown),
            QDateTime::currentDateTime()};
}

TRowJob* TArchiveViewer::Start(TRowJob::TWork work, const QString& doing, const QString& done,
                               const QString& cancelled, QString& error) {
    if (job_) {
        error = QStringLiteral("Уже идет экспорт или печать: дождитесь конца или отмените.");
        return nullptr;
    }
    Notice->hide();
    job_ = new TRowJob(std::move(work), this);
    for (QAction* action : {AExport, APrint, APdf})
        action->setEnabled(false);
    // Beside the window, which answers meanwhile.
    Progress = new QProgressDialog(doing, QStringLiteral("Отмена"), 0, 0, this);
    Progress->setWindowModality(Qt::NonModal);
    Progress->setAutoClose(false);
    Progress->setAutoReset(false);
    Progress->setMinimumDuration(500);
    connect(Progress, &QProgressDialog::canceled, job_, &TRowJob::Cancel);
    connect(job_, &TRowJob::Progress, Progress, [progress = Progress](qint64 rows, qint64 total) {
        progress->setMaximum(static_cast<int>(total));
        progress->setValue(static_cast<int>(rows));
    });
    connect(job_, &TRowJob::Finished, this, [this, done, cancelled] {
        const bool failed = !job_->Error().isEmpty();
        ShowNotice(job_->Cancelled() ? cancelled : failed ? job_->Error() : done, failed);
        job_->deleteLater();
        job_ = nullptr;
        Progress->deleteLater();
        Progress = nullptr;
        for (QAction* action : {AExport, APrint, APdf})
            action->setEnabled(true);
    });
    return job_;
}

TRowJob* TArchiveViewer::StartCsv(const QString& path, char separator, QString& error) {
    if (ArchiveTarget(path, error))
        return nullptr;
    TExportColumns columns{names_->Empty() ? nullptr : names_.get(), std::nullopt, Model->Device()};
    if (Model->Remote())
        columns.Line = Model->Line();
    return Start(
        [cursor = Model->Cursor(), keep = names_, columns, path, separator](TJobControl& control) {
            return WriteCsvFile(*cursor(), path, separator, columns, control);
        },
        QStringLiteral("Экспорт в %1…").arg(path),
        QStringLiteral("Экспорт записан: %1 (записей: %2)").arg(path).arg(Model->Counts().Shown),
        QStringLiteral("Экспорт отменен: файл %1 не записан").arg(path), error);
}

TRowJob* TArchiveViewer::StartPdf(const QString& path, QString& error) {
    if (ArchiveTarget(path, error))
        return nullptr;
    const TEventDictionary* names = names_->Empty() ? nullptr : names_.get();
    return Start(
        [cursor = Model->Cursor(), keep = names_, names, path, header = PageHeader()](
            TJobControl& control) { return WritePdfFile(*cursor(), path, header, names, control); },
        QStringLiteral("Сохранение в %1…").arg(path), QStringLiteral("PDF записан: %1").arg(path),
        QStringLiteral("Сохранение в PDF отменено: файл %1 не записан").arg(path), error);
}

TRowJob* TArchiveViewer::StartPrint(std::unique_ptr<QPrinter> printer, QString& error) {
    const TEventDictionary* names = names_->Empty() ? nullptr : names_.get();
    std::shared_ptr<QPrinter> shared(std::move(printer));
    return Start(
        [cursor = Model->Cursor(), keep = names_, names, printer = shared,
         header = PageHeader()](TJobControl& control) {
            const QString error = PrintRows(*cursor(), *printer, header, names, control);
            if (control.Stopped)
                printer->abort();
            return error;
        },
        QStringLiteral("Печать…"), QStringLiteral("Печать отправлена на принтер"),
        QStringLiteral("Печать отменена"), error);
}

QString TArchiveViewer::LongPrintQuestion(QPagedPaintDevice& device) const {
    const std::int64_t rows = Model->Counts().Shown;
    if (rows <= LongPrintRows)
        return {};
    return QStringLiteral("Записей: %1, страниц: %2. Печать займет время (ее можно отменить). "
                          "Продолжить?")
        .arg(rows)
        .arg(PrintLayout(device).Pages(rows));
}

void TArchiveViewer::ExportClick() {
    const QString semicolon = QStringLiteral("CSV, разделитель «;» (*.csv)");
    const QString comma = QStringLiteral("CSV, разделитель «,» (*.csv)");
    QString filter = semicolon;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт"),
                                                SuggestedName(QStringLiteral("csv")),
                                                semicolon + QStringLiteral(";;") + comma, &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!StartCsv(path, filter == comma ? ',' : ';', error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

void TArchiveViewer::PrintClick() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString question = LongPrintQuestion(*printer);
    if (!question.isEmpty() &&
        QMessageBox::question(this, QStringLiteral("Печать"), question) != QMessageBox::Yes)
        return;
    QString error;
    if (!StartPrint(std::move(printer), error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

void TArchiveViewer::PdfClick() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить в PDF"),
                                                SuggestedName(QStringLiteral("pdf")),
                                                QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QPdfWriter layout(path); // measures the pages; writes nothing
    const QString question = LongPrintQuestion(layout);
    if (!question.isEmpty() && QMessageBox::question(this, QStringLiteral("Сохранить в PDF"),
                                                     question) != QMessageBox::Yes)
        return;
    QString error;
    if (!StartPdf(path, error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

} // namespace kve17
