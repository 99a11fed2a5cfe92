#include "tools/sim/Pty.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("pseudo-terminal: ") + what + ": " + std::strerror(errno));
}

} // namespace

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        Fail("posix_openpt");
    try {
        std::array<char, 128> name{};
        if (grantpt(master_) != 0)
            Fail("grantpt");
        if (unlockpt(master_) != 0)
            Fail("unlockpt");
        if (ptsname_r(master_, name.data(), name.size()) != 0)
            Fail("ptsname");
        path_ = name.data();
        slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            Fail("open slave");
        termios settings{};
        if (tcgetattr(slave_, &settings) != 0)
            Fail("tcgetattr");
        cfmakeraw(&settings);
        if (tcsetattr(slave_, TCSANOW, &settings) != 0)
            Fail("tcsetattr");
        const int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
            Fail("fcntl");
    } catch (...) {
        if (slave_ >= 0)
            close(slave_);
        close(master_);
        throw;
    }
}

Pty::~Pty() {
    close(slave_);
    close(master_);
}

} // namespace kve17::sim
