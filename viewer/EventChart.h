// The picture of the rows shown: events per day, or per code, as bars. Hovering a bar tells its
// day (or code) and count; clicking it asks to narrow the table to it.
#pragma once

#include "archive/RecordTable.h"

#include <QChartView>
#include <utility>
#include <vector>

class QBarCategoryAxis;
class QBarSet;
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

    // What the bars show now: day (yyyymmdd) or code, and count.
    const std::vector<std::pair<int, int>>& Bars() const {
        return mode_ == TMode::PerDay ? perDay_ : perCode_;
    }
    // The text a hover over bar `index` shows.
    QString BarText(int index) const;
    // As a click on bar `index`.
    void ClickBar(int index);

signals:
    void DayClicked(int day);
    void CodeClicked(int code);

private:
    void Rebuild();

    TMode mode_ = TMode::PerDay;
    std::vector<std::pair<int, int>> perDay_;
    std::vector<std::pair<int, int>> perCode_;
    // Made once and refilled: a new series and axes on every filter change cost a full layout.
    QBarSet* set_ = nullptr;
    QBarCategoryAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
};

} // namespace kve17
