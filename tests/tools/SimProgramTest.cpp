// The kve17-sim program: its first line, its port link, its signals and its exit codes.
#include "tests/tools/SimClient.h"
#include "tools/sim/SimLine.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace kve17::test {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

constexpr auto Patience = seconds{10};

// The program with its standard output and error on pipes.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), KVE17_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (failed != 0)
            throw std::runtime_error("cannot start " + args[0]);
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // The next line of standard output; nothing at its end or when the time runs out.
    std::optional<std::string> Line() {
        const auto deadline = steady_clock::now() + Patience;
        for (;;) {
            if (const auto end = pending_.find('\n'); end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            if (!ReadSome(out_, pending_, deadline))
                return std::nullopt;
        }
    }

    void Signal(int signal) { kill(pid_, signal); }

    // The exit status once standard output has closed; -1 when it does not end in time.
    int Exit() {
        const auto deadline = steady_clock::now() + Patience;
        while (ReadSome(out_, pending_, deadline)) {
        }
        while (ReadSome(err_, errors_, deadline)) {
        }
        int status = 0;
        // Its output closes a moment before it can be reaped.
        while (waitpid(pid_, &status, WNOHANG) != pid_) {
            if (steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(milliseconds{2});
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& Errors() const { return errors_; }
    const std::string& Rest() const { return pending_; }

private:
    static bool ReadSome(int fd, std::string& into, steady_clock::time_point deadline) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[256];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        into.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;
    std::string errors_;
};

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
        more.insert(more.begin(), {"--port-dir", ports.string(), "--no-pacing"});
        return more;
    }

    const fs::path dir = fs::temp_directory_path() /
                         ("kve17-sim-program-" + std::to_string(getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path ports = dir / "ports";
};

TEST_F(SimProgramTest, LinksItsPtyServesGrowsAndCleansUpOnSigterm) {
    SimProcess sim(
        Args({"--devices", "1-2", "--seed", "5", "--dump-dir", (dir / "dump").string()}));
    const auto first = sim.Line();
    ASSERT_TRUE(first) << sim.Errors();
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
    EXPECT_EQ(sim.Line(), "grown");
    const Bytes grown = ReadBlock(device, 2, 1);
    ASSERT_EQ(grown.size(), 128u);
    EXPECT_TRUE(std::equal(grown.begin() + 8, grown.end(), made.begin()));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Line(), "dumped " + (dir / "dump").string());
    EXPECT_EQ(sim.Exit(), 0) << sim.Errors();
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / name)));
    const sim::DeviceArchive dumped = sim::LoadArchive((dir / "dump" / "device-02.bin").string());
    EXPECT_TRUE(std::equal(dumped.begin() + 8, dumped.end(), made.begin()));
    EXPECT_TRUE(std::equal(grown.begin(), grown.end(), dumped.begin()));
}

TEST_F(SimProgramTest, TakesTheGivenNameArchiveFileAndFaults) {
    const sim::DeviceArchive archive = sim::MakeArchive(77, 100);
    sim::SaveArchive(archive, (dir / "a.bin").string());
    SimProcess sim(Args({"--name", "COM7", "--devices", "3", "--archive",
                         "3=" + (dir / "a.bin").string(), "--fault", "3:exception=6:block=2"}));
    const auto first = sim.Line();
    ASSERT_TRUE(first) << sim.Errors();
    ASSERT_TRUE(first->starts_with("COM7 ")) << *first;
    const std::string link = (ports / "COM7").string();
    EXPECT_EQ(ReadBlock(link, 3, 1), Block(archive, 1));
    EXPECT_EQ(ReadBlock(link, 3, 2, 5), WithCrc({3, 0xC3, 6}));
    EXPECT_EQ(ReadBlock(link, 3, 2), Block(archive, 2));
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Exit(), 0) << sim.Errors();
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM7")));
}

TEST_F(SimProgramTest, BadOptionsExitTwoWithAMessageAndLinkNothing) {
    SimProcess sim(Args({"--devices", "0-4"}));
    EXPECT_EQ(sim.Exit(), 2);
    EXPECT_NE(sim.Errors().find("--devices"), std::string::npos) << sim.Errors();
    EXPECT_EQ(sim.Rest(), "");
    EXPECT_FALSE(fs::exists(ports));
}

TEST_F(SimProgramTest, AnUnreadableArchiveExitsOneBeforeAnyLink) {
    const std::string missing = (dir / "missing.bin").string();
    SimProcess sim(Args({"--archive", "1=" + missing}));
    EXPECT_EQ(sim.Exit(), 1);
    EXPECT_NE(sim.Errors().find(missing), std::string::npos) << sim.Errors();
    EXPECT_FALSE(fs::exists(ports));
}

TEST_F(SimProgramTest, ANameTakenByAnotherDeviceExitsOne) {
    fs::create_directories(ports);
    fs::permissions(ports, fs::perms::owner_all);
    fs::create_symlink("/dev/null", ports / "COM7");
    SimProcess sim(Args({"--name", "COM7"}));
    EXPECT_EQ(sim.Exit(), 1);
    EXPECT_NE(sim.Errors().find("COM7"), std::string::npos) << sim.Errors();
    EXPECT_EQ(fs::read_symlink(ports / "COM7"), "/dev/null");
}

// A simulator killed outright leaves its link; the next one removes it rather than taking a second
// name, and the stale name can no longer come to point at another pty.
TEST_F(SimProgramTest, TheLinkOfAKilledSimulatorIsRemovedByTheNextOne) {
    std::string name;
    {
        SimProcess killed(Args({}));
        const auto first = killed.Line();
        ASSERT_TRUE(first) << killed.Errors();
        name = first->substr(0, first->find(' '));
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Exit(), 128 + SIGKILL);
        ASSERT_TRUE(fs::is_symlink(ports / name));
    }
    SimProcess next(Args({}));
    const auto first = next.Line();
    ASSERT_TRUE(first) << next.Errors();
    const auto space = first->find(' ');
    EXPECT_EQ(first->substr(0, space), name);
    std::vector<std::string> links;
    for (const auto& entry : fs::directory_iterator(ports))
        if (entry.is_symlink())
            links.push_back(entry.path().filename().string());
    EXPECT_EQ(links, std::vector<std::string>{name});
    EXPECT_EQ(fs::read_symlink(ports / name).string(), first->substr(space + 1));
}

TEST_F(SimProgramTest, HelpExitsZero) {
    SimProcess sim({"--help"});
    EXPECT_EQ(sim.Exit(), 0);
    EXPECT_NE(sim.Rest().find("--fault"), std::string::npos);
}

} // namespace
} // namespace kve17::test
