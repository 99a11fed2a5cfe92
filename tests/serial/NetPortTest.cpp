// Ports on serial device servers: the Telnet byte machine on its own, raw TCP and RFC 2217
// against a scripted server, and RFC 2217 through the distribution's device server onto a pty
// (raw TCP through it is read end to end in the tools' tests).
#include "serial/PortTarget.h"
#include "serial/Rfc2217.h"
#include "tests/serial/PtyPortFixture.h"
#include "tests/support/Ser2net.h"
#include "tests/support/TcpPeer.h"

#include <array>
#include <cerrno>
#include <future>
#include <numeric>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 0xFF, SB = 0xFA, SE = 0xF0, WILL = 0xFB, DO = 0xFD, DONT = 0xFE;

Bytes AllByteValues() {
    Bytes bytes(256);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

Bytes Feed(rfc2217::Stream& stream, const Bytes& in, Bytes* reply = nullptr) {
    Bytes data;
    Bytes answer;
    for (const std::uint8_t byte : in) // one at a time: every state must survive a split
        stream.Feed(std::span(&byte, 1), data, answer);
    if (reply)
        *reply = answer;
    return data;
}

TEST(TelnetBytes, RequestsAreBigEndianAndEveryIacIsDoubledInDataAndValues) {
    Bytes out;
    rfc2217::Escape(Bytes{0x01, 0xFF, 0x02}, out);
    EXPECT_EQ(out, (Bytes{0x01, 0xFF, 0xFF, 0x02}));
    EXPECT_EQ(rfc2217::Request(rfc2217::SetBaudRate, 9600, 4),
              (Bytes{IAC, SB, 44, 1, 0x00, 0x00, 0x25, 0x80, IAC, SE}));
    EXPECT_EQ(rfc2217::Request(rfc2217::SetBaudRate, 0x0001FFFF, 4),
              (Bytes{IAC, SB, 44, 1, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, IAC, SE}));
    EXPECT_EQ(rfc2217::Request(rfc2217::SetStopSize, 2, 1), (Bytes{IAC, SB, 44, 4, 2, IAC, SE}));
}

TEST(TelnetBytes, DataIsSeparatedFromNegotiationAndAnswersAreKept) {
    rfc2217::Stream stream;
    EXPECT_EQ(stream.Hello(),
              (Bytes{IAC, WILL, 44, IAC, WILL, 0, IAC, WILL, 3, IAC, DO, 0, IAC, DO, 3}));
    Bytes reply;
    const Bytes data =
        Feed(stream, {'A',  IAC,  IAC,  IAC, WILL, 1,   IAC, DO, 44,  IAC, SB,  44, 101, 0x00,
                      0x00, 0x25, 0x80, IAC, SE,   IAC, SB,  44, 103, 3,   IAC, SE, 'B'},
             &reply);
    EXPECT_EQ(data, (Bytes{'A', 0xFF, 'B'}));
    EXPECT_EQ(reply, (Bytes{IAC, DONT, 1})) << "the server's echo is refused";
    EXPECT_EQ(stream.ComPort(), rfc2217::OptionState::Accepted);
    EXPECT_EQ(stream.Answer(rfc2217::SetBaudRate), 9600U);
    EXPECT_EQ(stream.Answer(rfc2217::SetParity), 3U);
    EXPECT_FALSE(stream.Answer(rfc2217::SetDataSize));
}

TEST(TelnetBytes, RefusalAndMalformedAnswersAreNoticed) {
    rfc2217::Stream stream;
    (void)stream.Hello();
    Bytes reply;
    Feed(stream, {IAC, DONT, 44, IAC, SB, 44, 102, IAC, SE, IAC, SB, 44, 101, 1, 2, IAC, SE},
         &reply);
    EXPECT_EQ(stream.ComPort(), rfc2217::OptionState::Refused);
    EXPECT_EQ(reply, (Bytes{IAC, 0xFC, 44})) << "WONT confirms the refusal";
    EXPECT_TRUE(stream.Malformed(rfc2217::SetDataSize));
    EXPECT_TRUE(stream.Malformed(rfc2217::SetBaudRate));
    EXPECT_FALSE(stream.Answer(rfc2217::SetBaudRate));
}

TEST(PortTargets, AddressesAreSplitAndMalformedOnesRefused) {
    const auto v6 = ParsePortTarget("rfc2217://[fe80::1]:4001?echo");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Kind, TLineKind::Rfc2217);
    EXPECT_EQ(v6->Host, "fe80::1");
    EXPECT_EQ(v6->Service, "4001");
    EXPECT_TRUE(v6->Echo);
    const auto local = ParsePortTarget("/dev/ttyUSB0?echo");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->Kind, TLineKind::Terminal);
    EXPECT_EQ(local->Path, "/dev/ttyUSB0");
    EXPECT_TRUE(local->Echo);
    for (const char* bad : {"tcp://10.0.0.5", "tcp://10.0.0.5:0", "tcp://10.0.0.5:65536",
                            "tcp://:4001", "tcp://fe80::1:4001", "tcp://h:+80", "rfc2217://h:80x"})
        EXPECT_FALSE(ParsePortTarget(bad)) << bad;
}

class NetPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadComPort1Settings(port);
        SetReadTimeouts(port, 50, 10, 300);
    }

    // Opens the port on its own thread while the test plays the server.
    std::future<void> OpenAsync() {
        return std::async(std::launch::async, [this] { port.Open(); });
    }

    TcpPeer peer;
    TComPort port;
};

TEST_F(NetPortTest, RawTcpCarriesEveryByteValueUnchangedBothWays) {
    port.SetPort(peer.Address());
    port.Open();
    ASSERT_TRUE(peer.Accept(5s));
    const Bytes all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256);
    EXPECT_EQ(peer.Receive(256, 5s), all);
    peer.Send(all);
    Bytes got(256);
    SetReadTimeouts(port, 1000, 0, 5000);
    EXPECT_EQ(port.Read(got), 256);
    EXPECT_EQ(got, all);
}

TEST_F(NetPortTest, RawTcpReadKeepsTheTerminalsTimeouts) {
    port.SetPort(peer.Address());
    port.Open();
    ASSERT_TRUE(peer.Accept(5s));
    std::array<std::uint8_t, 10> buffer{};
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 0);
    EXPECT_GE(Since(start), 390ms) << "10 x 10 + 300 ms for a silent line";
    EXPECT_LT(Since(start), 3000ms);

    SetReadTimeouts(port, 200, 100, 5000);
    peer.Send(Bytes{1, 2, 3});
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer), 3);
    EXPECT_GE(Since(start), 190ms) << "one interval after the last byte";
    EXPECT_LT(Since(start), 3000ms) << "not the total of 6 s";
}

TEST_F(NetPortTest, LostConnectionReadsAsAHangUpAndOpeningAgainReconnects) {
    port.SetPort(peer.Address());
    port.Open();
    ASSERT_TRUE(peer.Accept(5s));
    peer.Drop();
    std::array<std::uint8_t, 4> buffer{};
    port.ClearBuffer(true, true); // the exchange purges first; that must not fail
    const EComPort lost = ExpectComError([&] { port.Read(buffer); }, 3);
    EXPECT_EQ(lost.SystemError, EIO);
    EXPECT_STREQ(lost.what(), "ReadFile function failed (Error: 5)");

    port.Close();
    port.Open();
    ASSERT_TRUE(peer.Accept(5s));
    peer.Send(Bytes{7, 8, 9, 10});
    EXPECT_EQ(port.Read(buffer), 4);
}

TEST_F(NetPortTest, RefusedServerOrBadAddressIsAFailedOpen) {
    peer.StopListening();
    port.SetPort(peer.Address());
    const EComPort refused = ExpectComError([&] { port.Open(); }, 1);
    EXPECT_EQ(refused.SystemError, ECONNREFUSED);
    EXPECT_STREQ(refused.what(), "Unable to open com port (Error: 111): the device server refuses "
                                 "the connection: another program holds its line, or nothing "
                                 "serves that port");
    EXPECT_TRUE(HeldElsewhere(refused)) << "a busy server may refuse: it is waited for";
    port.SetPort("rfc2217://127.0.0.1");
    const EComPort malformed = ExpectComError([&] { port.Open(); }, 1);
    EXPECT_EQ(malformed.SystemError, EINVAL);
    EXPECT_FALSE(HeldElsewhere(malformed));
    EXPECT_FALSE(port.Connected());
}

TEST_F(NetPortTest, ServerRefusingOrIgnoringTheComPortOptionFailsTheOpen) {
    port.SetPort(peer.Address("rfc2217"));
    auto open = OpenAsync();
    ASSERT_TRUE(peer.Accept(5s));
    peer.Send(Bytes{IAC, DONT, 44});
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(ExpectComError([&] { open.get(); }, 1).SystemError, EPROTONOSUPPORT);

    open = OpenAsync(); // a raw server given as RFC 2217 says nothing at all
    ASSERT_TRUE(peer.Accept(5s));
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(ExpectComError([&] { open.get(); }, 1).SystemError, ETIMEDOUT);
}

// The scripted server takes the option, reads the client's greeting (15 bytes) and its seven
// requests (52 bytes), and answers the four line settings with `answers`.
void AnswerSettings(TcpPeer& peer, const std::vector<Bytes>& answers) {
    peer.Send(Bytes{IAC, DO, 44});
    ASSERT_EQ(peer.Receive(67, 5s).size(), 67U);
    for (const Bytes& answer : answers) {
        Bytes frame{IAC, SB, 44};
        frame.insert(frame.end(), answer.begin(), answer.end());
        frame.insert(frame.end(), {IAC, SE});
        peer.Send(frame);
    }
}

TEST_F(NetPortTest, SettingsTheServerAnswersOtherwiseFailWithCode7) {
    port.SetPort(peer.Address("rfc2217"));
    port.SetBaudRate(br19200);
    auto open = OpenAsync();
    ASSERT_TRUE(peer.Accept(5s));
    // The server applied 9600 instead of 19200.
    AnswerSettings(peer, {{101, 0, 0, 0x25, 0x80}, {102, 8}, {103, 1}, {104, 1}});
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(ExpectComError([&] { open.get(); }, 7).SystemError, EINVAL);

    port.SetBaudRate(br9600);
    open = OpenAsync();
    ASSERT_TRUE(peer.Accept(5s));
    AnswerSettings(peer, {{101, 0, 0, 0x25, 0x80}, {102, 8, 8}, {103, 1}, {104, 1}});
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(ExpectComError([&] { open.get(); }, 7).SystemError, EPROTO);

    open = OpenAsync();
    ASSERT_TRUE(peer.Accept(5s));
    AnswerSettings(peer, {{101, 0, 0, 0x25, 0x80}, {102, 8}, {103, 1}, {104, 1}});
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(open.get()) << "matching answers, and no answer to the modem lines";
}

TEST_F(NetPortTest, SpeedAnswerWithinTwoPercentIsTheSpeedAsked) {
    port.SetPort(peer.Address("rfc2217"));
    port.SetBaudRate(br19200);
    // 19200 asked: 19392 and 19008 are 1 % off, 19776 and 18624 3 %.
    const std::vector<std::pair<Bytes, bool>> answers{{{0, 0, 0x4B, 0xC0}, true},
                                                      {{0, 0, 0x4A, 0x40}, true},
                                                      {{0, 0, 0x4D, 0x40}, false},
                                                      {{0, 0, 0x48, 0xC0}, false}};
    for (const auto& [speed, accepted] : answers) {
        auto open = OpenAsync();
        ASSERT_TRUE(peer.Accept(5s));
        Bytes answer{101};
        answer.insert(answer.end(), speed.begin(), speed.end());
        AnswerSettings(peer, {answer, {102, 8}, {103, 1}, {104, 1}});
        ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
        if (accepted)
            EXPECT_NO_THROW(open.get()) << int(speed[2]) << " " << int(speed[3]);
        else
            EXPECT_EQ(ExpectComError([&] { open.get(); }, 7).SystemError, EINVAL);
        port.Close();
    }
}

// A server whose line another program holds takes the connection, says so in its own words,
// and closes it.
TEST_F(NetPortTest, ServerThatClosesAtOnceIsBusyAndOneThatStaysIsNot) {
    const std::string busy = "Unable to open com port (Error: 16): the device server is busy: "
                             "another program holds its line";
    const std::string inUse = "Port already in use\r\n";
    for (const std::string scheme : {"tcp", "rfc2217"}) {
        port.SetPort(peer.Address(scheme));
        auto open = OpenAsync();
        ASSERT_TRUE(peer.Accept(5s));
        Bytes words = scheme == "tcp" ? Bytes{} : Bytes{IAC, DO, 44};
        words.insert(words.end(), inUse.begin(), inUse.end());
        peer.Send(words);
        peer.Drop();
        ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
        const EComPort refused = ExpectComError([&] { open.get(); }, 1);
        EXPECT_EQ(refused.SystemError, EBUSY) << scheme;
        EXPECT_EQ(refused.what(), busy) << scheme;
        EXPECT_FALSE(port.Connected());
    }
    // What a free line sends while the connection is watched is line data.
    port.SetPort(peer.Address());
    auto open = OpenAsync();
    ASSERT_TRUE(peer.Accept(5s));
    peer.Send(Bytes{1, 2, 3});
    ASSERT_EQ(open.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(open.get());
    Bytes got(3);
    EXPECT_EQ(port.Read(got), 3);
    EXPECT_EQ(got, (Bytes{1, 2, 3}));
}

class Ser2netPortTest : public NetPortTest {
protected:
    void SetUp() override {
        if (!Ser2net::Installed())
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        NetPortTest::SetUp();
        server = std::make_unique<Ser2net>(pty.SlavePath());
    }

    Pty pty;
    std::unique_ptr<Ser2net> server;
};

TEST_F(Ser2netPortTest, SettingsChosenHereReachTheRemoteLine) {
    port.SetPort(server->RfcAddress());
    port.SetBaudRate(br19200);
    port.SetStopBits(sbOneStopBit);
    port.Open();
    EXPECT_EQ(pty.SlaveRate(), 19200);
    EXPECT_EQ(pty.SlaveSettings().c_cflag & CSTOPB, 0U);

    port.SetBaudRate(br115200); // while connected: applied at once
    port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(pty.SlaveRate(), 115200);
    EXPECT_NE(pty.SlaveSettings().c_cflag & CSTOPB, 0U);
}

TEST_F(Ser2netPortTest, IacBytesCrossTheServerUnchangedBothWays) {
    port.SetPort(server->RfcAddress());
    port.Open();
    const Bytes sent{0xFF, 0x00, 0xFF, 0xFF, 0x41, 0xFA, 0xF0};
    EXPECT_EQ(port.Write(sent), 7);
    EXPECT_EQ(pty.Receive(7, 5s), sent);
    pty.Send(sent);
    Bytes got(7);
    SetReadTimeouts(port, 1000, 0, 5000);
    EXPECT_EQ(port.Read(got), 7);
    EXPECT_EQ(got, sent);
}

} // namespace
} // namespace kve17::test
