// A TCP connection to a serial device server: the only file of the driver that makes socket
// calls. Non-blocking throughout; failures come back as error numbers, and every way a
// connection can be lost (closed by the server, reset, broken pipe) reads as EIO, the number a
// hung-up terminal gives.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kve17::net {

using Clock = std::chrono::steady_clock;

struct Io {
    std::size_t Count = 0;
    int Error = 0; // 0, EAGAIN when nothing could move now, EIO when the connection is gone
};

class Socket {
public:
    Socket() = default;
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Connects to the first address of `host` that answers within `timeout`, the name's lookup
    // included, with Nagle's algorithm off. Returns 0, ETIMEDOUT, EHOSTUNREACH for a name that
    // does not resolve, EINTR when a stop signal comes, or the error number of the failed connect
    // (ECONNREFUSED).
    int Connect(const std::string& host, const std::string& service,
                std::chrono::milliseconds timeout);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Takes over a connected, non-blocking descriptor (one a listener accepted), closing it with
    // the socket.
    void Adopt(int fd);
    // Ends the connection both ways, from any thread: a wait on it returns and the next receive
    // reads EIO. The descriptor stays open until Close.
    void Shutdown() const;
    int Descriptor() const { return fd_; }

    Io Receive(std::span<std::uint8_t> buffer);
    Io Send(std::span<const std::uint8_t> bytes);
    // Waits until the socket is readable (or writable) or the deadline passes (no deadline: no
    // limit). Returns 0 or the error number of the wait; a closed or failed connection counts as
    // ready, so that the next call reports it.
    int WaitReadable(std::optional<Clock::time_point> deadline) const;
    int WaitWritable(std::optional<Clock::time_point> deadline) const;

private:
    int Wait(short events, std::optional<Clock::time_point> deadline) const;

    int fd_ = -1;
};

} // namespace kve17::net
