#include "serial/EComPort.h"

#include <array>
#include <cerrno>
#include <utility>

namespace kve17 {

namespace {

constexpr std::array<const char*, 24> kMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

constexpr std::array<std::pair<int, const char*>, 4> kNetworkTexts = {{
    {EBUSY, "the device server is busy: another program holds its line"},
    {ECONNREFUSED, "the device server refuses the connection: another program holds its line, "
                   "or nothing serves that port"},
    {ETIMEDOUT, "no answer from the device server within the connect time-out"},
    {EHOSTUNREACH, "the device server's name is unknown or its host cannot be reached"},
}};

std::string BuildMessage(TComExceptions kind, int systemError) {
    std::string text = ComErrorText(kind + 1);
    if (systemError != 0 && systemError != -1 && kind != CEPortNotOpen)
        text += " (Error: " + std::to_string(systemError) + ")";
    return text;
}

int EffectiveSystemError(TComExceptions kind, int systemError) {
    return (systemError == 0 || kind == CEPortNotOpen) ? -1 : systemError;
}

} // namespace

const char* ComErrorText(int code) {
    if (code < 1 || code > static_cast<int>(kMessages.size()))
        return "";
    return kMessages[static_cast<std::size_t>(code - 1)];
}

const char* NetworkOpenText(int systemError) {
    for (const auto& [error, text] : kNetworkTexts)
        if (error == systemError)
            return text;
    return "";
}

bool HeldElsewhere(const EComPort& e) {
    return e.PortError == CE_OpenFailed + 1 &&
           (e.SystemError == EBUSY || e.SystemError == ECONNREFUSED);
}

EComPort::EComPort(TComExceptions kind, int systemError)
    : std::runtime_error(BuildMessage(kind, systemError)),
      SystemError(EffectiveSystemError(kind, systemError)), PortError(kind + 1) {}

EComPort::EComPort(TComExceptions kind, int systemError, const std::string& detail)
    : std::runtime_error(BuildMessage(kind, systemError) + ": " + detail),
      SystemError(EffectiveSystemError(kind, systemError)), PortError(kind + 1) {}

} // namespace kve17
