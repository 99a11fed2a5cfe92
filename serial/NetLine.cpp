#include "serial/NetLine.h"

#include "serial/ReadPlan.h"
#include "serial/TtyRate.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace kve17 {

namespace {

using Clock = net::Clock;
using std::chrono::milliseconds;
namespace r = rfc2217;

using tty::Later;

// Line data nobody has read yet is kept up to this much; more piles up only while a peer floods.
constexpr std::size_t HeldLimit = 64 * 1024;
// A purge drops at most this much: a peer that floods must not keep it going forever.
constexpr std::size_t PurgeLimit = 256 * 1024;
constexpr std::size_t Chunk = 4096;
// How long a fresh connection is watched for a server that turns it away: about two round trips
// (the connect's time), within limits.
constexpr milliseconds SettleBase{100};
constexpr milliseconds SettleMost{500};

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

// A speed the server's clock reaches within 2 % of the one asked is that speed, as on a terminal.
bool AnswerMatches(const Setting& setting, std::uint32_t answer) {
    if (setting.Command != r::SetBaudRate)
        return answer == setting.Value;
    const auto bounded = static_cast<int>(std::min<std::uint32_t>(answer, 1U << 30));
    return tty::ReadBackRateAccepted(static_cast<int>(setting.Value), bounded);
}

} // namespace

TNetLine::TNetLine(TLineKind kind, TNetTiming timing) : kind_(kind), timing_(timing) {}

int TNetLine::Open(const std::string& target) {
    Close();
    const std::optional<TPortTarget> parsed = ParsePortTarget(target);
    if (!parsed || parsed->Kind != kind_)
        return EINVAL;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + timing_.Connect;
    telnet_ = r::Stream();
    int error = socket_.Connect(parsed->Host, parsed->Service, timing_.Connect);
    if (error == 0 && kind_ == TLineKind::Rfc2217)
        error = Negotiate(std::min(deadline, Clock::now() + timing_.Answer));
    if (error == 0)
        error = Settle(start, deadline);
    if (error != 0)
        Close();
    return error;
}

int TNetLine::Negotiate(Clock::time_point deadline) {
    std::size_t sent = 0;
    int error = SendAll(telnet_.Hello(), deadline, sent);
    if (error == 0)
        error = AwaitServer([&] { return telnet_.ComPort() != r::OptionState::Pending; }, deadline);
    if (error == EIO)
        return EBUSY; // turned away before the option was settled: see Settle
    if (error == 0 && telnet_.ComPort() == r::OptionState::Refused)
        return EPROTONOSUPPORT;
    return error;
}

// A device server whose line another program holds takes the connection and closes it at once,
// perhaps after a few words of its own. What arrives meanwhile from a free line is kept.
int TNetLine::Settle(Clock::time_point start, Clock::time_point deadline) {
    const Clock::time_point now = Clock::now();
    const auto watch = std::min<Clock::duration>(SettleBase + 2 * (now - start), SettleMost);
    const Clock::time_point until = std::min(deadline, now + watch);
    for (;;) {
        const int error = Take();
        if (error == EIO)
            return EBUSY;
        if (error != 0 && error != EAGAIN)
            return error;
        if (Clock::now() >= until)
            return 0;
        if (error == EAGAIN)
            if (const int waitError = socket_.WaitReadable(until))
                return waitError;
    }
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
    if (const int error = AwaitServer(answered, Clock::now() + timing_.Answer))
        return error;
    for (const Setting& setting : checked) {
        if (telnet_.Malformed(setting.Command))
            return EPROTO;
        const std::optional<std::uint32_t> answer = telnet_.Answer(setting.Command);
        if (!answer || !AnswerMatches(setting, *answer))
            return EINVAL;
    }
    return 0;
}

// The deadline is looked at after every piece: a server that never stops talking without
// answering is given no more time than a silent one.
template <class Done> int TNetLine::AwaitServer(Done done, Clock::time_point deadline) {
    for (;;) {
        if (done())
            return 0;
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
        const int error = Take();
        if (error == EAGAIN) {
            if (const int waitError = socket_.WaitReadable(deadline))
                return waitError;
        } else if (error != 0) {
            return error;
        }
    }
}

int TNetLine::Take() {
    std::array<std::uint8_t, Chunk> chunk{};
    const net::Io got = socket_.Receive(chunk);
    if (got.Error != 0)
        return got.Error;
    const auto bytes = std::span(chunk).first(got.Count);
    if (pendingStart_ == pending_.size()) {
        pending_.clear();
        pendingStart_ = 0;
    }
    r::Bytes reply;
    if (kind_ == TLineKind::RawTcp)
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    else
        telnet_.Feed(bytes, pending_, reply);
    DropOldest();
    std::size_t sent = 0;
    return reply.empty() ? 0 : SendAll(reply, Clock::now() + timing_.Answer, sent);
}

// Nothing that old is a reply to the request in hand: a reply is read as soon as it is asked
// for, and a flood spoils the exchange anyway.
void TNetLine::DropOldest() {
    if (pending_.size() - pendingStart_ > HeldLimit)
        pendingStart_ = pending_.size() - HeldLimit;
    if (pendingStart_ >= HeldLimit) {
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_));
        pendingStart_ = 0;
    }
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
        if (error != 0 && error != EAGAIN)
            return {got, error};
        if (pendingStart_ < pending_.size())
            continue;
        // Negotiation or commands without data (a flood of them, perhaps) do not stretch the
        // time-outs.
        std::optional<Clock::time_point> deadline = total;
        if (gap && (!deadline || *gap < *deadline))
            deadline = gap;
        if (deadline && Clock::now() >= *deadline)
            break;
        if (error == 0)
            continue;
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
        for (std::size_t dropped = 0; error == 0 && dropped < PurgeLimit; dropped += Chunk) {
            error = Take();
            pending_.clear();
            pendingStart_ = 0;
        }
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
