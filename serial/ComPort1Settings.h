// The settings the main window's port carries from its start and never changes: 8 data bits,
// no flow control with DTR and RTS held off, 1024-byte queues, and the read and write time-outs
// the exchange is timed by. Speed, parity, stop bits and the port name are left to the link.
#pragma once

namespace kve17 {

class TComPort;

void LoadComPort1Settings(TComPort& port);

} // namespace kve17
