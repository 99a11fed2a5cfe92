#include "link/Comportclass.h"
#include "link/Crc16.h"
#include "link/LinkCodes.h"
#include "serial/EComPort.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace kve17 {

namespace {

constexpr int HeaderLen = 3;
constexpr std::uint8_t ExceptionBit = 0x80;

bool IsKnownCommand(std::uint8_t command) {
    return std::find(LinkCommands.begin(), LinkCommands.end(), command) != LinkCommands.end();
}

// Broadcast-like commands: the devices do not answer them.
bool ExpectsNoReply(std::uint8_t command) {
    return command == 69 || command == 70;
}

int ExpectedReplyLen(std::uint8_t command, int requestLen, std::uint8_t count) {
    switch (command) {
    case 5:
    case 14:
        return requestLen; // an echo of the request
    case 15:
        return 8;
    default:
        return count + 5;
    }
}

} // namespace

int TComPortClass::Exchange(int deviceIndex, std::uint8_t command, int dataLen,
                            const std::uint8_t* data, std::span<std::uint8_t> reply) {
    // A request that cannot be built is never sent, as with an unknown command.
    if (dataLen < 0 || dataLen > MaxDataLen || (dataLen > 0 && data == nullptr))
        return LinkCode::UnknownCommand;
    DataLen = dataLen;
    TxLen = dataLen + 4;
    std::array<std::uint8_t, FrameCapacity> buffer;
    const auto frame = std::span(buffer).first(static_cast<std::size_t>(TxLen));
    std::fill(frame.begin(), frame.end(), std::uint8_t{0});
    if (BuildFrame(deviceIndex, command, data, frame) != 0)
        return LinkCode::UnknownCommand;
    if (!port_.Connected())
        return LinkCode::PortNotOpen;
    try {
        port_.ClearBuffer(true, true); // once per exchange; each attempt drops input only
    } catch (const std::exception&) {
        ReportPortLost();
    }
    return Transact(frame, reply);
}

int TComPortClass::BuildFrame(int deviceIndex, std::uint8_t command, const std::uint8_t* data,
                              std::span<std::uint8_t> frame) {
    if (!IsKnownCommand(command))
        return 1;
    if (DataLen < 0 || TxLen != DataLen + 4 || frame.size() < static_cast<std::size_t>(TxLen) ||
        (DataLen > 0 && data == nullptr))
        return 1;
    frame[0] = static_cast<std::uint8_t>(deviceIndex + 1);
    frame[1] = command;
    if (DataLen != 0) {
        std::copy_n(data, DataLen, frame.begin() + 2);
        if (command == 70)
            frame[0] = 0;
    }
    // The low-order byte of the CRC comes first.
    const std::uint16_t crc = Crc16(TxLen - 2, frame.data());
    frame[2 + DataLen] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[3 + DataLen] = static_cast<std::uint8_t>(crc >> 8);
    return 0;
}

int TComPortClass::Transact(std::span<const std::uint8_t> frame, std::span<std::uint8_t> reply) {
    if (frame.size() < 4 || frame.size() > static_cast<std::size_t>(FrameCapacity))
        return LinkCode::UnknownCommand;
    const std::uint8_t command = frame[1];
    const int requestLen = static_cast<int>(frame.size());
    // Takes a reply too long for the caller's buffer, so it is still read whole.
    std::array<std::uint8_t, MaxReplyLen> spill;
    int budget1 = Povt1;
    int budget2 = Povt2;
    // The last try's garbled echo: it is what the operator is told when the budget runs out.
    std::optional<EEchoFault> echo;
    for (;;) {
        WaitMs(DelayTx);
        DiscardInput();
        echo = WriteEchoed(frame);
        TStepResult result{TStep::Stage1Failed, LinkCode::ReceiveError};
        if (!echo && ExpectsNoReply(command))
            return LinkCode::Ok;
        if (!echo)
            result = ReadHeader(command, requestLen, reply, spill);
        if (result.Step == TStep::HeaderAccepted) {
            budget1 = Povt1;
            result = ReadBody(reply, spill);
        }
        if (result.Step == TStep::Done)
            return result.Code;
        Wait(timing_.RepeatPause);
        int& budget = result.Step == TStep::Stage1Failed ? budget1 : budget2;
        if (--budget > 0)
            continue;
        if (echo)
            throw *echo;
        return result.Code;
    }
}

// A garbled echo is noise on the line: the try failed, before any reply.
std::optional<EEchoFault> TComPortClass::WriteEchoed(std::span<const std::uint8_t> frame) {
    try {
        WritePort(frame.data(), static_cast<int>(frame.size()));
        return std::nullopt;
    } catch (const EEchoFault& e) {
        return e;
    }
}

TComPortClass::TStepResult TComPortClass::ReadHeader(std::uint8_t command, int requestLen,
                                                     std::span<std::uint8_t> reply,
                                                     std::span<std::uint8_t> spill) {
    const auto header = reply.size() >= HeaderLen ? reply : spill;
    const int got = ReadPort(header.data(), HeaderLen);
    if (got == 0)
        return {TStep::Stage1Failed, LinkCode::NoReply};
    if (got < HeaderLen)
        return {TStep::Stage1Failed, LinkCode::ReceiveTimeout};
    RxCount = header[2];
    RxLen = ExpectedReplyLen(command, requestLen, header[2]);
    if (header[1] == (command | ExceptionBit) && header[2] != 0) {
        // Its checksum stays unread: the next exchange's purge drops it.
        RxLen = 5;
        return {TStep::Done, header[2]};
    }
    if (header[1] != command && header[1] != (command | ExceptionBit))
        return {TStep::Stage1Failed, LinkCode::ReceiveError};
    if (static_cast<std::size_t>(RxLen) > reply.size() && header.data() == reply.data())
        std::copy_n(header.begin(), HeaderLen, spill.begin());
    return {TStep::HeaderAccepted, LinkCode::Ok};
}

TComPortClass::TStepResult TComPortClass::ReadBody(std::span<std::uint8_t> reply,
                                                   std::span<std::uint8_t> spill) {
    const bool fits = static_cast<std::size_t>(RxLen) <= reply.size();
    const auto frame = fits ? reply : spill;
    const int expected = RxLen - HeaderLen;
    const int got = ReadPort(frame.data() + HeaderLen, expected);
    if (got == 0)
        return {TStep::Stage2Failed, LinkCode::NoReply};
    if (got < expected)
        return {TStep::Stage2Failed, LinkCode::ReceiveTimeout};
    if (!fits)
        return {TStep::Stage2Failed, LinkCode::ReceiveError};
    const std::uint16_t crc = Crc16(RxLen - 2, frame.data());
    if (frame[RxLen - 2] != (crc & 0xFF) || frame[RxLen - 1] != (crc >> 8))
        return {TStep::Stage2Failed, LinkCode::BadChecksum};
    return {TStep::Done, LinkCode::Ok};
}

// Whatever arrived since the purge or the last attempt would be taken for this attempt's reply:
// the rest of a rejected reply (a foreign frame, noise), which would spoil every repeat, or a
// late answer to an earlier request, which would be stored as the wrong block. Drop it right
// before asking.
void TComPortClass::DiscardInput() {
    try {
        port_.ClearBuffer(true, false);
    } catch (const std::exception&) {
        // A port that is gone fails the write that follows, which reaches the caller; the
        // purge of the exchange has already told the operator.
    }
}

int TComPortClass::WritePort(const std::uint8_t* bytes, int count) {
    // The count written is not examined: a short write shows up as a missing reply.
    port_.Write(std::span(bytes, static_cast<std::size_t>(std::max(count, 0))));
    return 0;
}

int TComPortClass::ReadPort(std::uint8_t* bytes, int count) {
    if (count <= 0)
        return 0;
    return port_.Read(std::span(bytes, static_cast<std::size_t>(count)));
}

void TComPortClass::WaitMs(int milliseconds) {
    Wait(std::chrono::milliseconds(milliseconds));
}

void TComPortClass::Wait(std::chrono::milliseconds duration) {
    // A monotonic deadline: a change of the time of day neither shortens nor stretches it.
    if (duration.count() > 0)
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + duration);
}

} // namespace kve17
