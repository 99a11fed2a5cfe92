#include "viewer/HistoryPicker.h"

#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryTableModel.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kve17 {

namespace {

QString Text(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

} // namespace

THistoryPicker::THistoryPicker(std::shared_ptr<history::THistory> history, QWidget* parent)
    : QDialog(parent), history_(std::move(history)) {
    setWindowTitle(QStringLiteral("История событий"));
    LineBox = new QComboBox(this);
    LineBox->setMinimumContentsLength(24);
    DeviceBox = new QComboBox(this);
    RenameButton = new QPushButton(QStringLiteral("Переименовать…"), this);
    RenameButton->setToolTip(QStringLiteral("Дать линии название, которое хранится в истории"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Открыть"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));

    auto* lineRow = new QHBoxLayout;
    lineRow->addWidget(LineBox, 1);
    lineRow->addWidget(RenameButton);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Линия:"), lineRow);
    form->addRow(QStringLiteral("Устройство:"), DeviceBox);
    form->addRow(buttons);

    connect(LineBox, &QComboBox::currentIndexChanged, this, &THistoryPicker::ShowDevices);
    connect(RenameButton, &QPushButton::clicked, this, &THistoryPicker::RenameClick);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool THistoryPicker::Fill(QString& error) {
    try {
        lines_ = history_->Lines();
    } catch (const std::exception& e) {
        error = HistoryReadError(e);
        return false;
    }
    std::erase_if(lines_, [](const history::TLineInfo& line) { return line.Addresses.empty(); });
    if (lines_.empty()) {
        error = QStringLiteral("История событий пуста: ни одно чтение в нее еще не записано.");
        return false;
    }
    const QSignalBlocker block(LineBox);
    LineBox->clear();
    for (const history::TLineInfo& line : lines_) {
        const QString name = QString::fromStdString(line.Name);
        const QString port = QString::fromStdString(line.Port);
        LineBox->addItem(
            name == port || port.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, port));
    }
    LineBox->setCurrentIndex(0);
    ShowDevices();
    return true;
}

void THistoryPicker::ShowDevices() {
    DeviceBox->clear();
    const int index = LineBox->currentIndex();
    if (index < 0 || index >= static_cast<int>(lines_.size()))
        return;
    for (int address : lines_[static_cast<std::size_t>(index)].Addresses)
        DeviceBox->addItem(QStringLiteral("Устройство %1").arg(address), address);
}

QString THistoryPicker::ChosenLine() const {
    const int index = LineBox->currentIndex();
    if (index < 0 || index >= static_cast<int>(lines_.size()))
        return {};
    return QString::fromStdString(lines_[static_cast<std::size_t>(index)].Name);
}

int THistoryPicker::ChosenAddress() const {
    return DeviceBox->currentData().toInt();
}

bool THistoryPicker::RenameLine(const QString& to, QString& error) {
    const QString name = to.trimmed();
    if (!RenameHistoryLine(*history_, ChosenLine(), name, error) || !Fill(error))
        return false;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].Name == name.toStdString())
            LineBox->setCurrentIndex(static_cast<int>(i));
    return true;
}

namespace {

// Asks the operator for a new name of `line`; "" when cancelled or unchanged.
QString AskLineName(QWidget* parent, const QString& line) {
    bool ok = false;
    const QString to = QInputDialog::getText(parent, QStringLiteral("Переименовать линию"),
                                             QStringLiteral("Новое название линии:"),
                                             QLineEdit::Normal, line, &ok);
    return ok && to.trimmed() != line ? to : QString();
}

} // namespace

void THistoryPicker::RenameClick() {
    const QString to = AskLineName(this, ChosenLine());
    QString error;
    if (!to.isEmpty() && !RenameLine(to, error))
        QMessageBox::warning(this, QStringLiteral("Ошибка"), error);
}

bool RenameViewedLine(TArchiveViewer& viewer, const QString& to, QString& error) {
    auto* model = qobject_cast<THistoryTableModel*>(viewer.Model);
    if (model == nullptr || !model->RenameLine(to, error))
        return false;
    viewer.setWindowTitle(model->WindowTitle());
    return true;
}

TArchiveViewer* OpenHistoryViewer(std::shared_ptr<history::THistory> history,
                                  const std::string& where, const std::string& line, int address,
                                  QWidget* parent, QString& error,
                                  std::shared_ptr<const TEventDictionary> names) {
    auto model = std::make_unique<THistoryTableModel>(std::move(history), where, line, address);
    if (!model->Load(error))
        return nullptr;
    auto* viewer = new TArchiveViewer(std::move(model), parent, std::move(names));
    auto* rename = new QAction(QStringLiteral("Переименовать линию…"), viewer);
    rename->setToolTip(QStringLiteral("Дать линии название, которое хранится в истории"));
    QObject::connect(rename, &QAction::triggered, viewer, [viewer] {
        const auto* model = qobject_cast<THistoryTableModel*>(viewer->Model);
        const QString to = AskLineName(viewer, QString::fromStdString(model->Line()));
        QString error;
        if (!to.isEmpty() && !RenameViewedLine(*viewer, to, error))
            QMessageBox::warning(viewer, QStringLiteral("Ошибка"), error);
    });
    viewer->AddTool(rename);
    return viewer;
}

TArchiveViewer* OpenHistoryViewer(const std::string& where, QWidget* parent, QString& error,
                                  std::shared_ptr<const TEventDictionary> names) {
    const QString place = QString::fromStdString(where);
    if (!history::IsServerLocation(where) && !QFileInfo::exists(place)) {
        error = QStringLiteral("История событий не найдена: файла %1 нет. Она появится после "
                               "первого успешного чтения архива.")
                    .arg(place);
        return nullptr;
    }
    std::shared_ptr<history::THistory> history;
    try {
        history = std::make_shared<history::THistory>(history::THistory::Open(where));
    } catch (const std::exception& e) {
        error = QStringLiteral("Историю событий %1 не удается открыть: %2").arg(place, Text(e));
        return nullptr;
    }
    THistoryPicker picker(history, parent);
    if (!picker.Fill(error))
        return nullptr;
    if (picker.exec() != QDialog::Accepted)
        return nullptr;
    return OpenHistoryViewer(history, where, picker.ChosenLine().toStdString(),
                             picker.ChosenAddress(), parent, error, std::move(names));
}

} // namespace kve17
