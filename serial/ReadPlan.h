// What the read time-outs mean, for every line under the driver: the terminal and the network
// lines read by the same rules, so that a reading's repeats and messages do not depend on where
// the line is.
#pragma once

#include "serial/TtyLine.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kve17::tty {

struct ReadPlan {
    std::optional<std::chrono::steady_clock::time_point> Total; // the end of the whole read, if any
    std::optional<std::chrono::milliseconds> Interval;          // between two bytes after the first
    bool ReturnOnAny = false;                                   // return once anything has arrived
};

// The plan of a read of `wanted` bytes starting at `start` (see Line::Read).
ReadPlan PlanRead(const ReadTimeouts& t, std::size_t wanted,
                  std::chrono::steady_clock::time_point start);
// `start` + `ms`, capped far beyond any real wait so that the clock arithmetic cannot overflow.
std::chrono::steady_clock::time_point Later(std::chrono::steady_clock::time_point start,
                                            std::uint64_t ms);

} // namespace kve17::tty
