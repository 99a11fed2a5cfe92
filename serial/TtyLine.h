// The serial device as the operating system offers it: a terminal opened for exclusive use, its
// line settings, and reads and writes bounded by time-outs. Every other file of the driver
// reaches the system through this one. Failures come back as error numbers.
#pragma once

#include "serial/ComTypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <termios.h>

namespace kve17::tty {

struct LineSettings {
    int Rate = 9600; // bits per second
    int DataBits = 8;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    bool ParityCheck = false;
    bool ParityReplace = false;
    char ReplaceChar = 0;
    bool OutCtsFlow = false;
    bool OutDsrFlow = false;
    bool DsrSensitivity = false;
    TDTRFlowControl Dtr = dtrDisable;
    TRTSFlowControl Rts = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    char XonChar = 17;
    char XoffChar = 19;
};

// Milliseconds; 0xFFFFFFFF ("-1") is the largest value and has the special meanings below.
struct ReadTimeouts {
    std::uint32_t Interval = 0;
    std::uint32_t Multiplier = 0;
    std::uint32_t Constant = 0;
};
struct WriteTimeouts {
    std::uint32_t Multiplier = 0;
    std::uint32_t Constant = 0;
};

struct Transfer {
    std::size_t Count = 0; // bytes moved, also when Error is set
    int Error = 0;         // 0, or the error number that stopped the transfer
};

class Line {
public:
    Line() = default;
    ~Line() { Close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens the terminal at `path` for this process alone. Returns 0, EBUSY when another open
    // holds it, or the error number of the failed call (ENOTTY for a file that is no terminal).
    int Open(const std::string& path);
    // Discards unread input, puts back the line settings found at Open, and closes; never fails.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Applies raw mode with the given settings and checks them by reading them back. Returns 0,
    // or EINVAL for settings the line cannot take (the previous settings stay), or the error
    // number of the failed call.
    int Apply(const LineSettings& settings);

    // Reads up to buffer.size() bytes under the time-outs:
    //  - Interval between two bytes after the first, 0 for none;
    //  - total Multiplier x size + Constant from the start, none when both are 0;
    //  - Interval 0xFFFFFFFF with both totals 0: return at once with what is queued;
    //  - Interval and Multiplier 0xFFFFFFFF, Constant between: wait up to Constant for the first
    //    byte, then return what is queued.
    // A time-out is no error. A hung-up line gives its error number (EIO when it has none).
    Transfer Read(std::span<std::uint8_t> buffer, const ReadTimeouts& timeouts);
    // Sends the bytes and waits until the line has sent them, all within Multiplier x size +
    // Constant (no limit when both are 0). A time-out is no error.
    Transfer Write(std::span<const std::uint8_t> bytes, const WriteTimeouts& timeouts);
    // Discards queued input and/or output. Returns 0 or the error number.
    int Flush(bool input, bool output);

private:
    using Clock = std::chrono::steady_clock;

    int WaitOutputSent(Clock::time_point deadline, bool limited);
    void AwaitRestOfReply(std::size_t missing, std::optional<Clock::time_point> total,
                          std::optional<std::chrono::milliseconds> interval) const;

    int fd_ = -1;
    bool pseudo_ = false;
    bool saved_ = false;
    termios original_{};
    int savedRate_ = 0;
    std::chrono::nanoseconds charTime_{std::chrono::microseconds(1042)}; // one byte at 9600 8N1
};

} // namespace kve17::tty
