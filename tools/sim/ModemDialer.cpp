#include "tools/sim/ModemDialer.h"

#include "serial/NetSocket.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

using std::chrono::milliseconds;

// A modem's pause before it calls again.
constexpr milliseconds Redial{500};
constexpr milliseconds ConnectTimeout{5000};
// The devices are between frames once they have sent nothing this long (a frame's characters
// follow one another without a pause from 1200 baud up); a heartbeat may then go before a
// request's answer as well as after it.
constexpr milliseconds Quiet{10};
// A server that stops reading holds the line back no longer than this.
constexpr auto StuckServer = std::chrono::seconds{1};

} // namespace

ModemDialer::ModemDialer(const std::string& linePath, DialOptions options)
    : linePath_(linePath), options_(std::move(options)) {
    thread_ = std::thread([this] { Serve(); });
}

ModemDialer::~ModemDialer() {
    waker_.Stop();
    thread_.join();
}

void ModemDialer::Serve() {
    while (!waker_.Stopped()) {
        net::Socket socket;
        if (socket.Connect(options_.Host, options_.Port, ConnectTimeout) == 0) {
            const int line = ::open(linePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (line >= 0 && ::flock(line, LOCK_EX | LOCK_NB) == 0)
                Call(socket.Descriptor(), line);
            if (line >= 0)
                ::close(line);
        }
        socket.Close();
        waker_.SleepUntil(Clock::now() + Redial);
    }
}

bool ModemDialer::SendAll(int socket, const std::vector<std::uint8_t>& bytes) {
    const auto giveUp = Clock::now() + StuckServer;
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t put = ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (put > 0) {
            at += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() >= giveUp || !waker_.WaitFd(socket, POLLOUT, giveUp - Clock::now()))
            return false;
    }
    return true;
}

void ModemDialer::Call(int socket, int line) {
    const bool cut = ++calls_ == 1 && options_.DropAfter > 0;
    if (!options_.IdEachPacket && !SendAll(socket, options_.Id))
        return;
    std::size_t passed = 0;
    Clock::time_point lineBusy = Clock::now();
    Clock::time_point beat = Clock::now();
    const bool beats = options_.HeartbeatEvery.count() > 0 && !options_.Heartbeat.empty();
    for (;;) {
        std::array<pollfd, 3> p{{{waker_.Fd(), POLLIN, 0}, {line, POLLIN, 0}, {socket, POLLIN, 0}}};
        const int wait = beats ? 10 : -1;
        if (::poll(p.data(), p.size(), wait) < 0 && errno != EINTR)
            return;
        if (p[0].revents != 0)
            return;
        std::array<std::uint8_t, 4096> chunk{};
        if (p[2].revents != 0) {
            const ssize_t got = ::recv(socket, chunk.data(), chunk.size(), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                return;
            if (got > 0 && ::write(line, chunk.data(), static_cast<std::size_t>(got)) < 0)
                return;
        }
        if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            return;
        if (p[1].revents & POLLIN) {
            const ssize_t got = ::read(line, chunk.data(), chunk.size());
            if (got > 0) {
                std::vector<std::uint8_t> packet;
                if (options_.IdEachPacket)
                    packet = options_.Id;
                auto n = static_cast<std::size_t>(got);
                if (cut)
                    n = std::min(n, options_.DropAfter - passed);
                packet.insert(packet.end(), chunk.begin(),
                              chunk.begin() + static_cast<std::ptrdiff_t>(n));
                if (!SendAll(socket, packet))
                    return;
                passed += n;
                if (cut && passed >= options_.DropAfter)
                    return; // the cell is lost
                lineBusy = Clock::now();
            }
        }
        const Clock::time_point now = Clock::now();
        if (beats && now >= beat + options_.HeartbeatEvery && now >= lineBusy + Quiet) {
            // A heartbeat is a packet too: the ID goes in front of it when it goes in front of
            // every packet.
            std::vector<std::uint8_t> packet;
            if (options_.IdEachPacket)
                packet = options_.Id;
            packet.insert(packet.end(), options_.Heartbeat.begin(), options_.Heartbeat.end());
            if (!SendAll(socket, packet))
                return;
            beat = now;
        }
    }
}

} // namespace kve17::sim
