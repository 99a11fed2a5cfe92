// The table the viewer, kve17ctl and the exports share, on files made by real readings: rows and
// their texts, the filters, the counts, the records a reading added, and the CSV/JSON writers.
#include "archive/RecordTable.h"

#include "archive/EventDictionary.h"
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

    EXPECT_EQ(IsoDayText(20071231), "2007-12-31");
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

// A code list as the operator types it, and what it comes to.
struct CodeListCase {
    const char* Name;
    std::string_view Text;
    std::set<int> Codes;
    std::string_view Error; // part of the message; "" for a good list
};

class CodeLists : public ::testing::TestWithParam<CodeListCase> {};

TEST_P(CodeLists, GiveTheCodesOrSayWhatIsWrong) {
    const CodeListCase& c = GetParam();
    const TCodeList list = ParseCodeList(c.Text);
    EXPECT_EQ(list.Codes, c.Codes);
    if (c.Error.empty()) {
        EXPECT_EQ(list.Error, "");
        EXPECT_EQ(ParseCodes(c.Text), c.Codes);
    } else {
        EXPECT_THAT(list.Error, ::testing::HasSubstr(std::string(c.Error)));
        EXPECT_FALSE(ParseCodes(c.Text));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsTyped, CodeLists,
    ::testing::Values(
        CodeListCase{"One", "7", {7}, ""}, CodeListCase{"Repeated", "255,0,7,7", {0, 7, 255}, ""},
        CodeListCase{"Hex", "0x1C", {28}, ""}, CodeListCase{"HexUpper", "0XfF", {255}, ""},
        CodeListCase{"Range", "10-13", {10, 11, 12, 13}, ""},
        CodeListCase{"HexRange", "0x0E-0x10", {14, 15, 16}, ""},
        CodeListCase{"Mixed", " 1, 5 ,10 - 12,0x1C ", {1, 5, 10, 11, 12, 28}, ""},
        CodeListCase{"Empty", "", {}, "нет ни одного кода"},
        CodeListCase{"Blank", "  ", {}, "нет ни одного кода"},
        CodeListCase{"Above255", "1,256", {}, "«256» — не код"},
        CodeListCase{"HexAbove", "0x100", {}, "«0x100» — не код"},
        CodeListCase{"Negative", "-1", {}, "«-1» — не код"},
        CodeListCase{"TwoCommas", "1,,2", {}, "между запятыми нет кода"},
        CodeListCase{"TrailingComma", "1,", {}, "между запятыми нет кода"},
        CodeListCase{"Letters", "x1C", {}, "«x1C» — не код"},
        CodeListCase{"BareHexPrefix", "0x", {}, "«0x» — не код"},
        CodeListCase{"Inverted", "20-10", {}, "в диапазоне «20-10» начало больше конца"},
        CodeListCase{"OpenRange", "10-", {}, "«» — не код"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(RecordCsv, FieldsQuotedByTheSeparatorInUseAndNeverAFormula) {
    EXPECT_EQ(CsvField("a;b", ';'), "\"a;b\"");
    EXPECT_EQ(CsvField("a;b", ','), "a;b");
    EXPECT_EQ(CsvField("a,b", ','), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\"", ','), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines", ';'), "\"two\nlines\"");
    EXPECT_EQ(CsvField("", ';'), "");
    // What a spreadsheet would run gets a leading quote; inside a field it is harmless.
    EXPECT_EQ(CsvField("=1+1", ';'), "'=1+1");
    EXPECT_EQ(CsvField("+7", ';'), "'+7");
    EXPECT_EQ(CsvField("-обрыв", ';'), "'-обрыв");
    EXPECT_EQ(CsvField("@SUM(A1)", ','), "'@SUM(A1)");
    EXPECT_EQ(CsvField("\tx", ','), "'\tx");
    EXPECT_EQ(CsvField("\rx", ','), "\"'\rx\"");
    EXPECT_EQ(CsvField("a=b-c", ','), "a=b-c");
    EXPECT_EQ(CsvField("=a;b", ';'), "\"'=a;b\"");
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
    EXPECT_EQ(semicolon.str(),
              "\xEF\xBB\xBF№;Дата;Время;Код;Код (hex);Параметр;Параметр (hex);Состояние\r\n"
              "6;2024-03-20;24:30:15;255;0xFF;203;0xCB;недостоверна\r\n"
              "10;;;255;0xFF;7;0x07;недостоверна\r\n");
    std::ostringstream comma;
    WriteCsv(comma, rows, shown, ',');
    EXPECT_EQ(comma.str(), "№,Дата,Время,Код,Код (hex),Параметр,Параметр (hex),Состояние\r\n"
                           "6,2024-03-20,24:30:15,255,0xFF,203,0xCB,недостоверна\r\n"
                           "10,,,255,0xFF,7,0x07,недостоверна\r\n");
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

// Names from a dictionary and a history's line travel with the rows; a code without a name
// leaves its cells empty (null in JSON).
TEST_F(RecordTable, ExportsCarryNamesSeverityAndTheLine) {
    const auto rows = ListRows(image);
    TEventDictionary names;
    std::vector<std::string> problems;
    std::istringstream text("0xFF; =Сбой; авария\n1; Пуск, ручной\n");
    names.Read(text, "kve17.txt", problems);
    ASSERT_TRUE(problems.empty());
    const std::vector<int> shown = {0, 2, 5}; // codes 3, 1 and 255

    std::ostringstream csv;
    WriteCsv(csv, rows, shown, ',', {&names, "Котельная; 2", 5});
    EXPECT_EQ(csv.str(), "Линия,Устройство,№,Дата,Время,Код,Код (hex),Событие,Важность,Параметр,"
                         "Параметр (hex),Состояние\r\n"
                         "Котельная; 2,5,1,2024-03-21,20:33:20,3,0x03,,,208,0xD0,\r\n"
                         "Котельная; 2,5,3,2024-03-20,20:32:06,1,0x01,\"Пуск, ручной\",,206,0xCE,"
                         "\r\n"
                         "Котельная; 2,5,6,2024-03-20,24:30:15,255,0xFF,'=Сбой,авария,203,0xCB,"
                         "недостоверна\r\n");
    EXPECT_EQ(TabText(rows, {5}, &names),
              "№\tДата\tВремя\tКод\tСобытие\tВажность\tПараметр\tСостояние\n"
              "6\t20.03.24\t24:30:15\t255 (0xFF)\t=Сбой\tавария\t203 (0xCB)\tнедостоверна\n");

    std::ostringstream json;
    WriteJson(json, rows, shown, &names);
    const auto parsed = nlohmann::json::parse(json.str());
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_TRUE(parsed[0]["name"].is_null());
    EXPECT_TRUE(parsed[0]["severity"].is_null());
    EXPECT_EQ(parsed[1]["name"], "Пуск, ручной");
    EXPECT_TRUE(parsed[1]["severity"].is_null());
    EXPECT_EQ(parsed[2]["name"], "=Сбой");
    EXPECT_EQ(parsed[2]["severity"], "авария");
}

} // namespace
} // namespace kve17::test
