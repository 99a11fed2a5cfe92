#include "serve/SystemdNotify.h"

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kve17::serve {

SystemdNotify::SystemdNotify() {
    if (const char* path = std::getenv("NOTIFY_SOCKET"))
        socket_ = path;
    if (const char* usec = std::getenv("WATCHDOG_USEC"))
        watchdog_ = std::chrono::microseconds(std::strtoll(usec, nullptr, 10));
}

void SystemdNotify::Ready() {
    Send("READY=1\nSTATUS=serving");
    lastAlive_ = Clock::now();
}

void SystemdNotify::Alive() {
    if (watchdog_.count() <= 0 || Clock::now() < lastAlive_ + watchdog_ / 2)
        return;
    Send("WATCHDOG=1");
    lastAlive_ = Clock::now();
}

void SystemdNotify::Stopping() {
    Send("STOPPING=1");
}

void SystemdNotify::Send(const std::string& state) const {
    if (socket_.empty() || socket_.size() >= sizeof(sockaddr_un::sun_path))
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket_.data(), socket_.size());
    // "@name" is a socket in the abstract namespace, its first byte zero.
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_.size());
    (void)::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), size);
    ::close(fd);
}

} // namespace kve17::serve
