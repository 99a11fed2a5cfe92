// A port that passes everything on to another and writes each frame sent and received to a
// stream: time since the start in milliseconds, direction, bytes in hex.
#pragma once

#include "serial/ComPortIntf.h"

#include <chrono>
#include <cstdio>

namespace kve17::ctl {

class TTraceComPort : public IComPort {
public:
    TTraceComPort(IComPort& inner, std::FILE* out);

    bool Connected() const override { return inner_.Connected(); }
    void Open() override;
    void Close() override;
    void SetBaudRate(TBaudRate rate) override { inner_.SetBaudRate(rate); }
    void SetParityBits(TParityBits bits) override { inner_.SetParityBits(bits); }
    void SetStopBits(TStopBits bits) override { inner_.SetStopBits(bits); }
    void SetPort(std::string_view name) override { inner_.SetPort(name); }
    std::string Port() const override { return inner_.Port(); }
    int Read(std::span<std::uint8_t> buffer) override;
    int Write(std::span<const std::uint8_t> bytes) override;
    void ClearBuffer(bool input, bool output) override;

private:
    void Line(const char* direction, std::span<const std::uint8_t> bytes, const char* note);

    IComPort& inner_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace kve17::ctl
