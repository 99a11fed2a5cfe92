// The device link: line settings and exchange timing, port set-up, one request/response exchange
// with a numbered device, and the reporting of its result codes.
#pragma once

#include "link/DeviceLink.h"
#include "link/OperatorPrompt.h"
#include "serial/ComPortIntf.h"
#include "serial/EComPort.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kve17 {

// The command codes the exchange accepts, in the order they are searched.
inline constexpr std::array<std::uint8_t, 17> LinkCommands{1,  2,  3,  4,  5,  6,  14, 15, 17,
                                                           18, 66, 67, 68, 69, 70, 71, 100};

// The rates the link accepts, by bits per second; nothing for any other value.
std::optional<TBaudRate> LinkBaudRate(int bitsPerSecond);

// Timing the link does not take from the operator. Tests shorten it; the program keeps 300 ms.
struct TLinkTiming {
    std::chrono::milliseconds RepeatPause{300};
};

class TComPortClass : public IDeviceLink {
public:
    static constexpr int FrameCapacity = 3000;
    static constexpr int MaxDataLen = FrameCapacity - 4;
    // The longest reply any command can ask for: the echo of the longest request (commands 5
    // and 14); other replies stop at 260 bytes (header, 255 data bytes, checksum).
    static constexpr int MaxReplyLen = FrameCapacity;

    TComPortClass(IComPort& port, IOperatorPrompt& prompt, TLinkTiming timing = {});

    // Working fields of the current exchange.
    int TxLen = 0;
    int DataLen = 0;
    int RxLen = 0;
    int RxCount = 0;
    // Exchange settings.
    int Povt1 = 5;
    int Povt2 = 10;
    int DelayTx = 25;
    int DelayRx = 20;
    // Line settings as short zero-terminated texts. PortName is wide enough for any port
    // directory name and for the device paths the command line gives.
    std::array<char, 7> BaudText{};
    std::array<char, 2> ParityText{};
    std::array<char, 2> StopText{};
    std::array<char, 256> PortName{};

    // Bounded writes of the text fields: a value that does not fit is refused (false) and the
    // field keeps its content.
    bool SetBaudText(std::string_view text);
    bool SetParityText(std::string_view text);
    bool SetStopText(std::string_view text);
    bool SetPortName(std::string_view text);
    // The text fields up to their terminating zero.
    std::string_view GetBaudText() const { return TextOf(BaudText); }
    std::string_view GetParityText() const { return TextOf(ParityText); }
    std::string_view GetStopText() const { return TextOf(StopText); }
    std::string_view GetPortName() const { return TextOf(PortName); }

    void SetPovt1(int value) { Povt1 = value; }
    void SetPovt2(int value) { Povt2 = value; }
    void SetDelayTx(int value) { DelayTx = value; }
    void SetDelayRx(int value) { DelayRx = value; }
    int GetDelayTx() const { return DelayTx; }
    int GetDelayRx() const { return DelayRx; }

    // Applies the text settings and opens the port: 0 when open afterwards, else -1.
    int OpenPort();
    // Closes the port, dropping any failure silently.
    void ClosePort();

    int Exchange(int deviceIndex, std::uint8_t command, int dataLen, const std::uint8_t* data,
                 std::span<std::uint8_t> reply) override;
    void ShowError(int deviceIndex, int code) override;
    // The words ShowError shows for a failure code ("" for 0).
    std::string ErrorText(int deviceIndex, int code) const;

    // Inner steps of the exchange, public for tests.
    int BuildFrame(int deviceIndex, std::uint8_t command, const std::uint8_t* data,
                   std::span<std::uint8_t> frame);
    int Transact(std::span<const std::uint8_t> frame, std::span<std::uint8_t> reply);
    int WritePort(const std::uint8_t* bytes, int count);
    int ReadPort(std::uint8_t* bytes, int count);
    void WaitMs(int milliseconds);

    IComPort& Port() { return port_; }

private:
    template <std::size_t N> static std::string_view TextOf(const std::array<char, N>& field) {
        std::size_t length = 0;
        while (length < N && field[length] != '\0')
            ++length;
        return {field.data(), length};
    }
    // Where one attempt of an exchange ended.
    enum class TStep { Done, HeaderAccepted, Stage1Failed, Stage2Failed };
    struct TStepResult {
        TStep Step;
        int Code;
    };

    // The port failed under us: tell the operator and ask the main window to close.
    void ReportPortLost();
    void DiscardInput();
    std::optional<EEchoFault> WriteEchoed(std::span<const std::uint8_t> frame);
    TStepResult ReadHeader(std::uint8_t command, int requestLen, std::span<std::uint8_t> reply,
                           std::span<std::uint8_t> spill);
    TStepResult ReadBody(std::span<std::uint8_t> reply, std::span<std::uint8_t> spill);
    void Wait(std::chrono::milliseconds duration);

    IComPort& port_;
    IOperatorPrompt& prompt_;
    TLinkTiming timing_;
};

} // namespace kve17
