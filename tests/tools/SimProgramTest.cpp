// The kve17-sim program: its first line, its port link, its signals and its exit codes.
#include "tests/support/ChildProcess.h"
#include "tests/tools/SimClient.h"
#include "tools/sim/SimLine.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace kve17::test {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

constexpr auto Patience = seconds{10};

Bytes Block(const sim::DeviceArchive& archive, int block) {
    const auto begin = archive.begin() + (block - 1) * sim::BlockBytes;
    return Bytes(begin, begin + sim::BlockBytes);
}

// The block's 128 bytes, or the reply as it came when it is not a good block reply.
Bytes ReadBlock(const std::string& device, int address, int block, std::size_t length = 133) {
    SimClient client(device);
    const Bytes reply = client.Transact(BlockRequest(address, block), length);
    if (reply.size() != 133 || !CrcGood(reply))
        return reply;
    return Bytes(reply.begin() + 3, reply.end() - 2);
}

class SimProgramTest : public ::testing::Test {
protected:
    SimProgramTest() { fs::create_directories(dir); }
    ~SimProgramTest() override { fs::remove_all(dir); }

    std::vector<std::string> Args(std::vector<std::string> more) const {
        more.insert(more.begin(), {KVE17_SIM_PROGRAM, "--port-dir", ports.string(), "--no-pacing"});
        return more;
    }

    const fs::path dir = fs::temp_directory_path() /
                         ("kve17-sim-program-" + std::to_string(getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path ports = dir / "ports";
};

TEST_F(SimProgramTest, LinksItsPtyServesGrowsAndCleansUpOnSigterm) {
    ChildProcess sim(
        Args({"--devices", "1-2", "--seed", "5", "--dump-dir", (dir / "dump").string()}));
    const auto first = sim.OutLine(Patience);
    ASSERT_TRUE(first) << sim.err;
    const auto space = first->find(' ');
    ASSERT_NE(space, std::string::npos) << *first;
    const std::string name = first->substr(0, space);
    const std::string device = first->substr(space + 1);
    EXPECT_TRUE(name.starts_with("COM")) << *first;
    ASSERT_TRUE(fs::is_symlink(ports / name));
    EXPECT_EQ(fs::read_symlink(ports / name), device);

    const sim::DeviceArchive made = sim::MakeArchive(sim::DeviceSeed(5, 2));
    EXPECT_EQ(ReadBlock((ports / name).string(), 2, 1), Block(made, 1));

    sim.Signal(SIGUSR1);
    EXPECT_EQ(sim.OutLine(Patience), "grown");
    const Bytes grown = ReadBlock(device, 2, 1);
    ASSERT_EQ(grown.size(), 128u);
    EXPECT_TRUE(std::equal(grown.begin() + 8, grown.end(), made.begin()));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.OutLine(Patience), "dumped " + (dir / "dump").string());
    EXPECT_EQ(sim.Wait(Patience), 0) << sim.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / name)));
    const sim::DeviceArchive dumped = sim::LoadArchive((dir / "dump" / "device-02.bin").string());
    EXPECT_TRUE(std::equal(dumped.begin() + 8, dumped.end(), made.begin()));
    EXPECT_TRUE(std::equal(grown.begin(), grown.end(), dumped.begin()));
}

TEST_F(SimProgramTest, TakesTheGivenNameArchiveFileAndFaults) {
    const sim::DeviceArchive archive = sim::MakeArchive(77, 100);
    sim::SaveArchive(archive, (dir / "a.bin").string());
    ChildProcess sim(Args({"--name", "COM7", "--devices", "3", "--archive",
                           "3=" + (dir / "a.bin").string(), "--fault", "3:exception=6:block=2"}));
    const auto first = sim.OutLine(Patience);
    ASSERT_TRUE(first) << sim.err;
    ASSERT_TRUE(first->starts_with("COM7 ")) << *first;
    const std::string link = (ports / "COM7").string();
    EXPECT_EQ(ReadBlock(link, 3, 1), Block(archive, 1));
    EXPECT_EQ(ReadBlock(link, 3, 2, 5), WithCrc({3, 0xC3, 6}));
    EXPECT_EQ(ReadBlock(link, 3, 2), Block(archive, 2));
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(Patience), 0) << sim.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM7")));
}

TEST_F(SimProgramTest, BadOptionsExitTwoWithAMessageAndLinkNothing) {
    ChildProcess sim(Args({"--devices", "0-4"}));
    EXPECT_EQ(sim.Wait(Patience), 2);
    EXPECT_NE(sim.err.find("--devices"), std::string::npos) << sim.err;
    EXPECT_EQ(sim.out, "");
    EXPECT_FALSE(fs::exists(ports));
}

TEST_F(SimProgramTest, AnUnreadableArchiveExitsOneBeforeAnyLink) {
    const std::string missing = (dir / "missing.bin").string();
    ChildProcess sim(Args({"--archive", "1=" + missing}));
    EXPECT_EQ(sim.Wait(Patience), 1);
    EXPECT_NE(sim.err.find(missing), std::string::npos) << sim.err;
    EXPECT_FALSE(fs::exists(ports));
}

TEST_F(SimProgramTest, ANameTakenByAnotherDeviceExitsOne) {
    fs::create_directories(ports);
    fs::permissions(ports, fs::perms::owner_all);
    fs::create_symlink("/dev/null", ports / "COM7");
    ChildProcess sim(Args({"--name", "COM7"}));
    EXPECT_EQ(sim.Wait(Patience), 1);
    EXPECT_NE(sim.err.find("COM7"), std::string::npos) << sim.err;
    EXPECT_EQ(fs::read_symlink(ports / "COM7"), "/dev/null");
}

// A simulator killed outright leaves its link; the next one removes it rather than taking a second
// name, and the stale name can no longer come to point at another pty.
TEST_F(SimProgramTest, TheLinkOfAKilledSimulatorIsRemovedByTheNextOne) {
    std::string name;
    {
        ChildProcess killed(Args({}));
        const auto first = killed.OutLine(Patience);
        ASSERT_TRUE(first) << killed.err;
        name = first->substr(0, first->find(' '));
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Wait(Patience), 128 + SIGKILL);
        ASSERT_TRUE(fs::is_symlink(ports / name));
    }
    ChildProcess next(Args({}));
    const auto first = next.OutLine(Patience);
    ASSERT_TRUE(first) << next.err;
    const auto space = first->find(' ');
    EXPECT_EQ(first->substr(0, space), name);
    std::vector<std::string> links;
    for (const auto& entry : fs::directory_iterator(ports))
        if (entry.is_symlink())
            links.push_back(entry.path().filename().string());
    EXPECT_EQ(links, std::vector<std::string>{name});
    EXPECT_EQ(fs::read_symlink(ports / name).string(), first->substr(space + 1));
}

// The journal is what a collection is checked against: it must list exactly the records a
// reader finds on the line, in the order the device made them.
TEST_F(SimProgramTest, TheJournalListsEveryRecordMadeOldestFirst) {
    const fs::path journal = dir / "journal.txt";
    ChildProcess sim(Args({"--devices", "3", "--young", "3:5", "--seed", "9", "--burst", "20",
                           "--journal", journal.string()}));
    const auto first = sim.OutLine(Patience);
    ASSERT_TRUE(first) << sim.err;
    const std::string device = first->substr(first->find(' ') + 1);
    sim.Signal(SIGUSR1);
    ASSERT_EQ(sim.OutLine(Patience), "grown");
    Bytes served = ReadBlock(device, 3, 1);
    const Bytes second = ReadBlock(device, 3, 2);
    served.insert(served.end(), second.begin(), second.end());
    ASSERT_EQ(served.size(), 256u);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(Patience), 0) << sim.err;

    std::ifstream in(journal);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    // Five first records and twenty made by the burst, the newest last.
    ASSERT_EQ(lines.size(), 25u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char hex[17];
        const std::size_t at = (lines.size() - 1 - i) * 8; // the line serves the newest first
        for (int b = 0; b < 8; ++b)
            std::snprintf(hex + 2 * b, 3, "%02X", served[at + static_cast<std::size_t>(b)]);
        EXPECT_EQ(lines[i], std::string("3 ") + hex) << "line " << i;
    }
}

TEST_F(SimProgramTest, HelpExitsZero) {
    ChildProcess sim({KVE17_SIM_PROGRAM, "--help"});
    EXPECT_EQ(sim.Wait(Patience), 0);
    EXPECT_NE(sim.out.find("--fault"), std::string::npos);
}

} // namespace
} // namespace kve17::test
