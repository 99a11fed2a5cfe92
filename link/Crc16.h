#pragma once

#include <cstdint>

namespace kve17 {

// CRC-16/MODBUS: start 0xFFFF, reflected polynomial 0xA001, no final XOR.
// On the line the low-order byte of the CRC comes first.
std::uint16_t Crc16(int count, const std::uint8_t* bytes);

} // namespace kve17
