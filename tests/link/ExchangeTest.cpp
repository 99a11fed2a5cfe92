#include "link/Comportclass.h"
#include "link/Crc16.h"
#include "link/LinkCodes.h"
#include "tests/support/FakeComPort.h"
#include "tests/support/ScriptedPrompt.h"

#include <array>
#include <chrono>
#include <ctime>
#include <gtest/gtest.h>

namespace kve17 {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FakeComPort;
using test::FakeReply;
using test::ScriptedPrompt;
using test::WithCrc;

constexpr std::uint8_t ReadBlock = 67;
constexpr std::array<std::uint8_t, 2> Block1{0x00, 0x01};

// A block reply of device 1: header, `count` data bytes, checksum.
Bytes BlockReply(int count = 128, std::uint8_t command = ReadBlock) {
    Bytes frame{0x01, command, static_cast<std::uint8_t>(count)};
    for (int i = 0; i < count; ++i)
        frame.push_back(static_cast<std::uint8_t>(i * 7));
    return WithCrc(frame);
}

Bytes WithBadCrc(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

class ExchangeTest : public ::testing::Test {
protected:
    ExchangeTest() {
        port.IsConnected = true;
        link.SetDelayTx(0);
    }
    int ReadBlock1(std::span<std::uint8_t> into) {
        return link.Exchange(0, ReadBlock, 2, Block1.data(), into);
    }
    int ReadBlock1() { return ReadBlock1(reply); }
    void Script(std::initializer_list<FakeReply> replies) {
        port.Replies.insert(port.Replies.end(), replies);
    }
    static FakeReply Of(Bytes bytes) { return FakeReply::Of(std::move(bytes)); }

    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt, TLinkTiming{1ms}};
    std::array<std::uint8_t, 133> reply{};
};

TEST(Crc16, MatchesKnownVectors) {
    const std::array<std::uint8_t, 9> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(9, digits.data()), 0x4B37);
    EXPECT_EQ(Crc16(0, digits.data()), 0xFFFF);
    const std::array<std::uint8_t, 4> request{0x01, 0x43, 0x00, 0x01};
    EXPECT_EQ(Crc16(4, request.data()), 0xCC31);
    const std::array<std::uint8_t, 6> readRegisters{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(Crc16(6, readRegisters.data()), 0xCDC5);
}

TEST_F(ExchangeTest, RequestForBlockOneOfDeviceOneIsSixBytesWithCrcLowFirst) {
    Script({Of(BlockReply())});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    ASSERT_EQ(port.Writes.size(), 1u);
    EXPECT_EQ(port.Writes[0], (Bytes{0x01, 0x43, 0x00, 0x01, 0x31, 0xCC}));
    EXPECT_EQ(link.TxLen, 6);
    EXPECT_EQ(link.DataLen, 2);
    EXPECT_EQ(link.RxLen, 133);
    EXPECT_EQ(link.RxCount, 128);
    const Bytes expected = BlockReply();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin()));
}

TEST_F(ExchangeTest, DeviceIndexThirtyIsAddressThirtyOne) {
    Script({Of(BlockReply())});
    EXPECT_EQ(link.Exchange(30, ReadBlock, 2, Block1.data(), reply), LinkCode::Ok);
    EXPECT_EQ(port.Writes.at(0).at(0), 31);
}

TEST_F(ExchangeTest, ReplyFromAnotherAddressIsStillAccepted) {
    Bytes frame = BlockReply();
    frame[0] = 9;
    Script({Of(WithCrc(Bytes(frame.begin(), frame.end() - 2)))});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
}

TEST_F(ExchangeTest, Command70WithDataGoesToAddressZeroWithoutDataToTheDevice) {
    const std::array<std::uint8_t, 1> data{0x55};
    EXPECT_EQ(link.Exchange(4, 70, 1, data.data(), reply), LinkCode::Ok);
    EXPECT_EQ(link.Exchange(4, 70, 0, nullptr, reply), LinkCode::Ok);
    ASSERT_EQ(port.Writes.size(), 2u);
    EXPECT_EQ(port.Writes[0], WithCrc({0x00, 70, 0x55}));
    EXPECT_EQ(port.Writes[1], WithCrc({0x05, 70}));
}

TEST_F(ExchangeTest, Commands69And70ReturnRightAfterSendingAndReadNothing) {
    for (const std::uint8_t command : {69, 70}) {
        port.Calls.clear();
        Script({Of(BlockReply(4, command))});
        EXPECT_EQ(link.Exchange(0, command, 0, nullptr, reply), LinkCode::Ok);
        EXPECT_EQ(port.CountOf("Read"), 0);
        EXPECT_EQ(port.CountOf("Write"), 1);
    }
}

TEST_F(ExchangeTest, UnknownCommandIsRefusedBeforeThePortIsLookedAt) {
    port.IsConnected = false;
    for (const std::uint8_t command : {0, 7, 99, 0xC3, 255}) {
        EXPECT_EQ(link.Exchange(0, command, 0, nullptr, reply), LinkCode::UnknownCommand);
    }
    EXPECT_TRUE(port.Calls.empty());
}

// The device's command set, written out: each is sent as asked, any other number never leaves.
TEST_F(ExchangeTest, EveryCommandOfTheDeviceIsSentAndNoOther) {
    const std::array<std::uint8_t, 17> known{1,  2,  3,  4,  5,  6,  14, 15, 17,
                                             18, 66, 67, 68, 69, 70, 71, 100};
    link.Povt1 = 1;
    for (const std::uint8_t command : known) {
        port.Replies.push_back(FakeReply::Silence());
        link.Exchange(0, command, 0, nullptr, reply);
        ASSERT_FALSE(port.Writes.empty());
        EXPECT_EQ(port.Writes.back(), WithCrc({0x01, command})) << int{command};
    }
    EXPECT_EQ(port.Writes.size(), known.size());
    const std::array<std::uint8_t, 10> unknown{0, 7, 13, 16, 19, 65, 72, 99, 101, 255};
    for (const std::uint8_t command : unknown) {
        EXPECT_EQ(link.Exchange(0, command, 0, nullptr, reply), LinkCode::UnknownCommand)
            << int{command};
    }
    EXPECT_EQ(port.Writes.size(), known.size());
}

TEST_F(ExchangeTest, ClosedPortGives256AndNothingIsPurgedOrSent) {
    port.IsConnected = false;
    EXPECT_EQ(ReadBlock1(), LinkCode::PortNotOpen);
    EXPECT_TRUE(port.Calls.empty());
}

TEST_F(ExchangeTest, DataLengthOutsideTheFrameIsNeverSent) {
    std::array<std::uint8_t, TComPortClass::MaxDataLen + 1> data{};
    EXPECT_EQ(link.Exchange(0, 3, -1, data.data(), reply), LinkCode::UnknownCommand);
    EXPECT_EQ(link.Exchange(0, 3, TComPortClass::MaxDataLen + 1, data.data(), reply),
              LinkCode::UnknownCommand);
    EXPECT_EQ(link.Exchange(0, 3, 2, nullptr, reply), LinkCode::UnknownCommand);
    EXPECT_TRUE(port.Writes.empty());
}

TEST_F(ExchangeTest, LongestRequestFillsTheFrame) {
    std::array<std::uint8_t, TComPortClass::MaxDataLen> data{};
    data.back() = 0xAB;
    link.Povt1 = 1;
    EXPECT_EQ(link.Exchange(0, 3, TComPortClass::MaxDataLen, data.data(), reply),
              LinkCode::NoReply);
    ASSERT_EQ(port.Writes.size(), 1u);
    EXPECT_EQ(port.Writes[0].size(), static_cast<std::size_t>(TComPortClass::FrameCapacity));
    EXPECT_EQ(port.Writes[0][TComPortClass::FrameCapacity - 3], 0xAB);
}

TEST_F(ExchangeTest, PurgesBothQueuesOnceAndDropsInputBeforeEachTransmission) {
    Script({FakeReply::Silence(), FakeReply::Silence(), Of(BlockReply())});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    using Flags = std::pair<bool, bool>;
    EXPECT_EQ(port.PurgeFlags,
              (std::vector<Flags>{{true, true}, {true, false}, {true, false}, {true, false}}));
    const std::vector<std::string> expected{"ClearBuffer", "ClearBuffer", "Write", "Read",
                                            "ClearBuffer", "Write",       "Read",  "ClearBuffer",
                                            "Write",       "Read",        "Read"};
    EXPECT_EQ(port.Calls, expected);
}

TEST_F(ExchangeTest, FailedPurgeShowsPortLostAsksToCloseAndGoesOn) {
    port.ClearError = CE_PurgeFailed;
    Script({Of(BlockReply())});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text,
              "COM-порт отключен. Проверьте оборудование, перезапустите программу.");
    EXPECT_EQ(prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(prompt.CloseRequests, 1);
}

TEST_F(ExchangeTest, DriverReadAndWriteFailuresReachTheCaller) {
    port.WriteError = CE_WriteFailed;
    EXPECT_THROW(ReadBlock1(), EComPort);
    port.WriteError.reset();
    port.ReadError = CE_ReadFailed;
    EXPECT_THROW(ReadBlock1(), EComPort);
}

TEST_F(ExchangeTest, SilenceGives130AfterPovt1Transmissions) {
    link.SetPovt1(3);
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    EXPECT_EQ(port.Writes.size(), 3u);
}

TEST_F(ExchangeTest, BudgetsBelowOneStillEndAfterOneTransmission) {
    link.SetPovt1(0);
    link.SetPovt2(-3);
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    EXPECT_EQ(port.Writes.size(), 1u);
    port.Writes.clear();
    Script({Of(WithBadCrc(BlockReply()))});
    EXPECT_EQ(ReadBlock1(), LinkCode::BadChecksum);
    EXPECT_EQ(port.Writes.size(), 1u);
}

TEST_F(ExchangeTest, HeaderCutShortGives129) {
    for (int i = 0; i < 5; ++i)
        Script({Of({0x01, 0x43})});
    EXPECT_EQ(ReadBlock1(), LinkCode::ReceiveTimeout);
    EXPECT_EQ(port.Writes.size(), 5u);
}

TEST_F(ExchangeTest, BodyCutShortGives129AndSilentBodyGives130InStageTwo) {
    link.SetPovt2(2);
    Bytes cut = BlockReply();
    cut.resize(60);
    Script({Of(cut), Of(cut)});
    EXPECT_EQ(ReadBlock1(), LinkCode::ReceiveTimeout);
    EXPECT_EQ(port.Writes.size(), 2u);

    port.Writes.clear();
    Script({Of({0x01, 0x43, 0x80}), Of({0x01, 0x43, 0x80})});
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    EXPECT_EQ(port.Writes.size(), 2u);
}

TEST_F(ExchangeTest, TenBadChecksumsGive131AfterPovt2Transmissions) {
    for (int i = 0; i < 12; ++i)
        Script({Of(WithBadCrc(BlockReply()))});
    EXPECT_EQ(ReadBlock1(), LinkCode::BadChecksum);
    EXPECT_EQ(port.Writes.size(), 10u);
}

TEST_F(ExchangeTest, TwoBadChecksumsThenAGoodReplyGive0) {
    Script({Of(WithBadCrc(BlockReply())), Of(WithBadCrc(BlockReply())), Of(BlockReply())});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_EQ(port.Writes.size(), 3u);
}

TEST_F(ExchangeTest, AcceptedHeaderRefillsStageOneButStageTwoIsNeverRefilled) {
    // Budgets 2 and 3: alternating silence and bad checksums would end at the second silence
    // without the refill, and would go on forever if stage two were refilled too.
    link.SetPovt1(2);
    link.SetPovt2(3);
    for (int i = 0; i < 4; ++i)
        Script({FakeReply::Silence(), Of(WithBadCrc(BlockReply()))});
    EXPECT_EQ(ReadBlock1(), LinkCode::BadChecksum);
    EXPECT_EQ(port.Writes.size(), 6u);
}

TEST_F(ExchangeTest, ExceptionReplyReturnsItsCodeAtOnce) {
    Script({Of(WithCrc({0x01, 0xC3, 0x06}))});
    EXPECT_EQ(ReadBlock1(), LinkCode::DatabaseBusy);
    EXPECT_EQ(port.Writes.size(), 1u);
    EXPECT_EQ(link.RxLen, 5);
    EXPECT_EQ(port.CountOf("Read"), 1); // its checksum is left to the next purge
}

TEST_F(ExchangeTest, ExceptionCodesThatLookLikeLinkCodesAreStillReturnedAtOnce) {
    Script({Of(WithCrc({0x01, 0xC3, 130}))});
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    EXPECT_EQ(port.Writes.size(), 1u);
}

TEST_F(ExchangeTest, ExceptionCodeZeroIsReadOnAsAnOrdinaryReply) {
    Script({Of(WithCrc({0x01, 0xC3, 0x00}))});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_EQ(link.RxLen, 5);
    EXPECT_EQ(port.PendingInput(), 0u);
}

TEST_F(ExchangeTest, ForeignCommandByteEndsTheBudgetWith128) {
    port.Responder = [](auto) { return FakeReply::Of(WithCrc({0x01, 0x03, 0x00})); };
    EXPECT_EQ(ReadBlock1(), LinkCode::ReceiveError);
    EXPECT_EQ(port.Writes.size(), 5u);
}

struct EchoCase {
    std::uint8_t Command;
    int DataLen;
    int RxLen;
};

class ExchangeReplyLength : public ExchangeTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(ExchangeReplyLength, FollowsTheCommandNotTheCountByte) {
    const auto [command, dataLen, rxLen] = GetParam();
    const Bytes data(static_cast<std::size_t>(dataLen), 0x11);
    // Count byte 0x11 would give 22 bytes if the count decided the length.
    Bytes frame{0x01, command, 0x11};
    frame.resize(static_cast<std::size_t>(rxLen - 2), 0x11);
    Script({Of(WithCrc(frame))});
    EXPECT_EQ(link.Exchange(0, command, dataLen, data.data(), reply), LinkCode::Ok);
    EXPECT_EQ(link.RxLen, rxLen);
    EXPECT_EQ(port.PendingInput(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EchoAndFixed, ExchangeReplyLength,
                         ::testing::Values(EchoCase{5, 4, 8}, EchoCase{14, 9, 13},
                                           EchoCase{15, 7, 8}));

// The reply buffer sits between guard bytes; a longer reply must not touch them.
class ExchangeReplyBuffer : public ExchangeTest {
protected:
    static constexpr std::size_t Guard = 16;
    static constexpr std::uint8_t GuardByte = 0xEE;
    ExchangeReplyBuffer() { memory.fill(GuardByte); }
    std::span<std::uint8_t> Buffer(std::size_t size) {
        return std::span(memory).subspan(Guard, size);
    }
    bool GuardsIntact(std::size_t size) const {
        return std::all_of(memory.begin(), memory.begin() + Guard,
                           [](auto b) { return b == GuardByte; }) &&
               std::all_of(memory.begin() + static_cast<std::ptrdiff_t>(Guard + size), memory.end(),
                           [](auto b) { return b == GuardByte; });
    }
    std::array<std::uint8_t, 300 + 2 * Guard> memory{};
};

TEST_F(ExchangeReplyBuffer, LongerReplyNeverWritesPastTheBufferAndGives128) {
    link.SetPovt2(3);
    port.Responder = [](auto) { return FakeReply::Of(BlockReply(255)); };
    EXPECT_EQ(ReadBlock1(Buffer(133)), LinkCode::ReceiveError);
    EXPECT_TRUE(GuardsIntact(133));
    EXPECT_EQ(port.Writes.size(), 3u);
    EXPECT_EQ(port.PendingInput(), 0u);
}

TEST_F(ExchangeReplyBuffer, LongerReplyIsReadWholeSoTheNextReplyIsInStep) {
    Script({Of(BlockReply(200)), Of(BlockReply())});
    EXPECT_EQ(ReadBlock1(Buffer(133)), LinkCode::Ok);
    EXPECT_TRUE(GuardsIntact(133));
    EXPECT_EQ(port.Writes.size(), 2u);
}

TEST_F(ExchangeReplyBuffer, ReplyOfExactlyTheCapacityFits) {
    Script({Of(BlockReply(128))});
    EXPECT_EQ(ReadBlock1(Buffer(133)), LinkCode::Ok);
    EXPECT_TRUE(GuardsIntact(133));
}

TEST_F(ExchangeReplyBuffer, BufferTooSmallForTheHeaderIsNeverWritten) {
    Script({Of(WithCrc({0x01, 0xC3, 0x06}))});
    EXPECT_EQ(ReadBlock1(Buffer(2)), LinkCode::DatabaseBusy);
    EXPECT_TRUE(GuardsIntact(2));
    link.SetPovt2(1);
    Script({Of(BlockReply(0))});
    EXPECT_EQ(ReadBlock1(Buffer(0)), LinkCode::ReceiveError);
    EXPECT_TRUE(GuardsIntact(0));
}

TEST_F(ExchangeTest, RepeatsWaitTheRepeatPauseAndTheTransmitDelay) {
    TComPortClass paced{port, prompt, TLinkTiming{60ms}};
    paced.SetDelayTx(20);
    paced.SetPovt1(3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(paced.Exchange(0, ReadBlock, 2, Block1.data(), reply), LinkCode::NoReply);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(port.WriteTimes.size(), 3u);
    EXPECT_GE(port.WriteTimes[1] - port.WriteTimes[0], 80ms);
    EXPECT_GE(port.WriteTimes[0] - start, 20ms);
    EXPECT_GE(elapsed, 3 * (60ms + 20ms));
    EXPECT_LT(elapsed, 3s);
}

TEST(WaitMs, SleepsAtLeastTheTimeWithoutBurningACore) {
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    const std::clock_t cpuStart = std::clock();
    const auto start = std::chrono::steady_clock::now();
    link.WaitMs(200);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    EXPECT_GE(elapsed, 200ms);
    EXPECT_LT(elapsed, 2s);
    EXPECT_LT(cpuMs, 100.0);
}

TEST(WaitMs, ZeroAndNegativeReturnAtOnce) {
    FakeComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt};
    const auto start = std::chrono::steady_clock::now();
    link.WaitMs(0);
    link.WaitMs(-5000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

} // namespace
} // namespace kve17
