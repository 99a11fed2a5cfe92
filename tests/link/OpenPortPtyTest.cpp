// Port set-up through the real driver: a pseudo-terminal named in the port directory.
#include "link/Comportclass.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "serial/PortDirectory.h"
#include "tests/support/Pty.h"
#include "tests/support/ScriptedPrompt.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <termios.h>

namespace kve17 {
namespace {

using test::Pty;
using test::ScriptedPrompt;

constexpr const char* PortLostText =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

class OpenPortPty : public ::testing::Test {
protected:
    OpenPortPty() : root(MakeRoot()), directory(Roots()), port(directory), link(port, prompt) {
        directory.AddLink(pty.SlavePath(), "COM7");
        LoadComPort1Settings(port);
    }
    ~OpenPortPty() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    static std::string MakeRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kve17-openport-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        return pattern;
    }
    TPortDirectory::Roots Roots() const {
        TPortDirectory::Roots roots;
        roots.LinkDir = root + "/ports";
        roots.SysfsTtyDir = root + "/no-sysfs"; // no hardware of the test machine
        roots.DevDir = root + "/no-dev";
        return roots;
    }
    void Select(const char* baud, const char* parity, const char* stop, const char* name) {
        ASSERT_TRUE(link.SetBaudText(baud));
        ASSERT_TRUE(link.SetParityText(parity));
        ASSERT_TRUE(link.SetStopText(stop));
        ASSERT_TRUE(link.SetPortName(name));
    }

    std::string root;
    Pty pty;
    TPortDirectory directory;
    TComPort port;
    ScriptedPrompt prompt;
    TComPortClass link;
};

TEST_F(OpenPortPty, OpensTheNamedPortWithTheSettingsReachingTheLine) {
    Select("19200", "E", "2", "COM7");
    ASSERT_EQ(link.OpenPort(), 0);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(pty.SlaveRate(), 19200);
    const termios settings = pty.SlaveSettings();
    EXPECT_NE(settings.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(OpenPortPty, ReopeningAppliesChangedSettings) {
    Select("9600", "N", "2", "COM7");
    ASSERT_EQ(link.OpenPort(), 0);
    Select("115200", "N", "1", "COM7");
    ASSERT_EQ(link.OpenPort(), 0);
    EXPECT_EQ(pty.SlaveRate(), 115200);
    EXPECT_EQ(pty.SlaveSettings().c_cflag & CSTOPB, 0u);
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(OpenPortPty, MixedCaseNameIsRefusedAlthoughThePortExists) {
    Select("9600", "N", "2", "Com7");
    EXPECT_EQ(link.OpenPort(), -1);
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(OpenPortPty, RefusedSettingLeavesAnOpenPortClosed) {
    Select("9600", "N", "2", "COM7");
    ASSERT_EQ(link.OpenPort(), 0);
    ASSERT_TRUE(link.SetBaudText("128000"));
    EXPECT_EQ(link.OpenPort(), -1);
    EXPECT_FALSE(port.Connected());
}

TEST_F(OpenPortPty, UnknownPortShowsPortLostAndAsksToClose) {
    Select("9600", "N", "2", "COM9");
    EXPECT_EQ(link.OpenPort(), -1);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, PortLostText);
    EXPECT_EQ(prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(prompt.CloseRequests, 1);
}

TEST_F(OpenPortPty, PortHeldByAnotherOpenIsReportedAsLost) {
    TComPort other(directory);
    other.SetPort("COM7");
    other.Open();
    Select("9600", "N", "2", "COM7");
    EXPECT_EQ(link.OpenPort(), -1);
    EXPECT_EQ(prompt.CloseRequests, 1);
}

} // namespace
} // namespace kve17
