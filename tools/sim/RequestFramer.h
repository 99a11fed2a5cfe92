// Requests on the line, framed by length: address, command, the data bytes the command implies,
// CRC. Garbage is dropped until a frame with a good CRC lines up, and a pause of 3.5 characters
// drops whatever is pending, as on a Modbus RTU line.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace kve17::sim {

using Clock = std::chrono::steady_clock;

// Data bytes of each request, by command:
//   1, 2, 3, 4, 5, 6, 14    4 (start and count, or address and value)
//   15                      5 + the byte count in its fifth data byte
//   17, 18, 100             0
//   66, 67, 68, 71          2 (67: 0x00 and the block number)
//   69, 70                  0 or 6 (70 with data is the broadcast, e.g. a clock setting)
// Other commands are not framed: their bytes count as garbage.
inline constexpr int MaxRequestBytes = 2 + 5 + 255 + 2;

struct Request {
    std::array<std::uint8_t, MaxRequestBytes> bytes{};
    int length = 0;          // the whole frame, CRC included
    Clock::time_point start; // arrival of its first byte

    std::uint8_t Address() const { return bytes[0]; }
    std::uint8_t Command() const { return bytes[1]; }
    std::span<const std::uint8_t> Data() const {
        return std::span(bytes).subspan(2, static_cast<std::size_t>(length - 4));
    }
};

class RequestFramer {
public:
    // Takes bytes read from the line; a pause longer than `gap` since the last ones drops the
    // pending bytes first.
    void Add(std::span<const std::uint8_t> bytes, Clock::time_point at, Clock::duration gap);
    // The next complete request with a good CRC, dropping the bytes before it; nothing while
    // none has lined up yet.
    bool Next(Request& request);
    int Pending() const { return count_; }

private:
    // Total frame length at `at` if it is a complete frame with a good CRC, else 0.
    int FrameAt(int at) const;
    void Drop(int bytes);

    static constexpr int Capacity = 1024;
    std::array<std::uint8_t, Capacity> bytes_{};
    std::array<Clock::time_point, Capacity> times_{};
    int count_ = 0;
};

} // namespace kve17::sim
