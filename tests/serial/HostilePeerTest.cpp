// Device servers that are broken or mean harm: floods of data, of escaped 0xFF and of telnet
// commands, endless negotiation, endless sub-negotiation. Each may cost the reader no more than
// its time-outs and a few MiB, measured as the rise of this process's peak resident size while
// the peer floods.
#include "serial/NetLine.h"
#include "tests/support/TcpPeer.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint8_t IAC = 0xFF, SB = 0xFA, WILL = 0xFB, DO = 0xFD, NOP = 0xF1;
// Far more than the reader may hold, and small enough that a reader that held it all would not
// take the machine down.
constexpr std::size_t FloodMost = std::size_t{96} << 20;
constexpr long HeldAtMostKiB = 4 * 1024;
constexpr TNetTiming Timing{1500ms, 500ms};
// Room for a loaded machine above each time-out; far below what an unbounded wait takes.
constexpr milliseconds Slack = 1000ms;

long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Starts the count of the peak resident size anew from the present size.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5" << std::flush;
    return clear.good();
}

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

enum class Expect {
    Data,          // every purge and read ends in time; reads bring the flood's data byte
    NothingToRead, // a read brings nothing and ends at its time-out
    OpenTimesOut,  // the COM-port option is never settled
    ApplyTimesOut, // the line settings are never answered
};

struct HostileCase {
    const char* Name;
    TLineKind Kind;
    Bytes Greeting; // sent once before the flood
    Bytes Pattern;  // sent over and over
    Expect Outcome;
};

std::ostream& operator<<(std::ostream& out, const HostileCase& c) {
    return out << c.Name;
}

// A storm over many options, never the COM-port option.
Bytes Storm() {
    Bytes storm;
    for (std::uint8_t option = 1; option < 40; ++option)
        storm.insert(storm.end(), {IAC, WILL, option, IAC, DO, option});
    return storm;
}

class HostilePeer : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override { ASSERT_TRUE(ResetPeak()) << "the peak resident size cannot be reset"; }

    void TearDown() override {
        stop = true;
        if (flood.valid())
            sent = flood.get();
    }

    void StartFlood() {
        const HostileCase& c = GetParam();
        flood = std::async(std::launch::async, [this, c] {
            if (!peer.Accept(5s))
                return std::size_t{0};
            peer.Send(c.Greeting);
            return peer.Flood(c.Pattern, stop, FloodMost);
        });
    }

    // What the reader did, and the time and memory it took.
    std::string Run(TNetLine& line) {
        const HostileCase& c = GetParam();
        std::ostringstream faults;
        const auto check = [&](bool held, const std::string& what) {
            if (!held)
                faults << what << "; ";
        };
        const auto start = Clock::now();
        const int opened = line.Open(peer.Address(c.Kind == TLineKind::RawTcp ? "tcp" : "rfc2217"));
        if (c.Outcome == Expect::OpenTimesOut) {
            check(opened == ETIMEDOUT, "open gave " + std::to_string(opened));
            check(Since(start) < Timing.Answer + Slack,
                  "open took " + std::to_string(Since(start).count()) + " ms");
            return faults.str();
        }
        check(opened == 0, "open gave " + std::to_string(opened));
        if (c.Outcome == Expect::ApplyTimesOut) {
            const auto asked = Clock::now();
            const int applied = line.Apply(tty::LineSettings{});
            check(applied == ETIMEDOUT, "apply gave " + std::to_string(applied));
            check(Since(asked) < Timing.Answer + Slack,
                  "apply took " + std::to_string(Since(asked).count()) + " ms");
            return faults.str();
        }
        // Rounds of an exchange while the flood lasts; a silent line waits out a few read
        // time-outs.
        const auto flooding = [&] { return flood.wait_for(0s) != std::future_status::ready; };
        for (rounds = 0; rounds < 4 || (flooding() && Since(start) < 10s); ++rounds) {
            const auto purged = Clock::now();
            check(line.Flush(true, true) == 0, "purge failed");
            check(Since(purged) < Slack,
                  "purge took " + std::to_string(Since(purged).count()) + " ms");
            std::array<std::uint8_t, 256> buffer{};
            const auto asked = Clock::now();
            const bool flooded = flooding();
            const tty::Transfer got = line.Read(buffer, {50, 0, 300}); // 300 ms at most
            check(got.Error == 0, "read gave " + std::to_string(got.Error));
            check(Since(asked) < 300ms + Slack,
                  "read took " + std::to_string(Since(asked).count()) + " ms");
            if (c.Outcome == Expect::NothingToRead) {
                check(got.Count == 0, "read " + std::to_string(got.Count) + " bytes");
                check(Since(asked) >= 290ms, "the read ended before its time-out");
            } else if (flooded) {
                check(got.Count == buffer.size(), "read " + std::to_string(got.Count) + " bytes");
                check(buffer.back() == c.Pattern.back(), "the data is not the flood's");
            }
        }
        return faults.str();
    }

    TcpPeer peer;
    std::atomic<bool> stop = false;
    std::future<std::size_t> flood;
    std::size_t sent = 0;
    int rounds = 0; // of purge and read; a fast flood makes many
};

TEST_P(HostilePeer, CostsNoMoreThanTheTimeoutsAndAFewMiB) {
    const long before = StatusKiB("VmRSS");
    TNetLine line(GetParam().Kind, Timing);
    StartFlood();
    const std::string faults = Run(line);
    const long grew = StatusKiB("VmHWM") - before;
    TearDown();
    EXPECT_EQ(faults, "");
    EXPECT_LT(grew, HeldAtMostKiB) << "KiB held while the peer sent " << sent << " bytes";
    EXPECT_GT(sent, std::size_t{8} << 20) << "the peer did not flood";
    // The greeting, the settings, a purge of 7 bytes a round and a bounded number of answers: a
    // reader that answered every request of a storm would send thousands.
    EXPECT_LE(peer.Receive(1 << 20, 300ms).size(), 15U + 52U + rounds * 7U + 64U * 3U)
        << rounds << " rounds";
}

const Bytes ComPortTaken{IAC, DO, 44};

INSTANTIATE_TEST_SUITE_P(
    Floods, HostilePeer,
    ::testing::Values(
        HostileCase{"RawData", TLineKind::RawTcp, {}, {0x55}, Expect::Data},
        HostileCase{"EscapedIac", TLineKind::Rfc2217, ComPortTaken, {IAC, IAC}, Expect::Data},
        HostileCase{"Nops", TLineKind::Rfc2217, ComPortTaken, {IAC, NOP}, Expect::NothingToRead},
        HostileCase{"StormBeforeTheOption", TLineKind::Rfc2217, {}, Storm(), Expect::OpenTimesOut},
        HostileCase{"StormAfterTheOption", TLineKind::Rfc2217, ComPortTaken, Storm(),
                    Expect::ApplyTimesOut},
        // A speed answer that never ends, and sub-negotiations never closed.
        HostileCase{"EndlessAnswer",
                    TLineKind::Rfc2217,
                    {IAC, DO, 44, IAC, SB, 44, 101},
                    {0x00},
                    Expect::ApplyTimesOut},
        HostileCase{"UnclosedSubs",
                    TLineKind::Rfc2217,
                    ComPortTaken,
                    {IAC, SB, 44, 101, 0, 0},
                    Expect::ApplyTimesOut}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace kve17::test
