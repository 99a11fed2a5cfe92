// The collection server that modems call: it listens, waits for each connection's registration
// ID (closing it when none comes in time, turning away IDs it does not know and logging them),
// keeps one connection per modem (a modem that calls again replaces its old connection), and
// reads each modem's line when it calls and then on its schedule, each on a thread of its own.
// The connections it has not got to identify themselves and all connections together are capped;
// past a cap a new connection is closed at once.
#pragma once

#include "serve/Listener.h"
#include "serve/ModemFilter.h"
#include "serve/Schedule.h"
#include "serve/ServeParts.h"

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kve17::serve {

struct ModemSite {
    std::string Name; // the line's name
    FilterSettings Modem;
    std::chrono::seconds Every{3600};
};

struct ServerLimits {
    std::size_t MaxConnections = 1000;
    std::size_t MaxUnidentified = 100;
    std::chrono::milliseconds IdentifyTimeout{30000};
    std::size_t MaxReadings = 64; // lines read at the same time
};

struct ServerWiring {
    ILineReader& Reader;
    ILog& Log;
    const IClock& Time;
    INotify& Notify;
};

class ModemServer {
public:
    // Listens on every address (throws std::runtime_error naming the one that fails). The status
    // goes to `statusFile` ("" for none), replaced whole on each change.
    ModemServer(std::vector<ModemSite> sites, const std::vector<ListenAddress>& listen,
                ServerLimits limits, ServerWiring wiring, std::string statusFile);
    ~ModemServer();
    ModemServer(const ModemServer&) = delete;
    ModemServer& operator=(const ModemServer&) = delete;

    // "HOST:PORT" of each listening socket.
    std::vector<std::string> Addresses() const;
    // Serves until a stop signal or Stop; readings under way end first (a stop signal ends their
    // waits, Stop cuts their connections).
    void Run();
    // From any thread.
    void Stop();
    // What the status file holds.
    nlohmann::json Status() const;

private:
    struct Connection;
    struct Site;
    struct Job;

    void Loop();
    void Accept(const Listener& listener);
    void Receive(Connection& c);
    bool SkipHeartbeats(Connection& c) const;
    void Identify(Connection& c);
    void Unknown(Connection& c);
    void TakeOver(Connection& c, std::size_t site);
    void Close(Connection& c, const std::string& why);
    void Expire();
    void StartDue();
    void Reap();
    bool JobDone(Job& j);
    void Finish();
    void Wake();
    void SaveStatus(bool now);
    std::string Who(std::size_t site) const;
    std::size_t Unidentified() const;
    std::chrono::milliseconds PollTimeout() const;

    std::vector<Site> sites_;
    ServerLimits limits_;
    ServerWiring wiring_;
    std::string statusFile_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::list<std::unique_ptr<Job>> jobs_;
    struct UnknownId {
        std::string Peer;
        std::chrono::system_clock::time_point When;
        int Calls = 0;
        std::optional<Clock::time_point> Said; // when the log last named it
        int Unsaid = 0;                        // calls since then
    };
    std::map<std::string, UnknownId> unknown_;
    std::chrono::system_clock::time_point started_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::mutex doneMutex_; // guards Job::Done and Job::Out between a job and the loop
    bool dirty_ = true;
    Clock::time_point savedAt_{};
};

} // namespace kve17::serve
