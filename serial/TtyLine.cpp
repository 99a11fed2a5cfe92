#include "serial/TtyLine.h"

#include "serial/ReadPlan.h"
#include "serial/StopSignals.h"
#include "serial/TtyRate.h"
#include "serial/TtyTermios.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <linux/serial.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace kve17::tty {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct StandardRate {
    int Rate;
    speed_t Code;
};

constexpr std::array<StandardRate, 26> kStandardRates = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
}};

// B0 (hang up) is never a valid answer here, so it marks "no code: use the arbitrary rate".
speed_t StandardCode(int rate) {
    for (const StandardRate& entry : kStandardRates)
        if (entry.Rate == rate)
            return entry.Code;
    return B0;
}

// Waits for `events` until the deadline (or without limit); `revents` is 0 on a time-out. A stop
// signal ends the wait with EINTR.
int WaitFor(int fd, short events, std::optional<Clock::time_point> deadline, short& revents) {
    for (;;) {
        if (StopSignal() != 0)
            return EINTR;
        // The stop descriptor (skipped while it is -1) catches a signal that comes between the
        // check above and the wait.
        pollfd entries[2] = {{fd, events, 0}, {StopSignalFd(), POLLIN, 0}};
        timespec limit{};
        if (deadline) {
            const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            limit.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            limit.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        const int ready = ppoll(entries, 2, deadline ? &limit : nullptr, nullptr);
        if (ready < 0 && errno == EINTR)
            continue; // a stop signal is seen at the top
        if (ready < 0)
            return errno;
        if ((entries[1].revents & POLLIN) != 0)
            return EINTR;
        revents = ready == 0 ? short{0} : entries[0].revents;
        return 0;
    }
}

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return false;
    const unsigned int majorNumber = major(info.st_rdev);
    return majorNumber >= 136 && majorNumber <= 143; // Unix98 pty slaves
}

// USB adapters otherwise hold received bytes for their latency timer (16 ms on many), which
// adds up over a long reading. Best effort: most devices have no such setting.
void RequestLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
}

int ComposeFraming(const LineSettings& s, termios& t) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    switch (s.DataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return EINVAL;
    }
    // With five data bits the UART sends one and a half stop bits for CSTOPB, so 1.5 needs
    // five data bits and 2 needs more.
    switch (s.StopBits) {
    case sbOneStopBit:
        break;
    case sbOne5StopBits:
        if (s.DataBits != 5)
            return EINVAL;
        t.c_cflag |= CSTOPB;
        break;
    case sbTwoStopBits:
        if (s.DataBits == 5)
            return EINVAL;
        t.c_cflag |= CSTOPB;
        break;
    default:
        return EINVAL;
    }
    switch (s.Parity) {
    case prNone:
        break;
    case prOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case prEven:
        t.c_cflag |= PARENB;
        break;
    case prMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case prSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return EINVAL;
    }
    // With INPCK the kernel hands over a byte received with a parity error as 0: the only
    // replacement character it knows.
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK);
    if (s.ParityCheck)
        t.c_iflag |= INPCK;
    if (s.ParityCheck && s.ParityReplace && s.ReplaceChar != 0)
        return EINVAL;
    return 0;
}

int ComposeFlowControl(const LineSettings& s, termios& t) {
    // DSR flow and sensitivity, DTR handshake and RTS toggling have no terminal counterpart.
    if (s.OutDsrFlow || s.DsrSensitivity || s.Dtr == dtrHandshake || s.Rts == rtsToggle)
        return EINVAL;
    if (s.Dtr < dtrDisable || s.Dtr > dtrHandshake || s.Rts < rtsDisable || s.Rts > rtsToggle)
        return EINVAL;
    // The kernel ties CTS output flow and RTS input flow together.
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (s.OutCtsFlow || s.Rts == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (s.XonXoffOut)
        t.c_iflag |= IXON;
    if (s.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    return 0;
}

} // namespace

int ComposeTermios(const LineSettings& s, termios& t) {
    t.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // The line has no modem control to obey: ignore carrier, keep the lines as set on close.
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    // VMIN 1 makes a read with nothing queued fail with EAGAIN, so that 0 means hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (s.Rate <= 0)
        return EINVAL;
    if (const speed_t code = StandardCode(s.Rate); code != B0) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    if (const int error = ComposeFraming(s, t))
        return error;
    return ComposeFlowControl(s, t);
}

bool IsStandardRate(int bitsPerSecond) {
    return StandardCode(bitsPerSecond) != B0;
}

namespace {

bool Matches(const termios& wanted, const termios& got) {
    const tcflag_t cflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    const tcflag_t iflags = INPCK | IGNPAR | PARMRK | IXON | IXOFF | ICRNL | ISTRIP;
    const tcflag_t lflags = ICANON | ECHO | ISIG;
    return (wanted.c_cflag & cflags) == (got.c_cflag & cflags) &&
           (wanted.c_iflag & iflags) == (got.c_iflag & iflags) &&
           (wanted.c_lflag & lflags) == (got.c_lflag & lflags);
}

// Applies, then reads back: tcsetattr succeeds when any one of the changes took effect.
int SetAndCheck(int fd, const termios& wanted, int rate, bool standard, bool pseudo) {
    // A pty keeps no parity and forces eight data bits; asking it for more fails with EINVAL.
    termios applied = wanted;
    if (pseudo)
        applied.c_cflag = (applied.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
    if (tcsetattr(fd, TCSANOW, &applied) != 0)
        return errno;
    if (!standard)
        if (const int error = SetLineRate(fd, rate))
            return error;
    termios got{};
    if (tcgetattr(fd, &got) != 0)
        return errno;
    int gotRate = 0;
    if (const int error = GetLineRate(fd, gotRate))
        return error;
    return Matches(applied, got) && ReadBackRateAccepted(rate, gotRate) ? 0 : EINVAL;
}

// Puts back settings read before: the arbitrary rate, when it was one, goes through termios2.
void RestoreLine(int fd, const termios& settings, int rate) {
    (void)tcsetattr(fd, TCSANOW, &settings);
    if (rate > 0 && !IsStandardRate(rate))
        (void)SetLineRate(fd, rate);
}

// Modem-line calls that the device does not know (a pty) mean it has no modem lines.
int SetModemLines(int fd, const LineSettings& s) {
    int on = 0;
    int off = 0;
    (s.Dtr == dtrEnable ? on : off) |= TIOCM_DTR;
    if (s.Rts != rtsHandshake)
        (s.Rts == rtsEnable ? on : off) |= TIOCM_RTS;
    for (auto [request, bits] : {std::pair{TIOCMBIC, off}, std::pair{TIOCMBIS, on}}) {
        if (bits == 0 || ioctl(fd, request, &bits) == 0)
            continue;
        if (errno == ENOTTY || errno == EINVAL)
            return 0;
        return errno;
    }
    return 0;
}

std::chrono::nanoseconds CharTime(const LineSettings& s) {
    const int bits =
        1 + s.DataBits + (s.Parity == prNone ? 0 : 1) + (s.StopBits == sbOneStopBit ? 1 : 2);
    return std::chrono::nanoseconds(std::int64_t{bits} * 1'000'000'000 / s.Rate);
}

} // namespace

int Line::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if (!isatty(fd))
        error = errno;
    // TIOCEXCL turns away later opens, but not root's; the advisory lock covers every program
    // that locks the same way, root included.
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    // What the line was set to before, given back on close: a terminal opened by mistake keeps
    // its echo, and the next program finds the line as it left it.
    saved_ = tcgetattr(fd, &original_) == 0;
    savedRate_ = 0;
    if (saved_)
        (void)GetLineRate(fd, savedRate_);
    (void)ioctl(fd, TIOCEXCL);
    RequestLowLatency(fd);
    fd_ = fd;
    pseudo_ = IsPseudoTerminal(fd);
    return 0;
}

void Line::Close() {
    if (fd_ < 0)
        return;
    // Best effort: a hung-up line refuses both, and closing must still succeed.
    (void)tcflush(fd_, TCIFLUSH);
    if (saved_)
        RestoreLine(fd_, original_, savedRate_);
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

int Line::Apply(const LineSettings& settings) {
    termios previous{};
    if (tcgetattr(fd_, &previous) != 0)
        return errno;
    int previousRate = 0;
    (void)GetLineRate(fd_, previousRate);

    termios wanted = previous;
    if (const int error = ComposeTermios(settings, wanted))
        return error;
    const bool standard = IsStandardRate(settings.Rate);

    const int error = SetAndCheck(fd_, wanted, settings.Rate, standard, pseudo_);
    if (error != 0) {
        RestoreLine(fd_, previous, previousRate);
        return error;
    }
    charTime_ = CharTime(settings);
    return SetModemLines(fd_, settings);
}

// Bytes cannot arrive faster than the line carries them: rather than wake for every byte of a
// reply, sleep until all but the last could be in (at most a quarter of the interval, so a reply
// that stops is still noticed about one interval after its last byte); the last byte itself
// wakes the poll, so the read still returns the moment the reply is complete.
void Line::AwaitRestOfReply(std::size_t missing, std::optional<Clock::time_point> total,
                            std::optional<milliseconds> interval) const {
    if (missing < 2)
        return;
    Clock::time_point until = Clock::now() + charTime_ * static_cast<std::int64_t>(missing - 1);
    if (interval)
        until = std::min(until, Clock::now() + *interval / 4);
    if (total)
        until = std::min(until, *total);
    std::this_thread::sleep_until(until);
}

Transfer Line::Read(std::span<std::uint8_t> buffer, const ReadTimeouts& t) {
    const Clock::time_point start = Clock::now();
    const std::size_t wanted = buffer.size();
    const ReadPlan plan = PlanRead(t, wanted, start);
    const std::optional<Clock::time_point> total = plan.Total;
    const std::optional<milliseconds> interval = plan.Interval;
    const bool returnOnAny = plan.ReturnOnAny;

    std::size_t got = 0;
    std::optional<Clock::time_point> gap; // the interval deadline, once a byte is in
    while (got < wanted) {
        const ssize_t n = ::read(fd_, buffer.data() + got, wanted - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (returnOnAny)
                break;
            if (interval)
                gap = Clock::now() + *interval;
            if (got < wanted)
                AwaitRestOfReply(wanted - got, total, interval);
            continue;
        }
        if (n == 0)
            return {got, EIO}; // hung up
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return {got, errno};
        std::optional<Clock::time_point> deadline = total;
        if (gap && (!deadline || *gap < *deadline))
            deadline = gap;
        if (deadline && Clock::now() >= *deadline)
            break;
        short revents = 0;
        if (const int error = WaitFor(fd_, POLLIN, deadline, revents))
            return {got, error};
        if ((revents & POLLIN) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return {got, EIO};
    }
    return {got, 0};
}

Transfer Line::Write(std::span<const std::uint8_t> bytes, const WriteTimeouts& t) {
    const bool limited = t.Multiplier != 0 || t.Constant != 0;
    const Clock::time_point deadline =
        Later(Clock::now(), std::uint64_t{t.Multiplier} * bytes.size() + t.Constant);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return {sent, errno};
        if (limited && Clock::now() >= deadline)
            return {sent, 0};
        short revents = 0;
        if (const int error =
                WaitFor(fd_, POLLOUT, limited ? std::optional(deadline) : std::nullopt, revents))
            return {sent, error};
        if ((revents & POLLOUT) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return {sent, EIO};
    }
    return {sent, WaitOutputSent(deadline, limited)};
}

// A write counts as done when the bytes are on the line, as the exchange times its reply from
// there: at 110 baud an 8-byte request takes most of a second to leave. The kernel offers no
// bounded drain, so sleep for as long as the queued bytes need and look again.
int Line::WaitOutputSent(Clock::time_point deadline, bool limited) {
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0)
            return errno == ENOTTY || errno == EINVAL ? 0 : errno;
        if (queued <= 0)
            return 0;
        Clock::duration wait = charTime_ * queued;
        if (limited) {
            const auto now = Clock::now();
            if (now >= deadline)
                return 0;
            wait = std::min<Clock::duration>(wait, deadline - now);
        }
        std::this_thread::sleep_for(wait);
    }
}

int Line::Flush(bool input, bool output) {
    if (!input && !output)
        return 0;
    const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return tcflush(fd_, queue) == 0 ? 0 : errno;
}

} // namespace kve17::tty
