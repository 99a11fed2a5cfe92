// The serial port driver: holds the line settings, opens a port by its directory name for this
// process alone, applies the settings, and reads and writes under time-outs. Every failure is
// raised as EComPort.
#pragma once

#include "serial/ByteLine.h"
#include "serial/ComPortIntf.h"
#include "serial/ComSettings.h"
#include "serial/ComTypes.h"
#include "serial/PortDirectory.h"
#include "serial/TtyLine.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kve17 {

class TCustomComPort : public IComPort {
public:
    // `directory` turns port names into device paths or server addresses when the port is
    // opened; a "tcp://" or "rfc2217://" address may also be given as the name itself.
    explicit TCustomComPort(TPortDirectory directory = TPortDirectory());
    ~TCustomComPort() override;
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    bool Connected() const override { return connected_; }
    // Raises code 1 when the name is unknown, the device cannot be opened or another program
    // (or another port object) holds it; 7 when the line refuses the settings.
    void Open() override;
    void Close() override;

    TBaudRate BaudRate() const { return baudRate_; }
    int CustomBaudRate() const { return customBaudRate_; }
    TStopBits StopBits() const { return stopBits_; }
    TDataBits DataBits() const { return dataBits_; }
    std::string Port() const override { return port_; }

    // While connected a changed line setting is applied at once (code 7 when refused); an
    // unknown rate is refused, never replaced by another.
    void SetBaudRate(TBaudRate rate) override;
    void SetCustomBaudRate(int bitsPerSecond);
    void SetStopBits(TStopBits bits) override;
    void SetDataBits(TDataBits bits);
    void SetParityBits(TParityBits bits) override { parity_.SetBits(bits); }
    // While connected the port is closed and opened again under the new name.
    void SetPort(std::string_view name) override;
    // An adapter that sends every transmitted byte back: each write then reads the echo and
    // drops it. Also on for a port whose target ends in "?echo" (see PortTarget.h).
    void SetEcho(bool on) { echo_ = on; }
    // A line given from outside (a connection a server accepted): Open opens it under the port's
    // name instead of resolving the name to a device or an address.
    void UseLine(std::unique_ptr<IByteLine> line);
    bool Echo() const { return echo_; }

    // Code 24 on a closed port; 3 (read) or 2 (write) with the error number when the line
    // fails or hangs up (EIO when the system gives none). With an echoing adapter, Write raises
    // EEchoFault, code 3, when the echo read back under the read time-outs differs from the bytes
    // sent (EBADMSG) or does not come whole (ETIMEDOUT).
    int Read(std::span<std::uint8_t> buffer) override;
    int Write(std::span<const std::uint8_t> bytes) override;
    // Code 5 when the queues cannot be discarded (EBADF on a closed port).
    void ClearBuffer(bool input, bool output) override;

    TComParity& Parity() { return parity_; }
    const TComParity& Parity() const { return parity_; }
    TComTimeouts& Timeouts() { return timeouts_; }
    const TComTimeouts& Timeouts() const { return timeouts_; }
    TComFlowControl& FlowControl() { return flowControl_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    TComBuffer& Buffer() { return buffer_; }
    const TComBuffer& Buffer() const { return buffer_; }
    const TPortDirectory& Directory() const { return directory_; }

    // Apply steps, run by Open and by the setters; each does nothing unless connected.
    virtual void ApplyDCB();
    virtual void ApplyTimeouts();
    virtual void ApplyBuffer();

protected:
    virtual void CreateHandle();
    virtual void DestroyHandle();
    virtual void SetupComPort();

private:
    tty::LineSettings LineSettings() const;
    tty::Transfer ReadLine(std::span<std::uint8_t> buffer);
    void DropEcho(std::span<const std::uint8_t> sent);

    TPortDirectory directory_;
    std::unique_ptr<IByteLine> line_;
    bool given_ = false; // line_ came from UseLine
    bool connected_ = false;
    bool echo_ = false;
    bool echoing_ = false; // this opening: echo_ or the target's own mark
    TBaudRate baudRate_ = br9600;
    int customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    TComParity parity_{this};
    TComTimeouts timeouts_{this};
    TComFlowControl flowControl_{this};
    TComBuffer buffer_{this};
};

// Publishes the properties; adds no behaviour.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace kve17
