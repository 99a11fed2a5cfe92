// A pseudo-terminal pair for tests. The code under test opens SlavePath() like a serial device;
// the test plays the far end of the line on the master side.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <termios.h>
#include <vector>

namespace kve17::test {

class Pty {
public:
    // Opens a new pair with the slave in raw mode. Throws std::runtime_error on failure.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // The slave's settings and line speed (bits per second) as seen from the master side.
    termios SlaveSettings() const;
    int SlaveRate() const;

    // Sends every byte to the slave. Throws std::runtime_error on failure.
    void Send(std::span<const std::uint8_t> bytes);
    void Send(std::string_view text);
    // Waits until what was sent is queued on the slave side, ready for a read there.
    bool WaitDelivered(std::chrono::milliseconds timeout) const;
    // What the slave sent: up to `count` bytes, waiting at most `timeout` for them.
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout);

    // Closes the master: the slave side sees the line hang up.
    void CloseMaster();

private:
    void Release();

    int master_ = -1;
    int slave_ = -1; // held open so that the pair outlives the code under test closing its end
    std::string slavePath_;
};

} // namespace kve17::test
