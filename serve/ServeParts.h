// The small interfaces the server is wired with, so that tests put their own in: the clock, the
// reader of one modem's line, the log, and the service manager's notifications.
#pragma once

#include "serial/ByteLine.h"
#include "serve/Schedule.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kve17::serve {

class IClock {
public:
    virtual ~IClock() = default;
    virtual Clock::time_point Now() const = 0;
    // The calendar time, for the status only.
    virtual std::chrono::system_clock::time_point Wall() const = 0;
};

class SystemClock : public IClock {
public:
    Clock::time_point Now() const override { return Clock::now(); }
    std::chrono::system_clock::time_point Wall() const override {
        return std::chrono::system_clock::now();
    }
};

struct ReadOutcome {
    bool Ok = false;    // every device read and saved
    std::string Result; // in a few words, for the log and the status
};

// Reads the devices of line `site` (its place in the server's list) over `line`, into its files
// and the history. Runs on a thread of its own, one per modem at a time.
class ILineReader {
public:
    virtual ~ILineReader() = default;
    virtual ReadOutcome Read(std::size_t site, std::unique_ptr<IByteLine> line) = 0;
};

class ILog {
public:
    virtual ~ILog() = default;
    virtual void Say(std::string_view line) = 0;
};

// What a service manager is told: ready to serve, alive (called often; sent as the watchdog
// asks), and stopping.
class INotify {
public:
    virtual ~INotify() = default;
    virtual void Ready() = 0;
    virtual void Alive() = 0;
    virtual void Stopping() = 0;
};

} // namespace kve17::serve
