// A scripted TCP server on the loopback for tests: the code under test connects to Address();
// the test plays the device server, byte by byte.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kve17::test {

class TcpPeer {
public:
    // Listens on 127.0.0.1 at a port the kernel picks. Throws std::runtime_error.
    TcpPeer();
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    int Port() const { return port_; }
    // "tcp://127.0.0.1:PORT", or with another scheme ("rfc2217").
    std::string Address(const std::string& scheme = "tcp") const;

    // Takes the next connection; false when none comes within `timeout`.
    bool Accept(std::chrono::milliseconds timeout);
    void Send(std::span<const std::uint8_t> bytes);
    // Up to `count` bytes from the client, waiting at most `timeout` for them.
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout);
    // A hostile server: sends `pattern` over and over until `stop` is set, the client goes away,
    // or `most` bytes have gone. Returns the bytes sent.
    std::size_t Flood(std::span<const std::uint8_t> pattern, const std::atomic<bool>& stop,
                      std::size_t most);
    // Ends the connection: the client sees the server go away.
    void Drop();
    // Stops listening: later connects are refused.
    void StopListening();

private:
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
};

// A loopback port nothing listens on (free when asked; another program may take it later).
int FreeTcpPort();

} // namespace kve17::test
