// The exchange over a real pseudo-terminal: the real driver on one side, the simulated device
// line on the other.
#include "link/Comportclass.h"
#include "link/LinkCodes.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "serial/PortDirectory.h"
#include "tests/support/ScriptedPrompt.h"
#include "tools/sim/SimLine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace kve17 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ScriptedPrompt;

constexpr std::uint8_t ReadBlock = 67;
constexpr std::array<std::uint8_t, 2> Block1{0x00, 0x01};
constexpr const char* SimPortName = "COM5";

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kve17-link-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

TPortDirectory::Roots RootsIn(const TempDir& dir) {
    TPortDirectory::Roots roots;
    roots.LinkDir = (dir.Path() / "ports").string();
    roots.SysfsTtyDir = (dir.Path() / "no-sysfs").string(); // no hardware of the test machine
    roots.DevDir = (dir.Path() / "no-dev").string();
    return roots;
}

// Device 1 on a simulated line, reached through the port directory name COM5 by OpenPort.
class ExchangeLine : public ::testing::Test {
protected:
    explicit ExchangeLine(TLinkTiming timing = TLinkTiming{20ms}) : link(port, prompt, timing) {}

    void SetUp() override {
        TPortDirectory(RootsIn(dir)).AddLink(sim.SlavePath(), SimPortName);
        sim.SetDevice(1, sim::MakeArchive(17));
        LoadComPort1Settings(port);
        ShortenTimeouts();
        link.SetDelayTx(1);
        ASSERT_TRUE(link.SetPortName(SimPortName));
        ASSERT_EQ(link.OpenPort(), 0);
    }

    // A silent header read costs 3 + 250 ms instead of 1.3 s.
    virtual void ShortenTimeouts() {
        port.Timeouts().SetReadInterval(50);
        port.Timeouts().SetReadTotalMultiplier(1);
        port.Timeouts().SetReadTotalConstant(250);
    }

    int ReadBlock1(std::span<std::uint8_t> into) {
        return link.Exchange(0, ReadBlock, 2, Block1.data(), into);
    }
    int ReadBlock1() { return ReadBlock1(reply); }

    bool ReplyHoldsBlock1() const {
        const sim::DeviceArchive archive = sim.Archive(1);
        return std::equal(archive.begin(), archive.begin() + 128, reply.begin() + 3);
    }

    // Requests the device saw, after letting the line settle.
    int RequestsSeen() const {
        std::this_thread::sleep_for(50ms);
        return sim.Requests(1);
    }

    TempDir dir;
    sim::SimLine sim;
    TComPort port{TPortDirectory(RootsIn(dir))};
    ScriptedPrompt prompt;
    TComPortClass link;
    std::array<std::uint8_t, 133> reply{};
};

TEST_F(ExchangeLine, GoodReplyBringsTheBlock) {
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_TRUE(ReplyHoldsBlock1());
    EXPECT_EQ(RequestsSeen(), 1);
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(ExchangeLine, SilenceGives130AfterExactlyPovt1Transmissions) {
    sim.AddFault(1, {sim::FaultKind::Silence, 0, -1});
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    EXPECT_EQ(RequestsSeen(), 5);
}

TEST_F(ExchangeLine, HeaderCutAfterTwoBytesFiveTimesGives129) {
    sim.AddFault(1, {sim::FaultKind::Cut, 2, 5});
    EXPECT_EQ(ReadBlock1(), LinkCode::ReceiveTimeout);
    EXPECT_EQ(RequestsSeen(), 5);
}

TEST_F(ExchangeLine, TenBadChecksumsGive131AfterExactlyPovt2Transmissions) {
    sim.AddFault(1, {sim::FaultKind::BadCrc, 0, -1});
    EXPECT_EQ(ReadBlock1(), LinkCode::BadChecksum);
    EXPECT_EQ(RequestsSeen(), 10);
}

TEST_F(ExchangeLine, TwoBadChecksumsThenAGoodReplyGive0) {
    sim.AddFault(1, {sim::FaultKind::BadCrc, 0, 2});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_TRUE(ReplyHoldsBlock1());
    EXPECT_EQ(RequestsSeen(), 3);
}

TEST_F(ExchangeLine, Exception6Gives6AfterOneTransmission) {
    sim.AddFault(1, {sim::FaultKind::Exception, 6, -1});
    EXPECT_EQ(ReadBlock1(), LinkCode::DatabaseBusy);
    EXPECT_EQ(RequestsSeen(), 1);
}

TEST_F(ExchangeLine, ExceptionCodeZeroIsAnOrdinaryReply) {
    sim.AddFault(1, {sim::FaultKind::Exception, 0, -1});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_EQ(link.RxLen, 5);
    EXPECT_EQ(RequestsSeen(), 1);
}

TEST_F(ExchangeLine, ExceptionReplyLeftoversDoNotSpoilTheNextExchange) {
    sim.AddFault(1, {sim::FaultKind::Exception, 6, 1});
    EXPECT_EQ(ReadBlock1(), LinkCode::DatabaseBusy);
    std::this_thread::sleep_for(50ms); // its checksum bytes are queued by now
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_TRUE(ReplyHoldsBlock1());
}

TEST_F(ExchangeLine, ForeignCommandByteNeverGives0) {
    sim.AddFault(1, {sim::FaultKind::ForeignCommand, 3, -1});
    const int code = ReadBlock1();
    EXPECT_NE(code, LinkCode::Ok);
    EXPECT_GE(RequestsSeen(), 5);
}

TEST_F(ExchangeLine, ReplyLongerThanTheBufferNeverWritesPastIt) {
    constexpr std::uint8_t GuardByte = 0xEE;
    std::array<std::uint8_t, 16 + 133 + 16> memory{};
    memory.fill(GuardByte);
    const auto buffer = std::span(memory).subspan(16, 133);
    link.SetPovt2(3);
    sim.AddFault(1, {sim::FaultKind::WrongCount, 200, -1});
    EXPECT_EQ(ReadBlock1(buffer), LinkCode::ReceiveError);
    EXPECT_TRUE(
        std::all_of(memory.begin(), memory.begin() + 16, [](auto b) { return b == GuardByte; }));
    EXPECT_TRUE(
        std::all_of(memory.end() - 16, memory.end(), [](auto b) { return b == GuardByte; }));
    EXPECT_EQ(RequestsSeen(), 3);
}

TEST_F(ExchangeLine, ReplyLongerThanTheBufferIsReadWholeSoTheLineStaysInStep) {
    sim.AddFault(1, {sim::FaultKind::WrongCount, 200, 1});
    EXPECT_EQ(ReadBlock1(), LinkCode::Ok);
    EXPECT_TRUE(ReplyHoldsBlock1());
    EXPECT_EQ(RequestsSeen(), 2);
}

TEST_F(ExchangeLine, Commands69And70ReturnRightAfterSending) {
    const std::array<std::uint8_t, 6> clock{0x24, 0x12, 0x08, 0x10, 0x30, 0x00};
    std::array<int, 2> sent{}; // requests to address 0 and to address 1
    for (const int dataLen : {0, 6}) {
        for (const std::uint8_t command : {69, 70}) {
            const auto start = Clock::now();
            EXPECT_EQ(link.Exchange(0, command, dataLen, clock.data(), reply), LinkCode::Ok);
            // A header read would take at least the 250 ms read time-out.
            EXPECT_LT(Clock::now() - start, 200ms) << int(command);
            // Command 70 with data goes to every device at address 0.
            const int address = command == 70 && dataLen > 0 ? 0 : 1;
            EXPECT_TRUE(sim.WaitForRequests(address, ++sent[address], 2s))
                << int(command) << " with " << dataLen << " data bytes";
        }
    }
}

TEST_F(ExchangeLine, UnknownCommandGives1EvenWithThePortClosed) {
    EXPECT_EQ(link.Exchange(0, 99, 0, nullptr, reply), LinkCode::UnknownCommand);
    link.ClosePort();
    EXPECT_EQ(link.Exchange(0, 99, 0, nullptr, reply), LinkCode::UnknownCommand);
    EXPECT_EQ(RequestsSeen(), 0);
}

TEST_F(ExchangeLine, ClosedPortGives256AndSendsNothing) {
    link.ClosePort();
    EXPECT_EQ(ReadBlock1(), LinkCode::PortNotOpen);
    EXPECT_EQ(RequestsSeen(), 0);
}

// With the time-outs and the pause the program really uses.
class ExchangeLineRealTiming : public ExchangeLine {
protected:
    ExchangeLineRealTiming() : ExchangeLine(TLinkTiming{}) {}
    void ShortenTimeouts() override {}
};

TEST_F(ExchangeLineRealTiming, SilentDeviceCostsFiveHeaderTimeoutsAndPauses) {
    link.SetDelayTx(25);
    sim.AddFault(1, {sim::FaultKind::Silence, 0, -1});
    const auto start = Clock::now();
    EXPECT_EQ(ReadBlock1(), LinkCode::NoReply);
    const auto elapsed = Clock::now() - start;
    // 5 x (25 ms + 1300 ms + 300 ms) = 8.125 s.
    EXPECT_GE(elapsed, 8000ms);
    EXPECT_LT(elapsed, 10500ms);
    EXPECT_EQ(RequestsSeen(), 5);
}

} // namespace
} // namespace kve17
