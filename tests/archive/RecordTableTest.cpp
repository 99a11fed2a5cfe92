// The table the viewer, kve17ctl and the exports share, on files made by real readings: rows and
// their texts, the filters, the counts, the records a reading added, and the CSV/JSON writers.
#include "archive/RecordTable.h"

#include "archive/RecordExport.h"
#include "tests/archive/FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

namespace kve17::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

void Read(TArchiveImage& image, int shift) {
    FakeDevice device;
    device.Archive = MakeEventDevice(shift);
    RecordingView view;
    ReadIntoImage(image, 0, device, view);
}

std::vector<int> Numbers(const std::vector<TRecordRow>& rows, const std::vector<int>& shown) {
    std::vector<int> numbers;
    for (int i : shown)
        numbers.push_back(rows[static_cast<std::size_t>(i)].Number);
    return numbers;
}

class RecordTable : public ::testing::Test {
protected:
    RecordTable() { Read(image, 0); }
    TArchiveImage image = FreshImage();
};

TEST_F(RecordTable, RowsOfAFreshReadingNewestFirstWithTheirTexts) {
    const auto rows = ListRows(image);
    ASSERT_EQ(rows.size(), 988u);
    // n = 2000: 2000 * 37 s = 74000 s into the day, day 1 + 20 % 28 = 21.
    using Texts = std::array<std::string, ColumnCount>;
    EXPECT_EQ(RowTexts(rows[0]),
              (Texts{"1", "21.03.24", "20:33:20", "3 (0x03)", "208 (0xD0)", ""}));
    EXPECT_EQ(rows[0].Day, 20240321);
    EXPECT_EQ(RowTexts(rows[5]),
              (Texts{"6", "20.03.24", "24:30:15", "255 (0xFF)", "203 (0xCB)", "недостоверна"}));
    EXPECT_EQ(rows[5].Day, 20240320); // a bad hour leaves the day readable
    EXPECT_EQ(RowTexts(rows[9]), (Texts{"10", "", "", "255 (0xFF)", "7 (0x07)", "недостоверна"}));
    EXPECT_FALSE(rows[9].Day);
    EXPECT_EQ(rows[987].Number, 988);
}

TEST_F(RecordTable, FiltersSelectByDayCodeStateAndText) {
    const auto rows = ListRows(image);
    TRecordFilter filter;
    EXPECT_EQ(FilterRows(rows, filter).size(), 988u);

    // Day 21 holds n = 2000 only; day 20 holds n = 1900..1999 (rows 2 to 101), minus the one
    // without a time stamp.
    filter.Since = 20240321;
    EXPECT_THAT(Numbers(rows, FilterRows(rows, filter)), ElementsAre(1));
    filter.Since = 20240320;
    filter.Until = 20240320;
    auto shown = FilterRows(rows, filter);
    EXPECT_EQ(shown.size(), 99u);
    EXPECT_EQ(rows[static_cast<std::size_t>(shown.front())].Number, 2);
    EXPECT_EQ(rows[static_cast<std::size_t>(shown.back())].Number, 101);

    filter.Codes = {255};
    EXPECT_THAT(Numbers(rows, FilterRows(rows, filter)), ElementsAre(6));
    filter = {};
    filter.OnlyInvalid = true;
    EXPECT_THAT(Numbers(rows, FilterRows(rows, filter)), ElementsAre(6, 10));

    filter = {};
    filter.Text = "0xd0"; // either case
    EXPECT_THAT(Numbers(rows, FilterRows(rows, filter)), ElementsAre(1, 257, 513, 769));
    filter.Text = "НЕДОСТ"; // Cyrillic matches as written only
    EXPECT_TRUE(FilterRows(rows, filter).empty());
    filter.Text = "недост";
    EXPECT_THAT(Numbers(rows, FilterRows(rows, filter)), ElementsAre(6, 10));

    filter = {};
    filter.Codes = {1, 2};
    filter.Until = 20240311;
    shown = FilterRows(rows, filter);
    for (int i : shown) {
        const TRecordRow& row = rows[static_cast<std::size_t>(i)];
        EXPECT_NE(row.Listed.Record.Code, 3);
        EXPECT_LE(*row.Day, 20240311);
    }
    // Day 11 holds n = 1013 to 1099 (87 records), of which n = 1013, 1016 … 1097 have code 3.
    EXPECT_EQ(shown.size(), 58u);
}

TEST_F(RecordTable, CountsFollowTheRowsShown) {
    const auto rows = ListRows(image);
    TRecordFilter filter;
    auto shown = FilterRows(rows, filter);
    const TRowCounts all = CountRows(rows, shown);
    EXPECT_EQ(all.Shown, 988);
    EXPECT_EQ(all.Stored, 988);
    EXPECT_EQ(all.Invalid, 2);
    // n from 1013 (day 11) to 2000 (day 21).
    EXPECT_EQ(all.First, 20240311);
    EXPECT_EQ(all.Last, 20240321);
    const auto perDay = CountPerDay(rows, shown);
    ASSERT_EQ(perDay.size(), 11u);
    EXPECT_THAT(perDay.front(), Pair(20240311, 87));
    EXPECT_THAT(perDay[9], Pair(20240320, 99));
    EXPECT_THAT(perDay.back(), Pair(20240321, 1));
    EXPECT_THAT(CountPerCode(rows, shown),
                ElementsAre(Pair(1, 328), Pair(2, 329), Pair(3, 329), Pair(255, 2)));

    filter.OnlyInvalid = true;
    shown = FilterRows(rows, filter);
    const TRowCounts invalid = CountRows(rows, shown);
    EXPECT_EQ(invalid.Shown, 2);
    EXPECT_EQ(invalid.Stored, 988);
    EXPECT_EQ(invalid.First, 20240320);
    EXPECT_EQ(invalid.Last, 20240320);
    EXPECT_THAT(CountPerDay(rows, shown), ElementsAre(Pair(20240320, 1)));
}

TEST_F(RecordTable, AddedSlotsAreExactlyTheNewRecordsAcrossTheRingsEnd) {
    EXPECT_EQ(AddedSlots(FreshImage(), image).size(), 992u);
    EXPECT_TRUE(AddedSlots(image, image).empty());
    bool wrapped = false;
    for (int shift = 300; shift <= 1500; shift += 300) {
        const TArchiveImage before = image;
        Read(image, shift);
        wrapped = wrapped || image.Position < before.Position;
        const auto rows = ListRows(image);
        std::set<int> newest;
        for (int i = 0; i < 300; ++i)
            newest.insert(rows[static_cast<std::size_t>(i)].Listed.Offset);
        std::set<int> listedAdded;
        for (int offset : AddedSlots(before, image))
            for (const auto& row : rows)
                if (row.Listed.Offset == offset)
                    listedAdded.insert(offset);
        EXPECT_EQ(listedAdded, newest) << "shift " << shift;
    }
    EXPECT_TRUE(wrapped);
}

TEST_F(RecordTable, AddedSlotsCountARecordEqualToTheOneItReplaced) {
    TArchiveImage after = image;
    // One record merged at the old position, byte for byte what that slot held.
    after.Position = NextSlot(image.Position);
    const std::set<int> added = AddedSlots(image, after);
    EXPECT_TRUE(added.contains(image.Position));
    EXPECT_EQ(added.size(), 1u);
}

TEST(RecordDates, DaysAndCodesAsTheCommandLineTakesThem) {
    EXPECT_EQ(ParseDay("31.12.07"), 20071231);
    EXPECT_EQ(ParseDay("2024-02-29"), 20240229);
    EXPECT_EQ(ParseDay("29.02.24"), 20240229);
    for (const char* bad : {"2023-02-29", "00.01.24", "01.01.00", "2000-01-01", "2100-01-01",
                            "1.2.24", "31.04.24", "2024-13-01", "24-01-01", "", "aa.bb.cc"})
        EXPECT_FALSE(ParseDay(bad)) << bad;
    EXPECT_EQ(DayText(20071231), "31.12.07");

    EXPECT_EQ(ParseCodes("7"), (std::set<int>{7}));
    EXPECT_EQ(ParseCodes("255,0,7,7"), (std::set<int>{0, 7, 255}));
    for (const char* bad : {"", "256", "-1", "1,,2", "1,", "x", "1 ,2"})
        EXPECT_FALSE(ParseCodes(bad)) << bad;
}

// A record's day is a real calendar day of 2001 to 2099, as the command line takes days and the
// history keeps them.
TEST(RecordDates, ARecordsDayIsARealCalendarDay) {
    const auto day = [](std::uint8_t d, std::uint8_t m, std::uint8_t y) {
        return RecordDay(Rec(1, 1, 10, 0, 0, d, m, y));
    };
    EXPECT_EQ(day(29, 2, 24), 20240229);
    EXPECT_EQ(day(31, 12, 99), 20991231);
    EXPECT_EQ(day(1, 1, 1), 20010101);
    for (const auto& [d, m, y] : {std::tuple{31, 2, 24},
                                  {29, 2, 23},
                                  {31, 4, 24},
                                  {0, 1, 24},
                                  {1, 13, 24},
                                  {1, 1, 0},
                                  {1, 1, 100},
                                  {32, 1, 24}})
        EXPECT_FALSE(day(static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(m),
                         static_cast<std::uint8_t>(y)))
            << d << "." << m << "." << y;
}

TEST(RecordCsv, FieldsQuotedByTheSeparatorInUse) {
    EXPECT_EQ(CsvField("a;b", ';'), "\"a;b\"");
    EXPECT_EQ(CsvField("a;b", ','), "a;b");
    EXPECT_EQ(CsvField("a,b", ','), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\"", ','), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines", ';'), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r", ';'), "\"cr\r\"");
    EXPECT_EQ(CsvField("", ';'), "");
}

// A spreadsheet runs a field that begins with = + - @ (or a tab or CR) as a formula.
TEST(RecordCsv, FieldsThatWouldStartAFormulaAreText) {
    EXPECT_EQ(CsvField("=HYPERLINK(\"http://x\")", ','), "\"'=HYPERLINK(\"\"http://x\"\")\"");
    EXPECT_EQ(CsvField("+7 line", ';'), "'+7 line");
    EXPECT_EQ(CsvField("-2+3", ';'), "'-2+3");
    EXPECT_EQ(CsvField("@SUM(A1)", ';'), "'@SUM(A1)");
    EXPECT_EQ(CsvField("\tcmd", ';'), "'\tcmd");
    EXPECT_EQ(CsvField("\rcmd", ';'), "\"'\rcmd\"");
    EXPECT_EQ(CsvField("a=b-c", ';'), "a=b-c");
    EXPECT_EQ(CsvRow(std::vector<std::string>{"=1", "x;y", ""}, ';'), "'=1;\"x;y\";\r\n");
}

TEST_F(RecordTable, CsvTabAndJsonHoldTheRowsShown) {
    const auto rows = ListRows(image);
    TRecordFilter filter;
    filter.OnlyInvalid = true;
    const auto shown = FilterRows(rows, filter);

    std::ostringstream semicolon;
    WriteCsv(semicolon, rows, shown, ';');
    EXPECT_EQ(semicolon.str(), "\xE2\x84\x96;Дата;Время;Код;Параметр;Состояние\r\n"
                               "6;20.03.24;24:30:15;255 (0xFF);203 (0xCB);недостоверна\r\n"
                               "10;;;255 (0xFF);7 (0x07);недостоверна\r\n");
    std::ostringstream comma;
    WriteCsv(comma, rows, shown, ',');
    EXPECT_EQ(comma.str(), "№,Дата,Время,Код,Параметр,Состояние\r\n"
                           "6,20.03.24,24:30:15,255 (0xFF),203 (0xCB),недостоверна\r\n"
                           "10,,,255 (0xFF),7 (0x07),недостоверна\r\n");
    EXPECT_EQ(TabText(rows, {0}), "№\tДата\tВремя\tКод\tПараметр\tСостояние\n"
                                  "1\t21.03.24\t20:33:20\t3 (0x03)\t208 (0xD0)\t\n");

    std::ostringstream json;
    WriteJson(json, rows, shown);
    const auto parsed = nlohmann::json::parse(json.str());
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["number"], 6);
    EXPECT_EQ(parsed[0]["offset"], rows[5].Listed.Offset);
    EXPECT_EQ(parsed[0]["date"], "20.03.24");
    EXPECT_EQ(parsed[0]["time"], "24:30:15");
    EXPECT_EQ(parsed[0]["code"], 255);
    EXPECT_EQ(parsed[0]["detail"], 203);
    EXPECT_EQ(parsed[0]["invalid"], true);
    EXPECT_TRUE(parsed[1]["date"].is_null());
    EXPECT_TRUE(parsed[1]["time"].is_null());
    std::ostringstream empty;
    WriteJson(empty, rows, {});
    EXPECT_EQ(nlohmann::json::parse(empty.str()), nlohmann::json::array());
}

} // namespace
} // namespace kve17::test
