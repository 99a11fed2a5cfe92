// kve17-sim: a simulated line of devices on a pseudo-terminal, linked into the port directory.
#include "serial/PortDirectory.h"
#include "serial/StandardDescriptors.h"
#include "serve/ModemBytes.h"
#include "tools/sim/LinkOwners.h"
#include "tools/sim/ModemDialer.h"
#include "tools/sim/SimJournal.h"
#include "tools/sim/SimLine.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/TcpRelay.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kve17;
using namespace kve17::sim;

class Descriptor {
public:
    explicit Descriptor(int fd, const char* what) : fd_(fd) {
        if (fd_ < 0)
            throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
    ~Descriptor() { close(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// The port link lives as long as the line; a link left by a crashed run is taken over only
// when it points nowhere.
class PortLink {
public:
    PortLink(const TPortDirectory& directory, const std::string& device, const std::string& name)
        : directory_(directory) {
        RemoveLinksOfGoneProcesses(LinkDir());
        if (!name.empty())
            DropDangling(name);
        name_ = directory_.AddLink(device, name);
        RecordLinkOwner(LinkDir(), name_, device);
    }
    ~PortLink() {
        try {
            directory_.RemoveLink(name_);
            ForgetLinkOwner(LinkDir(), name_);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kve17-sim: %s\n", e.what());
        }
    }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;
    const std::string& Name() const { return name_; }

private:
    const std::string& LinkDir() const { return directory_.GetRoots().LinkDir; }
    void DropDangling(const std::string& name) const {
        namespace fs = std::filesystem;
        const fs::path link = fs::path(directory_.GetRoots().LinkDir) / name;
        std::error_code error;
        if (fs::is_symlink(link, error) && !fs::exists(link, error))
            directory_.RemoveLink(name);
    }

    const TPortDirectory& directory_;
    std::string name_;
};

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&set, signal);
    return set;
}

void Say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

std::vector<int> Addresses(const SimOptions& options) {
    std::vector<int> addresses;
    for (int a = FirstAddress; a <= LastAddress; ++a)
        if (options.present[static_cast<std::size_t>(a)])
            addresses.push_back(a);
    return addresses;
}

// Archives are loaded before the line opens, so a bad file fails before any link is made.
std::array<DeviceArchive, LastAddress + 1> MakeArchives(const SimOptions& options) {
    std::array<DeviceArchive, LastAddress + 1> archives{};
    for (const int a : Addresses(options))
        archives[static_cast<std::size_t>(a)] =
            MakeArchive(DeviceSeed(options.seed, a), options.records[static_cast<std::size_t>(a)]);
    for (const auto& [address, file] : options.archiveFiles)
        archives[static_cast<std::size_t>(address)] = LoadArchive(file);
    return archives;
}

class Server {
public:
    // One line, or one for each modem it dials as: the same devices, archives and growth, so
    // that the journal tells every line's records.
    explicit Server(const SimOptions& options) : options_(options) {
        const std::size_t count = std::max<std::size_t>(1, options.registers.size());
        for (std::size_t i = 0; i < count; ++i)
            lines_.push_back(std::make_unique<SimLine>(options.line));
        if (!options.journal.empty())
            journal_.emplace(options.journal);
    }

    SimLine& Line() { return *lines_.front(); }
    const std::vector<std::unique_ptr<SimLine>>& Lines() const { return lines_; }

    void SetDevice(int address, const DeviceArchive& archive) {
        for (const auto& line : lines_)
            line->SetDevice(address, archive);
        if (journal_) {
            journal_->Start(address, archive);
            journal_->Flush();
        }
    }

    void Grow(int count) {
        ++growths_;
        for (const int a : Addresses(options_)) {
            for (const auto& line : lines_)
                line->Grow(a, count, DeviceSeed(options_.seed, a) ^ (0x9E3779B9U * growths_));
            if (journal_)
                journal_->Grown(a, Line().Archive(a), count);
        }
        if (journal_)
            journal_->Flush();
    }

    void Dump() {
        if (options_.dumpDir.empty())
            return;
        try {
            std::filesystem::create_directories(options_.dumpDir);
            for (const int a : Addresses(options_)) {
                std::array<char, 24> file{};
                std::snprintf(file.data(), file.size(), "device-%02d.bin", a);
                SaveArchive(Line().Archive(a), options_.dumpDir + "/" + file.data());
            }
            Say("dumped " + options_.dumpDir);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kve17-sim: dump: %s\n", e.what());
        }
    }

private:
    const SimOptions& options_;
    std::vector<std::unique_ptr<SimLine>> lines_;
    std::optional<SimJournal> journal_;
    std::uint32_t growths_ = 0;
};

int Serve(const SimOptions& options) {
    const auto archives = MakeArchives(options);
    const sigset_t signals = HandledSignals();
    // Blocked before the serving thread starts, so only the signal descriptor sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const Descriptor signalFd(signalfd(-1, &signals, SFD_CLOEXEC), "signalfd");
    const Descriptor timerFd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC), "timerfd");
    if (options.grow > 0) {
        const itimerspec second{{1, 0}, {1, 0}};
        timerfd_settime(timerFd.Get(), 0, &second, nullptr);
    }

    Server server(options);
    for (const int a : Addresses(options))
        server.SetDevice(a, archives[static_cast<std::size_t>(a)]);
    for (const auto& [address, fault] : options.faults)
        for (const auto& line : server.Lines())
            line->AddFault(address, fault);

    TPortDirectory::Roots roots{options.portDir};
    const TPortDirectory directory =
        options.portDir.empty() ? TPortDirectory() : TPortDirectory(roots);
    const PortLink link(directory, server.Line().SlavePath(), options.name);
    Say(link.Name() + " " + server.Line().SlavePath());
    std::optional<TcpRelay> relay;
    if (options.tcpPort >= 0) {
        relay.emplace(server.Line().SlavePath(), options.tcpHost, options.tcpPort);
        Say(relay->Address());
    }
    std::vector<std::unique_ptr<ModemDialer>> modems;
    for (std::size_t i = 0; i < options.registers.size(); ++i) {
        const std::string& path = server.Lines()[i]->SlavePath();
        modems.push_back(std::make_unique<ModemDialer>(
            path, DialOptions{options.dialHost, options.dialPort, options.registers[i],
                              options.registerEvery, std::chrono::milliseconds(options.heartbeatMs),
                              options.heartbeat, options.dropAfter}));
        Say("modem " + serve::ShowModemBytes(options.registers[i]) + " " + path);
    }

    int seconds = 0;
    for (;;) {
        std::array<pollfd, 2> p{{{signalFd.Get(), POLLIN, 0}, {timerFd.Get(), POLLIN, 0}}};
        if (poll(p.data(), p.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (p[1].revents & POLLIN) {
            std::uint64_t expirations = 0;
            if (read(timerFd.Get(), &expirations, sizeof expirations) > 0)
                server.Grow(options.grow);
            if (options.growFor > 0 && ++seconds >= options.growFor) {
                const itimerspec stop{};
                timerfd_settime(timerFd.Get(), 0, &stop, nullptr);
            }
        }
        if ((p[0].revents & POLLIN) == 0)
            continue;
        signalfd_siginfo info{};
        if (read(signalFd.Get(), &info, sizeof info) != sizeof info)
            continue;
        if (info.ssi_signo == SIGUSR1) {
            server.Grow(options.burst > 0 ? options.burst : std::max(options.grow, 1));
            Say("grown");
        } else if (info.ssi_signo == SIGUSR2) {
            server.Dump();
        } else {
            server.Dump();
            return 0;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!kve17::EnsureStandardDescriptors())
        return 1;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    SimOptions options;
    try {
        options = ParseSimOptions(args);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "kve17-sim: %s\nTry 'kve17-sim --help'.\n", e.what());
        return 2;
    }
    if (options.version) {
        std::printf("kve17-sim %s\n", KVE17_VERSION);
        return 0;
    }
    if (options.help) {
        const std::string_view help = SimHelpText();
        std::fwrite(help.data(), 1, help.size(), stdout);
        return 0;
    }
    try {
        return Serve(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kve17-sim: %s\n", e.what());
        return 1;
    }
}
