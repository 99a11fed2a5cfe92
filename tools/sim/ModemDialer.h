// The line as a cellular modem in client mode carries it: it calls the server, sends its
// registration ID (once after connecting, or in front of every packet), sends a heartbeat when
// the line has been quiet for its interval, and passes the line's bytes both ways. When the
// connection ends it calls again after a pause, as modems do.
#pragma once

#include "tools/sim/Waker.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kve17::sim {

struct DialOptions {
    std::string Host;
    std::string Port;
    std::vector<std::uint8_t> Id;
    bool IdEachPacket = false;
    std::chrono::milliseconds HeartbeatEvery{0}; // 0: none
    std::vector<std::uint8_t> Heartbeat;
    // The first call hangs up after passing this many bytes of the line to the server (a cell
    // lost in the middle of a reading); 0 never.
    std::size_t DropAfter = 0;
};

class ModemDialer {
public:
    // Calls on a thread of its own until destroyed, relaying to the terminal at `linePath`.
    ModemDialer(const std::string& linePath, DialOptions options);
    ~ModemDialer();
    ModemDialer(const ModemDialer&) = delete;
    ModemDialer& operator=(const ModemDialer&) = delete;

private:
    void Serve();
    // One call, until the connection or the line ends.
    void Call(int socket, int line);
    bool SendAll(int socket, const std::vector<std::uint8_t>& bytes);

    std::string linePath_;
    DialOptions options_;
    int calls_ = 0;
    Waker waker_;
    std::thread thread_;
};

} // namespace kve17::sim
