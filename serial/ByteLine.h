// The line under the port driver: a local terminal or a serial device server on the network.
// Every implementation keeps the terminal line's contract (see tty::Line): error numbers, not
// exceptions; time-outs are no error; a line that is gone reads as a hang-up (EIO when the
// system gives no number).
#pragma once

#include "serial/TtyLine.h"

#include <cstdint>
#include <span>
#include <string>

namespace kve17 {

class IByteLine {
public:
    virtual ~IByteLine() = default;

    // Returns 0 or the error number of the failed open (EBUSY when another holds the line).
    virtual int Open(const std::string& target) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // 0, EINVAL for settings the line does not take, or the error number.
    virtual int Apply(const tty::LineSettings& settings) = 0;
    virtual tty::Transfer Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) = 0;
    virtual tty::Transfer Write(std::span<const std::uint8_t> bytes,
                                const tty::WriteTimeouts& t) = 0;
    virtual int Flush(bool input, bool output) = 0;
};

// The terminal line behind the interface.
class TtyByteLine : public IByteLine {
public:
    int Open(const std::string& target) override { return line_.Open(target); }
    void Close() override { line_.Close(); }
    bool IsOpen() const override { return line_.IsOpen(); }
    int Apply(const tty::LineSettings& settings) override { return line_.Apply(settings); }
    tty::Transfer Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) override {
        return line_.Read(buffer, t);
    }
    tty::Transfer Write(std::span<const std::uint8_t> bytes, const tty::WriteTimeouts& t) override {
        return line_.Write(bytes, t);
    }
    int Flush(bool input, bool output) override { return line_.Flush(input, output); }

private:
    tty::Line line_;
};

} // namespace kve17
