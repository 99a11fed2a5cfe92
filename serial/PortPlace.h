// Where a line really is, so that a history knows it under any of its names: the host that reads
// it and the device its port resolves to ("desk-2:/dev/serial/by-id/usb-FTDI_…-port0"), or, for
// a device server, its address ("rfc2217://10.0.4.20:4001"). A COM name and a path that resolve
// to one device are one place; two hosts' COM1 are two.
#pragma once

#include "serial/PortDirectory.h"

#include <string>
#include <string_view>

namespace kve17 {

inline constexpr std::string_view SerialByIdDir = "/dev/serial/by-id";
// The port of a line a cellular modem carries: "modem:" and the modem's ID, its place as it is.
inline constexpr std::string_view ModemPlacePrefix = "modem:";

// A COM name goes through the port directory, a path to its real device, which is then named
// by its stable link in `byIdDir` when there is one. A device that is not there keeps the path
// as given. A server's address: scheme, host in lower case, port; "?echo" left out.
std::string PortPlace(std::string_view port, const TPortDirectory& ports, std::string_view host,
                      std::string_view byIdDir = SerialByIdDir);

// This machine's name, "localhost" when it has none.
std::string HostName();

} // namespace kve17
