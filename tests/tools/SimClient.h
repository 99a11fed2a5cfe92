// The program's side of a simulated line for the simulator's own tests: the pty slave opened
// with plain termios, independent of the serial driver.
#pragma once

#include "link/Crc16.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kve17::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WithCrc(Bytes frame) {
    const std::uint16_t crc = Crc16(static_cast<int>(frame.size()), frame.data());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

inline Bytes RequestFrame(int address, int command, Bytes data = {}) {
    Bytes frame{static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(command)};
    frame.insert(frame.end(), data.begin(), data.end());
    return WithCrc(frame);
}

inline Bytes BlockRequest(int address, int block) {
    return RequestFrame(address, 67, {0, static_cast<std::uint8_t>(block)});
}

inline bool CrcGood(const Bytes& frame) {
    if (frame.size() < 3)
        return false;
    const std::uint16_t crc = Crc16(static_cast<int>(frame.size() - 2), frame.data());
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

class SimClient {
public:
    explicit SimClient(const std::string& path, speed_t speed = B9600, bool twoStopBits = false)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (fd_ < 0)
            throw std::runtime_error("open " + path + ": " + std::to_string(errno));
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, speed);
        if (twoStopBits)
            settings.c_cflag |= CSTOPB;
        tcsetattr(fd_, TCSANOW, &settings);
        tcflush(fd_, TCIOFLUSH);
    }
    ~SimClient() { close(fd_); }
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    void Send(const Bytes& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Up to `count` bytes; stops early when the line stays quiet for `quiet`.
    Bytes Read(std::size_t count,
               std::chrono::milliseconds quiet = std::chrono::milliseconds{500}) {
        Bytes got;
        while (got.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
                break;
            std::uint8_t chunk[512];
            const ssize_t n = read(fd_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    struct Arrival {
        std::chrono::steady_clock::time_point at;
        std::size_t total; // bytes received up to and including this read
    };
    // Reads `count` bytes, noting when each read returned; stops early on a quiet line.
    std::vector<Arrival> ReadArrivals(std::size_t count) {
        std::vector<Arrival> arrivals;
        std::size_t total = 0;
        while (total < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 500) <= 0)
                break;
            std::uint8_t chunk[512];
            const ssize_t n = read(fd_, chunk, std::min(sizeof chunk, count - total));
            if (n <= 0)
                continue;
            total += static_cast<std::size_t>(n);
            arrivals.push_back({std::chrono::steady_clock::now(), total});
        }
        return arrivals;
    }

    Bytes Transact(const Bytes& request, std::size_t replyLength) {
        Send(request);
        return Read(replyLength);
    }

private:
    int fd_;
};

} // namespace kve17::test
