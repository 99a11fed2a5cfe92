#include "tools/ctl/TraceComPort.h"

#include <string>

namespace kve17::ctl {

TTraceComPort::TTraceComPort(IComPort& inner, std::FILE* out)
    : inner_(inner), out_(out), start_(std::chrono::steady_clock::now()) {}

void TTraceComPort::Open() {
    inner_.Open();
    Line("--", {}, ("open " + inner_.Port()).c_str());
}

void TTraceComPort::Close() {
    const bool wasOpen = inner_.Connected();
    inner_.Close();
    if (wasOpen)
        Line("--", {}, "close");
}

int TTraceComPort::Read(std::span<std::uint8_t> buffer) {
    const int n = inner_.Read(buffer);
    const auto got = buffer.first(static_cast<std::size_t>(n < 0 ? 0 : n));
    if (got.size() == buffer.size()) {
        Line("RX", got, "");
    } else {
        const std::string note = "(time-out: " + std::to_string(got.size()) + " of " +
                                 std::to_string(buffer.size()) + " bytes)";
        Line("RX", got, note.c_str());
    }
    return n;
}

int TTraceComPort::Write(std::span<const std::uint8_t> bytes) {
    Line("TX", bytes, "");
    return inner_.Write(bytes);
}

void TTraceComPort::ClearBuffer(bool input, bool output) {
    inner_.ClearBuffer(input, output);
}

void TTraceComPort::Line(const char* direction, std::span<const std::uint8_t> bytes,
                         const char* note) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    std::fprintf(out_, "%8lld ms %s", static_cast<long long>(ms), direction);
    for (std::uint8_t b : bytes)
        std::fprintf(out_, " %02X", b);
    if (*note)
        std::fprintf(out_, " %s", note);
    std::fputc('\n', out_);
    std::fflush(out_);
}

} // namespace kve17::ctl
