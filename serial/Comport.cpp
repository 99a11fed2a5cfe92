#include "serial/Comport.h"

#include "serial/EComPort.h"
#include "serial/NetLine.h"
#include "serial/PortTarget.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

namespace kve17 {

namespace {

std::unique_ptr<IByteLine> MakeLine(TLineKind kind) {
    if (kind == TLineKind::Terminal)
        return std::make_unique<TtyByteLine>();
    return std::make_unique<TNetLine>(kind);
}

template <class Span> Span Clamped(Span bytes) {
    return bytes.first(std::min<std::size_t>(bytes.size(), INT_MAX));
}

} // namespace

TCustomComPort::TCustomComPort(TPortDirectory directory) : directory_(std::move(directory)) {}

TCustomComPort::~TCustomComPort() {
    Close();
}

void TCustomComPort::Open() {
    if (connected_)
        return;
    CreateHandle();
    connected_ = true;
    try {
        SetupComPort();
    } catch (...) {
        DestroyHandle();
        connected_ = false;
        throw;
    }
}

void TCustomComPort::Close() {
    if (!connected_)
        return;
    DestroyHandle();
    connected_ = false;
}

// No event thread: nothing here reads the line behind the caller's back, so received bytes stay
// in the kernel's input queue until Read takes them or ClearBuffer or Close discards them.
void TCustomComPort::CreateHandle() {
    if (given_) {
        echoing_ = echo_;
        if (const int error = line_->Open(port_))
            throw EComPort(CE_OpenFailed, error);
        return;
    }
    const std::optional<std::string> path = directory_.Resolve(port_);
    if (!path)
        throw EComPort(CE_OpenFailed, ENOENT);
    const std::optional<TPortTarget> target = ParsePortTarget(*path);
    if (!target)
        throw EComPort(CE_OpenFailed, EINVAL);
    line_ = MakeLine(target->Kind);
    echoing_ = echo_ || target->Echo;
    const bool terminal = target->Kind == TLineKind::Terminal;
    if (const int error = line_->Open(terminal ? target->Path : *path)) {
        const std::string why = terminal ? "" : NetworkOpenText(error);
        if (!why.empty())
            throw EComPort(CE_OpenFailed, error, why);
        throw EComPort(CE_OpenFailed, error);
    }
}

void TCustomComPort::UseLine(std::unique_ptr<IByteLine> line) {
    Close();
    line_ = std::move(line);
    given_ = line_ != nullptr;
}

void TCustomComPort::DestroyHandle() {
    if (line_)
        line_->Close();
}

void TCustomComPort::SetupComPort() {
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

tty::LineSettings TCustomComPort::LineSettings() const {
    tty::LineSettings s;
    s.Rate = BaudRateValue(baudRate_, customBaudRate_);
    s.DataBits = 5 + static_cast<int>(dataBits_);
    s.Parity = parity_.Bits();
    s.StopBits = stopBits_;
    s.ParityCheck = parity_.Check();
    s.ParityReplace = parity_.Replace();
    s.ReplaceChar = parity_.ReplaceChar();
    s.OutCtsFlow = flowControl_.OutCTSFlow();
    s.OutDsrFlow = flowControl_.OutDSRFlow();
    s.DsrSensitivity = flowControl_.DSRSensitivity();
    s.Dtr = flowControl_.ControlDTR();
    s.Rts = flowControl_.ControlRTS();
    s.XonXoffOut = flowControl_.XonXoffOut();
    s.XonXoffIn = flowControl_.XonXoffIn();
    s.XonChar = flowControl_.XonChar();
    s.XoffChar = flowControl_.XoffChar();
    return s;
}

void TCustomComPort::ApplyDCB() {
    if (!connected_)
        return;
    if (const int error = line_->Apply(LineSettings()))
        throw EComPort(CE_SetStateFailed, error);
}

// The time-outs are kept here and used by Read and Write: nothing to hand to the system.
void TCustomComPort::ApplyTimeouts() {}

// The terminal driver's queues have fixed sizes.
void TCustomComPort::ApplyBuffer() {}

void TCustomComPort::SetBaudRate(TBaudRate rate) {
    if (Store(baudRate_, rate))
        ApplyDCB();
}

void TCustomComPort::SetCustomBaudRate(int bitsPerSecond) {
    if (Store(customBaudRate_, bitsPerSecond))
        ApplyDCB();
}

void TCustomComPort::SetStopBits(TStopBits bits) {
    if (Store(stopBits_, bits))
        ApplyDCB();
}

void TCustomComPort::SetDataBits(TDataBits bits) {
    if (Store(dataBits_, bits))
        ApplyDCB();
}

void TCustomComPort::SetPort(std::string_view name) {
    if (port_ == name)
        return;
    port_ = name;
    if (connected_) {
        Close();
        Open();
    }
}

tty::Transfer TCustomComPort::ReadLine(std::span<std::uint8_t> buffer) {
    const tty::ReadTimeouts timeouts{static_cast<std::uint32_t>(timeouts_.ReadInterval()),
                                     static_cast<std::uint32_t>(timeouts_.ReadTotalMultiplier()),
                                     static_cast<std::uint32_t>(timeouts_.ReadTotalConstant())};
    return line_->Read(Clamped(buffer), timeouts);
}

int TCustomComPort::Read(std::span<std::uint8_t> buffer) {
    if (!connected_)
        throw EComPort(CEPortNotOpen);
    const tty::Transfer done = ReadLine(buffer);
    if (done.Error != 0)
        throw EComPort(CE_ReadFailed, done.Error);
    return static_cast<int>(done.Count);
}

int TCustomComPort::Write(std::span<const std::uint8_t> bytes) {
    if (!connected_)
        throw EComPort(CEPortNotOpen);
    const tty::WriteTimeouts timeouts{static_cast<std::uint32_t>(timeouts_.WriteTotalMultiplier()),
                                      static_cast<std::uint32_t>(timeouts_.WriteTotalConstant())};
    const tty::Transfer done = line_->Write(Clamped(bytes), timeouts);
    if (done.Error != 0)
        throw EComPort(CE_WriteFailed, done.Error);
    if (echoing_)
        DropEcho(bytes.first(done.Count));
    return static_cast<int>(done.Count);
}

// The echo comes before any reply, so it is read off in the caller's bytes' size, in pieces of a
// fixed buffer.
void TCustomComPort::DropEcho(std::span<const std::uint8_t> sent) {
    std::array<std::uint8_t, 256> echo{};
    while (!sent.empty()) {
        const auto piece = std::span(echo).first(std::min(echo.size(), sent.size()));
        const tty::Transfer done = ReadLine(piece);
        if (done.Error != 0)
            throw EComPort(CE_ReadFailed, done.Error);
        if (!std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(done.Count),
                        sent.begin()))
            throw EEchoFault(CE_ReadFailed, EBADMSG,
                           "the echo differs from the bytes sent (does the adapter echo?)");
        if (done.Count < piece.size())
            throw EEchoFault(CE_ReadFailed, ETIMEDOUT,
                           "the adapter did not echo the bytes sent (is its echo on?)");
        sent = sent.subspan(piece.size());
    }
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
    if (!connected_)
        throw EComPort(CE_PurgeFailed, EBADF);
    if (const int error = line_->Flush(input, output))
        throw EComPort(CE_PurgeFailed, error);
}

} // namespace kve17
