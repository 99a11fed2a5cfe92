// Rates read back from the driver: what the chip reaches is the rate asked for, a rate far off
// is not. USB bridges report 57553 for 57600 and 115384 for 115200.
#include "serial/TtyRate.h"

#include <gtest/gtest.h>

namespace kve17::tty {
namespace {

constexpr int kStandardRates[] = {50,     75,      110,     134,     150,    200,    300,
                                  600,    1200,    1800,    2400,    4800,   9600,   19200,
                                  38400,  57600,   115200,  230400,  460800, 500000, 576000,
                                  921600, 1000000, 1152000, 1500000, 2000000};

TEST(RateReadBack, ReachedRatesCountAsAskedAtEveryStandardSpeed) {
    EXPECT_TRUE(ReadBackRateAccepted(57600, 57553));
    EXPECT_TRUE(ReadBackRateAccepted(115200, 115384));
    EXPECT_TRUE(ReadBackRateAccepted(921600, 923077));
    for (const int rate : kStandardRates) {
        SCOPED_TRACE(rate);
        EXPECT_TRUE(ReadBackRateAccepted(rate, rate));
        // 1.5 % either way, as a divider rounds.
        EXPECT_TRUE(ReadBackRateAccepted(rate, rate - rate * 3 / 200));
        EXPECT_TRUE(ReadBackRateAccepted(rate, rate + rate * 3 / 200));
    }
}

TEST(RateReadBack, RatesFarOffAreRefused) {
    EXPECT_FALSE(ReadBackRateAccepted(57600, 56000));
    EXPECT_FALSE(ReadBackRateAccepted(9600, 19200));
    EXPECT_FALSE(ReadBackRateAccepted(9600, 0));
    for (const int rate : kStandardRates) {
        SCOPED_TRACE(rate);
        EXPECT_FALSE(ReadBackRateAccepted(rate, rate + rate / 20));
        EXPECT_FALSE(ReadBackRateAccepted(rate, rate - rate / 20));
    }
}

} // namespace
} // namespace kve17::tty
