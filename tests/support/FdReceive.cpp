#include "tests/support/FdReceive.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace kve17::test {

bool ReadableWithin(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    do
        ready = poll(&entry, 1, static_cast<int>(std::max<long>(timeout.count(), 0)));
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

std::vector<std::uint8_t> ReceiveWithin(int fd, std::size_t count,
                                        std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (!ReadableWithin(fd, left))
            break;
        const ssize_t n = read(fd, bytes.data() + got, count - got);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

} // namespace kve17::test
