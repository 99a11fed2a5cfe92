// The line served over raw TCP, as a serial device server in transparent mode does: the bytes of
// one client go to the line and the line's bytes go back to it. A second client is turned away
// while the first is connected; with no client the line's bytes are dropped.
#pragma once

#include "tools/sim/Waker.h"

#include <string>
#include <thread>

namespace kve17::sim {

class TcpRelay {
public:
    // Listens on `host`:`port` (0: a free port the kernel picks) and relays to the line's
    // terminal at `linePath` on a thread of its own until destroyed. Throws std::runtime_error.
    TcpRelay(const std::string& linePath, const std::string& host, int port);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // "tcp://HOST:PORT", with the port actually listened on.
    const std::string& Address() const { return address_; }

private:
    void Serve();
    void Accept();
    void Drop();
    // False when the client has gone or either side has failed.
    bool Pass(int from, int to);

    std::string linePath_;
    int line_ = -1;
    int listener_ = -1;
    int client_ = -1;
    std::string address_;
    Waker waker_;
    std::thread thread_;
};

} // namespace kve17::sim
