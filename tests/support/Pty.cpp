#include "tests/support/Pty.h"

#include "serial/TtyRate.h"
#include "tests/support/FdReceive.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace kve17::test {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("pty: ") + what + ": " +
                             std::generic_category().message(errno));
}

} // namespace

Pty::Pty() {
    try {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0)
            Fail("posix_openpt");
        char name[128] = {};
        if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0)
            Fail("unlockpt");
        slavePath_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            Fail("open slave");
        termios raw{};
        if (tcgetattr(slave_, &raw) != 0)
            Fail("tcgetattr");
        cfmakeraw(&raw);
        if (tcsetattr(slave_, TCSANOW, &raw) != 0)
            Fail("tcsetattr");
    } catch (...) {
        Release();
        throw;
    }
}

Pty::~Pty() {
    Release();
}

void Pty::Release() {
    CloseMaster();
    if (slave_ >= 0)
        close(slave_);
    slave_ = -1;
}

termios Pty::SlaveSettings() const {
    termios settings{};
    if (tcgetattr(master_, &settings) != 0)
        Fail("tcgetattr");
    return settings;
}

int Pty::SlaveRate() const {
    int rate = 0;
    if (const int error = tty::GetLineRate(master_, rate)) {
        errno = error;
        Fail("TCGETS2");
    }
    return rate;
}

void Pty::Send(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("write");
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
}

void Pty::Send(std::string_view text) {
    Send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool Pty::WaitDelivered(std::chrono::milliseconds timeout) const {
    return ReadableWithin(slave_, timeout);
}

std::vector<std::uint8_t> Pty::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    return ReceiveWithin(master_, count, timeout);
}

void Pty::CloseMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

} // namespace kve17::test
