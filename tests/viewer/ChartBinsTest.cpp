// The chart's bars as plain numbers: the unit a span gets, every period drawn, labels that fit
// and never repeat, a whole-number count axis, and the most frequent codes.
#include "viewer/ChartBins.h"

#include <gtest/gtest.h>
#include <set>

namespace kve17::test {
namespace {

using TDays = std::vector<std::pair<TDay, int>>;

std::vector<std::pair<int, int>> Counts(const std::vector<TBin>& bins) {
    std::vector<std::pair<int, int>> counts;
    for (const TBin& bin : bins)
        counts.emplace_back(bin.First, bin.Count);
    return counts;
}

std::vector<std::string> Labels(const std::vector<TBin>& bins) {
    std::vector<std::string> labels;
    for (const TBin& bin : bins)
        labels.push_back(bin.Label);
    return labels;
}

TEST(ChartBins, ShortSpansGetADayEachEmptyDaysIncluded) {
    const auto bins = BinDays({{20240301, 2}, {20240305, 1}});
    EXPECT_EQ(bins.Unit, TBinUnit::Day);
    EXPECT_EQ(Counts(bins.Bins),
              (std::vector<std::pair<int, int>>{
                  {20240301, 2}, {20240302, 0}, {20240303, 0}, {20240304, 0}, {20240305, 1}}));
    EXPECT_EQ(Labels(bins.Bins), (std::vector<std::string>{"01.03.24", "02.03.24", "03.03.24",
                                                           "04.03.24", "05.03.24"}));
    EXPECT_TRUE(BinDays({}).Bins.empty());
}

TEST(ChartBins, NinetyDaysStayDaysAndOneMoreTurnsToWeeks) {
    // 1 January to 30 March 2024 is 90 days (a leap February), to 31 March 91.
    EXPECT_EQ(BinDays({{20240101, 1}, {20240330, 1}}).Bins.size(), 90u);
    const auto weeks = BinDays({{20240101, 1}, {20240331, 1}});
    EXPECT_EQ(weeks.Unit, TBinUnit::Week);
    ASSERT_EQ(weeks.Bins.size(), 13u); // Monday 1 January to Sunday 31 March
    EXPECT_EQ(weeks.Bins.front().Label, "01.01.24");
    EXPECT_EQ(weeks.Bins.back().First, 20240325);
    EXPECT_EQ(weeks.Bins.back().Last, 20240331);
    EXPECT_EQ(BinSpan(TBinUnit::Week, weeks.Bins.back()), "неделя 25.03.24 — 31.03.24");
}

// Twenty days over two years: the same days of December are two weeks a year apart, never one
// bar, and the newest year is drawn.
TEST(ChartBins, DaysOfDifferentYearsNeverShareABar) {
    TDays days;
    for (int day = 22; day <= 31; ++day) {
        days.emplace_back(20241200 + day, 1);
        days.emplace_back(20251200 + day, 1);
    }
    std::sort(days.begin(), days.end());
    const auto bins = BinDays(days);
    EXPECT_EQ(bins.Unit, TBinUnit::Week);
    ASSERT_EQ(bins.Bins.size(), 55u); // Monday 16.12.24 to Monday 29.12.25
    EXPECT_EQ(bins.Bins.front().Label, "16.12.24");
    EXPECT_EQ(bins.Bins.back().Label, "29.12.25");
    EXPECT_EQ(bins.Bins.front().Count, 1); // the 22nd, a Sunday
    EXPECT_EQ(bins.Bins[1].Count, 7);
    EXPECT_EQ(bins.Bins[2].Count, 2);
    EXPECT_EQ(bins.Bins[10].Count, 0);
    EXPECT_EQ(bins.Bins.back().Count, 3); // 29 to 31 December 2025
    const auto labels = Labels(bins.Bins);
    EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size());
}

TEST(ChartBins, ThreeYearsAreMonthsAndAlmostACenturyYears) {
    const auto months = BinDays({{20240305, 2}, {20250714, 1}, {20261130, 4}});
    EXPECT_EQ(months.Unit, TBinUnit::Month);
    ASSERT_EQ(months.Bins.size(), 33u); // March 2024 to November 2026
    EXPECT_EQ(months.Bins.front().Label, "03.2024");
    EXPECT_EQ(months.Bins[16].Label, "07.2025");
    EXPECT_EQ(months.Bins[16].Count, 1);
    EXPECT_EQ(months.Bins[15].Count, 0);
    EXPECT_EQ(months.Bins.back().Label, "11.2026");
    EXPECT_EQ(months.Bins.back().Count, 4);
    EXPECT_EQ(months.Bins.back().Last, 20261130);
    EXPECT_EQ(BinSpan(TBinUnit::Month, months.Bins[16]), "июль 2025");

    const auto years = BinDays({{20010101, 1}, {20991231, 1}});
    EXPECT_EQ(years.Unit, TBinUnit::Year);
    ASSERT_EQ(years.Bins.size(), 99u);
    EXPECT_EQ(years.Bins.back().Label, "2099");
}

TEST(ChartBins, ManyCodesKeepTheMostFrequentAndTheRestTogether) {
    std::vector<std::pair<int, int>> codes;
    for (int code = 0; code < 20; ++code)
        codes.emplace_back(code, code == 3 ? 100 : 1 + code % 5);
    const auto bins = BinCodes(codes, 5);
    // Counts 100 (code 3), then 5 (codes 4, 9, 14, 19): the four largest but 19, which ties.
    EXPECT_EQ(Counts(bins),
              (std::vector<std::pair<int, int>>{{3, 100}, {4, 5}, {9, 5}, {14, 5}, {-1, 41}}));
    EXPECT_EQ(bins.back().Label, "другие");
    EXPECT_EQ(Counts(BinCodes({{1, 3}, {7, 1}}, 5)),
              (std::vector<std::pair<int, int>>{{1, 3}, {7, 1}}));
}

TEST(ChartBins, LabelsThinnedToFitAndAWholeNumberAxis) {
    EXPECT_EQ(LabelledBins(36, 10), (std::vector<int>{0, 4, 8, 12, 16, 20, 24, 28, 32}));
    EXPECT_EQ(LabelledBins(5, 10), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(LabelledBins(5, 0).empty());

    using TAxis = std::pair<int, int>;
    EXPECT_EQ(CountAxis(0), (TAxis{1, 1}));
    EXPECT_EQ(CountAxis(2), (TAxis{2, 1}));
    EXPECT_EQ(CountAxis(5), (TAxis{5, 1}));
    EXPECT_EQ(CountAxis(7), (TAxis{8, 2}));
    EXPECT_EQ(CountAxis(11), (TAxis{15, 5}));
    EXPECT_EQ(CountAxis(250), (TAxis{250, 50}));
    EXPECT_EQ(CountAxis(251), (TAxis{300, 100}));
}

} // namespace
} // namespace kve17::test
