// A program started with standard input, output or error closed would hand those numbers to the
// next files it opens (the serial port among them) and then write its messages into them.
#pragma once

namespace kve17 {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False when one cannot be
// opened: the program should then stop before opening anything else.
bool EnsureStandardDescriptors();

} // namespace kve17
