#include "serve/Listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kve17::serve {

namespace {

// Address and port of a socket address, IPv6 in brackets.
std::string Show(const sockaddr_storage& a, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET6) {
        const auto& six = reinterpret_cast<const sockaddr_in6&>(a);
        ::inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof text);
        port = ntohs(six.sin6_port);
        return "[" + std::string(text) + "]:" + std::to_string(port);
    }
    const auto& four = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &four.sin_addr, text, sizeof text);
    port = ntohs(four.sin_port);
    return std::string(text) + ":" + std::to_string(port);
}

} // namespace

Listener::Listener(const ListenAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.Port);
    const std::string shown = (address.Host.empty() ? "*" : address.Host) + ":" + service;
    if (const int error = ::getaddrinfo(address.Host.empty() ? nullptr : address.Host.c_str(),
                                        service.c_str(), &hints, &found);
        error != 0)
        throw std::runtime_error("listen " + shown + ": " + ::gai_strerror(error));
    // The IPv6 wildcard takes IPv4 too where the system allows; otherwise the first address.
    const addrinfo* pick = found;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
        if (address.Host.empty() && a->ai_family == AF_INET6)
            pick = a;
    fd_ = ::socket(pick->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = fd_ < 0 ? errno : 0;
    if (error == 0) {
        const int on = 1;
        const int off = 0;
        (void)::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (pick->ai_family == AF_INET6)
            (void)::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        if (::bind(fd_, pick->ai_addr, pick->ai_addrlen) != 0 || ::listen(fd_, 128) != 0)
            error = errno;
    }
    ::freeaddrinfo(found);
    if (error != 0) {
        if (fd_ >= 0)
            ::close(fd_);
        throw std::runtime_error("listen " + shown + ": " + std::strerror(error));
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &size);
    address_ = Show(bound, port_);
}

Listener::~Listener() {
    ::close(fd_);
}

int Listener::Accept(std::string& peer) const {
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int port = 0;
    peer = Show(from, port);
    return fd;
}

} // namespace kve17::serve
