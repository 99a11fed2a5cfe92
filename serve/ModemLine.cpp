#include "serve/ModemLine.h"

#include "serial/ReadPlan.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace kve17::serve {

namespace {

// A flood is drained no further than this per purge, so a peer cannot keep it busy.
constexpr int MaxPurgeReceives = 64;

} // namespace

int ModemLine::Open(const std::string&) {
    if (link_.Lost || !link_.Socket.IsOpen())
        return EIO;
    open_ = true;
    return 0;
}

int ModemLine::Failed(int error) {
    if (error == EIO)
        link_.Lost = true;
    return error;
}

int ModemLine::Take() {
    std::array<std::uint8_t, 4096> chunk{};
    const net::Io got = link_.Socket.Receive(chunk);
    if (got.Error != 0)
        return Failed(got.Error);
    if (pendingStart_ == pending_.size()) {
        pending_.clear();
        pendingStart_ = 0;
    }
    link_.Filter.Feed(std::span(chunk).first(got.Count), pending_);
    return 0;
}

tty::Transfer ModemLine::Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) {
    const tty::ReadPlan plan = tty::PlanRead(t, buffer.size(), Clock::now());
    std::size_t got = 0;
    std::optional<Clock::time_point> gap;
    while (got < buffer.size()) {
        if (pendingStart_ < pending_.size()) {
            const std::size_t n = std::min(buffer.size() - got, pending_.size() - pendingStart_);
            std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_), n,
                        buffer.begin() + static_cast<std::ptrdiff_t>(got));
            pendingStart_ += n;
            got += n;
            if (plan.ReturnOnAny)
                break;
            if (plan.Interval)
                gap = Clock::now() + *plan.Interval;
            continue;
        }
        const int error = Take();
        if (error == 0)
            continue;
        if (error != EAGAIN)
            return {got, error};
        std::optional<Clock::time_point> deadline = plan.Total;
        if (gap && (!deadline || *gap < *deadline))
            deadline = gap;
        if (deadline && Clock::now() >= *deadline) {
            // Bytes held as a possible heartbeat are the answer's after all.
            if (link_.Filter.Held() == 0)
                break;
            link_.Filter.Release(pending_);
            continue;
        }
        if (const int waitError = link_.Socket.WaitReadable(deadline))
            return {got, waitError};
    }
    return {got, 0};
}

tty::Transfer ModemLine::Write(std::span<const std::uint8_t> bytes, const tty::WriteTimeouts& t) {
    const bool limited = t.Multiplier != 0 || t.Constant != 0;
    const std::optional<Clock::time_point> deadline =
        limited ? std::optional(tty::Later(Clock::now(),
                                           std::uint64_t{t.Multiplier} * bytes.size() + t.Constant))
                : std::nullopt;
    // What arrives from here on answers this request.
    link_.Filter.Boundary();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const net::Io put = link_.Socket.Send(bytes.subspan(sent));
        sent += put.Count;
        if (put.Error == 0)
            continue;
        if (put.Error != EAGAIN)
            return {sent, Failed(put.Error)};
        if (deadline && Clock::now() >= *deadline)
            break; // a time-out is no error
        if (const int error = link_.Socket.WaitWritable(deadline))
            return {sent, error};
    }
    return {sent, 0};
}

int ModemLine::Flush(bool input, bool) {
    if (!link_.Socket.IsOpen())
        return EBADF;
    if (!input)
        return 0;
    int error = 0;
    for (int i = 0; i < MaxPurgeReceives && (error = Take()) == 0; ++i) {
    }
    pending_.clear();
    pendingStart_ = 0;
    link_.Filter.Boundary();
    // A lost connection shows on the next read, as a hang-up does.
    return error == EIO || error == EAGAIN || error == 0 ? 0 : error;
}

} // namespace kve17::serve
