// A serial port double that follows a script: it records every call, setting, write and purge,
// answers each write with the next scripted reply, and raises EComPort where it is told to.
#pragma once

#include "serial/ComPortIntf.h"
#include "serial/EComPort.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kve17::test {

using Bytes = std::vector<std::uint8_t>;

// The frame with its CRC-16 appended, low-order byte first.
Bytes WithCrc(Bytes frame);

// What the line carries back after one write: bursts of bytes with a gap after each. A read that
// asks for more than the current burst holds ends at the burst's end, as a read time-out would.
// No bursts at all is silence.
struct FakeReply {
    std::vector<Bytes> Bursts;

    static FakeReply Silence() { return {}; }
    static FakeReply Of(Bytes bytes) { return {{std::move(bytes)}}; }
};

class FakeComPort : public IComPort {
public:
    // Settings as last handed over, and whether the port is open.
    bool IsConnected = false;
    TBaudRate BaudRate = br9600;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    std::string PortName = "COM1";

    // Replies for the coming writes, one per write. When they run out, Responder answers (if
    // set), else the line stays silent.
    std::deque<FakeReply> Replies;
    std::function<FakeReply(std::span<const std::uint8_t> request)> Responder;

    // Each set error is raised by every call of that operation until it is reset.
    std::optional<TComExceptions> OpenError;
    std::optional<TComExceptions> CloseError;
    std::optional<TComExceptions> ClearError;
    std::optional<TComExceptions> ReadError;
    std::optional<TComExceptions> WriteError;

    // What the link did, in order: "Open", "Close", "SetBaudRate", "SetParityBits",
    // "SetStopBits", "SetPort", "ClearBuffer", "Write", "Read".
    std::vector<std::string> Calls;
    std::vector<Bytes> Writes;
    std::vector<std::chrono::steady_clock::time_point> WriteTimes;
    int Purges = 0;
    // The (input, output) flags of every ClearBuffer, in order.
    std::vector<std::pair<bool, bool>> PurgeFlags;

    // Bytes on the input side not yet read.
    std::size_t PendingInput() const;
    int CountOf(const std::string& call) const;

    bool Connected() const override { return IsConnected; }
    void Open() override;
    void Close() override;
    void SetBaudRate(TBaudRate rate) override;
    void SetParityBits(TParityBits bits) override;
    void SetStopBits(TStopBits bits) override;
    void SetPort(std::string_view name) override;
    std::string Port() const override { return PortName; }
    int Read(std::span<std::uint8_t> buffer) override;
    int Write(std::span<const std::uint8_t> bytes) override;
    void ClearBuffer(bool input, bool output) override;

private:
    void Raise(const std::optional<TComExceptions>& error) const;
    std::deque<Bytes> input_;
};

} // namespace kve17::test
