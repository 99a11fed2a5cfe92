#include "history/StopWait.h"

#include <cerrno>
#include <poll.h>

namespace kve17::history {

bool StopRequested(int stopFd) {
    if (stopFd < 0)
        return false;
    pollfd p{stopFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

TWaitResult WaitReady(int fd, short events, int stopFd,
                      std::optional<TClock::time_point> deadline) {
    for (;;) {
        int timeout = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now()).count();
            if (left <= 0)
                return StopRequested(stopFd) ? TWaitResult::Stopped : TWaitResult::TimedOut;
            timeout = static_cast<int>(left);
        }
        pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
        const int ready = ::poll(p, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (p[0].revents & POLLIN)
            return TWaitResult::Stopped;
        if (ready < 0 || p[1].revents != 0)
            return TWaitResult::Ready; // an error on the socket is the reader's to find
        if (ready == 0 && deadline)
            return TWaitResult::TimedOut;
    }
}

} // namespace kve17::history
