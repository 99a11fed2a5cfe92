#include "tests/support/FakeComPort.h"

#include "link/Crc16.h"

#include <algorithm>

namespace kve17::test {

Bytes WithCrc(Bytes frame) {
    const std::uint16_t crc = Crc16(static_cast<int>(frame.size()), frame.data());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

void FakeComPort::Raise(const std::optional<TComExceptions>& error) const {
    if (error)
        throw EComPort(*error);
}

std::size_t FakeComPort::PendingInput() const {
    std::size_t count = 0;
    for (const auto& burst : input_)
        count += burst.size();
    return count;
}

int FakeComPort::CountOf(const std::string& call) const {
    return static_cast<int>(std::count(Calls.begin(), Calls.end(), call));
}

void FakeComPort::Open() {
    Calls.push_back("Open");
    if (IsConnected)
        return;
    Raise(OpenError);
    IsConnected = true;
}

void FakeComPort::Close() {
    Calls.push_back("Close");
    if (!IsConnected)
        return;
    Raise(CloseError);
    IsConnected = false;
    input_.clear();
}

void FakeComPort::SetBaudRate(TBaudRate rate) {
    Calls.push_back("SetBaudRate");
    BaudRate = rate;
}

void FakeComPort::SetParityBits(TParityBits bits) {
    Calls.push_back("SetParityBits");
    Parity = bits;
}

void FakeComPort::SetStopBits(TStopBits bits) {
    Calls.push_back("SetStopBits");
    StopBits = bits;
}

void FakeComPort::SetPort(std::string_view name) {
    Calls.push_back("SetPort");
    PortName = name;
}

int FakeComPort::Read(std::span<std::uint8_t> buffer) {
    Calls.push_back("Read");
    if (!IsConnected)
        throw EComPort(CEPortNotOpen);
    Raise(ReadError);
    // A read ends where the current burst ends; the gap after it is a time-out.
    while (!input_.empty() && input_.front().empty())
        input_.pop_front();
    if (input_.empty())
        return 0;
    Bytes& burst = input_.front();
    const std::size_t count = std::min(buffer.size(), burst.size());
    std::copy_n(burst.begin(), count, buffer.begin());
    burst.erase(burst.begin(), burst.begin() + static_cast<std::ptrdiff_t>(count));
    if (burst.empty())
        input_.pop_front();
    return static_cast<int>(count);
}

int FakeComPort::Write(std::span<const std::uint8_t> bytes) {
    Calls.push_back("Write");
    if (!IsConnected)
        throw EComPort(CEPortNotOpen);
    Raise(WriteError);
    Writes.emplace_back(bytes.begin(), bytes.end());
    WriteTimes.push_back(std::chrono::steady_clock::now());
    FakeReply reply;
    if (!Replies.empty()) {
        reply = std::move(Replies.front());
        Replies.pop_front();
    } else if (Responder) {
        reply = Responder(bytes);
    }
    // Bytes still queued run on into the new reply, as they would on a line.
    for (auto& burst : reply.Bursts)
        input_.push_back(std::move(burst));
    return static_cast<int>(bytes.size());
}

void FakeComPort::ClearBuffer(bool input, bool output) {
    Calls.push_back("ClearBuffer");
    ++Purges;
    PurgeFlags.emplace_back(input, output);
    Raise(ClearError);
    if (input)
        input_.clear();
}

} // namespace kve17::test
