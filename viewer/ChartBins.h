// The chart's bars as plain numbers, apart from the widget that draws them: counts per day put
// into days, weeks or months so that they fit, every period of the span drawn even when empty;
// counts per code as the most frequent codes and the rest; which bars get a label; and a count
// axis of whole numbers.
#pragma once

#include "archive/RecordTable.h"

#include <string>
#include <utility>
#include <vector>

namespace kve17 {

enum class TBinUnit { Day, Week, Month, Year };

// One bar: the days it covers (yyyymmdd, both included) or one code, its count and its label.
struct TBin {
    int First = 0; // a day, or a code; OthersCode for the bar of the other codes
    int Last = 0;  // the last day; the code again
    int Count = 0;
    std::string Label;
};

struct TDayBins {
    TBinUnit Unit = TBinUnit::Day;
    std::vector<TBin> Bins;
};

inline constexpr int MostDayBins = 90;
inline constexpr int MostCodeBins = 16;
inline constexpr int OthersCode = -1;

// Bars for counts per day (ascending days): one per day while the span from the first to the
// last day has at most `most` days, else one per week (Monday to Sunday), month or year, the
// first unit whose bars fit. Labels: "dd.mm.yy" for a day and for the Monday of a week, "mm.yyyy"
// for a month, "yyyy" for a year.
TDayBins BinDays(const std::vector<std::pair<TDay, int>>& perDay, int most = MostDayBins);
// Bars for counts per code (ascending codes): every code while there are at most `most`, else
// the `most - 1` most frequent ones (the lower code first on equal counts) in code order and one
// bar "другие" for the rest.
std::vector<TBin> BinCodes(const std::vector<std::pair<int, int>>& perCode,
                           int most = MostCodeBins);
// The bars that get a label when at most `fit` labels fit: every k-th from the first, k as small
// as fits. All of them when they fit, none when nothing does.
std::vector<int> LabelledBins(int bins, int fit);
// A count axis up to at least `most` in whole steps of 1, 2 or 5 times a power of ten, with at
// most `intervals` steps: {top, step}.
std::pair<int, int> CountAxis(int most, int intervals = 5);
// "неделя 04.03.24 — 10.03.24", "март 2024", "2024", "21.03.24": what a bar covers, in words.
std::string BinSpan(TBinUnit unit, const TBin& bin);

} // namespace kve17
