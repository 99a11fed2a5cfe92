// kve17ctl under faults it cannot prevent: the simulator process killed in the middle of a
// reading, archive files it must refuse, and a disk that takes no more bytes. The program fails
// with a clear message and the file on disk is left as it was, with nothing else beside it.
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pty.h"
#include "tools/sim/SimLine.h"

#include <algorithm>
#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using FileArray = std::array<std::uint8_t, ArchiveFileSize>;

constexpr auto Patience = 20s;
constexpr rlim_t FileSizeLimit = 4096; // below one archive file

std::vector<std::uint8_t> BytesOf(const FileArray& file) {
    return {file.begin(), file.end()};
}

struct Finished {
    int Status = -1;
    std::string Out;
    std::string Err;
};

Finished Finish(ChildProcess& child) {
    Finished f;
    f.Status = child.Wait(Patience);
    f.Out = child.out;
    f.Err = child.err;
    return f;
}

std::vector<std::string> ReadArgs(const std::string& port, const std::string& file,
                                  std::vector<std::string> extra = {}) {
    std::vector<std::string> args{KVE17CTL_PATH, "read", "--port",      port,
                                  "--device",    "2",    "--no-history"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    return args;
}

void NoLargeFiles() {
    LimitFileSize(FileSizeLimit);
}

// --- The simulator process killed while kve17ctl reads from it.

class SimKilled : public ::testing::TestWithParam<TReadingMode> {
protected:
    TempDir dir;
    std::string file = dir.File("line.dat");
};

TEST_P(SimKilled, ReadingFailsWithADriverMessageAndKeepsTheFile) {
    // The device's archive, and for an incremental reading a file of an earlier reading of it.
    sim::DeviceArchive archive = sim::MakeArchive(23);
    FileArray before = model::FreshFile();
    if (GetParam() == TReadingMode::Incremental) {
        before = model::AfterReading(before, archive);
        sim::GrowArchive(archive, 980, 24);
    }
    const std::string archiveFile = dir.File("device.bin");
    sim::SaveArchive(archive, archiveFile);
    WriteBytes(file, BytesOf(before));
    const auto entries = FolderEntries(dir.Path());

    ChildProcess sim({KVE17_SIM_PROGRAM, "--port-dir", dir.File("ports"), "--no-pacing",
                      "--devices", "2", "--archive", "2=" + archiveFile});
    const auto first = sim.OutLine(Patience);
    ASSERT_TRUE(first) << sim.err;
    const std::string device = first->substr(first->find(' ') + 1);

    // 62 blocks 30 ms apart: the kill after the fourth request comes well within the reading.
    ChildProcess ctl(ReadArgs(device, file, {"--trace", "--delay-tx", "30"}));
    ASSERT_TRUE(ctl.WaitForErr(" TX 02 43 00 04 ", Patience)) << ctl.err;
    sim.Signal(SIGKILL);
    EXPECT_EQ(sim.Wait(Patience), 128 + SIGKILL);

    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    const bool driverMessage =
        run.Err.find("kve17ctl: ReadFile function failed (Error: ") != std::string::npos ||
        run.Err.find("kve17ctl: WriteFile function failed (Error: ") != std::string::npos;
    EXPECT_TRUE(driverMessage) << run.Err;
    EXPECT_EQ(run.Err.find("Закончено чтение архива"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(" TX 02 43 00 3E "), std::string::npos) << "read to the end";
    EXPECT_EQ(FileBytes(file), BytesOf(before));
    auto after = FolderEntries(dir.Path());
    std::erase(after, "ports"); // the killed simulator could not remove its link
    EXPECT_EQ(after, entries);
}

INSTANTIATE_TEST_SUITE_P(Modes, SimKilled,
                         ::testing::Values(TReadingMode::Fresh, TReadingMode::Incremental),
                         [](const auto& info) {
                             return info.param == TReadingMode::Fresh ? "Fresh" : "Incremental";
                         });

// --- Archive files kve17ctl must refuse before it asks the device anything.

struct RefusedCase {
    const char* name;
    std::vector<std::uint8_t> content; // empty: no file at all
    const char* relative;              // the file's name in the test folder
    fs::perms perms = fs::perms::owner_read | fs::perms::owner_write;
};

std::vector<std::uint8_t> WithPosition(std::int32_t position) {
    FileArray file = model::FreshFile();
    model::SetPosition(file, position);
    return BytesOf(file);
}

class RefusedFile : public ::testing::TestWithParam<RefusedCase> {
protected:
    TempDir dir;
    sim::SimLine line;
};

TEST_P(RefusedFile, IsNotReadAndStaysAsItWas) {
    const RefusedCase& c = GetParam();
    line.SetDevice(2, sim::MakeArchive(5));
    const std::string file = dir.File(c.relative);
    if (!c.content.empty()) {
        WriteBytes(file, c.content);
        fs::permissions(file, c.perms);
    }
    ChildProcess ctl(ReadArgs(line.SlavePath(), file));
    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_EQ(run.Err, "Файл архива не удается открыть\n");
    EXPECT_EQ(line.Requests(2), 0) << "the device was asked";
    if (c.content.empty())
        EXPECT_TRUE(FolderEntries(dir.Path()).empty()) << "a file or folder was made";
    else
        EXPECT_EQ(FileBytes(file), c.content);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFile,
    ::testing::Values(RefusedCase{"TooShort", std::vector<std::uint8_t>(7939, 0xFF), "a.dat"},
                      RefusedCase{"TooLong", std::vector<std::uint8_t>(7941, 0xFF), "a.dat"},
                      RefusedCase{"PositionNotOnASlot", WithPosition(100), "a.dat"},
                      RefusedCase{"PositionPastTheRing", WithPosition(7936), "a.dat"},
                      RefusedCase{"ReadOnly", WithPosition(-1), "a.dat", fs::perms::owner_read},
                      RefusedCase{"Missing", {}, "a.dat"},
                      RefusedCase{"MissingFolder", {}, "no/a.dat"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A disk that takes no more bytes: kve17ctl runs with a file size limit below one file.

class CtlFullDisk : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(CtlFullDisk, CreateFailsAndLeavesNoFile) {
    ChildProcess ctl({KVE17CTL_PATH, "create", dir.File("a.dat")}, NoLargeFiles);
    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_EQ(run.Err, "Файл архива не удается создать\n");
    EXPECT_TRUE(FolderEntries(dir.Path()).empty());
}

TEST_F(CtlFullDisk, ForcedCreateKeepsTheOldFile) {
    const std::vector<std::uint8_t> old(ArchiveFileSize, 0x33);
    WriteBytes(dir.File("a.dat"), old);
    ChildProcess ctl({KVE17CTL_PATH, "create", "--force", dir.File("a.dat")}, NoLargeFiles);
    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Файл архива не удается создать\n");
    EXPECT_EQ(FileBytes(dir.File("a.dat")), old);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.dat"});
}

TEST_F(CtlFullDisk, SaveAfterTheReadingFailsAndKeepsTheFile) {
    sim::SimLine line;
    line.SetDevice(2, sim::MakeArchive(5));
    const std::string file = dir.File("a.dat");
    const auto fresh = BytesOf(model::FreshFile());
    WriteBytes(file, fresh);
    ChildProcess ctl(ReadArgs(line.SlavePath(), file, {"--delay-tx", "0"}), NoLargeFiles);
    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_EQ(run.Err, "Закончено чтение архива\nФайл архива не удается записать\n");
    EXPECT_EQ(line.Requests(2), 62);
    EXPECT_EQ(FileBytes(file), fresh);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.dat"});
}

// --- A reading stopped by a signal: the port released for the next program, the file unchanged,
// and the program ends as the signal ends it.

class CtlStopped : public ::testing::TestWithParam<int> {
protected:
    TempDir dir;
    sim::SimLine line;
};

TEST_P(CtlStopped, ReleasesThePortKeepsTheFileAndEndsByTheSignal) {
    line.SetDevice(2, sim::MakeArchive(23));
    const std::string file = dir.File("a.dat");
    const auto fresh = BytesOf(model::FreshFile());
    WriteBytes(file, fresh);
    // Held open here as another program would: the terminal outlives the reading.
    const int other = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(other, &before), 0);

    ChildProcess ctl(ReadArgs(line.SlavePath(), file, {"--trace", "--delay-tx", "30"}));
    ASSERT_TRUE(ctl.WaitForErr(" TX 02 43 00 04 ", Patience)) << ctl.err;
    ctl.Signal(GetParam());
    const Finished run = Finish(ctl);

    EXPECT_EQ(run.Status, 128 + GetParam()) << run.Err;
    EXPECT_NE(run.Err.find("kve17ctl: reading stopped; the archive file is unchanged"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(FileBytes(file), fresh);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.dat"});
    int exclusive = -1;
    EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port stays locked";
    termios after{};
    ASSERT_EQ(tcgetattr(other, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    ::close(other);
}

INSTANTIATE_TEST_SUITE_P(Signals, CtlStopped, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                             return info.param == SIGINT    ? "Interrupt"
                                    : info.param == SIGTERM ? "Terminate"
                                                            : "HangUp";
                         });

// --- Started with standard error closed, as some schedulers start programs: messages must not
// reach the line the port took the place of.

void CloseStandardError() {
    ::close(2);
}

TEST(CtlClosedDescriptors, MessagesNeverGoToThePort) {
    TempDir dir;
    Pty pty;
    ChildProcess ctl(ReadArgs(pty.SlavePath(), dir.File("missing.dat")), CloseStandardError);
    EXPECT_EQ(ctl.Wait(Patience), 1);
    const auto sent = pty.Receive(4096, 200ms);
    EXPECT_TRUE(sent.empty()) << std::string(sent.begin(), sent.end());
}

// --- A FIFO given for a file: refused at once, not waited on for a writer.

TEST(CtlFifo, ShowAndTheSimulatorRefuseAFifoAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("a.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir.File("b.dat");
    fs::create_symlink(fifo, link);
    for (const std::string& name : {fifo, link}) {
        ChildProcess show({KVE17CTL_PATH, "show", name});
        const Finished run = Finish(show);
        EXPECT_EQ(run.Status, 1) << name;
        EXPECT_EQ(run.Err, "Файл архива не удается открыть\n");
    }
    ChildProcess sim({KVE17_SIM_PROGRAM, "--port-dir", dir.File("ports"), "--devices", "2",
                      "--archive", "2=" + fifo});
    EXPECT_EQ(sim.Wait(Patience), 1) << sim.err;
    EXPECT_NE(sim.err.find("not a regular file"), std::string::npos) << sim.err;
}

// --- A port the user may not open: the program's own message, and one line naming the group
// that owns the device.

void BecomeNobody() {
    // setgroups first: afterwards the process may no longer change its groups.
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(99);
}

TEST(CtlPermission, RefusedPortNamesTheGroupThatOwnsIt) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to hand the device to a group and drop to another user";
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr)
        GTEST_SKIP() << "this system has no group dialout";
    Pty pty;
    ASSERT_EQ(::chown(pty.SlavePath().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0660), 0);
    ChildProcess ctl(ReadArgs(pty.SlavePath(), "/nonexistent/a.dat"), BecomeNobody);
    const Finished run = Finish(ctl);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("Unable to open com port (Error: 13)"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("join the group 'dialout' that owns it"), std::string::npos) << run.Err;
}

} // namespace
} // namespace kve17::test
