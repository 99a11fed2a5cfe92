#include "tools/ctl/LineScan.h"

#include "link/LinkCodes.h"

#include <array>
#include <cmath>

namespace kve17::ctl {

namespace {

constexpr std::uint8_t BlockCommand = 67;
constexpr std::array<std::uint8_t, 2> NewestBlock{0x00, 0x01};
constexpr int ReplySize = 133;    // one archive block
constexpr int RequestBytes = 6;   // address, command, block number, checksum
constexpr int HeaderBytes = 3;    // address, command, count: enough to know who answers
constexpr int TurnAroundMs = 100; // a device's time to start its reply, with room to spare

// Milliseconds per character: start, 8 data, parity and 2 stop bits at most.
double CharacterMs(int baud) {
    return 12000.0 / baud;
}

std::string WordsOf(TComPortClass& link, TConsolePrompt& words, int device, int code) {
    words.ForgetLast();
    link.ShowError(device - 1, code);
    return words.LastMessage();
}

} // namespace

std::chrono::milliseconds ScanReplyTimeout(const TReadOptions& read) {
    if (read.TimeoutMs > 0)
        return std::chrono::milliseconds(read.TimeoutMs);
    const double lineMs = (RequestBytes + HeaderBytes) * CharacterMs(read.Baud);
    return std::chrono::milliseconds(TurnAroundMs + static_cast<int>(std::ceil(lineMs)));
}

void FitScanTimeouts(TComPort& port, const TReadOptions& read) {
    TComTimeouts& timeouts = port.Timeouts();
    timeouts.SetReadTotalMultiplier(static_cast<int>(std::ceil(CharacterMs(read.Baud))));
    timeouts.SetReadTotalConstant(static_cast<int>(ScanReplyTimeout(read).count()));
}

TLinkTiming ScanTiming() {
    return TLinkTiming{std::chrono::milliseconds(0)};
}

std::vector<TDeviceOutcome> ScanLine(TComPortClass& link, TConsolePrompt& words,
                                     const std::vector<int>& devices) {
    link.SetPovt1(1);
    link.SetPovt2(1);
    std::vector<TDeviceOutcome> outcomes;
    for (const int device : devices) {
        std::array<std::uint8_t, ReplySize> reply{};
        TDeviceOutcome o;
        o.Device = device;
        o.Code = link.Exchange(device - 1, BlockCommand, static_cast<int>(NewestBlock.size()),
                               NewestBlock.data(), reply);
        // A late reply of the address before is no answer of this one.
        o.Started = o.Code != LinkCode::NoReply && reply[0] == device;
        o.Ok = o.Started && o.Code == LinkCode::Ok;
        if (!o.Started)
            o.Code = LinkCode::NoReply;
        o.Result = o.Ok ? "answers" : WordsOf(link, words, device, o.Code);
        outcomes.push_back(o);
    }
    return outcomes;
}

} // namespace kve17::ctl
