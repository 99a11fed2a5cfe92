// The picture of the rows shown: records per day, week or month (whichever fits the span, empty
// periods drawn as zero), or per code (the most frequent codes and the rest), as bars. Hovering a
// bar tells what it covers and its count; clicking it asks to narrow the table to it. With
// nothing to draw it says so.
#pragma once

#include "archive/EventDictionary.h"
#include "viewer/ChartBins.h"

#include <QChartView>
#include <utility>
#include <vector>

class QBarSet;
class QCategoryAxis;
class QLabel;
class QValueAxis;

namespace kve17 {

class TEventChart : public QChartView {
    Q_OBJECT
public:
    enum class TMode { PerDay, PerCode };

    explicit TEventChart(QWidget* parent = nullptr);

    void SetMode(TMode mode);
    // Counts per day (yyyymmdd) and per code, ascending.
    void Show(std::vector<std::pair<int, int>> perDay, std::vector<std::pair<int, int>> perCode);
    // Names for the codes' hover texts; nullptr for none. Kept by the caller.
    void SetNames(const TEventDictionary* names) { names_ = names; }

    // The bars drawn now, and the unit of the per-day bars.
    const std::vector<TBin>& Bars() const { return mode_ == TMode::PerDay ? days_.Bins : codes_; }
    TBinUnit Unit() const { return days_.Unit; }
    // The labels under the bars, left to right (the bars without one left out).
    QStringList Labels() const;
    // The text a hover over bar `index` shows.
    QString BarText(int index) const;
    // What the chart says instead of bars; "" while it draws some.
    QString EmptyText() const;
    // As a click on bar `index`.
    void ClickBar(int index);

signals:
    // A bar of days was clicked: its first and last day (yyyymmdd).
    void DaysClicked(int first, int last);
    void CodeClicked(int code);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Rebuild();
    void PlaceLabels();

    TMode mode_ = TMode::PerDay;
    TDayBins days_;
    std::vector<TBin> codes_;
    const TEventDictionary* names_ = nullptr;
    // Made once and refilled: a new series and axes on every filter change cost a full layout.
    QBarSet* set_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QLabel* empty_ = nullptr;
};

} // namespace kve17
