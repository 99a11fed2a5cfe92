// What a port name resolves to: a local terminal or a serial device server, and whether the
// adapter echoes what is sent. Targets are written as a device path ("/dev/ttyUSB0"), or as
// "tcp://HOST:PORT" (raw bytes, line settings kept on the server) or "rfc2217://HOST:PORT"
// (line settings sent to the server); "?echo" after either marks an adapter that echoes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kve17 {

enum class TLineKind { Terminal, RawTcp, Rfc2217 };

struct TPortTarget {
    TLineKind Kind = TLineKind::Terminal;
    std::string Path; // the device path of a terminal
    std::string Host; // a name, an IPv4 address, or an IPv6 address without its brackets
    std::string Service;
    bool Echo = false;
};

// True for "tcp://..." and "rfc2217://...", well formed or not.
bool IsNetworkTarget(std::string_view target);
// Nothing for a network address without a host or a port number from 1 to 65535.
std::optional<TPortTarget> ParsePortTarget(std::string_view target);
// The target without its "?echo", for comparing links with devices.
std::string_view TargetWithoutOptions(std::string_view target);

} // namespace kve17
