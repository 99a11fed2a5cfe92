// Feeds random bytes as the device's side of an exchange: the reply buffer must never be written
// past its capacity, and the result must be a code the exchange can return.
#include "link/Comportclass.h"
#include "tests/support/QuietOperator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

using namespace kve17;

namespace {

// A line whose device answers with the fuzz input, cut into reads of sizes the input chooses.
class FuzzPort : public IComPort {
public:
    FuzzPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Connected() const override { return true; }
    void Open() override {}
    void Close() override {}
    void SetBaudRate(TBaudRate) override {}
    void SetParityBits(TParityBits) override {}
    void SetStopBits(TStopBits) override {}
    void SetPort(std::string_view) override {}
    std::string Port() const override { return "COM1"; }
    void ClearBuffer(bool, bool) override {}
    int Write(std::span<const std::uint8_t> bytes) override {
        return static_cast<int>(bytes.size());
    }

    int Read(std::span<std::uint8_t> buffer) override {
        if (at_ >= size_)
            return 0;
        // The first byte of each read decides how much of the request arrives (a short read is
        // what a time-out gives).
        const std::size_t limit = data_[at_++];
        const std::size_t n = std::min({buffer.size(), limit, size_ - at_});
        std::memcpy(buffer.data(), data_ + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool PlausibleResult(int code) {
    return code >= 0 && code <= 255;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    constexpr std::size_t kCapacity = 133;
    constexpr std::size_t kGuard = 64;
    std::array<std::uint8_t, kCapacity + kGuard> reply{};
    std::fill(reply.begin() + kCapacity, reply.end(), 0xA5);

    FuzzPort port(data + 1, size - 1);
    test::QuietPrompt prompt;
    TComPortClass link(port, prompt, TLinkTiming{std::chrono::milliseconds(0)});
    link.SetDelayTx(0);
    // The first byte picks the command among the archive request and a few others.
    static constexpr std::uint8_t kCommands[] = {67, 3, 5, 14, 15, 17, 100};
    const std::uint8_t command = kCommands[data[0] % sizeof kCommands];
    const std::uint8_t request[2] = {0x00, static_cast<std::uint8_t>(1 + data[0] % 62)};

    const int result = link.Exchange(data[0] % 31, command, 2, request,
                                     std::span<std::uint8_t>(reply.data(), kCapacity));
    if (!PlausibleResult(result))
        std::abort();
    if (std::any_of(reply.begin() + kCapacity, reply.end(),
                    [](std::uint8_t b) { return b != 0xA5; }))
        std::abort();
    return 0;
}
