// Line speed in bits per second through the kernel's arbitrary-rate interface. Kept apart from
// the rest of the terminal code because its kernel declarations clash with <termios.h>.
#pragma once

namespace kve17::tty {

// Sets the input and output speed of the terminal `fd` to `bitsPerSecond`, leaving every other
// setting as it is. Returns 0, or the error number of the failed call.
int SetLineRate(int fd, int bitsPerSecond);

// The output speed the terminal `fd` holds, in bits per second, into `bitsPerSecond`; for a pty
// master this is the slave's speed. Returns 0, or the error number of the failed call.
int GetLineRate(int fd, int& bitsPerSecond);

} // namespace kve17::tty
