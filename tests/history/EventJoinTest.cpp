// A file's records joined to a device's history without a database: the repeats a ring that
// moved while it was read leaves, the place where the file goes on, and the files that share
// nothing with the history. Events are numbered; the expected results are written out.
#include "history/EventJoin.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kve17::test {
namespace {

using history::JoinFile;
using history::TJoinKind;

// Event n of a device: one every ten minutes from 1 January 2024, no two alike.
TArchiveRecord Event(int n) {
    const int minutes = n * 10;
    const int day = minutes / 1440;
    return {static_cast<std::uint8_t>(1 + n % 250),
            static_cast<std::uint8_t>(n / 250),
            0,
            static_cast<std::uint8_t>(minutes % 60),
            static_cast<std::uint8_t>(minutes / 60 % 24),
            static_cast<std::uint8_t>(1 + day % 28),
            static_cast<std::uint8_t>(1 + day / 28),
            24};
}

std::vector<TArchiveRecord> Events(const std::vector<int>& numbers) {
    std::vector<TArchiveRecord> records;
    for (const int n : numbers)
        records.push_back(Event(n));
    return records;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n)
        numbers.push_back(n);
    return numbers;
}

std::vector<int> Concat(std::vector<std::vector<int>> parts) {
    std::vector<int> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct JoinCase {
    const char* name;
    std::vector<int> tail; // the history's last events, oldest first
    std::vector<int> file; // the file's records, oldest first
    TJoinKind kind;
    std::vector<int> added; // the events appended, in order
};

void PrintTo(const JoinCase& c, std::ostream* out) {
    *out << c.name;
}

class Join : public ::testing::TestWithParam<JoinCase> {};

TEST_P(Join, AppendsWhatTheHistoryLacksOnce) {
    const JoinCase& c = GetParam();
    const auto file = Events(c.file);
    const auto join = JoinFile(file, Events(c.tail));
    EXPECT_EQ(join.Kind, c.kind);
    std::vector<int> added;
    for (const std::size_t at : join.New)
        added.push_back(c.file.at(at));
    EXPECT_EQ(added, c.added);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Join,
    ::testing::Values(
        JoinCase{"FreshStartTakesAll", {}, Range(1, 5), TJoinKind::FreshStart, Range(1, 5)},
        JoinCase{"NewerEventsFollowTheNewest", Range(1, 3), Range(1, 6), TJoinKind::Continues,
                 Range(4, 6)},
        JoinCase{"TheSameFileTwiceAddsNothing", Range(1, 6), Range(1, 6), TJoinKind::Continues, {}},
        JoinCase{"AnOlderFileAddsNothing", Range(1, 10), Range(2, 6), TJoinKind::Continues, {}},
        // The history's newest was read by another collector whose file this one never saw:
        // what the two share places the file's newer events.
        JoinCase{"ANewestTheFileLacksStillJoinsBySharedEvents",
                 {1, 2, 3, 4, 50},
                 Range(2, 6),
                 TJoinKind::Continues,
                 {5, 6}},
        JoinCase{"NothingSharedIsDisjoint", Range(1, 3), Range(10, 12), TJoinKind::Disjoint,
                 Range(10, 12)},
        // The device added k records between two block requests: the next block began with
        // the last k records of the one before.
        JoinCase{"ARunRepeatedInTheFileIsKeptOnce",
                 {},
                 Concat({Range(1, 5), Range(4, 5), Range(6, 9)}),
                 TJoinKind::FreshStart,
                 Range(1, 9)},
        JoinCase{"ARepeatedRecordIsKeptOnce", {}, {1, 2, 2, 3}, TJoinKind::FreshStart, {1, 2, 3}},
        JoinCase{"RepeatsAtEveryBlockAreKeptOnce",
                 {},
                 Concat({Range(1, 16), Range(14, 32), Range(17, 40)}),
                 TJoinKind::FreshStart,
                 Range(1, 40)},
        JoinCase{"ARepeatOfThirtyTwoIsKeptOnce",
                 {},
                 Concat({Range(1, 40), Range(9, 50)}),
                 TJoinKind::FreshStart,
                 Range(1, 50)},
        JoinCase{"ARepeatInAnIncrementalFileIsKeptOnce", Range(1, 10),
                 Concat({Range(1, 14), Range(13, 20)}), TJoinKind::Continues, Range(11, 20)},
        // The ring has since overwritten the first copy of a repeated run in part: its rest
        // at the file's oldest end holds the history's newest too.
        JoinCase{"ALeftoverOfARepeatedRunDoesNotSpoilTheJoin",
                 Range(0, 6),
                 Concat({Range(5, 6), Range(4, 8)}),
                 TJoinKind::Continues,
                 {7, 8}},
        // A record that recurs (a clock stuck at one time) more than a repeat apart: the place
        // where file and history agree longest is the one.
        JoinCase{"ARecurringRecordJoinsWhereTheHistoryAgreesLongest",
                 Concat({{0}, Range(1, 40), {100}}),
                 Concat({{100}, Range(1, 40), {100, 41, 42}}),
                 TJoinKind::Continues,
                 {41, 42}},
        JoinCase{"ALeftoverAtTheOldEndIsNotTakenForNewEvents", Range(0, 12),
                 Concat({Range(5, 6), Range(4, 14)}), TJoinKind::Continues, Range(13, 14)}),
    [](const auto& info) { return std::string(info.param.name); });

// A device that logs one code at one time every day: only the date tells the days apart.
TEST(JoinByWholeRecord, ADailyEventAtAFixedTimeIsNotTakenForTheNewest) {
    const auto daily = [](int day, int hour) {
        return TArchiveRecord{
            static_cast<std::uint8_t>(hour), 0, 0, 0, static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(day),  3, 26};
    };
    // Days 1 and 2 at 06, 12 and 18 o'clock; the file also holds day 3 at 06 and 12.
    std::vector<TArchiveRecord> tail;
    for (int day = 1; day <= 2; ++day)
        for (int hour : {6, 12, 18})
            tail.push_back(daily(day, hour));
    std::vector<TArchiveRecord> file(tail.begin() + 1, tail.end());
    file.push_back(daily(3, 6));
    file.push_back(daily(3, 12));
    const auto join = JoinFile(file, tail);
    EXPECT_EQ(join.Kind, TJoinKind::Continues);
    EXPECT_EQ(join.New, (std::vector<std::size_t>{5, 6}));
}

TEST(JoinByWholeRecord, RepeatsAcrossTheJoinAreKeptOnce) {
    std::vector<TArchiveRecord> context = Events(Range(1, 5));
    // The file goes on with the history's last two records once more, then new ones.
    const auto kept = history::CollapseRepeats(Events({4, 5, 6, 7}), context);
    EXPECT_EQ(kept, (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(context.size(), 7u);
}

} // namespace
} // namespace kve17::test
