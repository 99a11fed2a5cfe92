// When a modem's line is read: at once when it calls and its last reading is older than its
// interval or failed, then every interval while the connection stays up.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kve17::serve {

using Clock = std::chrono::steady_clock;

// "1h", "15m", "1d", "30s" (a whole number and its unit); nothing for anything else or 0.
std::optional<std::chrono::seconds> ParseEvery(std::string_view written);

// The next reading of a line read every `every`, last begun at `last` (nothing: never) with
// the result `lastOk`.
Clock::time_point NextReading(std::optional<Clock::time_point> last, bool lastOk,
                              std::chrono::seconds every, Clock::time_point now);

// `[HOST:]PORT` of a listening address; HOST empty for every address. Nothing when the port is
// no number from 0 to 65535 (0: any free one).
struct ListenAddress {
    std::string Host;
    int Port = 0;
};
std::optional<ListenAddress> ParseListen(std::string_view written);

} // namespace kve17::serve
