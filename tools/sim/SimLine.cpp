#include "tools/sim/SimLine.h"

#include "tools/sim/DeviceReply.h"
#include "tools/sim/LineSpeed.h"
#include "tools/sim/Pty.h"
#include "tools/sim/RequestFramer.h"
#include "tools/sim/Waker.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kve17::sim {

namespace {

using namespace std::chrono;

// Modbus RTU: frames are apart by at least 3.5 characters, and by 1.75 ms on fast lines.
constexpr auto MinGap = microseconds{1750};
// A program that stops reading fills the pty; then the rest of a reply is lost, as on a line.
constexpr auto StuckLine = seconds{1};
constexpr auto ErrorPause = milliseconds{10};

struct Pace {
    Clock::duration charTime{0}; // zero: no pacing
    Clock::duration gap{MinGap};
};

void CheckAddress(int address) {
    if (address < FirstAddress || address > LastAddress)
        throw std::out_of_range("device address " + std::to_string(address) + " is outside 1..31");
}

} // namespace

struct SimLine::Impl {
    explicit Impl(LineOptions lineOptions) : options(lineOptions) {}

    Pace CurrentPace() const;
    void Serve();
    // False when the line is stopping.
    bool Handle(const Request& request, const Pace& pace);
    bool Send(std::span<const std::uint8_t> bytes, Clock::time_point start,
              Clock::duration charTime);
    bool WriteAll(std::span<const std::uint8_t> bytes);

    const LineOptions options;
    Pty pty;
    Waker waker;
    mutable std::mutex mutex;
    mutable std::condition_variable counted;
    std::array<std::optional<DeviceArchive>, LastAddress + 1> archives;
    std::array<std::vector<Fault>, LastAddress + 1> faults;
    std::array<int, 256> requests{};
    SimRandom noise{0x6B766531};
    Reply reply;
    std::thread thread;
};

Pace SimLine::Impl::CurrentPace() const {
    const LineSettings line = ReadLineSettings(pty.Slave());
    const int baud = options.baud > 0 ? options.baud : line.baud;
    const int bits = options.parity || line.parity || line.twoStopBits ? 11 : 10;
    Pace pace;
    if (baud <= 0)
        return pace;
    const Clock::duration charTime = nanoseconds{std::int64_t{bits} * 1'000'000'000 / baud};
    pace.gap = std::max<Clock::duration>(charTime * 7 / 2, MinGap);
    if (options.pacing)
        pace.charTime = charTime;
    return pace;
}

void SimLine::Impl::Serve() {
    RequestFramer framer;
    Request request;
    std::array<std::uint8_t, 512> chunk{};
    for (;;) {
        std::array<pollfd, 2> p{{{waker.Fd(), POLLIN, 0}, {pty.Master(), POLLIN, 0}}};
        if (poll(p.data(), p.size(), -1) < 0 && errno != EINTR)
            return;
        if (p[0].revents != 0)
            return;
        if ((p[1].revents & POLLIN) == 0) {
            if (p[1].revents != 0 && !waker.SleepUntil(Clock::now() + ErrorPause))
                return;
            continue;
        }
        const ssize_t got = read(pty.Master(), chunk.data(), chunk.size());
        if (got <= 0)
            continue;
        if (options.echo && !WriteAll(std::span(chunk).first(static_cast<std::size_t>(got))))
            return;
        const Pace pace = CurrentPace();
        framer.Add(std::span(chunk).first(static_cast<std::size_t>(got)), Clock::now(), pace.gap);
        while (framer.Next(request))
            if (!Handle(request, pace))
                return;
    }
}

bool SimLine::Impl::Handle(const Request& request, const Pace& pace) {
    // A request is in only once its own bytes would have crossed the line.
    const Clock::time_point received = request.start + request.length * pace.charTime;
    if (pace.charTime > Clock::duration::zero() && !waker.SleepUntil(received))
        return false;
    bool answer = false;
    {
        const std::lock_guard lock(mutex);
        ++requests[request.Address()];
        const int address = request.Address();
        if (address >= FirstAddress && address <= LastAddress && archives[address] &&
            WantsReply(request)) {
            const FaultSet set = TakeFaults(faults[address], RequestedBlock(request));
            answer = BuildReply(request, *archives[address], set, noise, reply);
        }
    }
    counted.notify_all();
    if (!answer)
        return true;
    const Clock::time_point start = std::max(received + reply.delay, Clock::now());
    if (!waker.SleepUntil(start))
        return false;
    return Send(std::span(reply.bytes).first(static_cast<std::size_t>(reply.length)), start,
                pace.charTime);
}

bool SimLine::Impl::Send(std::span<const std::uint8_t> bytes, Clock::time_point start,
                         Clock::duration charTime) {
    if (charTime == Clock::duration::zero())
        return WriteAll(bytes);
    // Each byte leaves once it would have crossed the line, on deadlines from one start.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!waker.SleepUntil(start + static_cast<int>(i + 1) * charTime))
            return false;
        if (!WriteAll(bytes.subspan(i, 1)))
            return false;
    }
    return true;
}

bool SimLine::Impl::WriteAll(std::span<const std::uint8_t> bytes) {
    const Clock::time_point giveUp = Clock::now() + StuckLine;
    while (!bytes.empty()) {
        const ssize_t put = write(pty.Master(), bytes.data(), bytes.size());
        if (put > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN)
            return true; // the reply is lost; the line goes on
        const auto left = giveUp - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        if (!waker.WaitFd(pty.Master(), POLLOUT, left))
            return false;
    }
    return true;
}

SimLine::SimLine(LineOptions options) : impl_(std::make_unique<Impl>(options)) {
    impl_->thread = std::thread([impl = impl_.get()] { impl->Serve(); });
}

SimLine::~SimLine() {
    impl_->waker.Stop();
    impl_->thread.join();
}

const std::string& SimLine::SlavePath() const {
    return impl_->pty.SlavePath();
}

void SimLine::SetDevice(int address, const DeviceArchive& archive) {
    CheckAddress(address);
    const std::lock_guard lock(impl_->mutex);
    impl_->archives[address] = archive;
}

void SimLine::RemoveDevice(int address) {
    CheckAddress(address);
    const std::lock_guard lock(impl_->mutex);
    impl_->archives[address].reset();
}

bool SimLine::HasDevice(int address) const {
    if (address < FirstAddress || address > LastAddress)
        return false;
    const std::lock_guard lock(impl_->mutex);
    return impl_->archives[address].has_value();
}

DeviceArchive SimLine::Archive(int address) const {
    CheckAddress(address);
    const std::lock_guard lock(impl_->mutex);
    if (impl_->archives[address])
        return *impl_->archives[address];
    DeviceArchive empty;
    empty.fill(0xFF);
    return empty;
}

void SimLine::Grow(int address, int count, std::uint32_t seed) {
    CheckAddress(address);
    const std::lock_guard lock(impl_->mutex);
    if (impl_->archives[address])
        GrowArchive(*impl_->archives[address], count, seed);
}

void SimLine::AddFault(int address, const Fault& fault) {
    CheckAddress(address);
    const std::lock_guard lock(impl_->mutex);
    impl_->faults[address].push_back(fault);
}

void SimLine::ClearFaults() {
    const std::lock_guard lock(impl_->mutex);
    for (auto& list : impl_->faults)
        list.clear();
}

int SimLine::Requests(int address) const {
    if (address < 0 || address > 255)
        return 0;
    const std::lock_guard lock(impl_->mutex);
    return impl_->requests[address];
}

bool SimLine::WaitForRequests(int address, int count, std::chrono::milliseconds timeout) const {
    if (address < 0 || address > 255)
        return count <= 0;
    std::unique_lock lock(impl_->mutex);
    return impl_->counted.wait_for(lock, timeout,
                                   [&] { return impl_->requests[address] >= count; });
}

} // namespace kve17::sim
