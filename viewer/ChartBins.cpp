#include "viewer/ChartBins.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>

namespace kve17 {

namespace {

using namespace std::chrono;

constexpr std::array<const char*, 12> MonthNames = {"январь",   "февраль", "март",   "апрель",
                                                    "май",      "июнь",    "июль",   "август",
                                                    "сентябрь", "октябрь", "ноябрь", "декабрь"};

sys_days DaysOf(TDay day) {
    return sys_days{year{day / 10000} / month{static_cast<unsigned>(day / 100 % 100)} /
                    static_cast<unsigned>(day % 100)};
}

TDay DayOf(sys_days days) {
    const year_month_day ymd{days};
    return static_cast<int>(ymd.year()) * 10000 + static_cast<int>(unsigned(ymd.month())) * 100 +
           static_cast<int>(unsigned(ymd.day()));
}

// The first day of the period of `unit` that holds `day`.
sys_days PeriodStart(TBinUnit unit, sys_days day) {
    const year_month_day ymd{day};
    switch (unit) {
    case TBinUnit::Week:
        return day - (weekday{day} - Monday);
    case TBinUnit::Month:
        return sys_days{ymd.year() / ymd.month() / 1};
    case TBinUnit::Year:
        return sys_days{ymd.year() / January / 1};
    default:
        return day;
    }
}

sys_days NextPeriod(TBinUnit unit, sys_days start) {
    const year_month_day ymd{start};
    switch (unit) {
    case TBinUnit::Week:
        return start + days{7};
    case TBinUnit::Month:
        return sys_days{(ymd.year() / ymd.month() + months{1}) / 1};
    case TBinUnit::Year:
        return sys_days{(ymd.year() + years{1}) / January / 1};
    default:
        return start + days{1};
    }
}

std::string Label(TBinUnit unit, TDay first) {
    char text[16];
    if (unit == TBinUnit::Month)
        std::snprintf(text, sizeof text, "%02d.%04d", first / 100 % 100, first / 10000);
    else if (unit == TBinUnit::Year)
        std::snprintf(text, sizeof text, "%04d", first / 10000);
    else
        return DayText(first);
    return text;
}

int PeriodCount(TBinUnit unit, sys_days first, sys_days last) {
    int count = 0;
    for (sys_days at = PeriodStart(unit, first); at <= last; at = NextPeriod(unit, at))
        ++count;
    return count;
}

std::vector<TBin> Periods(TBinUnit unit, sys_days first, sys_days last) {
    std::vector<TBin> bins;
    for (sys_days at = PeriodStart(unit, first); at <= last; at = NextPeriod(unit, at)) {
        const TDay start = DayOf(at);
        bins.push_back({start, DayOf(NextPeriod(unit, at) - days{1}), 0, Label(unit, start)});
    }
    return bins;
}

} // namespace

TDayBins BinDays(const std::vector<std::pair<TDay, int>>& perDay, int most) {
    TDayBins result;
    if (perDay.empty())
        return result;
    const sys_days first = DaysOf(perDay.front().first);
    const sys_days last = DaysOf(perDay.back().first);
    for (TBinUnit unit : {TBinUnit::Day, TBinUnit::Week, TBinUnit::Month, TBinUnit::Year}) {
        result.Unit = unit;
        if (PeriodCount(unit, first, last) <= most)
            break;
    }
    result.Bins = Periods(result.Unit, first, last);
    // Both lists ascend: one pass puts each day's count into its bar.
    auto bin = result.Bins.begin();
    for (const auto& [day, count] : perDay) {
        while (bin->Last < day)
            ++bin;
        bin->Count += count;
    }
    return result;
}

std::vector<TBin> BinCodes(const std::vector<std::pair<int, int>>& perCode, int most) {
    std::vector<std::pair<int, int>> kept = perCode;
    int others = 0;
    if (static_cast<int>(kept.size()) > most) {
        std::stable_sort(kept.begin(), kept.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        for (auto it = kept.begin() + (most - 1); it != kept.end(); ++it)
            others += it->second;
        kept.resize(static_cast<std::size_t>(most - 1));
        std::sort(kept.begin(), kept.end());
    }
    std::vector<TBin> bins;
    for (const auto& [code, count] : kept)
        bins.push_back({code, code, count, std::to_string(code)});
    if (static_cast<int>(perCode.size()) > most)
        bins.push_back({OthersCode, OthersCode, others, "другие"});
    return bins;
}

std::vector<int> LabelledBins(int bins, int fit) {
    std::vector<int> labelled;
    if (fit <= 0)
        return labelled;
    const int every = (bins + fit - 1) / fit;
    for (int i = 0; i < bins; i += std::max(every, 1))
        labelled.push_back(i);
    return labelled;
}

std::pair<int, int> CountAxis(int most, int intervals) {
    most = std::max(most, 1);
    for (int power = 1;; power *= 10)
        for (int step : {power, 2 * power, 5 * power})
            if ((most + step - 1) / step <= intervals)
                return {(most + step - 1) / step * step, step};
}

std::string BinSpan(TBinUnit unit, const TBin& bin) {
    switch (unit) {
    case TBinUnit::Week:
        return "неделя " + DayText(bin.First) + " — " + DayText(bin.Last);
    case TBinUnit::Month:
        return std::string(MonthNames[static_cast<std::size_t>(bin.First / 100 % 100 - 1)]) + " " +
               std::to_string(bin.First / 10000);
    case TBinUnit::Year:
        return std::to_string(bin.First / 10000);
    default:
        return DayText(bin.First);
    }
}

} // namespace kve17
