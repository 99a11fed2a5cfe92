#include "serve/ModemServer.h"

#include "serial/StopSignals.h"
#include "serve/ModemLine.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace kve17::serve {

namespace {

using std::chrono::milliseconds;
using Wall = std::chrono::system_clock;

// How often the status file is rewritten at most while things change.
constexpr auto StatusPause = std::chrono::seconds{1};
// An unknown ID is named in the log at most this often.
constexpr auto UnknownSaidEvery = std::chrono::hours{1};
// The longest sleep of the loop: the watchdog and the deadlines are looked at this often.
constexpr milliseconds LongestPoll{1000};

std::string Utc(Wall::time_point t) {
    const std::time_t seconds = Wall::to_time_t(t);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text.data();
}

} // namespace

struct ModemServer::Connection {
    ModemLink Link{FilterSettings{}};
    std::string Peer;
    Clock::time_point Accepted;
    Bytes Head; // what came before the ID was recognised
    std::optional<std::size_t> Site;
    bool Reading = false;
    bool Closing = false; // replaced while read: closed when its reading ends
};

struct ModemServer::Site {
    ModemSite Config;
    Connection* Now = nullptr; // the modem's connection, while it has one
    std::optional<Wall::time_point> ConnectedSince;
    std::optional<Wall::time_point> Identified;
    std::string Peer;
    std::optional<Clock::time_point> LastStart;
    std::optional<Wall::time_point> LastReading;
    bool LastOk = false;
    std::string LastResult;
    Clock::time_point Next{};
    int Readings = 0;
    bool Busy = false; // a reading of this line is under way (maybe on a replaced connection)
};

struct ModemServer::Job {
    Connection* Conn = nullptr;
    std::size_t Site = 0;
    Clock::time_point Start;
    Wall::time_point StartWall;
    ReadOutcome Out;
    bool Done = false;
    std::thread Thread;
};

ModemServer::ModemServer(std::vector<ModemSite> sites, const std::vector<ListenAddress>& listen,
                         ServerLimits limits, ServerWiring wiring, std::string statusFile)
    : limits_(limits), wiring_(wiring), statusFile_(std::move(statusFile)) {
    for (ModemSite& s : sites) {
        sites_.emplace_back();
        sites_.back().Config = std::move(s);
    }
    for (const ListenAddress& a : listen)
        listeners_.push_back(std::make_unique<Listener>(a));
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe: cannot be made");
    started_ = wiring_.Time.Wall();
}

ModemServer::~ModemServer() {
    Finish();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::vector<std::string> ModemServer::Addresses() const {
    std::vector<std::string> all;
    for (const auto& l : listeners_)
        all.push_back(l->Address());
    return all;
}

void ModemServer::Stop() {
    stop_ = true;
    Wake();
}

void ModemServer::Wake() {
    const char one = 1;
    (void)!::write(wake_[1], &one, 1);
}

std::string ModemServer::Who(std::size_t site) const {
    const Site& s = sites_[site];
    return "modem " + ShowModemBytes(s.Config.Modem.Id) + " (line " + s.Config.Name + ")";
}

std::size_t ModemServer::Unidentified() const {
    return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                  [](const auto& c) { return !c->Site; }));
}

void ModemServer::Run() {
    wiring_.Notify.Ready();
    for (const auto& l : listeners_)
        wiring_.Log.Say("listening on " + l->Address());
    SaveStatus(true);
    while (!stop_ && StopSignal() == 0)
        Loop();
    wiring_.Notify.Stopping();
    Finish();
    SaveStatus(true);
}

void ModemServer::Loop() {
    std::vector<pollfd> p;
    p.push_back({wake_[0], POLLIN, 0});
    p.push_back({StopSignalFd(), POLLIN, 0});
    for (const auto& l : listeners_)
        p.push_back({l->Descriptor(), POLLIN, 0});
    std::vector<Connection*> watched;
    for (const auto& c : connections_)
        if (!c->Reading) {
            p.push_back({c->Link.Socket.Descriptor(), POLLIN, 0});
            watched.push_back(c.get());
        }
    if (::poll(p.data(), p.size(), static_cast<int>(PollTimeout().count())) < 0 && errno != EINTR)
        throw std::runtime_error("poll failed");
    if (p[0].revents != 0) {
        std::array<char, 64> drain{};
        while (::read(wake_[0], drain.data(), drain.size()) > 0) {
        }
    }
    Reap();
    for (std::size_t i = 0; i < listeners_.size(); ++i)
        if (p[2 + i].revents != 0)
            Accept(*listeners_[i]);
    const std::size_t first = 2 + listeners_.size();
    for (std::size_t i = 0; i < watched.size(); ++i)
        if (p[first + i].revents != 0 && watched[i]->Link.Socket.IsOpen())
            Receive(*watched[i]);
    connections_.remove_if([](const auto& c) { return !c->Link.Socket.IsOpen(); });
    Expire();
    StartDue();
    wiring_.Notify.Alive();
    SaveStatus(false);
}

std::chrono::milliseconds ModemServer::PollTimeout() const {
    const Clock::time_point now = wiring_.Time.Now();
    Clock::time_point soonest = now + LongestPoll;
    for (const auto& c : connections_)
        if (!c->Site)
            soonest = std::min(soonest, c->Accepted + limits_.IdentifyTimeout);
    for (const Site& s : sites_)
        if (s.Now != nullptr && !s.Busy)
            soonest = std::min(soonest, s.Next);
    if (dirty_)
        soonest = std::min(soonest, savedAt_ + StatusPause);
    return std::max(milliseconds{0}, std::chrono::ceil<milliseconds>(soonest - now));
}

void ModemServer::Accept(const Listener& listener) {
    for (;;) {
        std::string peer;
        const int fd = listener.Accept(peer);
        if (fd < 0)
            return;
        std::string refusal;
        if (connections_.size() >= limits_.MaxConnections)
            refusal = std::to_string(connections_.size()) + " connections already, the most taken";
        else if (Unidentified() >= limits_.MaxUnidentified)
            refusal = std::to_string(Unidentified()) +
                      " connections have not sent their ID yet, the most taken";
        if (!refusal.empty()) {
            wiring_.Log.Say("refused " + peer + ": " + refusal);
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->Link.Socket.Adopt(fd);
        c->Peer = peer;
        c->Accepted = wiring_.Time.Now();
        connections_.push_back(std::move(c));
    }
}

void ModemServer::Receive(Connection& c) {
    std::array<std::uint8_t, 4096> chunk{};
    const net::Io got = c.Link.Socket.Receive(chunk);
    if (got.Error == EAGAIN)
        return;
    if (got.Error != 0) {
        Close(c, "the connection ended");
        return;
    }
    const auto bytes = std::span(chunk).first(got.Count);
    if (c.Site) {
        // No request is out: heartbeats, and nothing the link waits for.
        Bytes dropped;
        c.Link.Filter.Feed(bytes, dropped);
        return;
    }
    c.Head.insert(c.Head.end(), bytes.begin(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(
                                      std::min(bytes.size(), 2 * MaxModemBytes - c.Head.size())));
    Identify(c);
}

// A modem may send a heartbeat before its ID (one that sends its ID in front of every packet
// does until it has a packet of data): a configured heartbeat at the head is let go. True when
// the head may still be the start of one.
bool ModemServer::SkipHeartbeats(Connection& c) const {
    const auto any = [&](auto field, Prefix wanted) -> const Bytes* {
        for (const Site& s : sites_)
            if (PrefixOf(c.Head, s.Config.Modem.*field) == wanted)
                return &(s.Config.Modem.*field);
        return nullptr;
    };
    // An ID that begins like a heartbeat is an ID.
    while (!c.Head.empty() && !any(&FilterSettings::Id, Prefix::Whole) &&
           !any(&FilterSettings::Id, Prefix::Partial)) {
        const Bytes* beat = any(&FilterSettings::Heartbeat, Prefix::Whole);
        if (beat == nullptr)
            return any(&FilterSettings::Heartbeat, Prefix::Partial) != nullptr;
        c.Head.erase(c.Head.begin(), c.Head.begin() + static_cast<std::ptrdiff_t>(beat->size()));
    }
    return false;
}

void ModemServer::Identify(Connection& c) {
    bool maybe = SkipHeartbeats(c);
    if (c.Head.empty())
        return;
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < sites_.size(); ++i) {
        const Bytes& id = sites_[i].Config.Modem.Id;
        const Prefix p = PrefixOf(c.Head, id);
        if (p == Prefix::Partial)
            maybe = true;
        else if (p == Prefix::Whole && (!best || id.size() > sites_[*best].Config.Modem.Id.size()))
            best = i;
    }
    if (best)
        TakeOver(c, *best);
    else if (!maybe || c.Head.size() > MaxModemBytes)
        Unknown(c);
}

void ModemServer::Unknown(Connection& c) {
    const std::string id = ShowModemBytes(
        std::span(c.Head).first(std::min<std::size_t>(c.Head.size(), MaxModemBytes)));
    UnknownId& u = unknown_[id];
    u.Peer = c.Peer;
    u.When = wiring_.Time.Wall();
    ++u.Calls;
    // A modem that redials every few seconds would fill the journal: each ID is named once an
    // hour, with the calls between; the status counts every call.
    const auto now = wiring_.Time.Now();
    if (u.Said && now - *u.Said < UnknownSaidEvery) {
        ++u.Unsaid;
        Close(c, "");
        return;
    }
    std::string why = "unknown modem ID " + id + " (not in the configuration)";
    if (u.Unsaid > 0)
        why += ", " + std::to_string(u.Unsaid) + " more calls since it was last named";
    u.Said = now;
    u.Unsaid = 0;
    Close(c, why);
}

void ModemServer::TakeOver(Connection& c, std::size_t site) {
    Site& s = sites_[site];
    const Bytes& id = s.Config.Modem.Id;
    if (s.Now != nullptr) {
        wiring_.Log.Say(Who(site) + " called again from " + c.Peer + "; its connection from " +
                        s.Now->Peer + " is closed");
        Connection& old = *s.Now;
        s.Now = nullptr;
        if (old.Reading) {
            old.Closing = true;
            old.Link.Socket.Shutdown();
        } else {
            old.Link.Socket.Close();
        }
    }
    c.Site = site;
    c.Link.Filter = ModemFilter(s.Config.Modem);
    // What followed the ID in its packet: heartbeats, or the start of nothing asked for.
    Bytes dropped;
    c.Link.Filter.Feed(std::span(c.Head).subspan(id.size()), dropped);
    c.Head.clear();
    c.Head.shrink_to_fit();
    s.Now = &c;
    s.Peer = c.Peer;
    s.ConnectedSince = s.Identified = wiring_.Time.Wall();
    s.Next = NextReading(s.LastStart, s.LastOk, s.Config.Every, wiring_.Time.Now());
    wiring_.Log.Say(Who(site) + " identified from " + c.Peer);
    dirty_ = true;
}

// An empty `why` closes without a word.
void ModemServer::Close(Connection& c, const std::string& why) {
    if (c.Site && sites_[*c.Site].Now == &c) {
        wiring_.Log.Say(Who(*c.Site) + " from " + c.Peer + ": " + why);
        sites_[*c.Site].Now = nullptr;
        sites_[*c.Site].ConnectedSince.reset();
    } else if (!why.empty()) {
        wiring_.Log.Say(c.Peer + ": " + why);
    }
    c.Link.Socket.Close();
    dirty_ = true;
}

void ModemServer::Expire() {
    const Clock::time_point now = wiring_.Time.Now();
    for (const auto& c : connections_)
        if (!c->Site && c->Link.Socket.IsOpen() && now >= c->Accepted + limits_.IdentifyTimeout)
            Close(*c, "no modem ID within " +
                          std::to_string(limits_.IdentifyTimeout.count() / 1000.0).substr(0, 4) +
                          " s; closed");
    connections_.remove_if([](const auto& c) { return !c->Link.Socket.IsOpen(); });
}

void ModemServer::StartDue() {
    const Clock::time_point now = wiring_.Time.Now();
    for (std::size_t i = 0; i < sites_.size() && jobs_.size() < limits_.MaxReadings; ++i) {
        Site& s = sites_[i];
        if (s.Now == nullptr || s.Busy || s.Now->Reading || now < s.Next)
            continue;
        auto job = std::make_unique<Job>();
        job->Conn = s.Now;
        job->Site = i;
        job->Start = now;
        job->StartWall = wiring_.Time.Wall();
        s.Busy = true;
        s.Now->Reading = true;
        Job& j = *job;
        j.Thread = std::thread([this, &j] {
            ReadOutcome out;
            try {
                out = wiring_.Reader.Read(j.Site, std::make_unique<ModemLine>(j.Conn->Link));
            } catch (const std::exception& e) {
                out = {false, e.what()};
            }
            {
                const std::lock_guard lock(doneMutex_);
                j.Out = std::move(out);
                j.Done = true;
            }
            Wake();
        });
        jobs_.push_back(std::move(job));
    }
}

bool ModemServer::JobDone(Job& j) {
    const std::lock_guard lock(doneMutex_);
    return j.Done;
}

void ModemServer::Reap() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        Job& j = **it;
        if (!JobDone(j)) {
            ++it;
            continue;
        }
        j.Thread.join();
        Site& s = sites_[j.Site];
        s.Busy = false;
        s.LastStart = j.Start;
        s.LastReading = j.StartWall;
        s.LastOk = j.Out.Ok;
        s.LastResult = j.Out.Result;
        ++s.Readings;
        // A failed reading is tried again at the modem's next call (the connection that called
        // meanwhile is read at once), not over and over on the same connection.
        s.Next = NextReading(s.LastStart, s.LastOk, s.Config.Every, wiring_.Time.Now());
        if (!s.LastOk && s.Now == j.Conn)
            s.Next = j.Start + s.Config.Every;
        wiring_.Log.Say(Who(j.Site) + ": " + j.Out.Result);
        Connection& c = *j.Conn;
        c.Reading = false;
        if (c.Closing || c.Link.Lost)
            Close(c, c.Closing ? "replaced" : "the connection was lost during the reading");
        dirty_ = true;
        it = jobs_.erase(it);
    }
    connections_.remove_if([](const auto& c) { return !c->Link.Socket.IsOpen(); });
}

void ModemServer::Finish() {
    if (!stop_ && StopSignal() == 0)
        stop_ = true;
    // Without a stop signal the readings' waits do not end by themselves: cut their lines.
    if (StopSignal() == 0)
        for (const auto& j : jobs_)
            j->Conn->Link.Socket.Shutdown();
    // Each job is done once its thread has ended.
    for (const auto& j : jobs_)
        while (!JobDone(*j))
            std::this_thread::sleep_for(milliseconds{10});
    Reap();
    for (const auto& c : connections_)
        c->Link.Socket.Close();
    connections_.clear();
    for (Site& s : sites_)
        s.Now = nullptr;
}

nlohmann::json ModemServer::Status() const {
    const Clock::time_point now = wiring_.Time.Now();
    const Wall::time_point wall = wiring_.Time.Wall();
    nlohmann::json modems = nlohmann::json::array();
    const auto when = [](const std::optional<Wall::time_point>& t) {
        return t ? nlohmann::json(Utc(*t)) : nlohmann::json(nullptr);
    };
    for (const Site& s : sites_) {
        nlohmann::json m = {{"line", s.Config.Name},
                            {"modem", ShowModemBytes(s.Config.Modem.Id)},
                            {"connected", s.Now != nullptr},
                            {"peer", s.Peer},
                            {"connected_since", when(s.ConnectedSince)},
                            {"identified", when(s.Identified)},
                            {"reading", s.Busy},
                            {"readings", s.Readings},
                            {"last_reading", when(s.LastReading)},
                            {"last_ok", s.LastOk},
                            {"last_result", s.LastResult},
                            {"next_reading", nullptr}};
        if (s.Now != nullptr && !s.Busy)
            m["next_reading"] =
                Utc(wall + std::chrono::duration_cast<Wall::duration>(std::max(s.Next, now) - now));
        modems.push_back(std::move(m));
    }
    nlohmann::json unknown = nlohmann::json::array();
    for (const auto& [id, u] : unknown_)
        unknown.push_back(
            {{"modem", id}, {"peer", u.Peer}, {"last", Utc(u.When)}, {"calls", u.Calls}});
    return {{"started", Utc(started_)},
            {"updated", Utc(wall)},
            {"listen", Addresses()},
            {"connections", connections_.size()},
            {"unidentified", Unidentified()},
            {"readings_under_way", jobs_.size()},
            {"modems", modems},
            {"unknown", unknown}};
}

void ModemServer::SaveStatus(bool now) {
    if (statusFile_.empty() || (!now && (!dirty_ || wiring_.Time.Now() < savedAt_ + StatusPause)))
        return;
    dirty_ = false;
    savedAt_ = wiring_.Time.Now();
    const std::string temporary = statusFile_ + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << Status().dump(2) << "\n";
        if (!out.flush()) {
            wiring_.Log.Say(statusFile_ + ": the status cannot be written");
            return;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, statusFile_, ec);
    if (ec)
        wiring_.Log.Say(statusFile_ + ": " + ec.message());
}

} // namespace kve17::serve
