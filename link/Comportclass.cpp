#include "link/Comportclass.h"

#include "link/LinkTexts.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

namespace kve17 {

namespace {

template <std::size_t N> bool StoreText(std::array<char, N>& field, std::string_view text) {
    // Room for the terminating zero; a value that does not fit leaves the field as it was.
    if (text.size() >= N || text.find('\0') != std::string_view::npos)
        return false;
    field.fill('\0');
    std::copy(text.begin(), text.end(), field.begin());
    return true;
}

// Leading decimal digits; no digits reads as 0. Values past any valid setting stay large.
int DecimalValue(std::string_view text) {
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        value = std::min(value * 10 + (c - '0'), 100'000'000);
    }
    return value;
}


std::optional<TParityBits> ParityOf(std::string_view text) {
    switch (text.empty() ? '\0' : text.front()) {
    case 'N':
        return prNone;
    case 'O':
        return prOdd;
    case 'E':
        return prEven;
    default:
        return std::nullopt;
    }
}

std::optional<TStopBits> StopBitsOf(int value) {
    switch (value) {
    case 1:
        return sbOneStopBit;
    case 2:
        return sbTwoStopBits;
    default:
        return std::nullopt;
    }
}

bool IsComName(std::string_view name) {
    // Exact case on purpose: "Com1" is not a port name of this system.
    return name.find("COM") != std::string_view::npos || name.find("com") != std::string_view::npos;
}

} // namespace

TComPortClass::TComPortClass(IComPort& port, IOperatorPrompt& prompt, TLinkTiming timing)
    : port_(port), prompt_(prompt), timing_(timing) {
    SetBaudText("9600");
    SetParityText("N");
    SetStopText("2");
    SetPortName("COM1");
}

bool TComPortClass::SetBaudText(std::string_view text) {
    return StoreText(BaudText, text);
}
bool TComPortClass::SetParityText(std::string_view text) {
    return StoreText(ParityText, text);
}
bool TComPortClass::SetStopText(std::string_view text) {
    return StoreText(StopText, text);
}
bool TComPortClass::SetPortName(std::string_view text) {
    return StoreText(PortName, text);
}

int TComPortClass::OpenPort() {
    try {
        port_.Close();
    } catch (const std::exception&) {
        ReportPortLost();
    }

    const auto rate = LinkBaudRate(DecimalValue(GetBaudText()));
    if (!rate)
        return -1;
    port_.SetBaudRate(*rate);

    const auto parity = ParityOf(GetParityText());
    if (!parity)
        return -1;
    port_.SetParityBits(*parity);

    const auto stop = StopBitsOf(DecimalValue(GetStopText()));
    if (!stop)
        return -1;
    port_.SetStopBits(*stop);

    const std::string_view name = GetPortName();
    if (!IsComName(name))
        return -1;
    port_.SetPort(name);

    try {
        port_.Open();
    } catch (const std::exception&) {
        ReportPortLost();
    }
    return port_.Connected() ? 0 : -1;
}

void TComPortClass::ClosePort() {
    try {
        port_.Close();
    } catch (const std::exception&) {
        // Closing is best effort: the port is gone either way.
    }
}

void TComPortClass::ReportPortLost() {
    prompt_.Message(LinkText::PortLost, LinkText::ErrorCaption, TMsgIcon::Error, TMsgButtons::Ok);
    prompt_.RequestMainClose();
}

std::optional<TBaudRate> LinkBaudRate(int value) {
    static constexpr std::pair<int, TBaudRate> table[] = {
        {110, br110},     {300, br300},     {600, br600},       {1200, br1200},   {2400, br2400},
        {4800, br4800},   {9600, br9600},   {14400, br14400},   {19200, br19200}, {38400, br38400},
        {56000, br56000}, {57600, br57600}, {115200, br115200},
    };
    for (const auto& [bits, rate] : table)
        if (bits == value)
            return rate;
    return std::nullopt;
}

} // namespace kve17
