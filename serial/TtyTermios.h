// The terminal settings for a line, apart from applying them, so that tests can check the bits
// a pty does not keep (no parity, always eight data bits).
#pragma once

#include "serial/TtyLine.h"

#include <termios.h>

namespace kve17::tty {

// Puts `t` in raw mode with the given settings; the speed only when it has a standard code.
// Returns 0, or EINVAL for settings the line cannot take.
int ComposeTermios(const LineSettings& settings, termios& t);

// True when the rate has a standard code; other rates go through SetLineRate.
bool IsStandardRate(int bitsPerSecond);

} // namespace kve17::tty
