#include "serial/NetSocket.h"

#include "serial/StopSignals.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kve17::net {

namespace {

int Lost(int error) {
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case ENOTCONN:
        return EIO;
    default:
        return error;
    }
}

int PollMs(std::optional<Clock::time_point> deadline) {
    if (!deadline)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

// Polls `fd` for `events` together with the stop descriptor (poll skips it while it is -1), which
// catches a stop signal that comes between a caller's check of the flag and the wait. EINTR when
// that descriptor is readable.
int PollOrStop(int fd, short events, std::optional<Clock::time_point> deadline, int& ready) {
    pollfd entries[2] = {{fd, events, 0}, {StopSignalFd(), POLLIN, 0}};
    ready = ::poll(entries, 2, PollMs(deadline));
    if (ready < 0)
        return errno;
    return (entries[1].revents & POLLIN) != 0 ? EINTR : 0;
}

// Waits for `events` until the deadline (`ready` 0 when it passed); a stop signal ends the wait
// with EINTR, as it does on a terminal line.
int WaitOrStop(int fd, short events, std::optional<Clock::time_point> deadline, int& ready) {
    for (;;) {
        if (StopSignal() != 0)
            return EINTR;
        const int error = PollOrStop(fd, events, deadline, ready);
        if (error == EINTR && ready < 0)
            continue; // an interrupted poll: a stop signal is seen at the top
        return error;
    }
}

using Addresses = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// A name lookup on a thread of its own. The system's resolver can be neither interrupted nor
// given a deadline, so the caller waits for its answer as long as it may and then leaves it
// behind: the thread finishes alone and frees what it found.
class Lookup {
public:
    Lookup() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Lookup() {
        if (found_ != nullptr)
            ::freeaddrinfo(found_);
        if (wake_ >= 0)
            ::close(wake_);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    int WakeFd() const { return wake_; }

    void Run(const std::string& host, const std::string& service) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        const std::lock_guard lock(mutex_);
        found_ = status == 0 ? found : nullptr;
        done_ = true;
        const std::uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }

    // The addresses found once the lookup has ended; empty before, or when there are none.
    Addresses Take(bool& done) {
        const std::lock_guard lock(mutex_);
        done = done_;
        return {std::exchange(found_, nullptr), &::freeaddrinfo};
    }

private:
    int wake_;
    std::mutex mutex_;
    addrinfo* found_ = nullptr;
    bool done_ = false;
};

// An address written as numbers needs no lookup and no thread.
Addresses Numeric(const std::string& host, const std::string& service) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0)
        found = nullptr;
    return {found, &::freeaddrinfo};
}

// The addresses of `host` by the deadline. 0, EHOSTUNREACH for a name that does not resolve,
// ETIMEDOUT when the resolver has not answered by the deadline, EINTR on a stop signal.
int Resolve(const std::string& host, const std::string& service, Clock::time_point deadline,
            Addresses& found) {
    found = Numeric(host, service);
    if (found)
        return 0;
    const auto lookup = std::make_shared<Lookup>();
    if (lookup->WakeFd() < 0)
        return errno;
    try {
        std::thread([lookup, host, service] { lookup->Run(host, service); }).detach();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    int ready = 0;
    if (const int error = WaitOrStop(lookup->WakeFd(), POLLIN, deadline, ready))
        return error;
    bool done = false;
    found = lookup->Take(done);
    if (!done)
        return ETIMEDOUT;
    return found ? 0 : EHOSTUNREACH;
}

// One address: a non-blocking connect that waits no longer than the deadline.
int ConnectOne(const addrinfo& address, Clock::time_point deadline, int& fd) {
    fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                  address.ai_protocol);
    if (fd < 0)
        return errno;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    int ready = 0;
    if (const int waited = WaitOrStop(fd, POLLOUT, deadline, ready); waited != 0)
        return waited;
    if (ready == 0)
        return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

} // namespace

int Socket::Connect(const std::string& host, const std::string& service,
                    std::chrono::milliseconds timeout) {
    Close();
    const Clock::time_point deadline = Clock::now() + timeout;
    Addresses found{nullptr, &::freeaddrinfo};
    if (const int error = Resolve(host, service, deadline, found))
        return error;
    int error = EHOSTUNREACH;
    for (const addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
        int fd = -1;
        error = ConnectOne(*a, deadline, fd);
        if (error == 0) {
            const int on = 1;
            (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            fd_ = fd;
            break;
        }
        if (fd >= 0)
            ::close(fd);
        if (error == EINTR || Clock::now() >= deadline)
            break;
    }
    return error;
}

void Socket::Close() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

void Socket::Adopt(int fd) {
    Close();
    fd_ = fd;
}

void Socket::Shutdown() const {
    if (fd_ >= 0)
        (void)::shutdown(fd_, SHUT_RDWR);
}

Io Socket::Receive(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n > 0)
            return {static_cast<std::size_t>(n), 0};
        if (n == 0)
            return {0, EIO}; // the server closed the connection
        if (errno == EINTR)
            continue;
        return {0, errno == EWOULDBLOCK ? EAGAIN : Lost(errno)};
    }
}

Io Socket::Send(std::span<const std::uint8_t> bytes) {
    for (;;) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return {static_cast<std::size_t>(n), 0};
        if (errno == EINTR)
            continue;
        return {0, errno == EWOULDBLOCK ? EAGAIN : Lost(errno)};
    }
}

int Socket::WaitReadable(std::optional<Clock::time_point> deadline) const {
    return Wait(POLLIN, deadline);
}

int Socket::WaitWritable(std::optional<Clock::time_point> deadline) const {
    return Wait(POLLOUT, deadline);
}

int Socket::Wait(short events, std::optional<Clock::time_point> deadline) const {
    int ready = 0;
    return WaitOrStop(fd_, events, deadline, ready);
}

} // namespace kve17::net
