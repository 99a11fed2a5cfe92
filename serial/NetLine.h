// A serial line on a device server: raw TCP (the server passes the bytes through; its line
// settings are set on the server) or RFC 2217 (the settings chosen here are sent to the server
// and checked against its answers). Reads and writes keep the terminal line's time-outs.
#pragma once

#include "serial/ByteLine.h"
#include "serial/NetSocket.h"
#include "serial/PortTarget.h"
#include "serial/Rfc2217.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace kve17 {

struct TNetTiming {
    std::chrono::milliseconds Connect{5000};
    // For the server's answers to the option and to each line setting.
    std::chrono::milliseconds Answer{2000};
};

class TNetLine : public IByteLine {
public:
    explicit TNetLine(TLineKind kind, TNetTiming timing = {});

    // Returns 0, or the error number of the connect (see NetSocket.h); EBUSY when the server
    // takes the connection and closes it at once, as a server does while another program holds
    // its line; for RFC 2217 also EPROTONOSUPPORT when the server refuses the COM-port option and
    // ETIMEDOUT when it does not answer it. The lookup, the connect and the option all fit in the
    // connect time-out.
    int Open(const std::string& target) override;
    void Close() override;
    bool IsOpen() const override { return socket_.IsOpen(); }
    // Raw TCP: 0, nothing to send. RFC 2217: EINVAL for settings the option cannot express or
    // the server answers with other values (a speed within 2 % of the one asked is the same),
    // EPROTO for a malformed answer, ETIMEDOUT for none.
    int Apply(const tty::LineSettings& settings) override;
    tty::Transfer Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) override;
    tty::Transfer Write(std::span<const std::uint8_t> bytes, const tty::WriteTimeouts& t) override;
    // Drops what has arrived; over RFC 2217 also asks the server to purge, without waiting.
    int Flush(bool input, bool output) override;

private:
    using Clock = net::Clock;

    // Takes what the socket holds now into pending_, which keeps only its newest bytes past a
    // bound. 0, EAGAIN when nothing was there, or the error number (EIO for a lost connection).
    int Take();
    void DropOldest();
    int Negotiate(Clock::time_point deadline);
    int Settle(Clock::time_point start, Clock::time_point deadline);
    int SendAll(std::span<const std::uint8_t> bytes, std::optional<Clock::time_point> deadline,
                std::size_t& sent);
    // Waits for the server's side of the negotiation until `done` holds or the deadline.
    template <class Done> int AwaitServer(Done done, Clock::time_point deadline);

    TLineKind kind_;
    TNetTiming timing_;
    net::Socket socket_;
    rfc2217::Stream telnet_;
    rfc2217::Bytes pending_; // line data received, not yet read
    std::size_t pendingStart_ = 0;
};

} // namespace kve17
