#include "serial/NetLine.h"

#include "serial/ReadPlan.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace kve17 {

namespace {

using Clock = net::Clock;
using std::chrono::milliseconds;
namespace r = rfc2217;

using tty::Later;

// The values of the COM-port requests; nothing for settings the option has no words for.
std::optional<std::uint32_t> ParityValue(TParityBits parity) {
    switch (parity) {
    case prNone:
        return 1;
    case prOdd:
        return 2;
    case prEven:
        return 3;
    case prMark:
        return 4;
    case prSpace:
        return 5;
    default:
        return std::nullopt;
    }
}

std::optional<std::uint32_t> StopValue(TStopBits stop) {
    switch (stop) {
    case sbOneStopBit:
        return 1;
    case sbTwoStopBits:
        return 2;
    case sbOne5StopBits:
        return 3;
    default:
        return std::nullopt;
    }
}

std::uint32_t FlowValue(const tty::LineSettings& s) {
    if (s.OutCtsFlow || s.Rts == rtsHandshake)
        return 3;
    return s.XonXoffOut || s.XonXoffIn ? 2 : 1;
}

struct Setting {
    r::Command Command;
    std::uint32_t Value;
    int Width;
};

} // namespace

TNetLine::TNetLine(TLineKind kind, TNetTiming timing) : kind_(kind), timing_(timing) {}

int TNetLine::Open(const std::string& target) {
    Close();
    const std::optional<TPortTarget> parsed = ParsePortTarget(target);
    if (!parsed || parsed->Kind != kind_)
        return EINVAL;
    if (const int error = socket_.Connect(parsed->Host, parsed->Service, timing_.Connect))
        return error;
    telnet_ = r::Stream();
    if (kind_ == TLineKind::RawTcp)
        return 0;
    std::size_t sent = 0;
    int error = SendAll(telnet_.Hello(), Clock::now() + timing_.Answer, sent);
    if (error == 0)
        error = AwaitServer([&] { return telnet_.ComPort() != r::OptionState::Pending; });
    if (error == 0 && telnet_.ComPort() == r::OptionState::Refused)
        error = EPROTONOSUPPORT;
    if (error != 0)
        Close();
    return error;
}

void TNetLine::Close() {
    socket_.Close();
    pending_.clear();
    pendingStart_ = 0;
}

int TNetLine::Apply(const tty::LineSettings& s) {
    if (kind_ == TLineKind::RawTcp)
        return 0;
    const auto parity = ParityValue(s.Parity);
    const auto stop = StopValue(s.StopBits);
    if (s.Rate <= 0 || s.DataBits < 5 || s.DataBits > 8 || !parity || !stop)
        return EINVAL;
    const std::array<Setting, 4> checked{{
        {r::SetBaudRate, static_cast<std::uint32_t>(s.Rate), 4},
        {r::SetDataSize, static_cast<std::uint32_t>(s.DataBits), 1},
        {r::SetParity, *parity, 1},
        {r::SetStopSize, *stop, 1},
    }};
    r::Bytes requests;
    for (const Setting& setting : checked) {
        telnet_.Forget(setting.Command);
        const r::Bytes one = r::Request(setting.Command, setting.Value, setting.Width);
        requests.insert(requests.end(), one.begin(), one.end());
    }
    // Flow control and modem lines: their answers are not waited for (see Rfc2217.h).
    for (const std::uint32_t control : {FlowValue(s), s.Dtr == dtrEnable ? 8U : 9U,
                                        s.Rts == rtsEnable || s.Rts == rtsHandshake ? 11U : 12U}) {
        const r::Bytes one = r::Request(r::SetControl, control, 1);
        requests.insert(requests.end(), one.begin(), one.end());
    }
    std::size_t sent = 0;
    if (const int error = SendAll(requests, Clock::now() + timing_.Answer, sent))
        return error;
    const auto answered = [&] {
        return std::all_of(checked.begin(), checked.end(), [&](const Setting& setting) {
            return telnet_.Answer(setting.Command) || telnet_.Malformed(setting.Command);
        });
    };
    if (const int error = AwaitServer(answered))
        return error;
    for (const Setting& setting : checked) {
        if (telnet_.Malformed(setting.Command))
            return EPROTO;
        if (telnet_.Answer(setting.Command) != setting.Value)
            return EINVAL;
    }
    return 0;
}

template <class Done> int TNetLine::AwaitServer(Done done) {
    const Clock::time_point deadline = Clock::now() + timing_.Answer;
    while (!done()) {
        const int error = Take();
        if (error == EAGAIN) {
            if (Clock::now() >= deadline)
                return ETIMEDOUT;
            if (const int waitError = socket_.WaitReadable(deadline))
                return waitError;
            continue;
        }
        if (error != 0)
            return error;
    }
    return 0;
}

int TNetLine::Take() {
    std::array<std::uint8_t, 4096> chunk{};
    const net::Io got = socket_.Receive(chunk);
    if (got.Error != 0)
        return got.Error;
    const auto bytes = std::span(chunk).first(got.Count);
    if (pendingStart_ == pending_.size()) {
        pending_.clear();
        pendingStart_ = 0;
    }
    if (kind_ == TLineKind::RawTcp) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        return 0;
    }
    r::Bytes reply;
    telnet_.Feed(bytes, pending_, reply);
    std::size_t sent = 0;
    return reply.empty() ? 0 : SendAll(reply, Clock::now() + timing_.Answer, sent);
}

tty::Transfer TNetLine::Read(std::span<std::uint8_t> buffer, const tty::ReadTimeouts& t) {
    const Clock::time_point start = Clock::now();
    const std::size_t wanted = buffer.size();
    const tty::ReadPlan plan = tty::PlanRead(t, wanted, start);
    const std::optional<Clock::time_point> total = plan.Total;
    const std::optional<milliseconds> interval = plan.Interval;
    const bool returnOnAny = plan.ReturnOnAny;

    std::size_t got = 0;
    std::optional<Clock::time_point> gap;
    while (got < wanted) {
        if (pendingStart_ < pending_.size()) {
            const std::size_t n = std::min(wanted - got, pending_.size() - pendingStart_);
            std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_), n,
                        buffer.begin() + static_cast<std::ptrdiff_t>(got));
            pendingStart_ += n;
            got += n;
            if (returnOnAny)
                break;
            if (interval)
                gap = Clock::now() + *interval;
            continue;
        }
        const int error = Take();
        if (error == 0)
            continue;
        if (error != EAGAIN)
            return {got, error};
        std::optional<Clock::time_point> deadline = total;
        if (gap && (!deadline || *gap < *deadline))
            deadline = gap;
        if (deadline && Clock::now() >= *deadline)
            break;
        if (const int waitError = socket_.WaitReadable(deadline))
            return {got, waitError};
    }
    return {got, 0};
}

tty::Transfer TNetLine::Write(std::span<const std::uint8_t> bytes, const tty::WriteTimeouts& t) {
    const bool limited = t.Multiplier != 0 || t.Constant != 0;
    const std::optional<Clock::time_point> deadline =
        limited ? std::optional(
                      Later(Clock::now(), std::uint64_t{t.Multiplier} * bytes.size() + t.Constant))
                : std::nullopt;
    std::size_t sent = 0;
    if (kind_ == TLineKind::RawTcp) {
        const int error = SendAll(bytes, deadline, sent);
        return {sent, error};
    }
    r::Bytes escaped;
    r::Escape(bytes, escaped);
    const int error = SendAll(escaped, deadline, sent);
    // The count is of the caller's bytes: each sent 0xFF took two on the wire.
    std::size_t taken = 0;
    std::size_t wire = 0;
    for (; taken < bytes.size() && wire < sent; ++taken)
        wire += bytes[taken] == r::Iac ? 2 : 1;
    if (wire > sent && error == 0) {
        // A time-out between the two halves of a doubled 0xFF: finish the pair, or the server
        // would take the next byte for a command.
        std::size_t more = 0;
        const std::array<std::uint8_t, 1> iac{r::Iac};
        return {taken, SendAll(iac, Clock::now() + timing_.Answer, more)};
    }
    return {taken, error};
}

int TNetLine::SendAll(std::span<const std::uint8_t> bytes,
                      std::optional<Clock::time_point> deadline, std::size_t& sent) {
    sent = 0;
    while (sent < bytes.size()) {
        const net::Io put = socket_.Send(bytes.subspan(sent));
        sent += put.Count;
        if (put.Error == 0)
            continue;
        if (put.Error != EAGAIN)
            return put.Error;
        if (deadline && Clock::now() >= *deadline)
            return 0; // a time-out is no error
        if (const int error = socket_.WaitWritable(deadline))
            return error;
    }
    return 0;
}

int TNetLine::Flush(bool input, bool output) {
    if (!socket_.IsOpen())
        return EBADF;
    if (input) {
        int error = 0;
        while ((error = Take()) == 0) {
        }
        pending_.clear();
        pendingStart_ = 0;
        if (error == EIO)
            return 0; // a lost connection shows on the next read, as a hang-up does
        if (error != EAGAIN)
            return error;
    }
    if (kind_ == TLineKind::RawTcp || (!input && !output))
        return 0;
    const std::uint32_t queues = input && output ? 3 : input ? 1 : 2;
    std::size_t sent = 0;
    return SendAll(r::Request(r::PurgeData, queues, 1), Clock::now() + timing_.Answer, sent);
}

} // namespace kve17
