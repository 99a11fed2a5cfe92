// Telnet with the COM-port-control option, as a pure byte machine: the driver feeds it what the
// server sent and sends what it returns. No sockets and no clocks here.
//
// Servers as met:
//  - a device server serving a pseudo-terminal offers WILL/DO for SUPPRESS-GO-AHEAD, BINARY and
//    DO COM-PORT unasked, and also WILL ECHO, which is refused;
//  - it answers speed, data size, parity and stop size, and never answers a modem-line request
//    (DTR, RTS) on a pty, which has no modem lines: those answers are never waited for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kve17::rfc2217 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t Iac = 255;

// Client requests; the server answers each with the number + 100.
enum Command : std::uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
};

inline constexpr int AnswerOffset = 100;

enum class OptionState { Pending, Accepted, Refused };

// Appends `data` with every 0xFF doubled.
void Escape(std::span<const std::uint8_t> data, Bytes& out);
// IAC SB 44 <command> <value, `width` bytes big-endian, escaped> IAC SE.
Bytes Request(Command command, std::uint32_t value, int width);

class Stream {
public:
    // What the client says first: it will speak COM-PORT, and binary in both directions
    // without go-aheads.
    Bytes Hello();

    // Takes bytes from the server: line data goes to `data`, the replies the negotiation needs
    // go to `reply` (to be sent before anything else). A server that keeps negotiating is
    // answered a bounded number of times in all.
    void Feed(std::span<const std::uint8_t> in, Bytes& data, Bytes& reply);

    // Whether the server took the COM-PORT option.
    OptionState ComPort() const { return comPort_; }

    // The value of the server's last answer to `command`; forgetting it before a request makes
    // an answer that arrives later the answer to that request.
    std::optional<std::uint32_t> Answer(Command command) const;
    // True when an answer to `command` came in a shape the protocol does not have.
    bool Malformed(Command command) const;
    void Forget(Command command);

private:
    enum class State { Data, Iac, Verb, SubOption, Sub, SubIac };

    void Negotiate(std::uint8_t verb, std::uint8_t option, Bytes& reply);
    void Reply(Bytes& reply, std::uint8_t verb, std::uint8_t option);
    void EndSub();

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    int answered_ = 0;
    std::array<bool, 256> willSent_{}; // we said WILL and it was not refused
    std::array<bool, 256> doSent_{};   // we said DO and it was not refused
    OptionState comPort_ = OptionState::Pending;
    std::uint8_t subOption_ = 0;
    std::array<std::uint8_t, 16> sub_{};
    std::size_t subLength_ = 0;
    bool subOverflow_ = false;
    std::array<std::optional<std::uint32_t>, 13> answers_{};
    std::array<bool, 13> malformed_{};
};

} // namespace kve17::rfc2217
