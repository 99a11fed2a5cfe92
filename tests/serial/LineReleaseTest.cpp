// What a closed port leaves behind: the line settings it found (a terminal opened by mistake gets
// its echo back, an arbitrary rate comes back as it was) and no exclusive mode.
#include "serial/TtyLine.h"
#include "serial/TtyRate.h"
#include "tests/support/Pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kve17::test {
namespace {

class LineRelease : public ::testing::Test {
protected:
    void SetUp() override {
        fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0)
            ::close(fd);
    }

    Pty pty;
    int fd = -1;
};

TEST_F(LineRelease, CloseGivesBackTheTerminalSettingsItFound) {
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL;
    cfsetispeed(&before, B38400);
    cfsetospeed(&before, B38400);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    tty::Line line;
    ASSERT_EQ(line.Open(pty.SlavePath()), 0);
    ASSERT_EQ(line.Apply(tty::LineSettings{.Rate = 115200}), 0);
    termios during{};
    ASSERT_EQ(tcgetattr(fd, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    line.Close();

    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), tcflag_t{ICANON | ECHO | ISIG});
    EXPECT_EQ(after.c_iflag & ICRNL, tcflag_t{ICRNL});
    EXPECT_EQ(cfgetospeed(&after), speed_t{B38400});
    int excl = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
}

TEST_F(LineRelease, CloseGivesBackAnArbitraryRate) {
    ASSERT_EQ(tty::SetLineRate(fd, 31250), 0);
    tty::Line line;
    ASSERT_EQ(line.Open(pty.SlavePath()), 0);
    ASSERT_EQ(line.Apply(tty::LineSettings{.Rate = 9600}), 0);
    line.Close();
    int rate = 0;
    ASSERT_EQ(tty::GetLineRate(fd, rate), 0);
    EXPECT_EQ(rate, 31250);
}

} // namespace
} // namespace kve17::test
