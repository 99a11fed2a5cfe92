// Notifications to systemd for a Type=notify service: one datagram to the socket named in
// $NOTIFY_SOCKET ("READY=1", "WATCHDOG=1", "STOPPING=1"), the watchdog's as often as
// $WATCHDOG_USEC asks (half its interval). Without $NOTIFY_SOCKET nothing is sent.
#pragma once

#include "serve/ServeParts.h"

#include <string>

namespace kve17::serve {

class SystemdNotify : public INotify {
public:
    // Reads the environment, as the service manager set it for this process.
    SystemdNotify();
    void Ready() override;
    void Alive() override;
    void Stopping() override;

private:
    void Send(const std::string& state) const;

    std::string socket_;
    std::chrono::microseconds watchdog_{0};
    Clock::time_point lastAlive_{};
};

} // namespace kve17::serve
