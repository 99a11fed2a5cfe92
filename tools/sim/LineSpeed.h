// The line settings a program chose for the pty, as the kernel keeps them.
#pragma once

namespace kve17::sim {

struct LineSettings {
    int baud = 0; // 0 when unknown or hung up
    bool parity = false;
    bool twoStopBits = false;
};

LineSettings ReadLineSettings(int fd);

} // namespace kve17::sim
