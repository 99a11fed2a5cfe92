#include "serial/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace kve17 {

namespace {

// The reading runs on another thread than the one the handler may interrupt: an atomic makes the
// signal seen there, and a lock-free one is safe to touch from the handler.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);
int pipeEnds[2] = {-1, -1};

// Async-signal-safe work only: a flag and one byte into a non-blocking pipe.
extern "C" void Record(int signal) {
    int none = 0;
    received.compare_exchange_strong(none, signal);
    if (pipeEnds[1] >= 0) {
        const int saved = errno;
        const char byte = 1;
        (void)!::write(pipeEnds[1], &byte, 1);
        errno = saved;
    }
}

} // namespace

void InstallStopSignals() {
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        pipeEnds[0] = pipeEnds[1] = -1;
    struct sigaction action {};
    action.sa_handler = Record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int StopSignal() {
    return received.load();
}

int StopSignalFd() {
    return pipeEnds[0];
}

void RaiseStopSignal() {
    const int signal = received.load();
    if (signal == 0)
        return;
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace kve17
