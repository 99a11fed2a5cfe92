// The narrow face of the serial port that the device link drives. The real driver
// (TCustomComPort) implements it; tests and tools put doubles or decorators in its place.
#pragma once

#include "serial/ComTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kve17 {

class IComPort {
public:
    virtual ~IComPort() = default;

    virtual bool Connected() const = 0;
    // Opens and configures the port; does nothing when already connected. Raises EComPort.
    virtual void Open() = 0;
    // Closes the port; does nothing when not connected. Raises EComPort.
    virtual void Close() = 0;

    // Setters store the value; while connected they apply it at once. Equal values do nothing.
    virtual void SetBaudRate(TBaudRate rate) = 0;
    virtual void SetParityBits(TParityBits bits) = 0;
    virtual void SetStopBits(TStopBits bits) = 0;
    // A port directory name ("COM3") or an absolute device path.
    virtual void SetPort(std::string_view name) = 0;
    virtual std::string Port() const = 0;

    // Waits for up to buffer.size() bytes under the read time-outs; a time-out is no error and
    // returns what arrived (possibly 0). Raises EComPort (24 when closed, 3 on a hung-up line).
    virtual int Read(std::span<std::uint8_t> buffer) = 0;
    // Sends the bytes under the write time-outs and returns the count written. Raises EComPort.
    virtual int Write(std::span<const std::uint8_t> bytes) = 0;
    // Discards what the input and/or output queue holds. Raises EComPort (5).
    virtual void ClearBuffer(bool input, bool output) = 0;
};

} // namespace kve17
