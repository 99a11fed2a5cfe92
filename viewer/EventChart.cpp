#include "viewer/EventChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QCursor>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>

namespace kve17 {

namespace {

constexpr int UprightLabelsFrom = 12; // more bars than this get their labels turned upright
constexpr int MostLabels = 62;        // beyond this the labels crowd out; hover tells the bar
const QColor BarColour{0, 128, 128};

QString BarLabel(TEventChart::TMode mode, int key) {
    return mode == TEventChart::TMode::PerDay ? QString::fromStdString(DayText(key))
                                              : QString::number(key);
}

// Day and month only, so upright labels fit under the bars.
QString ShortLabel(TEventChart::TMode mode, int key) {
    return mode == TEventChart::TMode::PerDay ? BarLabel(mode, key).left(5) : BarLabel(mode, key);
}

} // namespace

TEventChart::TEventChart(QWidget* parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(240);
    QChart* c = chart();
    c->legend()->hide();
    c->setMargins(QMargins(4, 4, 4, 4));
    c->setBackgroundRoundness(0);

    set_ = new QBarSet(QStringLiteral("События"));
    set_->setColor(BarColour);
    auto* series = new QBarSeries;
    series->setBarWidth(0.8);
    series->append(set_);
    c->addSeries(series);
    axisX_ = new QBarCategoryAxis;
    axisX_->setTruncateLabels(false);
    c->addAxis(axisX_, Qt::AlignBottom);
    series->attachAxis(axisX_);
    axisY_ = new QValueAxis;
    axisY_->setLabelFormat(QStringLiteral("%d"));
    axisY_->setTitleText(QStringLiteral("Событий"));
    c->addAxis(axisY_, Qt::AlignLeft);
    series->attachAxis(axisY_);

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
    perDay_ = std::move(perDay);
    perCode_ = std::move(perCode);
    Rebuild();
}

QString TEventChart::BarText(int index) const {
    const auto& [key, count] = Bars().at(static_cast<std::size_t>(index));
    const QString what =
        mode_ == TMode::PerDay ? BarLabel(mode_, key) : QStringLiteral("Код %1").arg(key);
    return QStringLiteral("%1: событий %2").arg(what).arg(count);
}

void TEventChart::ClickBar(int index) {
    if (index < 0 || index >= static_cast<int>(Bars().size()))
        return;
    const int key = Bars()[static_cast<std::size_t>(index)].first;
    if (mode_ == TMode::PerDay)
        emit DayClicked(key);
    else
        emit CodeClicked(key);
}

void TEventChart::Rebuild() {
    QList<qreal> values;
    QStringList labels;
    int most = 0;
    for (const auto& [key, count] : Bars()) {
        values << count;
        labels << ShortLabel(mode_, key);
        most = std::max(most, count);
    }
    set_->remove(0, set_->count());
    set_->append(values);
    axisX_->clear();
    axisX_->append(labels);
    axisX_->setLabelsAngle(labels.size() > UprightLabelsFrom ? -90 : 0);
    axisX_->setLabelsVisible(labels.size() <= MostLabels);
    axisY_->setRange(0, std::max(most, 1));
    axisY_->applyNiceNumbers();
    chart()->setTitle(mode_ == TMode::PerDay ? QStringLiteral("События по дням")
                                             : QStringLiteral("События по кодам"));
}

} // namespace kve17
