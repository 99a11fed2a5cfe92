#include "dialogs/Obrport.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/ExchangeIcon.h"
#include "dialogs/Obrnastr.h"
#include "link/Comportclass.h"
#include "serial/PortDirectory.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <exception>

namespace kve17 {

namespace {

// Selections of the last accepted OK, for the whole run.
int SavedSkorIndex = 0;
int SavedParitIndex = 0;
int SavedStBitIndex = 1;
// Whether the port was connected when the dialog was last shown.
bool PortWasOpen = false;

constexpr int ParityEven = 2;
constexpr int TwoStopBits = 1;

// Link texts by list position.
constexpr std::array<const char*, 3> ParityLetters{"N", "O", "E"};
constexpr std::array<const char*, 2> StopTexts{"1", "2"};

constexpr QSize WindowSize{342, 274};
constexpr int PortCode = 132;

} // namespace

TFormPort::TFormPort(TComPortClass& link, const TPortDirectory& ports, QWidget* parent)
    : TModalForm(parent), link_(link), ports_(ports) {
    BuildControls();
    FormCreate();
}

void TFormPort::BuildControls() {
    setWindowTitle(QStringLiteral("Настройка СОМ-порта"));

    GroupBox1 = new QGroupBox(this);
    Label1 = MakeCaption(QStringLiteral("СОМ-порт"), GroupBox1);
    Label11 = MakeCaption(QStringLiteral("Скорость(бит/с):"), GroupBox1);
    Label12 = MakeCaption(QStringLiteral("Четность:"), GroupBox1);
    Label13 = MakeCaption(QStringLiteral("Стоповые биты:"), GroupBox1);
    CBoxPort = MakeChoiceList({}, GroupBox1);
    Skor = MakeChoiceList({"9600", "19200", "57600", "115200"}, GroupBox1);
    Parit = MakeChoiceList({"нет", "нечет", "чет"}, GroupBox1);
    StBit = MakeChoiceList({"1", "2"}, GroupBox1);

    auto* grid = new QGridLayout(GroupBox1);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(1, 1);
    const std::array<std::pair<QLabel*, QComboBox*>, 4> rows{
        {{Label1, CBoxPort}, {Label11, Skor}, {Label12, Parit}, {Label13, StBit}}};
    for (int row = 0; row < int(rows.size()); ++row) {
        grid->addWidget(rows[row].first, row, 0);
        grid->addWidget(rows[row].second, row, 1);
        rows[row].first->setBuddy(rows[row].second);
    }

    GroupBox2 = new QGroupBox(this);
    Image1 = new QLabel(GroupBox2);
    Image1->setPixmap(ExchangeIcon(devicePixelRatioF()));
    Button1 = new QPushButton(QStringLiteral("Настройка обмена"), GroupBox2);
    Button1->setAutoDefault(false);
    auto* exchangeRow = new QHBoxLayout(GroupBox2);
    exchangeRow->addWidget(Image1);
    exchangeRow->addWidget(Button1, 1);

    OK = new QPushButton(QStringLiteral("OK"), this);
    OK->setDefault(true);
    OK->setMinimumWidth(75);

    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(GroupBox2, 1);
    bottomRow->addSpacing(12);
    bottomRow->addWidget(OK, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout(this);
    column->addWidget(GroupBox1);
    column->addLayout(bottomRow);
    column->addStretch(1);
    setFixedSize(WindowSize.expandedTo(column->totalMinimumSize()));

    connect(OK, &QPushButton::clicked, this, &TFormPort::OKClick);
    connect(Button1, &QPushButton::clicked, this, &TFormPort::Button1Click);
    connect(CBoxPort, &QComboBox::currentIndexChanged, this, &TFormPort::ShowPortTip);
}

void TFormPort::FormCreate() {
    SavedSkorIndex = 0;
    SavedParitIndex = 0;
    SavedStBitIndex = 1;
    PortWasOpen = false;
}

void TFormPort::FormShow() {
    CBoxPort->clear();
    Skor->setCurrentIndex(SavedSkorIndex);
    Parit->setCurrentIndex(SavedParitIndex);
    StBit->setCurrentIndex(SavedStBitIndex);
    PortWasOpen = link_.Port().Connected();
    link_.ClosePort();
    FillPortList();
    CBoxPort->setCurrentIndex(CBoxPort->count() > 0 ? 0 : -1);
    ShowPortTip();
}

// The closed list shows the chosen port's device path as its tool tip, as the items do.
void TFormPort::ShowPortTip() {
    CBoxPort->setToolTip(CBoxPort->currentData(Qt::ToolTipRole).toString());
}

// Every port of the directory, in its order; a directory that cannot be read lists none.
void TFormPort::FillPortList() {
    std::vector<TPortEntry> entries;
    try {
        entries = ports_.List();
    } catch (const std::exception&) {
        return;
    }
    for (const TPortEntry& entry : entries) {
        CBoxPort->addItem(QString::fromStdString(entry.Name));
        CBoxPort->setItemData(CBoxPort->count() - 1, QString::fromStdString(entry.Device),
                              Qt::ToolTipRole);
    }
}

void TFormPort::OKClick() {
    if (Parit->currentIndex() == ParityEven && StBit->currentIndex() == TwoStopBits) {
        done(mrYes);
        return;
    }
    SavedSkorIndex = Skor->currentIndex();
    SavedParitIndex = Parit->currentIndex();
    SavedStBitIndex = StBit->currentIndex();
    done(mrOk);
}

void TFormPort::FormClose() {
    if (PortWasOpen && result() == mrCancel)
        link_.OpenPort();
}

void TFormPort::Button1Click() {
    if (formNastr_ == nullptr || formNastr_->exec() != mrOk)
        return;
    link_.SetPovt1(formNastr_->CBoxPovt1->currentText().toInt());
    link_.SetPovt2(formNastr_->CBoxPovt2->currentText().toInt());
    link_.SetDelayTx(formNastr_->Edit1->value());
    link_.SetDelayRx(formNastr_->Edit2->value());
}

void RunPortSetup(TFormPort& form, TComPortClass& link, IOperatorPrompt& prompt, int deviceIndex) {
    for (;;) {
        const int result = form.exec();
        if (result == mrOk)
            break;
        if (result != mrYes)
            return;
        const TMsgAnswer answer = prompt.Message("Ошибочные данные ", "Ошибка", TMsgIcon::Error,
                                                 TMsgButtons::RetryCancel);
        if (answer != TMsgAnswer::Retry)
            return;
    }

    link.SetParityText(ParityLetters.at(form.Parit->currentIndex()));
    link.SetBaudText(form.Skor->currentText().toStdString());
    link.SetStopText(StopTexts.at(form.StBit->currentIndex()));
    // A name the field cannot hold must not leave the previous port in place: an empty name
    // makes OpenPort refuse, and the failure is reported below.
    if (!link.SetPortName(form.CBoxPort->currentText().toStdString()))
        link.SetPortName({});
    if (link.OpenPort() == -1)
        link.ShowError(deviceIndex, PortCode);
}

} // namespace kve17
