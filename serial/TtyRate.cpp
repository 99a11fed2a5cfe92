// Only kernel headers here: <asm/termbits.h> and glibc's <termios.h> define the same names.
#include "serial/TtyRate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <sys/ioctl.h>

namespace kve17::tty {

int SetLineRate(int fd, int bitsPerSecond) {
    if (bitsPerSecond <= 0)
        return EINVAL;
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return errno;
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(bitsPerSecond);
    settings.c_ospeed = static_cast<speed_t>(bitsPerSecond);
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return errno;
    return 0;
}

int GetLineRate(int fd, int& bitsPerSecond) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return errno;
    bitsPerSecond = static_cast<int>(settings.c_ospeed);
    return 0;
}

bool ReadBackRateAccepted(int asked, int readBack) {
    if (asked <= 0 || readBack <= 0)
        return false;
    return std::labs(static_cast<long>(asked) - readBack) <= asked / 50;
}

} // namespace kve17::tty
