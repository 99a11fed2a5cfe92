// The registration and heartbeat filter, one received stream at a time: what reaches the link
// is written out by hand for each case.
#include "serve/ModemFilter.h"

#include "serve/ModemBytes.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kve17::serve {
namespace {

Bytes B(std::string_view text) {
    return {text.begin(), text.end()};
}

// A stream: "|" is a request going out, "~" the reader's time running out, and every other
// piece one receive.
struct FilterCase {
    const char* Name;
    IdMode Mode;
    const char* Id;
    const char* Heartbeat;
    std::vector<std::string> Steps;
    std::string Data; // what the link gets
};

class FilterTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, PassesExactlyTheLineBytes) {
    const FilterCase& c = GetParam();
    ModemFilter filter(
        {*ParseModemBytes(c.Id), c.Mode, c.Heartbeat[0] ? *ParseModemBytes(c.Heartbeat) : Bytes{}});
    Bytes out;
    for (const std::string& step : c.Steps) {
        if (step == "|")
            filter.Boundary();
        else if (step == "~")
            filter.Release(out);
        else
            filter.Feed(B(step), out);
    }
    EXPECT_EQ(std::string(out.begin(), out.end()), c.Data);
}

const FilterCase Cases[] = {
    {"HeartbeatBeforeAnswer", IdMode::Once, "ID7", "PING", {"|", "PING", "abc"}, "abc"},
    {"HeartbeatsInOneReceive", IdMode::Once, "ID7", "PING", {"|", "PINGPINGabc"}, "abc"},
    {"HeartbeatSplitOverReceives", IdMode::Once, "ID7", "PING", {"|", "PI", "NGab", "c"}, "abc"},
    {"HeartbeatInsideFrameIsData",
     IdMode::Once,
     "ID7",
     "PING",
     {"|", "ab", "PING", "c"},
     "abPINGc"},
    {"HeartbeatBytesAfterFrameStartAreData",
     IdMode::Once,
     "ID7",
     "PING",
     {"|", "aPINGb"},
     "aPINGb"},
    {"AnswerLikeHeartbeatStartIsKept", IdMode::Once, "ID7", "PING", {"|", "PIx"}, "PIx"},
    {"AnswerShorterThanHeartbeatGivenUpAtTimeOut",
     IdMode::Once,
     "ID7",
     "PING",
     {"|", "PI", "~"},
     "PI"},
    {"NextRequestForgetsStaleHeld", IdMode::Once, "ID7", "PING", {"|", "PI", "|", "ok"}, "ok"},
    {"OnceModeKeepsIdBytesInAnswer", IdMode::Once, "ID7", "PING", {"|", "ID7ab"}, "ID7ab"},
    {"NoHeartbeatConfigured", IdMode::Once, "ID7", "", {"|", "PINGab"}, "PINGab"},
    {"IdInFrontOfEveryPacket", IdMode::EachPacket, "ID7", "PING", {"|", "ID7ab", "ID7cd"}, "abcd"},
    {"IdThenHeartbeatBetweenFrames",
     IdMode::EachPacket,
     "ID7",
     "PING",
     {"|", "ID7PINGID7ab"},
     "ab"},
    {"IdOncePerPacketOnly",
     IdMode::EachPacket,
     "ID7",
     "PING",
     {"|", "ID7abID7", "ID7ID7"},
     "abID7ID7"},
    {"IdSplitInsideFrame", IdMode::EachPacket, "ID7", "PING", {"|", "ID7ab", "I", "D7cd"}, "abcd"},
    {"HexIdAndHeartbeat",
     IdMode::EachPacket,
     "0x0102",
     "0xfe",
     {"|", "\x01\x02\xfe\x01\x02xy"},
     "xy"},
    {"HexHeartbeatInsideFrameIsData", IdMode::Once, "0x0102", "0xfe", {"|", "x\xfey"}, "x\xfey"},
};

INSTANTIATE_TEST_SUITE_P(Streams, FilterTable, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ModemBytes, TextAndHexAsWrittenAndShown) {
    EXPECT_EQ(*ParseModemBytes("861234567890123"), B("861234567890123"));
    EXPECT_EQ(*ParseModemBytes("0x0aFF"), (Bytes{0x0A, 0xFF}));
    EXPECT_FALSE(ParseModemBytes(""));
    EXPECT_FALSE(ParseModemBytes("0x0"));
    EXPECT_FALSE(ParseModemBytes("0xzz"));
    EXPECT_FALSE(ParseModemBytes(std::string(65, 'a')));
    EXPECT_EQ(ShowModemBytes(B("861234567890123")), "861234567890123");
    EXPECT_EQ(ShowModemBytes(Bytes{0x0A, 0xFF}), "0x0aff");
    EXPECT_EQ(ShowModemBytes(B("0x12")), "0x30783132"); // text that would read as hex
    EXPECT_EQ(ShowModemBytes(B("a b")), "0x612062");
}

} // namespace
} // namespace kve17::serve
