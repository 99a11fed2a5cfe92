// The service manager's notifications as a service manager receives them: datagrams on the
// socket named in $NOTIFY_SOCKET, the watchdog's no more often than half its interval.
#include "serve/SystemdNotify.h"

#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kve17::serve {
namespace {

using namespace std::chrono_literals;

class NotifySocket : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        const std::string name = "kve17-notify-" + std::to_string(::getpid());
        // A path, or a name in the abstract namespace ("@name").
        path = GetParam() ? "@" + name : ::testing::TempDir() + name;
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, path.size());
        if (GetParam())
            a.sun_path[0] = '\0';
        ::unlink(path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a),
                         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size())),
                  0);
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
        ::setenv("WATCHDOG_USEC", "200000", 1);
    }
    void TearDown() override {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::close(fd);
        if (!GetParam())
            ::unlink(path.c_str());
    }

    // The next datagram within a short wait, "" when none came.
    std::string Next() const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) != 1)
            return "";
        std::array<char, 256> text{};
        const ssize_t n = ::recv(fd, text.data(), text.size(), 0);
        return n > 0 ? std::string(text.data(), static_cast<std::size_t>(n)) : "";
    }

    int fd = -1;
    std::string path;
};

TEST_P(NotifySocket, ReadyWatchdogAtHalfTheIntervalAndStopping) {
    SystemdNotify notify;
    notify.Ready();
    EXPECT_EQ(Next(), "READY=1\nSTATUS=serving");
    notify.Alive(); // too soon after the last word
    EXPECT_EQ(Next(), "");
    std::this_thread::sleep_for(110ms);
    notify.Alive();
    EXPECT_EQ(Next(), "WATCHDOG=1");
    notify.Stopping();
    EXPECT_EQ(Next(), "STOPPING=1");
}

INSTANTIATE_TEST_SUITE_P(PathAndAbstract, NotifySocket, ::testing::Bool());

} // namespace
} // namespace kve17::serve
