// The simulator's TCP server when its line goes away under a connected client.
#include "tools/sim/TcpRelay.h"

#include "tests/support/Pty.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

constexpr int PatienceMs = 10000;

// A client connected by hand, so that the test sees exactly when the server closes.
class Client {
public:
    explicit Client(const std::string& address) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port =
            htons(static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    bool Send(std::string_view text) const {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // True when the server ends the connection within the patience.
    bool ClosedByServer() const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, PatienceMs) <= 0)
            return false;
        char byte = 0;
        return ::recv(fd_, &byte, 1, 0) <= 0;
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(TcpRelay, ALineThatHangsUpEndsTheConnectionInsteadOfSpinning) {
    Pty pty;
    sim::TcpRelay relay(pty.SlavePath(), "127.0.0.1", 0);
    Client client(relay.Address());
    ASSERT_TRUE(client.Connected()) << relay.Address();
    // The bytes crossing show the relay holds the line for this client.
    ASSERT_TRUE(client.Send("ping"));
    const auto got = pty.Receive(4, std::chrono::milliseconds(PatienceMs));
    ASSERT_EQ(std::string(got.begin(), got.end()), "ping");

    pty.CloseMaster();
    EXPECT_TRUE(client.ClosedByServer());
}

} // namespace
} // namespace kve17::test
