// Where a line is: a COM name and a path that lead to one device give one place, named by its
// stable link when it has one; device servers by their normalised address; hosts apart.
#include "serial/PortPlace.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kve17 {
namespace {

namespace fs = std::filesystem;

class PortPlaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kve17-place-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = fs::canonical(pattern);
        fs::create_directories(root / "dev");
        fs::create_directories(root / "by-id");
        device = root / "dev" / "ttyUSB0";
        std::ofstream(device) << "";
    }
    void TearDown() override { fs::remove_all(root); }

    TPortDirectory Directory() const {
        return TPortDirectory(
            {(root / "links").string(), (root / "sysfs").string(), (root / "dev").string()});
    }
    std::string Place(const std::string& port, const std::string& host = "desk") const {
        return PortPlace(port, Directory(), host, (root / "by-id").string());
    }

    fs::path root;
    fs::path device;
};

TEST_F(PortPlaceTest, AComNameAndThePathsOfOneDeviceAreOnePlace) {
    Directory().AddLink(device.string(), "COM3");
    fs::create_symlink(device, root / "dev" / "serial-alias");
    const std::string expected = "desk:" + device.string();
    EXPECT_EQ(Place("COM3"), expected);
    EXPECT_EQ(Place(device.string()), expected);
    EXPECT_EQ(Place((root / "dev" / "serial-alias").string()), expected);
    EXPECT_EQ(Place((root / "dev" / "." / "ttyUSB0").string()), expected);
}

TEST_F(PortPlaceTest, ADeviceWithAStableLinkIsNamedByIt) {
    const fs::path stable = root / "by-id" / "usb-FTDI_USB-RS485-if00-port0";
    fs::create_symlink("../dev/ttyUSB0", stable);
    fs::create_symlink(root / "dev" / "gone", root / "by-id" / "a-dangling-link");
    Directory().AddLink(device.string(), "COM3");
    EXPECT_EQ(Place("COM3"), "desk:" + stable.string());
    EXPECT_EQ(Place(device.string()), "desk:" + stable.string());
}

TEST_F(PortPlaceTest, TwoHostsWithOneNameAreTwoPlaces) {
    Directory().AddLink(device.string(), "COM1");
    EXPECT_NE(Place("COM1", "desk-a"), Place("COM1", "desk-b"));
    EXPECT_EQ(Place("COM1", "desk-b"), "desk-b:" + device.string());
}

TEST_F(PortPlaceTest, ANameOrPathWithNoDeviceBehindItIsKeptAsGiven) {
    EXPECT_EQ(Place("COM9"), "desk:COM9");
    EXPECT_EQ(Place((root / "dev" / "ttyUSB7").string()),
              "desk:" + (root / "dev" / "ttyUSB7").string());
    const fs::path here = fs::current_path();
    fs::current_path(root);
    EXPECT_EQ(Place("dev/ttyUSB0"), "desk:" + device.string());
    fs::current_path(here);
}

TEST_F(PortPlaceTest, ADeviceServerIsItsAddressOnAnyHost) {
    EXPECT_EQ(Place("rfc2217://Server.Lan:4001?echo", "desk-a"), "rfc2217://server.lan:4001");
    EXPECT_EQ(Place("rfc2217://server.lan:4001", "desk-b"), "rfc2217://server.lan:4001");
    EXPECT_EQ(Place("tcp://[FE80::1]:4001"), "tcp://[fe80::1]:4001");
    Directory().AddLink("tcp://10.0.4.20:4001", "COM5");
    EXPECT_EQ(Place("COM5"), "tcp://10.0.4.20:4001");
}

} // namespace
} // namespace kve17
