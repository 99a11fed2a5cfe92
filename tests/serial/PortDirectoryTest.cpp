// The port directory over a fake sysfs, device folder and link folder.
#include "serial/PortDirectory.h"

#include "serial/Comport.h"
#include "serial/EComPort.h"
#include "tests/support/TcpPeer.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kve17 {
namespace {

namespace fs = std::filesystem;

class PortDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kve17-ports-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root / "sysfs");
        fs::create_directories(root / "dev");
    }
    void TearDown() override { fs::remove_all(root); }

    TPortDirectory Directory() const {
        return TPortDirectory(
            {(root / "links").string(), (root / "sysfs").string(), (root / "dev").string()});
    }

    // A tty in the fake sysfs; `hardware` gives it a device behind it.
    fs::path AddTty(const std::string& name, bool hardware = true) {
        const fs::path dir = root / "sysfs" / name;
        fs::create_directories(hardware ? dir / "device" : dir);
        return dir;
    }

    static void WriteAttribute(const fs::path& file, const std::string& value) {
        std::ofstream(file) << value << "\n";
    }

    void Link(const std::string& name, const fs::path& target) {
        fs::create_directories(root / "links");
        fs::create_symlink(target, root / "links" / name);
    }

    std::string Dev(const std::string& name) const { return (root / "dev" / name).string(); }

    std::vector<std::pair<std::string, std::string>> Listed() const {
        std::vector<std::pair<std::string, std::string>> listed;
        for (const TPortEntry& entry : Directory().List())
            listed.emplace_back(entry.Name, entry.Device);
        return listed;
    }

    fs::path root;
};

using Listing = std::vector<std::pair<std::string, std::string>>;

TEST_F(PortDirectoryTest, HardwareIsNumberedByFamilyThenByNumberNotByText) {
    for (const char* name : {"ttyUSB1", "ttyS10", "ttyACM0", "ttyXRUSB0", "ttyUSB0", "ttyS2"})
        AddTty(name);
    for (const char* name : {"ttyS10", "ttyS2"})
        WriteAttribute(root / "sysfs" / name / "type", "4");
    AddTty("tty0", false);
    AddTty("ptmx", false);
    EXPECT_EQ(Listed(), (Listing{{"COM1", Dev("ttyS2")},
                                 {"COM2", Dev("ttyS10")},
                                 {"COM3", Dev("ttyACM0")},
                                 {"COM4", Dev("ttyUSB0")},
                                 {"COM5", Dev("ttyUSB1")},
                                 {"COM6", Dev("ttyXRUSB0")}}));
}

TEST_F(PortDirectoryTest, LegacySerialSlotsWithoutAUartAreLeftOut) {
    WriteAttribute(AddTty("ttyS0") / "type", "4");
    WriteAttribute(AddTty("ttyS1") / "type", "0");
    const fs::path placeholder = AddTty("ttyS2"); // no type: port 0 on the 8250 driver
    WriteAttribute(placeholder / "port", "0x0");
    fs::create_directories(root / "drivers" / "serial8250");
    fs::create_symlink(root / "drivers" / "serial8250", placeholder / "device" / "driver");
    WriteAttribute(AddTty("ttyS3") / "port", "0x2E8");
    EXPECT_EQ(Listed(), (Listing{{"COM1", Dev("ttyS0")}, {"COM2", Dev("ttyS3")}}));
}

TEST_F(PortDirectoryTest, LinksKeepTheirNamesAndHardwareTakesTheFreeNumbers) {
    AddTty("ttyUSB0");
    AddTty("ttyUSB1");
    AddTty("ttyACM0");
    Link("COM1", "/dev/pts/7");
    Link("COM3", Dev("ttyUSB0"));
    EXPECT_EQ(Listed(), (Listing{{"COM1", "/dev/pts/7"},
                                 {"COM2", Dev("ttyACM0")},
                                 {"COM3", Dev("ttyUSB0")},
                                 {"COM4", Dev("ttyUSB1")}}));
}

TEST_F(PortDirectoryTest, EntriesThatAreNoComLinksAreIgnored) {
    for (const char* name : {"COM0", "COM01", "COMX", "COM", "tty1"})
        Link(name, "/dev/null");
    std::ofstream(root / "links" / "COM5") << "not a link";
    Link("COM12", "/dev/null");
    EXPECT_EQ(Listed(), (Listing{{"COM12", "/dev/null"}}));
}

TEST_F(PortDirectoryTest, RelativeLinkTargetIsResolvedAgainstTheLinkFolder) {
    Link("COM2", "../dev/ttyUSB0");
    EXPECT_EQ(Directory().Resolve("COM2"), Dev("ttyUSB0"));
}

TEST_F(PortDirectoryTest, DanglingLinkIsListedAndOpeningItFailsWithCode1) {
    Link("COM4", root / "gone");
    EXPECT_EQ(Listed(), (Listing{{"COM4", (root / "gone").string()}}));
    TComPort port(Directory());
    port.SetPort("COM4");
    try {
        port.Open();
        FAIL() << "opened a dangling link";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.PortError, 1);
        EXPECT_EQ(error.SystemError, ENOENT);
    }
}

TEST_F(PortDirectoryTest, ResolveGivesAbsolutePathsAsTheyAreAndNothingForUnknownNames) {
    AddTty("ttyUSB0");
    EXPECT_EQ(Directory().Resolve("COM1"), Dev("ttyUSB0"));
    EXPECT_EQ(Directory().Resolve("/dev/ttyX9"), "/dev/ttyX9");
    EXPECT_EQ(Directory().Resolve("COM2"), std::nullopt);
    EXPECT_EQ(Directory().Resolve("ttyUSB0"), std::nullopt);
}

TEST_F(PortDirectoryTest, LinkToAServerAddressIsAPortAndItsEchoMarkIsHonoured) {
    test::TcpPeer peer;
    AddTty("ttyUSB0");
    Link("COM1", peer.Address() + "?echo");
    Link("COM9", "rfc2217://10.0.0.5:4001");
    EXPECT_EQ(Listed(), (std::vector<std::pair<std::string, std::string>>{
                            {"COM1", peer.Address() + "?echo"},
                            {"COM2", Dev("ttyUSB0")},
                            {"COM9", "rfc2217://10.0.0.5:4001"}}));
    EXPECT_EQ(Directory().AddLink("tcp://10.0.0.6:4001"), "COM3");

    TComPort port(Directory());
    port.SetPort("COM1");
    port.Timeouts().SetReadTotalConstant(2000);
    port.Open();
    ASSERT_TRUE(peer.Accept(std::chrono::seconds(5)));
    const std::vector<std::uint8_t> request{0x01, 0x43, 0xFF};
    peer.Send(request); // the adapter's echo, then the reply
    peer.Send(std::vector<std::uint8_t>{0x55});
    EXPECT_EQ(port.Write(request), 3);
    std::array<std::uint8_t, 1> reply{};
    EXPECT_EQ(port.Read(reply), 1);
    EXPECT_EQ(reply[0], 0x55) << "the echo is dropped, the reply kept";
}

TEST_F(PortDirectoryTest, AddLinkTakesTheLowestNumberFreeInTheWholeList) {
    AddTty("ttyS0"); // COM1 by hardware
    WriteAttribute(root / "sysfs" / "ttyS0" / "type", "4");
    Link("COM2", "/dev/pts/1");
    EXPECT_EQ(Directory().AddLink("/dev/pts/9"), "COM3");
    EXPECT_EQ(Directory().Resolve("COM3"), "/dev/pts/9");
}

TEST_F(PortDirectoryTest, AddLinkCreatesAPrivateLinkFolder) {
    EXPECT_EQ(Directory().AddLink("/dev/pts/9"), "COM1");
    struct stat info {};
    ASSERT_EQ(stat((root / "links").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
}

TEST_F(PortDirectoryTest, AddLinkUnderAGivenNameRefusesANameLinkedElsewhere) {
    const TPortDirectory directory = Directory();
    EXPECT_EQ(directory.AddLink("/dev/pts/3", "COM9"), "COM9");
    EXPECT_EQ(directory.AddLink("/dev/pts/3", "COM9"), "COM9"); // same target: fine
    EXPECT_THROW(directory.AddLink("/dev/pts/4", "COM9"), std::runtime_error);
    EXPECT_THROW(directory.AddLink("/dev/pts/4", "PORT9"), std::runtime_error);
    EXPECT_THROW(directory.AddLink("pts/4"), std::runtime_error);
    EXPECT_EQ(directory.Resolve("COM9"), "/dev/pts/3");
}

TEST_F(PortDirectoryTest, RemoveLinkRemovesOnlyLinks) {
    const TPortDirectory directory = Directory();
    directory.AddLink("/dev/pts/3", "COM2");
    std::ofstream(root / "links" / "COM3") << "keep me";
    directory.RemoveLink("COM2");
    directory.RemoveLink("COM3");
    directory.RemoveLink("COM8");
    EXPECT_FALSE(fs::is_symlink(root / "links" / "COM2"));
    EXPECT_TRUE(fs::exists(root / "links" / "COM3"));
}

TEST_F(PortDirectoryTest, LinksInAFolderWritableByEveryoneAreIgnored) {
    Link("COM1", "/dev/pts/1");
    fs::permissions(root / "links", fs::perms::all);
    EXPECT_TRUE(Directory().List().empty());
    EXPECT_THROW(Directory().AddLink("/dev/pts/2"), std::runtime_error);
}

TEST(PortDirectoryDefault, LinkFolderFollowsTheRuntimeFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(TPortDirectory::DefaultLinkDir(), "/run/user/1234/kve17/ports");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(TPortDirectory::DefaultLinkDir(),
              "/tmp/kve17-" + std::to_string(getuid()) + "/ports");
    if (saved != nullptr)
        setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

} // namespace
} // namespace kve17
