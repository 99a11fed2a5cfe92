// The history's waits on descriptors: a socket that becomes ready, a stop descriptor that ends
// every wait, and deadlines on the monotonic clock.
#pragma once

#include <chrono>
#include <optional>

namespace kve17::history {

using TClock = std::chrono::steady_clock;

// True when `stopFd` (-1: none) is readable, that is the program is asked to stop.
bool StopRequested(int stopFd);

enum class TWaitResult { Ready, Stopped, TimedOut };

// Waits until `fd` is ready for `events` (poll's POLLIN, POLLOUT), `stopFd` becomes readable,
// or the deadline passes (none: no deadline). A negative `fd` waits only for the stop or the
// deadline. Interrupted calls are taken up again.
TWaitResult WaitReady(int fd, short events, int stopFd, std::optional<TClock::time_point> deadline);

} // namespace kve17::history
