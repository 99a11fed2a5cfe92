#include "dialogs/Obrnastr.h"

#include "dialogs/DialogStyle.h"
#include "dialogs/UpDownBox.h"
#include "link/Comportclass.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kve17 {

namespace {

// Values of the last acceptance, for the whole run.
int SavedPovt1Index = 1;
int SavedPovt2Index = 1;
int SavedDelay1 = 25;
int SavedDelay2 = 20;

constexpr int DelayMin = 1;
constexpr int DelayMax = 100;
constexpr int BoxWidth = 64;
constexpr QSize WindowSize{343, 290};

} // namespace

TFormNastr::TFormNastr(TComPortClass& link, QWidget* parent) : TModalForm(parent) {
    BuildControls();
    FormCreate(link);
}

void TFormNastr::BuildControls() {
    setWindowTitle(QStringLiteral("Настройка параметров обмена"));

    GroupBox1 = new QGroupBox(this);
    Label5 = MakeCaption(QStringLiteral("Задержка после переключ на передачу"), GroupBox1);
    Label5->setWordWrap(true);
    Edit1 = UpDown1 = new TUpDownBox(DelayMin, DelayMax, GroupBox1);
    Label5->setBuddy(Edit1);
    Label2 = MakeCaption(QStringLiteral("Задержка перед переключ на прием"), GroupBox1);
    Label2->setWordWrap(true);
    Edit2 = UpDown2 = new TUpDownBox(DelayMin, DelayMax, GroupBox1);
    Edit1->setMinimumWidth(BoxWidth);
    Edit2->setMinimumWidth(BoxWidth);

    auto* grid = new QGridLayout(GroupBox1);
    grid->setHorizontalSpacing(16);
    grid->setColumnStretch(0, 1);
    grid->addWidget(Label5, 0, 0);
    grid->addWidget(Edit1, 0, 1, Qt::AlignVCenter);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(Edit2, 1, 1, Qt::AlignVCenter);
    // The receive delay is carried, not shown.
    Label2->hide();
    Edit2->hide();

    OK = new QPushButton(QStringLiteral("OK"), this);
    OK->setDefault(true);
    OK->setMinimumWidth(75);

    // The repeat budgets are fixed at "5" and "10"; the lists exist so the values travel with
    // the others, and stay hidden.
    Label1 = MakeCaption(QStringLiteral("Повторы на 1 этапе"), this);
    CBoxPovt1 = MakeChoiceList({"1", "5"}, this);
    Label11 = MakeCaption(QStringLiteral("Повторы на 2-м этапе"), this);
    CBoxPovt2 = MakeChoiceList({"1", "10"}, this);
    for (QWidget* hidden : std::initializer_list<QWidget*>{Label1, CBoxPovt1, Label11, CBoxPovt2})
        hidden->hide();

    auto* column = new QVBoxLayout(this);
    column->addWidget(GroupBox1);
    column->addSpacing(8);
    column->addWidget(OK, 0, Qt::AlignHCenter);
    column->addStretch(1);
    setFixedSize(WindowSize.expandedTo(column->totalMinimumSize()));

    connect(OK, &QPushButton::clicked, this, &TFormNastr::OKClick);
}

void TFormNastr::FormCreate(const TComPortClass& link) {
    SavedPovt1Index = 1;
    SavedPovt2Index = 1;
    SavedDelay1 = link.GetDelayTx();
    SavedDelay2 = link.GetDelayRx();
    ShowSaved();
}

void TFormNastr::ShowSaved() {
    CBoxPovt1->setCurrentIndex(SavedPovt1Index);
    CBoxPovt2->setCurrentIndex(SavedPovt2Index);
    UpDown1->setValue(SavedDelay1);
    UpDown2->setValue(SavedDelay2);
}

// The number box is the one control the operator works; its arrow keys work at once.
void TFormNastr::FormShow() {
    Edit1->setFocus();
}

void TFormNastr::OKClick() {
    SavedPovt1Index = CBoxPovt1->currentIndex();
    SavedPovt2Index = CBoxPovt2->currentIndex();
    SavedDelay1 = UpDown1->value();
    SavedDelay2 = UpDown2->value();
    done(mrOk);
}

void TFormNastr::FormClose() {
    if (result() == mrCancel)
        ShowSaved();
}

} // namespace kve17
