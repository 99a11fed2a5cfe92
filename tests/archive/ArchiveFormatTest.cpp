#include "archive/ArchiveListing.h"
#include "tests/archive/FakeDevice.h"

#include <gtest/gtest.h>

namespace kve17::test {
namespace {

struct CheckCase {
    const char* name;
    TArchiveRecord in;
    TArchiveRecord out;
    const char* text; // "" : no text made
};

class RecordCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(RecordCheck, MarksOnlyCodeAndMakesTheText) {
    const CheckCase c = GetParam();
    TArchiveRecord r = c.in;
    CheckRecord(r);
    EXPECT_TRUE(SameRecord(r, c.out));
    TTimeText text{};
    text.fill('\0');
    RecordTimeText(r.Hour, r.Minute, r.Second, r.Day, r.Month, r.Year, text);
    EXPECT_STREQ(text.data(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordCheck,
    ::testing::Values(
        CheckCase{"ValidKeptWithLeadingZeros", Rec(3, 4, 9, 5, 0, 31, 12, 7),
                  Rec(3, 4, 9, 5, 0, 31, 12, 7), "09:05:00 31.12.07"},
        CheckCase{"AllFFNoText", Rec(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF),
                  Rec(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), ""},
        CheckCase{"AllZeroStaysZero", Rec(0, 0, 0, 0, 0, 0, 0, 0), Rec(0, 0, 0, 0, 0, 0, 0, 0),
                  "00:00:00 00.00.00"},
        CheckCase{"CodeWithZeroRestBecomesZero", Rec(5, 0, 0, 0, 0, 0, 0, 0),
                  Rec(0, 0, 0, 0, 0, 0, 0, 0), "00:00:00 00.00.00"},
        CheckCase{"Hour24Marked", Rec(3, 4, 24, 0, 0), Rec(0xFF, 4, 24, 0, 0), "24:00:00 15.06.24"},
        CheckCase{"Year0Marked", Rec(3, 4, 1, 1, 1, 1, 1, 0), Rec(0xFF, 4, 1, 1, 1, 1, 1, 0),
                  "01:01:01 01.01.00"},
        CheckCase{"Year99Valid", Rec(3, 4, 23, 59, 59, 31, 12, 99),
                  Rec(3, 4, 23, 59, 59, 31, 12, 99), "23:59:59 31.12.99"},
        CheckCase{"Second200ThreeDigits", Rec(3, 4, 1, 2, 200), Rec(0xFF, 4, 1, 2, 200),
                  "01:02:200 15.06.24"},
        CheckCase{"AllOutOfRangeLongestText", Rec(1, 1, 254, 254, 254, 254, 254, 254),
                  Rec(0xFF, 1, 254, 254, 254, 254, 254, 254), "254:254:254 254.254.254"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordTimeText, AllFFLeavesThePreviousText) {
    TTimeText text{};
    RecordTimeText(1, 2, 3, 4, 5, 6, text);
    RecordTimeText(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, text);
    EXPECT_STREQ(text.data(), "01:02:03 04.05.06");
    RecordTimeText(1, 2, 3, 4, 5, 0xFF, text);
    EXPECT_STREQ(text.data(), "01:02:03 04.05.255");
}

TEST(RingSteps, WrapAtBothEnds) {
    EXPECT_EQ(PrevSlot(0), 7928);
    EXPECT_EQ(PrevSlot(8), 0);
    EXPECT_EQ(NextSlot(7928), 0);
    EXPECT_EQ(NextSlot(7920), 7928);
}

TEST(ImageCoding, PositionIsLittleEndianAfterTheRing) {
    TArchiveImage image = FreshImage();
    image.Position = 7928;
    const auto bytes = ImageBytes(image);
    EXPECT_EQ(bytes.size(), 7940u);
    EXPECT_EQ(bytes[7936], 0xF8);
    EXPECT_EQ(bytes[7937], 0x1E);
    EXPECT_EQ(bytes[7938], 0);
    EXPECT_EQ(ImageOf(ImageBytes(FreshImage())).Position, -1);
}

TEST(ListArchive, FreshFileListsNothing) {
    EXPECT_TRUE(ListArchive(FreshImage()).empty());
}

TEST(ListArchive, NewestFirstStoppingBeforeTheEndMarkers) {
    TArchiveImage image = FreshImage();
    for (int s = 0; s < SlotCount; ++s)
        image.Store(s * 8, Rec(static_cast<std::uint8_t>(s % 100), 0, 1, 1, 1, 1, 1, 1));
    image.Position = 16;
    for (int m = 0; m < 4; ++m)
        image.Ring[static_cast<std::size_t>(16 + 8 * m)] = MarkCode;
    image.Store(0, Rec(MarkCode, 0, 1, 1, 1, 1, 1, 1));
    const auto list = ListArchive(image);
    ASSERT_EQ(list.size(), 988u);
    EXPECT_EQ(list.front().Offset, 8);
    EXPECT_EQ(list[1].Offset, 0);
    EXPECT_TRUE(list[1].Invalid);
    EXPECT_EQ(list[2].Offset, 7928);
    EXPECT_EQ(list.back().Offset, 48); // the slot after the fourth marker at 40
    EXPECT_FALSE(list.back().Invalid);
}

TEST(ListArchive, YoungDeviceTailIsLeftOut) {
    TArchiveImage image = FreshImage();
    image.Position = 0;
    image.Store(7928, Rec(1, 2, 3, 4, 5));
    image.Store(7920, Rec(0, 0, 0, 0, 0, 0, 0, 0));
    const auto list = ListArchive(image);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(list[0].Invalid);
    EXPECT_TRUE(list[1].Invalid); // eight zero bytes carry no time stamp
    EXPECT_EQ(RecordTimeString(list[0].Record), "03:04:05 15.06.24");
}

} // namespace
} // namespace kve17::test
