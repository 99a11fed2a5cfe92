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

// Whether a rate read back from the driver is the rate asked for. Drivers store the rate their
// clock divider reaches (57553 for 57600 on some USB bridges), and a UART receives well within
// 2 % of its partner's rate, so that much difference is the same rate, for standard speeds too.
bool ReadBackRateAccepted(int asked, int readBack);

} // namespace kve17::tty
