#include "app/Obr_armb.h"

#include "app/AppResources.h"
#include "app/AppTitle.h"
#include "app/Application.h"
#include "dialogs/DialogStyle.h"
#include "dialogs/Obrport.h"
#include "history/ReadingHistory.h"
#include "serial/ComPort1Settings.h"
#include "serial/PortPlace.h"
#include "serial/StopSignals.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryPicker.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kve17 {

int DeviceIndex = 0;
TArchiveNameState ArchiveFile;

namespace {

constexpr QSize WindowSize{395, 295};
constexpr QColor Navy{0, 0, 128};
constexpr int ToolBarGap = 8;
// Room to spare for the texts in any font; the layout grows them further when needed.
constexpr QSize ButtonMinimum{150, 30};
constexpr int ListMinimumWidth = 64;
constexpr int ProgressRange = 100;

QAction* MakeAction(QObject* owner, const QString& category, const QString& caption,
                    const QString& hint, const QIcon& image, const QKeySequence& shortcut) {
    auto* action = new QAction(image, caption, owner);
    action->setProperty("category", category);
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    }
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    return action;
}

// The local archive files among dropped URLs.
QStringList DroppedArchives(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral(".dat")))
            paths << url.toLocalFile();
    return paths;
}

} // namespace

TForm1::TForm1(IOperatorPrompt& prompt, TPortDirectory ports, TLinkTiming timing, QWidget* parent)
    : QMainWindow(parent), ComPort1(ports), Link(ComPort1, prompt, timing), prompt_(prompt),
      ports_(std::move(ports)) {
    LoadImages();
    BuildActions();
    BuildMenu();
    BuildToolBar();
    BuildControls();
    view_.emplace(*Label5, *ProgressBar1);
    LoadComPort1Settings(ComPort1);
    setAcceptDrops(true);
    FormCreate();
}

TForm1::~TForm1() {
    destroying_ = true;
    // The reading may be waiting for a message box of this thread: serve events until it ends.
    while (reader_.joinable() && !readerDone_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (reader_.joinable())
        reader_.join();
}

void TForm1::LoadImages() {
    LoadAppResources();
    ImageList1[ImagePort] = QIcon(QStringLiteral(":/icons/port.png"));
    ImageList1[ImageOpenFile] = QIcon(QStringLiteral(":/icons/new-file.png"));
    ImageList1[ImageViewArchive] = QIcon(QStringLiteral(":/icons/view.png"));
}

void TForm1::BuildActions() {
    AOpenFile = MakeAction(this, QStringLiteral("Файл"), QStringLiteral("Создать файл архива"),
                           QStringLiteral("Создать файл архива"), ImageList1[ImageOpenFile],
                           QKeySequence(Qt::Key_F3));
    APort = MakeAction(this, QStringLiteral("Порт"), QStringLiteral("Настройка СОМ порта"),
                       QStringLiteral("Настройка СОМ порта"), ImageList1[ImagePort], {});
    AClose = MakeAction(this, QStringLiteral("Файл"), QStringLiteral("Выход"), {}, {},
                        QKeySequence(Qt::ALT | Qt::Key_X));
    AViewArchive = MakeAction(this, QStringLiteral("Архив"), QStringLiteral("Просмотр архива…"),
                              QStringLiteral("Просмотр архива"), ImageList1[ImageViewArchive],
                              QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(AOpenFile, &QAction::triggered, this, &TForm1::CreatFileClick);
    AViewHistory = MakeAction(this, QStringLiteral("Архив"), QStringLiteral("История событий…"),
                              QStringLiteral("История событий устройства"), {}, {});
    connect(AViewArchive, &QAction::triggered, this, &TForm1::ViewArchiveClick);
    connect(AViewHistory, &QAction::triggered, this, &TForm1::ViewHistoryClick);
    connect(APort, &QAction::triggered, this, &TForm1::PortClick);
    connect(AClose, &QAction::triggered, this, &QWidget::close);
}

void TForm1::BuildMenu() {
    // The title carries eight blanks after the word, as the window has always shown it.
    N1File = menuBar()->addMenu(QStringLiteral("Файл        "));
    N1File->menuAction()->setToolTip(QStringLiteral("Файл"));
    N1File->menuAction()->setStatusTip(QStringLiteral("Файл"));
    N1File->addAction(AOpenFile);
    N1File->addAction(AClose);
    N1 = menuBar()->addMenu(QStringLiteral("Порт"));
    N1->addAction(APort);
    N3 = menuBar()->addMenu(QStringLiteral("Архив"));
    N3->addAction(AViewArchive);
    N3->addAction(AViewHistory);
}

void TForm1::BuildToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    // A screen reader says the bar's purpose rather than its name in the code.
    ToolBar1->setAccessibleName(QStringLiteral("Панель инструментов"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->addAction(AOpenFile);
    auto* gap = new QWidget(ToolBar1);
    gap->setFixedWidth(ToolBarGap);
    ToolBar1->addWidget(gap);
    ToolBar1->addAction(APort);
    auto* viewGap = new QWidget(ToolBar1);
    viewGap->setFixedWidth(ToolBarGap);
    ToolBar1->addWidget(viewGap);
    ToolBar1->addAction(AViewArchive);
    ToolButton1 = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(AOpenFile));
    ToolButton5 = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(APort));
    ToolButton6 = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(AViewArchive));
}

void TForm1::BuildControls() {
    setWindowTitle(QString::fromUtf8(AppTitle));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.png")));

    auto* central = new QWidget(this);
    Label2 = MakeCaption(QStringLiteral("Устройство №"), central);
    CBoxUstr = new QComboBox(central);
    CBoxUstr->setEditable(false);
    CBoxUstr->setMinimumWidth(ListMinimumWidth);
    for (int number = 1; number <= DeviceCount; ++number)
        CBoxUstr->addItem(QString::number(number));
    connect(CBoxUstr, &QComboBox::activated, this, &TForm1::CBoxUstrClick);

    Button2 = new QPushButton(QStringLiteral("Чтение архива"), central);
    Button2->setMinimumSize(ButtonMinimum);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);

    Label5 = new QLabel(QStringLiteral("Идет чтение архива"), central);
    QPalette palette = Label5->palette();
    palette.setColor(QPalette::WindowText, Navy);
    Label5->setPalette(palette);
    Label5->hide();

    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setRange(0, ProgressRange);
    ProgressBar1->setTextVisible(false); // a plain smooth bar
    ProgressBar1->hide();

    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(Label2);
    deviceRow->addWidget(CBoxUstr);
    deviceRow->addStretch();
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(Button2);
    buttonRow->addStretch();
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(24, 20, 24, 20);
    column->setSpacing(14);
    column->addLayout(deviceRow);
    column->addLayout(buttonRow);
    column->addSpacing(6);
    column->addWidget(Label5);
    column->addWidget(ProgressBar1);
    column->addStretch();
    setCentralWidget(central);

    resize(WindowSize);
    CentreOnScreen(*this);
}

void TForm1::FormCreate() {
    // A selection by the program raises no CBoxUstrClick, so the index is set here.
    CBoxUstr->setCurrentIndex(0);
    DeviceIndex = CBoxUstr->currentText().toInt() - 1;
}

void TForm1::CBoxUstrClick(int index) {
    DeviceIndex = CBoxUstr->itemText(index).toInt() - 1;
}

void TForm1::FormClose() {
    Link.ClosePort();
}

void TForm1::CreatFileClick() {
    CreateArchive(prompt_, ArchiveFile);
}

void TForm1::PortClick() {
    if (formPort_ != nullptr)
        RunPortSetup(*formPort_, Link, prompt_, DeviceIndex);
}

void TForm1::Button2Click() {
    if (reading_)
        return;
    reading_ = true;
    readerDone_ = false;
    SetCommandsEnabled(false);
    reader_ = std::thread([this, device = DeviceIndex] {
        std::exception_ptr failure;
        try {
            const TReadingResult result = ReadArchive(device, Link, prompt_, *view_, ArchiveFile);
            KeepHistory(device, result);
        } catch (const std::exception& e) {
            failure = std::current_exception();
            // The driver gave up in the middle of the reading: the file kept its content, and the
            // log keeps the failure. A stop signal ends the program, not waited for here.
            if (StopSignal() == 0) {
                TReadingResult failed;
                failed.Started = true;
                failed.LinkResult = -1;
                KeepHistory(device, failed, e.what());
            }
        }
        readerDone_ = true;
        QMetaObject::invokeMethod(
            this, [this, failure] { ReadingEnded(failure); }, Qt::QueuedConnection);
    });
}

// Runs on the reader's thread, right after the file is saved; the reading stands whatever the
// history says. A failed reading is logged with the words the operator saw (`failure` when the
// driver gave up).
void TForm1::KeepHistory(int device, const TReadingResult& result, std::string_view failure) {
    if (!history_)
        return;
    history::TConnectionOptions options;
    options.StopFd = StopSignalFd();
    const std::string port(Link.GetPortName());
    const std::string text = !failure.empty()         ? std::string(failure)
                             : result.LinkResult != 0 ? Link.ErrorText(device, result.LinkResult)
                             : result.Saved           ? std::string(ReadingDoneText)
                                                      : std::string(SaveFailedText);
    const auto outcome = history::TReadingHistory(*history_, options)
                             .Keep({"", port, PortPlace(port, ports_, HostName()), device + 1,
                                    ArchiveFile.ArchiveFileName},
                                   result, text);
    std::string warning = outcome.Message;
    if (outcome.Gap)
        warning = "Прибор " + std::to_string(device + 1) +
                  " записал новые события поверх непрочитанных: в истории отмечен пропуск. "
                  "Читайте прибор чаще.";
    else if (outcome.Warning)
        warning = "Новые события прибора " + std::to_string(device + 1) +
                  " заняли почти весь его архив: читайте прибор чаще, иначе события будут "
                  "потеряны.";
    if (!warning.empty())
        prompt_.Message(warning, "Предупреждение", TMsgIcon::Warning, TMsgButtons::Ok);
}

void TForm1::ViewArchiveClick() {
    if (const auto path = prompt_.ChooseFile("Просмотр архива"))
        OpenViewer(QString::fromStdString(*path));
}

void TForm1::ViewHistoryClick() {
    if (!history_) {
        prompt_.Message("История событий не ведется: она отключена (KVE17_HISTORY=off).", "Ошибка",
                        TMsgIcon::Error, TMsgButtons::Ok);
        return;
    }
    QString error;
    QStringList problems;
    if (TArchiveViewer* viewer = OpenHistoryViewer(*history_, this, error, EventNames(problems))) {
        viewer->ShowNotice(problems.join(QLatin1Char('\n')), true);
        viewer->show();
    } else if (!error.isEmpty())
        prompt_.Message(error.toStdString(), "Ошибка", TMsgIcon::Error, TMsgButtons::Ok);
}

TArchiveViewer* TForm1::OpenViewer(const QString& path) {
    // A file already shown is brought forward rather than opened twice.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (TArchiveViewer* open : findChildren<TArchiveViewer*>())
        if (open->Model->WatchedPath() == absolute) {
            open->raise();
            open->activateWindow();
            return open;
        }
    QString error;
    QStringList problems;
    TArchiveViewer* viewer = TArchiveViewer::OpenFile(path, this, error, EventNames(problems));
    if (viewer == nullptr) {
        prompt_.Message(error.toStdString(), "Ошибка", TMsgIcon::Error, TMsgButtons::Ok);
        return nullptr;
    }
    viewer->ShowNotice(problems.join(QLatin1Char('\n')), true);
    viewer->show();
    return viewer;
}

std::shared_ptr<const TEventDictionary> TForm1::EventNames(QStringList& problems) const {
    std::vector<std::string> wrong;
    auto names =
        std::make_shared<const TEventDictionary>(LoadEventDictionary(eventFolders_, wrong));
    for (const std::string& problem : wrong)
        problems << QStringLiteral("Словарь событий: %1").arg(QString::fromStdString(problem));
    return names;
}

void TForm1::OpenViewers(const QStringList& paths) {
    for (const QString& path : paths)
        OpenViewer(path);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedArchives(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppedArchives(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    OpenViewers(paths);
}

void TForm1::ReadingEnded(std::exception_ptr failure) {
    if (destroying_)
        return;
    reader_.join();
    reading_ = false;
    if (failure) {
        Label5->hide();
        ProgressBar1->hide();
    }
    SetCommandsEnabled(true);
    // A reading given up for a stop signal is no fault to show: the program is ending.
    if (failure && StopSignal() == 0)
        ShowApplicationException(failure);
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void TForm1::SetCommandsEnabled(bool enabled) {
    AOpenFile->setEnabled(enabled);
    APort->setEnabled(enabled);
    Button2->setEnabled(enabled);
    CBoxUstr->setEnabled(enabled);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A close during a reading waits for its end; ReadingEnded closes the window then.
    if (reading_) {
        closePending_ = true;
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

} // namespace kve17
