#include "tools/sim/TcpRelay.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

// A client that stops reading holds the line back no longer than this, as a full buffer of a
// device server would.
constexpr auto StuckClient = std::chrono::seconds{1};

[[noreturn]] void Fail(const std::string& what, int error) {
    throw std::runtime_error("tcp: " + what + ": " + std::strerror(error));
}

int Listen(const std::string& host, int port, std::string& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0)
        throw std::runtime_error("tcp: " + host + ": " + gai_strerror(error));
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int family = found->ai_family;
    if (fd < 0) {
        freeaddrinfo(found);
        Fail("socket", errno);
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4) != 0) {
        const int error = errno;
        freeaddrinfo(found);
        close(fd);
        Fail(host + ":" + service, error);
    }
    freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    const int actual = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                                : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    const bool v6 = host.find(':') != std::string::npos;
    address = "tcp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(actual);
    return fd;
}

} // namespace

TcpRelay::TcpRelay(const std::string& linePath, const std::string& host, int port)
    : linePath_(linePath) {
    listener_ = Listen(host, port, address_);
    thread_ = std::thread([this] { Serve(); });
}

TcpRelay::~TcpRelay() {
    waker_.Stop();
    thread_.join();
    Drop();
    close(listener_);
}

void TcpRelay::Drop() {
    if (client_ < 0)
        return;
    close(client_);
    close(line_);
    client_ = -1;
    line_ = -1;
}

void TcpRelay::Serve() {
    for (;;) {
        std::array<pollfd, 4> p{{{waker_.Fd(), POLLIN, 0},
                                 {listener_, POLLIN, 0},
                                 {line_, POLLIN, 0},
                                 {client_, POLLIN, 0}}};
        if (poll(p.data(), p.size(), -1) < 0 && errno != EINTR)
            return;
        if (p[0].revents != 0)
            return;
        if (p[1].revents & POLLIN)
            Accept();
        // A line hung up or failed stays ready for poll: the connection ends with it rather than
        // the thread spinning on it.
        const bool lineGone = (p[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (((p[2].revents & POLLIN) && !Pass(line_, client_)) || lineGone)
            Drop();
        if (p[3].revents != 0 && client_ >= 0 && !Pass(client_, line_))
            Drop();
    }
}

void TcpRelay::Accept() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    // One client at a time, and only while no program holds the line, locked as they lock it.
    const int line =
        client_ >= 0 ? -1 : open(linePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line < 0 || flock(line, LOCK_EX | LOCK_NB) != 0) {
        if (line >= 0)
            close(line);
        close(fd);
        return;
    }
    line_ = line;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    client_ = fd;
}

bool TcpRelay::Pass(int from, int to) {
    std::array<std::uint8_t, 4096> chunk{};
    const ssize_t got = read(from, chunk.data(), chunk.size());
    if (got == 0 && from == client_)
        return false; // the client has gone
    if (got < 0 && errno != EAGAIN && errno != EINTR)
        return false; // the client, or the line, has failed
    if (got < 0 || to < 0)
        return true;
    const auto giveUp = Clock::now() + StuckClient;
    for (ssize_t at = 0; at < got;) {
        const void* rest = chunk.data() + at;
        const auto size = static_cast<std::size_t>(got - at);
        const ssize_t put =
            to == client_ ? send(to, rest, size, MSG_NOSIGNAL) : write(to, rest, size);
        if (put > 0) {
            at += put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return to != client_;
        if (Clock::now() >= giveUp || !waker_.WaitFd(to, POLLOUT, giveUp - Clock::now()))
            return true;
    }
    return true;
}

} // namespace kve17::sim
