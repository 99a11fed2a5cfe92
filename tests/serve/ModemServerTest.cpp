// The server with a stand-in reader, against plain TCP clients playing modems: identification
// (text and hex IDs, unknown IDs, none in time), the caps, a modem that calls again, and the
// schedule's arithmetic on a clock the test sets.
#include "serve/ModemServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kve17::serve {
namespace {

using namespace std::chrono_literals;

class Recorder : public ILineReader, public ILog, public INotify {
public:
    ReadOutcome Read(std::size_t site, std::unique_ptr<IByteLine> line) override {
        {
            const std::lock_guard lock(mutex);
            reads.push_back(site);
        }
        if (!holdLine)
            return {true, "read"};
        // A long reading: it ends when its connection does.
        if (line->Open("modem") != 0)
            return {false, "lost"};
        std::array<std::uint8_t, 1> byte{};
        for (int i = 0; i < 50; ++i)
            if (line->Read(byte, {0, 0, 100}).Error != 0)
                return {false, "lost"};
        return {true, "read"};
    }
    void Say(std::string_view line) override {
        const std::lock_guard lock(mutex);
        log += std::string(line) + "\n";
    }
    void Ready() override {}
    void Alive() override {}
    void Stopping() override {}

    std::size_t Reads() {
        const std::lock_guard lock(mutex);
        return reads.size();
    }
    std::string Log() {
        const std::lock_guard lock(mutex);
        return log;
    }

    bool holdLine = false;
    std::mutex mutex;
    std::vector<std::size_t> reads;
    std::string log;
};

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds patience = 3s) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A clock the test moves on, standing still between moves or running on from them; the
// server's loop looks at it at least once a second.
class SetClock : public IClock {
public:
    explicit SetClock(bool runs = false) : runs(runs) {}
    Clock::time_point Now() const override { return (runs ? Clock::now() : start) + offset.load(); }
    std::chrono::system_clock::time_point Wall() const override {
        return std::chrono::system_clock::now() + offset.load();
    }
    const bool runs;
    const Clock::time_point start = Clock::now();
    std::atomic<std::chrono::seconds> offset{0s};
};

class ServerFixture : public ::testing::Test {
protected:
    void Start(ServerLimits limits) {
        std::vector<ModemSite> sites(2);
        sites[0].Name = "text";
        sites[0].Modem.Id = {'8', '6', '1', '2', '3', '4'};
        sites[0].Modem.Heartbeat = {0xFE, 0xFD};
        sites[1].Name = "hex";
        sites[1].Modem.Id = {0x01, 0x02};
        server.emplace(std::move(sites), std::vector<ListenAddress>{{"127.0.0.1", 0}}, limits,
                       ServerWiring{recorder, recorder, clock, recorder}, "");
        const std::string address = server->Addresses().front();
        port = std::stoi(address.substr(address.rfind(':') + 1));
        thread = std::thread([this] { server->Run(); });
    }
    void TearDown() override {
        if (server) {
            server->Stop();
            thread.join();
        }
        for (const int fd : clients)
            ::close(fd);
    }

    int Dial(std::string_view first = {}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        if (!first.empty()) {
            EXPECT_EQ(::send(fd, first.data(), first.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(first.size()));
        }
        clients.push_back(fd);
        return fd;
    }

    // True when the server closed the connection within the patience.
    static bool ClosedByServer(int fd, std::chrono::milliseconds patience) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(patience.count())) != 1)
            return false;
        char byte = 0;
        return ::recv(fd, &byte, 1, 0) <= 0;
    }

    Recorder recorder;
    SetClock clock{true};
    std::optional<ModemServer> server;
    std::thread thread;
    int port = 0;
    std::vector<int> clients;
};

TEST_F(ServerFixture, TextAndHexIdsReadTheirLinesUnknownIdsAreTurnedAwayAndListed) {
    Start({});
    // A stranger redialling is named once an hour, and every call is counted.
    for (int call = 0; call < 3; ++call)
        EXPECT_TRUE(ClosedByServer(Dial("999999"), 2s));
    clock.offset = 3600s;
    EXPECT_TRUE(ClosedByServer(Dial("999999"), 2s));
    // Heartbeats before the ID, the second in two receives, and one behind it.
    const int beating = Dial("\xfe\xfd\xfe");
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(::send(beating,
                     "\xfd"
                     "861234\xfe\xfd",
                     9, MSG_NOSIGNAL),
              9);
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 1; })) << recorder.Log();
    const int split = Dial("\x01");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Reads(), 1U); // half an ID is waited for
    ASSERT_EQ(::send(split, "\x02", 1, MSG_NOSIGNAL), 1);
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 2; }));
    server->Stop();
    thread.join();
    EXPECT_EQ(recorder.reads, (std::vector<std::size_t>{0, 1}));
    const std::string log = recorder.Log();
    const auto first = log.find("unknown modem ID 999999 (not in the configuration)\n");
    ASSERT_NE(first, std::string::npos) << log;
    const auto again = log.find("unknown modem ID 999999", first + 1);
    ASSERT_NE(again, std::string::npos) << log;
    EXPECT_EQ(log.substr(again, log.find('\n', again) - again),
              "unknown modem ID 999999 (not in the configuration), 2 more calls since it was "
              "last named");
    EXPECT_EQ(log.find("unknown modem ID", again + 1), std::string::npos) << log;
    const nlohmann::json unknown = server->Status()["unknown"];
    ASSERT_EQ(unknown.size(), 1U);
    EXPECT_EQ(unknown[0]["modem"], "999999");
    EXPECT_EQ(unknown[0]["calls"], 4);
    server.reset();
}

TEST_F(ServerFixture, NoIdWithinTheTimeOutIsClosed) {
    ServerLimits limits;
    limits.IdentifyTimeout = 300ms;
    Start(limits);
    const int silent = Dial();
    const auto start = Clock::now();
    EXPECT_TRUE(ClosedByServer(silent, 3s));
    EXPECT_GE(Clock::now() - start, 250ms);
    EXPECT_NE(recorder.Log().find("no modem ID within"), std::string::npos) << recorder.Log();
    EXPECT_EQ(recorder.Reads(), 0U);
}

TEST_F(ServerFixture, PastTheCapsANewConnectionIsRefusedAtOnce) {
    ServerLimits limits;
    limits.IdentifyTimeout = 10s;
    limits.MaxUnidentified = 2;
    limits.MaxConnections = 4;
    Start(limits);
    Dial("861234");
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 1; }));
    const int silent = Dial();
    Dial();
    EXPECT_TRUE(ClosedByServer(Dial(), 2s)); // a third without an ID
    EXPECT_NE(recorder.Log().find("2 connections have not sent their ID yet"), std::string::npos);
    ::shutdown(silent, SHUT_RDWR);
    ASSERT_TRUE(Eventually([&] { return recorder.Log().find("ended") != std::string::npos; }));
    Dial("\x01\x02");
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 2; }));
    Dial();                                  // the fourth connection
    EXPECT_TRUE(ClosedByServer(Dial(), 2s)); // and a fifth
    EXPECT_NE(recorder.Log().find("4 connections already"), std::string::npos) << recorder.Log();
}

TEST_F(ServerFixture, AModemCallingAgainReplacesItsConnectionEvenInAReading) {
    recorder.holdLine = true;
    Start({});
    const int first = Dial("861234");
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 1; }));
    Dial("861234");
    EXPECT_TRUE(ClosedByServer(first, 3s)) << recorder.Log();
    // The cut reading failed, so the new connection is read at once.
    ASSERT_TRUE(Eventually([&] { return recorder.Reads() == 2; }));
    EXPECT_NE(recorder.Log().find("called again"), std::string::npos) << recorder.Log();
}

TEST(ServerSchedule, AConnectedModemIsReadAgainWhenItsIntervalHasPassed) {
    Recorder recorder;
    SetClock clock;
    std::vector<ModemSite> sites(1);
    sites[0].Name = "hourly";
    sites[0].Modem.Id = {'H', '1'};
    sites[0].Every = 3600s;
    ModemServer server(std::move(sites), {{"127.0.0.1", 0}}, {},
                       ServerWiring{recorder, recorder, clock, recorder}, "");
    std::thread loop([&] { server.Run(); });
    const std::string address = server.Addresses().front();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port =
        htons(static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::send(fd, "H1", 2, MSG_NOSIGNAL), 2);
    EXPECT_TRUE(Eventually([&] { return recorder.Reads() == 1; }));
    clock.offset = 3599s;
    std::this_thread::sleep_for(1200ms); // more than one turn of the loop
    EXPECT_EQ(recorder.Reads(), 1U);
    clock.offset = 3600s;
    EXPECT_TRUE(Eventually([&] { return recorder.Reads() == 2; }));
    clock.offset = 7199s;
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(recorder.Reads(), 2U);
    server.Stop();
    loop.join();
    ::close(fd);
}

TEST(Schedule, EveryAndTheNextReading) {
    EXPECT_EQ(ParseEvery("1h"), std::chrono::seconds(3600));
    EXPECT_EQ(ParseEvery("15m"), std::chrono::seconds(900));
    EXPECT_EQ(ParseEvery("1d"), std::chrono::seconds(86400));
    EXPECT_EQ(ParseEvery("2s"), std::chrono::seconds(2));
    for (const char* bad : {"", "h", "0h", "-1h", "1w", "1.5h", "400d", " 1h"})
        EXPECT_FALSE(ParseEvery(bad)) << bad;
    const Clock::time_point t0{std::chrono::hours(100)};
    // Never read, or failed last: at once.
    EXPECT_EQ(NextReading(std::nullopt, false, 3600s, t0), t0);
    EXPECT_EQ(NextReading(t0 - 10s, false, 3600s, t0), t0);
    // Read 10 minutes ago: in 50 minutes; overdue: now.
    EXPECT_EQ(NextReading(t0 - 600s, true, 3600s, t0), t0 + 3000s);
    EXPECT_EQ(NextReading(t0 - 7200s, true, 3600s, t0), t0);
}

TEST(Schedule, ListenAddresses) {
    EXPECT_EQ(ParseListen("4001")->Port, 4001);
    EXPECT_EQ(ParseListen("4001")->Host, "");
    EXPECT_EQ(ParseListen("10.0.0.1:4001")->Host, "10.0.0.1");
    EXPECT_EQ(ParseListen("[::1]:4001")->Host, "::1");
    for (const char* bad : {"", "x", "70000", ":4001", "::1:4001", "h:-1"})
        EXPECT_FALSE(ParseListen(bad)) << bad;
}

} // namespace
} // namespace kve17::serve
