#include "serial/ComTypes.h"

#include <array>

namespace kve17 {

namespace {

// Indexed by TBaudRate; brCustom's slot is unused.
constexpr std::array<int, 16> kRates = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

} // namespace

int BaudRateValue(TBaudRate rate, int custom) {
    if (rate == brCustom)
        return custom;
    if (rate < brCustom || rate > br256000)
        return 0;
    return kRates[static_cast<std::size_t>(rate)];
}

} // namespace kve17
