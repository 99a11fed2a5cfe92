// Waits of the serving thread that a stop cuts short, and precise waits for line pacing.
#pragma once

#include "tools/sim/RequestFramer.h"

namespace kve17::sim {

class Waker {
public:
    // Throws std::runtime_error when the event descriptor cannot be made.
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // Wakes every wait, now and later.
    void Stop();
    bool Stopped() const;
    // Readable once stopped, for poll.
    int Fd() const { return fd_; }

    // Returns at the deadline (on an absolute monotonic deadline, so a run of waits does not
    // drift), or false at once when stopped.
    bool SleepUntil(Clock::time_point deadline) const;
    // Waits until `fd` is ready for `events` or the time runs out; false when stopped.
    bool WaitFd(int fd, short events, Clock::duration timeout) const;

private:
    int fd_ = -1;
};

} // namespace kve17::sim
