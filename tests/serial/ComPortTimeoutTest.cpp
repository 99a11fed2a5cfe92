// Read and write time-outs over a pseudo-terminal. Margins are wide: the machine is shared.
#include "tests/serial/PtyPortFixture.h"

#include <array>
#include <cerrno>
#include <thread>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

using ComPortTimeoutTest = PtyPortTest;

// Sends `text` from the far end after `delay`, on a thread of its own.
std::jthread SendLater(Pty& pty, milliseconds delay, std::string text) {
    return std::jthread([&pty, delay, text] {
        std::this_thread::sleep_for(delay);
        pty.Send(text);
    });
}

TEST(ComPortRealTimeouts, EmptyReadOf130BytesWaitsMultiplierTimesCountPlusConstant) {
    Pty pty;
    TComPort port;
    LoadComPort1Settings(port);
    port.SetPort(pty.SlavePath());
    port.Open();
    std::array<std::uint8_t, 130> buffer{};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 0);
    const milliseconds took = Since(start);
    EXPECT_GE(took, 13900ms);
    EXPECT_LT(took, 15500ms);
}

TEST_F(ComPortTimeoutTest, ReadReturnsAsSoonAsTheBytesAskedForAreIn) {
    SetReadTimeouts(port, 1000, 100, 5000);
    port.Open();
    auto sender = SendLater(pty, 100ms, "hello");
    std::array<std::uint8_t, 5> buffer{};
    const auto start = Clock::now();
    ASSERT_EQ(port.Read(buffer), 5);
    EXPECT_LT(Since(start), 700ms);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "hello");
}

TEST_F(ComPortTimeoutTest, ReplyThatStopsEarlyEndsOneIntervalAfterItsLastByte) {
    SetReadTimeouts(port, 200, 100, 5000);
    port.Open();
    auto sender = SendLater(pty, 50ms, "abc");
    std::array<std::uint8_t, 10> buffer{};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 3);
    const milliseconds took = Since(start);
    EXPECT_GE(took, 240ms);
    EXPECT_LT(took, 1500ms); // the total would be 6 s
}

TEST_F(ComPortTimeoutTest, IntervalDoesNotRunBeforeTheFirstByte) {
    SetReadTimeouts(port, 30, 0, 500);
    port.Open();
    std::array<std::uint8_t, 4> buffer{};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 0);
    EXPECT_GE(Since(start), 480ms);
}

TEST_F(ComPortTimeoutTest, TotalCountsFromTheStartOfTheReadWhileBytesTrickleIn) {
    SetReadTimeouts(port, 300, 20, 100); // 20 bytes: 500 ms in all
    port.Open();
    std::jthread sender([this](std::stop_token stop) {
        for (int i = 0; i < 40 && !stop.stop_requested(); ++i) {
            pty.Send("x");
            std::this_thread::sleep_for(50ms);
        }
    });
    std::array<std::uint8_t, 20> buffer{};
    const auto start = Clock::now();
    const int got = port.Read(buffer);
    const milliseconds took = Since(start);
    EXPECT_GT(got, 0);
    EXPECT_LT(got, 20);
    EXPECT_GE(took, 480ms);
    EXPECT_LT(took, 1200ms);
}

TEST_F(ComPortTimeoutTest, BytesQueuedBeforeTheReadAreReturnedAtOnce) {
    port.Open();
    pty.Send("queued");
    ASSERT_TRUE(pty.WaitDelivered(1000ms));
    SetReadTimeouts(port, 1000, 0, 5000);
    std::array<std::uint8_t, 6> buffer{};
    const auto start = Clock::now();
    ASSERT_EQ(port.Read(buffer), 6);
    EXPECT_LT(Since(start), 500ms);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "queued");
}

TEST(ComPortDefaultTimeouts, ReadReturnsAtOnceWithWhatIsQueued) {
    Pty pty;
    TComPort port; // constructor defaults: interval -1, totals 0
    port.SetPort(pty.SlavePath());
    port.Open();
    std::array<std::uint8_t, 10> buffer{};
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 0);
    EXPECT_LT(Since(start), 100ms);

    pty.Send("abcd");
    ASSERT_TRUE(pty.WaitDelivered(1000ms));
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 4);
    EXPECT_LT(Since(start), 100ms);
}

TEST_F(ComPortTimeoutTest, WaitForAnyReturnsWithTheFirstBytes) {
    SetReadTimeouts(port, -1, -1, 3000);
    port.Open();
    auto sender = SendLater(pty, 100ms, "z");
    std::array<std::uint8_t, 10> buffer{};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 1);
    EXPECT_LT(Since(start), 1000ms);
}

TEST_F(ComPortTimeoutTest, ClearBufferDiscardsReceivedBytesOnly) {
    port.Open();
    pty.Send("stale");
    ASSERT_TRUE(pty.WaitDelivered(1000ms));
    port.ClearBuffer(true, true);
    pty.Send("fresh");
    std::array<std::uint8_t, 10> buffer{};
    const int got = port.Read(buffer);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), "fresh");
}

TEST_F(ComPortTimeoutTest, CloseDiscardsUnreadInput) {
    port.Open();
    pty.Send("stale");
    ASSERT_TRUE(pty.WaitDelivered(1000ms));
    port.Close();
    port.Open();
    std::array<std::uint8_t, 10> buffer{};
    EXPECT_EQ(port.Read(buffer), 0);
}

TEST_F(ComPortTimeoutTest, WriteReachesTheFarEnd) {
    port.Open();
    const std::array<std::uint8_t, 8> frame = {3, 67, 0, 1, 0, 0, 0xAB, 0xCD};
    EXPECT_EQ(port.Write(frame), 8);
    const std::vector<std::uint8_t> got = pty.Receive(8, 1000ms);
    EXPECT_EQ(got, std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

TEST_F(ComPortTimeoutTest, WriteToALineThatTakesNothingReturnsTheShortCountAtItsTimeOut) {
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(300);
    port.Open();
    const std::vector<std::uint8_t> bytes(1 << 20, 0x55); // more than the pty holds
    const auto start = Clock::now();
    const int sent = port.Write(bytes);
    const milliseconds took = Since(start);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(bytes.size()));
    EXPECT_GE(took, 280ms);
    EXPECT_LT(took, 1500ms);
}

TEST_F(ComPortTimeoutTest, HangUpDuringAReadRaisesCode3AtOnce) {
    SetReadTimeouts(port, 100, 100, 1000); // 14 s for 130 bytes
    port.Open();
    std::jthread hangUp([this] {
        std::this_thread::sleep_for(100ms);
        pty.CloseMaster();
    });
    std::array<std::uint8_t, 130> buffer{};
    const auto start = Clock::now();
    const EComPort error = ExpectComError([&] { port.Read(buffer); }, 3);
    EXPECT_EQ(error.SystemError, EIO);
    EXPECT_LT(Since(start), 2000ms);
}

TEST_F(ComPortTimeoutTest, WriteToAHungUpLineRaisesCode2) {
    port.Open();
    pty.CloseMaster();
    const std::array<std::uint8_t, 3> bytes = {1, 2, 3};
    EXPECT_EQ(ExpectComError([&] { port.Write(bytes); }, 2).SystemError, EIO);
}

} // namespace
} // namespace kve17::test
