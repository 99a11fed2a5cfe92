// A port opened on a pseudo-terminal, with the main window's settings and time-outs short
// enough for tests.
#pragma once

#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "serial/EComPort.h"
#include "tests/support/Pty.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace kve17::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

inline void SetReadTimeouts(TComPort& port, int interval, int multiplier, int constant) {
    port.Timeouts().SetReadInterval(interval);
    port.Timeouts().SetReadTotalMultiplier(multiplier);
    port.Timeouts().SetReadTotalConstant(constant);
}

// Runs `call`, expecting EComPort with the given code; returns the exception for more checks.
inline EComPort ExpectComError(const std::function<void()>& call, int code) {
    try {
        call();
    } catch (const EComPort& error) {
        EXPECT_EQ(error.PortError, code) << error.what();
        return error;
    }
    ADD_FAILURE() << "no EComPort raised, expected code " << code;
    return EComPort(static_cast<TComExceptions>(code - 1));
}

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadComPort1Settings(port);
        SetReadTimeouts(port, 50, 10, 200);
        port.SetPort(pty.SlavePath());
    }

    Pty pty;
    TComPort port;
};

} // namespace kve17::test
