#include "tools/sim/Waker.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

using namespace std::chrono;

// Waits longer than this go through poll, so a stop cuts them short; the last stretch sleeps
// to the deadline itself, finer than poll's milliseconds.
constexpr auto PollLead = milliseconds{3};

timespec ToTimespec(Clock::duration d) {
    const auto s = duration_cast<seconds>(d);
    return {static_cast<time_t>(s.count()), static_cast<long>((d - s) / nanoseconds{1})};
}

} // namespace

Waker::Waker() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0)
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

Waker::~Waker() {
    close(fd_);
}

void Waker::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(fd_, &one, sizeof one);
}

bool Waker::Stopped() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool Waker::WaitFd(int fd, short events, Clock::duration timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::array<pollfd, 2> p{{{fd_, POLLIN, 0}, {fd, events, 0}}};
        const auto left = deadline - Clock::now();
        const timespec wait = ToTimespec(std::max(left, Clock::duration::zero()));
        const int ready = ppoll(p.data(), p.size(), &wait, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        return p[0].revents == 0;
    }
}

bool Waker::SleepUntil(Clock::time_point deadline) const {
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= PollLead)
            break;
        pollfd p{fd_, POLLIN, 0};
        const timespec wait = ToTimespec(left - PollLead);
        if (ppoll(&p, 1, &wait, nullptr) > 0)
            return false;
    }
    // steady_clock is CLOCK_MONOTONIC.
    const timespec at = ToTimespec(deadline.time_since_epoch());
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
    return !Stopped();
}

} // namespace kve17::sim
