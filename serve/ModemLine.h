// A modem's connection as the line the link reads: the line's bytes with the modem's ID and
// heartbeats taken out, under the terminal line's time-outs. The connection belongs to the
// server and outlives the reading: closing the line leaves it open.
#pragma once

#include "serial/ByteLine.h"
#include "serial/NetSocket.h"
#include "serve/ModemFilter.h"

#include <chrono>

namespace kve17::serve {

// What a reading borrows from the server's connection.
struct ModemLink {
    explicit ModemLink(FilterSettings settings) : Filter(std::move(settings)) {}
    net::Socket Socket;
    ModemFilter Filter;
    bool Lost = false; // the connection ended under a read or write
};

class ModemLine : public IByteLine {
public:
    explicit ModemLine(ModemLink& link) : link_(link) {}

    // The target is the line's name only; 0 while the connection is up, EIO once it is lost.
    int Open(const std::string& target) override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    // The line's settings are the modem's own.
    int Apply(const tty::LineSettings&) override { return 0; }
    tty::Transfer Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) override;
    tty::Transfer Write(std::span<const std::uint8_t> bytes, const tty::WriteTimeouts& t) override;
    int Flush(bool input, bool output) override;

private:
    using Clock = net::Clock;
    // One receive through the filter into pending_: 0, EAGAIN when nothing was there, or the
    // error (EIO for a lost connection).
    int Take();
    int Failed(int error);

    ModemLink& link_;
    bool open_ = false;
    Bytes pending_;
    std::size_t pendingStart_ = 0;
};

} // namespace kve17::serve
