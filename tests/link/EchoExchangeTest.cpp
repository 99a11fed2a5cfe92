// An echoing adapter whose echo comes back garbled: the real driver on a network line, a scripted
// adapter on the other end. A garbled echo is one failed try, like a garbled reply.
#include "link/Comportclass.h"
#include "link/Crc16.h"
#include "link/LinkCodes.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TcpPeer.h"

#include <array>
#include <future>
#include <gtest/gtest.h>

namespace kve17 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::ScriptedPrompt;
using test::TcpPeer;

constexpr std::uint8_t ReadBlock = 67;
constexpr std::array<std::uint8_t, 2> Block1{0x00, 0x01};
const Bytes Request{0x01, 0x43, 0x00, 0x01, 0x31, 0xCC}; // block 1 of device 1

// Block 1 of device 1: header, 128 data bytes 0, 1, 2, ..., checksum low byte first.
Bytes BlockReply() {
    Bytes frame{0x01, ReadBlock, 128};
    for (int i = 0; i < 128; ++i)
        frame.push_back(static_cast<std::uint8_t>(i));
    const std::uint16_t crc = Crc16(static_cast<int>(frame.size()), frame.data());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

Bytes Garbled(Bytes bytes) {
    bytes[2] ^= 0x10;
    return bytes;
}

class EchoExchange : public ::testing::Test {
protected:
    void SetUp() override {
        LoadComPort1Settings(port);
        port.Timeouts().SetReadInterval(50);
        port.Timeouts().SetReadTotalMultiplier(1);
        port.Timeouts().SetReadTotalConstant(250);
        port.SetPort(peer.Address() + "?echo");
        port.Open();
        ASSERT_TRUE(peer.Accept(5s));
        link.SetDelayTx(0);
    }

    // Reads block 1 on a thread of its own while the test plays the adapter.
    std::future<int> ReadBlock1() {
        return std::async(std::launch::async,
                          [this] { return link.Exchange(0, ReadBlock, 2, Block1.data(), reply); });
    }

    // Takes one request and answers it with `echo` and then `answer`; false when none came.
    bool Answer(const Bytes& echo, const Bytes& answer) {
        if (peer.Receive(Request.size(), 5s) != Request)
            return false;
        Bytes both = echo;
        both.insert(both.end(), answer.begin(), answer.end());
        peer.Send(both);
        return true;
    }

    TcpPeer peer;
    TComPort port;
    ScriptedPrompt prompt;
    TComPortClass link{port, prompt, TLinkTiming{1ms}};
    std::array<std::uint8_t, 133> reply{};
};

TEST_F(EchoExchange, OneGarbledEchoIsRepeatedAndTheBlockRead) {
    auto result = ReadBlock1();
    ASSERT_TRUE(Answer(Garbled(Request), BlockReply()));
    ASSERT_TRUE(Answer(Request, BlockReply()));
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), LinkCode::Ok);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), BlockReply());
    EXPECT_TRUE(peer.Receive(1, 300ms).empty()) << "no third request";
}

TEST_F(EchoExchange, EchoGarbledOnEveryTryIsReportedWithTheEchoTextAfterFiveTries) {
    auto result = ReadBlock1();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Answer(Garbled(Request), BlockReply())) << "try " << i + 1;
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    try {
        result.get();
        ADD_FAILURE() << "no failure";
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "ReadFile function failed (Error: 74): the echo differs from the "
                               "bytes sent (does the adapter echo?)");
    }
    EXPECT_TRUE(peer.Receive(1, 300ms).empty()) << "no sixth request";
}

// The last try decides what is said: a garbled echo before it is not reported.
TEST_F(EchoExchange, GarbledEchoThenSilenceEndsAsNoReply) {
    auto result = ReadBlock1();
    ASSERT_TRUE(Answer(Garbled(Request), {}));
    for (int i = 1; i < 5; ++i)
        ASSERT_TRUE(Answer(Request, {})) << "try " << i + 1;
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), LinkCode::NoReply);
}

} // namespace
} // namespace kve17
