// Kept apart: the kernel's termios2 (any rate, not only the B-constants) clashes with glibc's
// <termios.h>, so nothing here may include it.
#include "tools/sim/LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kve17::sim {

LineSettings ReadLineSettings(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return {};
    LineSettings line;
    line.baud = static_cast<int>(settings.c_ospeed);
    line.parity = (settings.c_cflag & PARENB) != 0;
    line.twoStopBits = (settings.c_cflag & CSTOPB) != 0;
    return line;
}

} // namespace kve17::sim
