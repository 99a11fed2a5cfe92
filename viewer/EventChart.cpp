#include "viewer/EventChart.h"

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QCursor>
#include <QLabel>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace kve17 {

namespace {

constexpr int UprightLabelsFrom = 12; // more bars than this get their labels turned upright
constexpr int LabelGap = 6;           // pixels between two labels side by side
const QColor BarColour{0, 128, 128};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString UnitTitle(TBinUnit unit) {
    switch (unit) {
    case TBinUnit::Week:
        return QStringLiteral("Записи по неделям");
    case TBinUnit::Month:
        return QStringLiteral("Записи по месяцам");
    case TBinUnit::Year:
        return QStringLiteral("Записи по годам");
    default:
        return QStringLiteral("Записи по дням");
    }
}

} // namespace

TEventChart::TEventChart(QWidget* parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(200);
    // The chart takes part in Tab order, and a reader names it.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("График записей"));
    QChart* c = chart();
    c->legend()->hide();
    c->setMargins(QMargins(4, 4, 4, 4));
    c->setBackgroundRoundness(0);

    set_ = new QBarSet(QStringLiteral("Записи"));
    set_->setColor(BarColour);
    auto* series = new QBarSeries;
    series->setBarWidth(0.8);
    series->append(set_);
    c->addSeries(series);
    axisX_ = new QCategoryAxis;
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisX_->setGridLineVisible(false);
    c->addAxis(axisX_, Qt::AlignBottom);
    series->attachAxis(axisX_);
    axisY_ = new QValueAxis;
    axisY_->setLabelFormat(QStringLiteral("%d"));
    axisY_->setTickType(QValueAxis::TicksDynamic);
    axisY_->setTickAnchor(0);
    axisY_->setTitleText(QStringLiteral("Записей"));
    c->addAxis(axisY_, Qt::AlignLeft);
    series->attachAxis(axisY_);

    empty_ = new QLabel(this);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(empty_);

    connect(set_, &QBarSet::hovered, this, [this](bool status, int index) {
        if (status)
            QToolTip::showText(QCursor::pos(), BarText(index), this);
        else
            QToolTip::hideText();
    });
    connect(set_, &QBarSet::clicked, this, &TEventChart::ClickBar);
    Rebuild();
}

void TEventChart::SetMode(TMode mode) {
    mode_ = mode;
    Rebuild();
}

void TEventChart::Show(std::vector<std::pair<int, int>> perDay,
                       std::vector<std::pair<int, int>> perCode) {
    days_ = BinDays(perDay);
    codes_ = BinCodes(perCode);
    Rebuild();
}

QString TEventChart::BarText(int index) const {
    const TBin& bin = Bars().at(static_cast<std::size_t>(index));
    QString what;
    if (mode_ == TMode::PerDay)
        what = Text(BinSpan(days_.Unit, bin));
    else if (bin.First == OthersCode)
        what = QStringLiteral("Другие коды");
    else if (const TEventName* name = names_ ? names_->Find(bin.First) : nullptr)
        what = QStringLiteral("Код %1 (%2)").arg(bin.First).arg(Text(name->Name));
    else
        what = QStringLiteral("Код %1").arg(bin.First);
    return QStringLiteral("%1: записей %2").arg(what).arg(bin.Count);
}

QString TEventChart::EmptyText() const {
    if (!Bars().empty())
        return {};
    return mode_ == TMode::PerDay ? QStringLiteral("Нет записей с датой: графику нечего показать")
                                  : QStringLiteral("Нет записей: графику нечего показать");
}

QStringList TEventChart::Labels() const {
    return axisX_->categoriesLabels();
}

void TEventChart::ClickBar(int index) {
    if (index < 0 || index >= static_cast<int>(Bars().size()))
        return;
    const TBin& bin = Bars()[static_cast<std::size_t>(index)];
    if (mode_ == TMode::PerDay)
        emit DaysClicked(bin.First, bin.Last);
    else if (bin.First != OthersCode)
        emit CodeClicked(bin.First);
}

void TEventChart::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    PlaceLabels();
}

void TEventChart::Rebuild() {
    QList<qreal> values;
    int most = 0;
    for (const TBin& bin : Bars()) {
        values << bin.Count;
        most = std::max(most, bin.Count);
    }
    set_->remove(0, set_->count());
    set_->append(values);
    const auto [top, step] = CountAxis(most);
    axisY_->setRange(0, top);
    axisY_->setTickInterval(step);
    const int bars = static_cast<int>(values.size());
    axisX_->setRange(-0.5, std::max(bars, 1) - 0.5);
    chart()->setTitle(mode_ == TMode::PerDay ? UnitTitle(days_.Unit)
                                             : QStringLiteral("Записи по кодам"));
    const QString empty = EmptyText();
    empty_->setText(empty);
    empty_->setVisible(!empty.isEmpty());
    for (QAbstractAxis* axis : chart()->axes())
        axis->setVisible(empty.isEmpty());
    PlaceLabels();
}

void TEventChart::PlaceLabels() {
    for (const QString& label : axisX_->categoriesLabels())
        axisX_->remove(label);
    const auto& bars = Bars();
    const int count = static_cast<int>(bars.size());
    if (count == 0)
        return;
    // Upright labels need the room of a line each; lying ones the room of their text.
    const QFontMetrics metrics(axisX_->labelsFont());
    int widest = 0;
    for (const TBin& bin : bars)
        widest = std::max(widest, metrics.horizontalAdvance(Text(bin.Label)));
    const bool upright = count > UprightLabelsFrom;
    const int room = (upright ? metrics.height() : widest) + LabelGap;
    const qreal plot = chart()->plotArea().width() > 0 ? chart()->plotArea().width() : width() - 80;
    axisX_->setLabelsAngle(upright ? -90 : 0);
    for (int i : LabelledBins(count, static_cast<int>(plot / room)))
        axisX_->append(Text(bars[static_cast<std::size_t>(i)].Label), i);
}

} // namespace kve17
