// Reading from the test's own end of a line (a pty's master, a peer's socket) with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace kve17::test {

// True when `fd` has something to read (or has closed) within `timeout`.
bool ReadableWithin(int fd, std::chrono::milliseconds timeout);
// Up to `count` bytes, fewer when the deadline passes or the other end closes first.
std::vector<std::uint8_t> ReceiveWithin(int fd, std::size_t count,
                                        std::chrono::milliseconds timeout);

} // namespace kve17::test
