// The simulated line over a real pty: what its devices answer, what they keep silent about,
// the faults on demand, growth, and the line rate it keeps.
#include "tools/sim/SimLine.h"

#include "tests/tools/SimClient.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

using namespace std::chrono;
using sim::Fault;
using sim::FaultKind;

constexpr std::size_t BlockReply = 133;

Bytes BlockOf(const sim::DeviceArchive& archive, int block) {
    const auto begin = archive.begin() + (block - 1) * sim::BlockBytes;
    return Bytes(begin, begin + sim::BlockBytes);
}

Bytes Data(const Bytes& reply) {
    return Bytes(reply.begin() + 3, reply.end() - 2);
}

class SimLineTest : public ::testing::Test {
protected:
    SimLineTest() {
        sim.SetDevice(1, sim::MakeArchive(101));
        sim.SetDevice(2, sim::MakeArchive(202));
    }

    // The ordinary reply to block `block` of device 1, as a check that nothing came before it.
    void ExpectPlainBlock(int block) {
        const Bytes reply = client.Transact(BlockRequest(1, block), BlockReply);
        ASSERT_EQ(reply.size(), BlockReply);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{1, 67, 128}));
        EXPECT_EQ(Data(reply), BlockOf(sim.Archive(1), block));
        EXPECT_TRUE(CrcGood(reply));
    }

    sim::SimLine sim;
    SimClient client{sim.SlavePath()};
};

TEST_F(SimLineTest, EveryBlockDecodesToTheArchiveWithAGoodCrc) {
    const sim::DeviceArchive archive = sim.Archive(2);
    for (int block = 1; block <= sim::BlockCount; ++block) {
        const Bytes reply = client.Transact(BlockRequest(2, block), BlockReply);
        ASSERT_EQ(reply.size(), BlockReply) << "block " << block;
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{2, 67, 128}));
        EXPECT_EQ(Data(reply), BlockOf(archive, block)) << "block " << block;
        EXPECT_TRUE(CrcGood(reply)) << "block " << block;
    }
    EXPECT_EQ(sim.Requests(2), sim::BlockCount);
}

TEST_F(SimLineTest, TheRequestOfTheFirstBlockIsTheKnownSixBytes) {
    EXPECT_EQ(BlockRequest(1, 1), (Bytes{0x01, 0x43, 0x00, 0x01, 0x31, 0xCC}));
    ExpectPlainBlock(1);
}

TEST_F(SimLineTest, BlocksOutsideTheArchiveGetExceptionTwo) {
    for (const Bytes& data : {Bytes{0, 0}, Bytes{0, 63}, Bytes{0, 255}, Bytes{1, 1}}) {
        const Bytes reply = client.Transact(RequestFrame(1, 67, data), 5);
        EXPECT_EQ(reply, WithCrc({1, 67 | 0x80, 2}));
    }
}

TEST_F(SimLineTest, BadCrcGetsNoReplyButAGoodOneAfterItDoes) {
    Bytes bad = BlockRequest(1, 3);
    bad.back() ^= 0x01;
    client.Send(bad);
    ExpectPlainBlock(4);
    EXPECT_EQ(sim.Requests(1), 1);
}

TEST_F(SimLineTest, AbsentAddressGetsNoReplyButIsSeenOnTheLine) {
    client.Send(BlockRequest(4, 1));
    ExpectPlainBlock(1);
    EXPECT_EQ(sim.Requests(4), 1);
    sim.RemoveDevice(1);
    client.Send(BlockRequest(1, 1));
    EXPECT_TRUE(client.Read(1, milliseconds{200}).empty());
    EXPECT_EQ(sim.Requests(1), 2);
}

TEST_F(SimLineTest, GarbageBeforeARequestIsSkipped) {
    Bytes line{0xFF, 0x00, 0x01, 0x43, 0x00}; // noise and a torn request
    const Bytes request = BlockRequest(1, 2);
    line.insert(line.end(), request.begin(), request.end());
    client.Send(line);
    const Bytes reply = client.Read(BlockReply);
    ASSERT_EQ(reply.size(), BlockReply);
    EXPECT_EQ(Data(reply), BlockOf(sim.Archive(1), 2));
}

TEST_F(SimLineTest, BroadcastsAndNoAnswerCommandsGetNoReply) {
    client.Send(RequestFrame(0, 70, {0, 0, 12, 1, 1, 24})); // the clock, to every device
    client.Send(RequestFrame(1, 69));
    client.Send(RequestFrame(1, 70));
    ExpectPlainBlock(1);
    EXPECT_EQ(sim.Requests(0), 1);
    EXPECT_EQ(sim.Requests(1), 3);
}

TEST_F(SimLineTest, WaitForRequestsSeesARequestWithoutAReply) {
    client.Send(RequestFrame(2, 69));
    EXPECT_TRUE(sim.WaitForRequests(2, 1, seconds{5}));
    EXPECT_FALSE(sim.WaitForRequests(2, 2, milliseconds{50}));
}

struct OtherCommand {
    const char* name;
    int command;
    Bytes data;
    Bytes reply; // without the CRC
};

class SimOtherCommandTest : public SimLineTest,
                            public ::testing::WithParamInterface<OtherCommand> {};

TEST_P(SimOtherCommandTest, GetsAPlausibleOrExceptionReply) {
    const OtherCommand& c = GetParam();
    const Bytes expected = WithCrc(c.reply);
    EXPECT_EQ(client.Transact(RequestFrame(1, c.command, c.data), expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SimOtherCommandTest,
    ::testing::Values(
        OtherCommand{"ReadRegisters", 3, {0, 16, 0, 2}, {1, 3, 4, 1, 16, 1, 17}},
        OtherCommand{"ReadTooManyRegisters", 4, {0, 0, 0, 126}, {1, 0x84, 3}},
        OtherCommand{"ReadCoilsBeyondTheEnd", 1, {0x0F, 0xFF, 0, 2}, {1, 0x81, 2}},
        OtherCommand{"WriteRegisterEchoes", 6, {0, 1, 0x12, 0x34}, {1, 6, 0, 1, 0x12, 0x34}},
        OtherCommand{"WriteCoilWithABadValue", 5, {0, 1, 0x12, 0x34}, {1, 0x85, 3}},
        OtherCommand{"Command14Echoes", 14, {9, 8, 7, 6}, {1, 14, 9, 8, 7, 6}},
        OtherCommand{
            "WriteCoilsAnswersEightBytes", 15, {0, 0, 0, 10, 2, 0xFF, 3}, {1, 15, 0, 0, 0, 10}},
        OtherCommand{"ReportId", 17, {}, {1, 17, 8, 0x17, 0xFF, 'K', 'V', 'E', '-', '1', '7'}},
        OtherCommand{"ArchiveFill", 66, {0, 0}, {1, 66, 2, 0x03, 0xE0}},
        OtherCommand{"UnkeptCommand", 68, {0, 0}, {1, 68 | 0x80, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    Fault fault;
    // The reply to block 1, given the ordinary one.
    Bytes (*expected)(const Bytes& plain);
};

class SimFaultTest : public SimLineTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaultTest, SpoilsOneReplyThenTheDeviceIsWellAgain) {
    const Bytes plain = client.Transact(BlockRequest(1, 1), BlockReply);
    ASSERT_EQ(plain.size(), BlockReply);
    sim.AddFault(1, GetParam().fault);
    const Bytes expected = GetParam().expected(plain);
    client.Send(BlockRequest(1, 1));
    const Bytes spoiled = client.Read(expected.size()); // anything more spoils the next check
    if (GetParam().fault.kind == FaultKind::Noise) {
        ASSERT_EQ(spoiled.size(), expected.size());
        EXPECT_EQ(Bytes(spoiled.end() - BlockReply, spoiled.end()), plain);
    } else {
        EXPECT_EQ(spoiled, expected);
    }
    ExpectPlainBlock(1);
    EXPECT_EQ(sim.Requests(1), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimFaultTest,
    ::testing::Values(
        FaultCase{"Silence", {FaultKind::Silence}, [](const Bytes&) { return Bytes{}; }},
        FaultCase{"CutAfterTwo",
                  {FaultKind::Cut, 2},
                  [](const Bytes& p) { return Bytes(p.begin(), p.begin() + 2); }},
        FaultCase{"BadCrc",
                  {FaultKind::BadCrc},
                  [](const Bytes& p) {
                      Bytes b = p;
                      b[131] ^= 0xFF;
                      b[132] ^= 0xFF;
                      return b;
                  }},
        FaultCase{"ForeignCommand",
                  {FaultKind::ForeignCommand, 3},
                  [](const Bytes& p) {
                      Bytes b(p.begin(), p.end() - 2);
                      b[1] = 3;
                      return WithCrc(b);
                  }},
        FaultCase{"ExceptionSix",
                  {FaultKind::Exception, 6},
                  [](const Bytes&) {
                      return WithCrc({1, 67 | 0x80, 6});
                  }},
        FaultCase{"NoiseBeforeTheReply",
                  {FaultKind::Noise, 7},
                  [](const Bytes& p) { return Bytes(p.size() + 7, 0); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLineTest, WrongCountSendsThatManyArchiveBytesWithAGoodCrc) {
    sim.AddFault(1, {FaultKind::WrongCount, 200});
    const Bytes reply = client.Transact(BlockRequest(1, 1), 205);
    ASSERT_EQ(reply.size(), 205u);
    const auto archive = sim.Archive(1);
    EXPECT_EQ(reply[2], 200);
    EXPECT_TRUE(std::equal(reply.begin() + 3, reply.end() - 2, archive.begin()));
    EXPECT_TRUE(CrcGood(reply));
    ExpectPlainBlock(1);
}

TEST_F(SimLineTest, DelayHoldsTheReplyBack) {
    sim.AddFault(1, {FaultKind::Delay, 150});
    const auto start = steady_clock::now();
    const Bytes reply = client.Transact(BlockRequest(1, 1), BlockReply);
    EXPECT_EQ(reply.size(), BlockReply);
    EXPECT_GE(steady_clock::now() - start, milliseconds{150});
}

TEST_F(SimLineTest, TimesCountsRequestsAndMinusOneNeverRunsOut) {
    sim.AddFault(1, {FaultKind::Exception, 6, 2});
    EXPECT_EQ(client.Transact(BlockRequest(1, 1), 5), WithCrc({1, 0xC3, 6}));
    EXPECT_EQ(client.Transact(BlockRequest(1, 1), 5), WithCrc({1, 0xC3, 6}));
    ExpectPlainBlock(1);
    sim.AddFault(1, {FaultKind::Exception, 6, -1});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(client.Transact(BlockRequest(1, 1), 5), WithCrc({1, 0xC3, 6}));
    sim.ClearFaults();
    ExpectPlainBlock(1);
}

TEST_F(SimLineTest, BlockFilterSparesOtherBlocksAndOtherDevices) {
    sim.AddFault(1, {FaultKind::Exception, 6, -1, 3});
    ExpectPlainBlock(2);
    EXPECT_EQ(client.Transact(BlockRequest(1, 3), 5), WithCrc({1, 0xC3, 6}));
    ExpectPlainBlock(4);
    const Bytes other = client.Transact(BlockRequest(2, 3), BlockReply);
    EXPECT_EQ(other.size(), BlockReply);
}

TEST_F(SimLineTest, FaultsApplyTogether) {
    sim.AddFault(1, {FaultKind::Noise, 3});
    sim.AddFault(1, {FaultKind::Cut, 4});
    client.Send(BlockRequest(1, 1));
    const Bytes got = client.Read(7);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(Bytes(got.begin() + 3, got.end()), (Bytes{1, 67, 128, sim.Archive(1)[0]}));
    ExpectPlainBlock(1);
}

TEST_F(SimLineTest, GrowthShiftsTheRecordsBack) {
    const sim::DeviceArchive before = sim.Archive(1);
    sim.Grow(1, 5, 77);
    const Bytes block1 = Data(client.Transact(BlockRequest(1, 1), BlockReply));
    const Bytes block2 = Data(client.Transact(BlockRequest(1, 2), BlockReply));
    ASSERT_EQ(block1.size(), 128u);
    ASSERT_EQ(block2.size(), 128u);
    // Old record 0 is now record 5; old record 11 (the last of block 1) is record 0 of block 2.
    EXPECT_TRUE(std::equal(block1.begin() + 40, block1.end(), before.begin()));
    EXPECT_TRUE(std::equal(block2.begin(), block2.begin() + 40, before.begin() + 88));
    EXPECT_FALSE(std::equal(block1.begin(), block1.begin() + 40, before.begin()));
}

TEST(SimLineLife, StopsPromptlyInTheMiddleOfALongDelay) {
    auto sim = std::make_unique<sim::SimLine>();
    sim->SetDevice(1, sim::MakeArchive(1));
    sim->AddFault(1, {FaultKind::Delay, 60000});
    SimClient client(sim->SlavePath());
    client.Send(BlockRequest(1, 1));
    ASSERT_TRUE(sim->WaitForRequests(1, 1, seconds{5}));
    const auto start = steady_clock::now();
    sim.reset();
    EXPECT_LT(steady_clock::now() - start, milliseconds{500});
}

TEST(SimLineLife, AddressesOutsideTheLineAreRefused) {
    sim::SimLine sim;
    EXPECT_THROW(sim.SetDevice(0, sim::MakeArchive(1)), std::out_of_range);
    EXPECT_THROW(sim.SetDevice(32, sim::MakeArchive(1)), std::out_of_range);
    EXPECT_THROW(sim.AddFault(32, {}), std::out_of_range);
    EXPECT_FALSE(sim.HasDevice(32));
    EXPECT_EQ(sim.Requests(300), 0);
}

struct PaceCase {
    const char* name;
    speed_t speed;
    bool twoStopBits;
    int baudOverride;
    double bitsPerSecond;
    int bitsPerChar;
};

class SimPacingTest : public ::testing::TestWithParam<PaceCase> {
protected:
    double CharSeconds() const { return GetParam().bitsPerChar / GetParam().bitsPerSecond; }
};

// Seconds per byte, fitted by least squares over every read, so that a late wake-up of either
// side at the start or the end of the reply does not count as line time.
double SecondsPerByte(const std::vector<SimClient::Arrival>& arrivals) {
    const auto origin = arrivals.front().at;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& a : arrivals) {
        const double x = static_cast<double>(a.total);
        const double y = duration<double>(a.at - origin).count();
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

// A block reply behind 100 noise bytes: 233 characters in one stream.
TEST_P(SimPacingTest, HoldsTheLineRateWithinFivePercent) {
    const PaceCase& c = GetParam();
    sim::SimLine sim({.pacing = true, .baud = c.baudOverride});
    sim.SetDevice(1, sim::MakeArchive(3));
    sim.AddFault(1, {FaultKind::Noise, 100});
    SimClient client(sim.SlavePath(), c.speed, c.twoStopBits);
    const auto sent = steady_clock::now();
    client.Send(BlockRequest(1, 1));
    const auto arrivals = client.ReadArrivals(BlockReply + 100);
    ASSERT_FALSE(arrivals.empty());
    ASSERT_EQ(arrivals.back().total, BlockReply + 100);
    EXPECT_NEAR(SecondsPerByte(arrivals) / CharSeconds(), 1.0, 0.05);
    // The request's 6 characters cross the line before the first reply byte can.
    EXPECT_GE(duration<double>(arrivals.front().at - sent).count(), 7 * CharSeconds() * 0.95);
    EXPECT_GE(duration<double>(arrivals.back().at - sent).count(),
              (6 + BlockReply + 100) * CharSeconds() * 0.95);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SimPacingTest,
    ::testing::Values(PaceCase{"TenBitsAt9600", B9600, false, 0, 9600, 10},
                      PaceCase{"ElevenBitsWithTwoStopBits", B9600, true, 0, 9600, 11},
                      PaceCase{"BaudOptionOverridesThePty", B9600, false, 19200, 19200, 10}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kve17::test
