#include "tests/support/TcpPeer.h"

#include "tests/support/FdReceive.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace kve17::test {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("tcp peer: ") + what + ": " +
                             std::generic_category().message(errno));
}

// Binds a loopback socket to a port the kernel picks; returns the socket and sets `port`.
int BindLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(fd);
        Fail("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

TcpPeer::TcpPeer() {
    listener_ = BindLoopback(port_);
    if (listen(listener_, 4) != 0)
        Fail("listen");
}

TcpPeer::~TcpPeer() {
    Drop();
    StopListening();
}

std::string TcpPeer::Address(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

bool TcpPeer::Accept(std::chrono::milliseconds timeout) {
    if (!ReadableWithin(listener_, timeout))
        return false;
    Drop();
    client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return client_ >= 0;
}

void TcpPeer::Send(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("send");
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
}

std::vector<std::uint8_t> TcpPeer::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    return ReceiveWithin(client_, count, timeout);
}

std::size_t TcpPeer::Flood(std::span<const std::uint8_t> pattern, const std::atomic<bool>& stop,
                           std::size_t most) {
    std::vector<std::uint8_t> block;
    while (block.size() < 64 * 1024)
        block.insert(block.end(), pattern.begin(), pattern.end());
    // A client that stops reading must not keep the flood from seeing `stop`.
    const timeval wait{0, 50 * 1000};
    setsockopt(client_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    std::size_t sent = 0;
    std::size_t at = 0; // the pattern stays whole across short sends
    while (!stop && sent < most) {
        const ssize_t n = send(client_, block.data() + at, block.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const std::size_t moved = n > 0 ? static_cast<std::size_t>(n) : 0;
        sent += moved;
        at = (at + moved) % block.size();
    }
    return sent;
}

void TcpPeer::Drop() {
    if (client_ >= 0)
        close(client_);
    client_ = -1;
}

void TcpPeer::StopListening() {
    if (listener_ >= 0)
        close(listener_);
    listener_ = -1;
}

int FreeTcpPort() {
    int port = 0;
    close(BindLoopback(port));
    return port;
}

} // namespace kve17::test
