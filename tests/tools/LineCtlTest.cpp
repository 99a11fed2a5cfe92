// kve17ctl over a whole line: many devices read into one folder with failing devices in the
// middle, the scan of a line, the JSON summaries, and a second reader on a held port.
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/tools/CtlProcess.h"
#include "tools/sim/SimLine.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <unistd.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using FileArray = std::array<std::uint8_t, 7940>;

// Eight silent tries and ten bad checksums take about twelve seconds at the program's pace.
constexpr auto Patience = 90s;

FileArray Contents(const std::string& path) {
    const auto bytes = FileBytes(path);
    FileArray a{};
    EXPECT_EQ(bytes.size(), a.size()) << path;
    std::copy_n(bytes.begin(), std::min(bytes.size(), a.size()), a.begin());
    return a;
}

class LineCtl : public ::testing::Test {
protected:
    TempDir dir;
    sim::SimLine line;
    std::string folder = dir.File("line");

    Finished Run(std::vector<std::string> args) {
        if (args.front() == "read")
            args.push_back("--no-history"); // these tests are about the line, not the history
        return RunCtl(std::move(args), Patience);
    }
    std::string Port() const { return line.SlavePath(); }
    std::string DeviceFile(int device) const {
        return folder + (device < 10 ? "/device-0" : "/device-") + std::to_string(device) + ".dat";
    }
};

TEST_F(LineCtl, FailingDevicesDoNotStopTheLineAndTheTableSaysWhy) {
    for (const int a : {1, 2, 3, 5, 6})
        line.SetDevice(a, sim::MakeArchive(40 + a));
    line.AddFault(2, {sim::FaultKind::Silence, 0, -1, 0});
    line.AddFault(3, {sim::FaultKind::BadCrc, 0, -1, 0});
    line.AddFault(5, {sim::FaultKind::Exception, 6, -1, 3}); // blocks 1 and 2 are read
    // Device 6 was read before and has 7 records more now.
    std::filesystem::create_directory(folder);
    const FileArray earlier = model::AfterReading(model::FreshFile(), line.Archive(6));
    WriteBytes(DeviceFile(6), {earlier.begin(), earlier.end()});
    line.Grow(6, 7, 11);

    const Finished run =
        Run({"read", "--port", Port(), "--device", "1-3,5-6", "--dir", folder, "--delay-tx", "0"});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::string p = Port();
    EXPECT_EQ(run.Out, "device  mode         new  result\n"
                       "     1  fresh         988  Закончено чтение архива\n"
                       "     2  fresh           0  устройство 2 " +
                           p +
                           " не отвечает на запрос\n"
                           "     3  fresh           0  устройство 3 " +
                           p +
                           " ошибка контрольной суммы\n"
                           "     5  fresh          32  устройство 5 " +
                           p +
                           " Идет запись базы данных. Ждите.\n"
                           "     6  incremental     7  Закончено чтение архива\n"
                           "2 of 5 devices read\n");
    EXPECT_TRUE(Contents(DeviceFile(1)) ==
                model::AfterReading(model::FreshFile(), line.Archive(1)));
    const FileArray noBlock = model::AfterFailedFreshReading(model::FreshFile(), {}, 0);
    EXPECT_TRUE(Contents(DeviceFile(2)) == noBlock);
    EXPECT_TRUE(Contents(DeviceFile(3)) == noBlock);
    EXPECT_TRUE(Contents(DeviceFile(5)) ==
                model::AfterFailedFreshReading(model::FreshFile(), line.Archive(5), 2));
    EXPECT_TRUE(Contents(DeviceFile(6)) == model::AfterReading(earlier, line.Archive(6)));
    EXPECT_FALSE(std::filesystem::exists(DeviceFile(4)));
}

TEST_F(LineCtl, JsonSummaryOfAReadingNamesEachFileAndResult) {
    line.SetDevice(4, sim::MakeArchive(8));
    const Finished run = Run({"read", "--port", Port(), "--device", "4,9", "--dir", folder,
                              "--delay-tx", "0", "--json"});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const auto json = nlohmann::json::parse(run.Out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << run.Out;
    EXPECT_EQ(json["command"], "read");
    EXPECT_EQ(json["port"], Port());
    EXPECT_EQ(json["ok"], false);
    ASSERT_EQ(json["devices"].size(), 2u);
    const auto& four = json["devices"][0];
    EXPECT_EQ(four["device"], 4);
    EXPECT_EQ(four["file"], DeviceFile(4));
    EXPECT_EQ(four["ok"], true);
    EXPECT_EQ(four["mode"], "fresh");
    EXPECT_EQ(four["records_new"], 988);
    EXPECT_EQ(four["records_stored"], 988);
    EXPECT_EQ(four["result"], "Закончено чтение архива");
    const auto& nine = json["devices"][1];
    EXPECT_EQ(nine["ok"], false);
    EXPECT_EQ(nine["code"], 130);
    EXPECT_EQ(nine["failed_block"], 1);
    EXPECT_EQ(nine["result"], "устройство 9 " + Port() + " не отвечает на запрос");
}

TEST_F(LineCtl, ScanAsksEachAddressOnceAndListsWhoAnswers) {
    for (const int a : {2, 5, 7})
        line.SetDevice(a, sim::MakeArchive(a));
    line.AddFault(7, {sim::FaultKind::Exception, 6, -1, 0});
    const Finished run = Run({"scan", "--port", Port(), "--device", "1-8", "--trace"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::string p = Port();
    EXPECT_EQ(run.Out, "device 2 answers\n"
                       "device 5 answers\n"
                       "device 7 answers with a fault: устройство 7 " +
                           p +
                           " Идет запись базы данных. Ждите.\n"
                           "3 of 8 addresses answer on " +
                           p + " at 9600 baud\n");
    for (int a = 1; a <= 8; ++a) {
        const std::string request = " TX 0" + std::to_string(a) + " 43 00 01 ";
        const auto first = run.Err.find(request);
        EXPECT_NE(first, std::string::npos) << a << run.Err;
        EXPECT_EQ(run.Err.find(request, first + 1), std::string::npos) << "asked twice: " << a;
    }
    EXPECT_EQ(run.Err.find(" TX 09 "), std::string::npos) << "asked outside the list";

    const Finished json = Run({"scan", "--port", Port(), "--device", "4-5", "--json"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    const auto summary = nlohmann::json::parse(json.Out, nullptr, false);
    ASSERT_FALSE(summary.is_discarded()) << json.Out;
    EXPECT_EQ(summary["answering"], nlohmann::json::array({5}));
    EXPECT_EQ(summary["devices"][0]["answers"], false);
    EXPECT_EQ(summary["devices"][1]["answers"], true);
}

TEST_F(LineCtl, APortLostInTheMiddleStopsTheLineAndLeavesTheFilesAsTheyWere) {
    ChildProcess simulator(
        {KVE17_SIM_PROGRAM, "--port-dir", dir.File("ports"), "--no-pacing", "--devices", "2-3"});
    const auto first = simulator.OutLine(Patience);
    ASSERT_TRUE(first) << simulator.err;
    const std::string device = first->substr(first->find(' ') + 1);

    ChildProcess ctl({KVE17CTL_PATH, "read", "--port", device, "--device", "2-3", "--dir", folder,
                      "--trace", "--delay-tx", "30", "--no-history"});
    ASSERT_TRUE(ctl.WaitForErr(" TX 02 43 00 04 ", Patience)) << ctl.err;
    simulator.Signal(SIGKILL);
    EXPECT_EQ(simulator.Wait(Patience), 128 + SIGKILL);
    EXPECT_EQ(ctl.Wait(Patience), 1) << ctl.err;

    EXPECT_EQ(ctl.out.rfind("device  mode         new  result\n     2  -               0  ", 0), 0u)
        << ctl.out;
    EXPECT_NE(ctl.out.find("\n     3  -               0  not read: "), std::string::npos)
        << ctl.out;
    EXPECT_NE(ctl.out.find("\n0 of 2 devices read\n"), std::string::npos) << ctl.out;
    EXPECT_EQ(ctl.err.find(" TX 03 "), std::string::npos) << "asked a device after the loss";
    EXPECT_TRUE(Contents(DeviceFile(2)) == model::FreshFile()) << "saved a cut reading";
    EXPECT_FALSE(std::filesystem::exists(DeviceFile(3)));
}

// Holds the port as another reader would: the driver's advisory lock on the device.
class HeldPort {
public:
    explicit HeldPort(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldPort() { Release(); }
    void Release() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

TEST_F(LineCtl, ASecondReaderIsRefusedOrWaitsForTheHeldPort) {
    line.SetDevice(2, sim::MakeArchive(3));
    const std::string file = dir.File("a.dat");
    const FileArray fresh = model::FreshFile();
    WriteBytes(file, {fresh.begin(), fresh.end()});
    HeldPort held(Port());

    const Finished refused = Run({"read", "--port", Port(), "--device", "2", file});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("невозможно открыть последовательный порт"), std::string::npos)
        << refused.Err;
    EXPECT_TRUE(Contents(file) == fresh);

    // A wait that runs out ends as the refusal does.
    const Finished gaveUp = Run({"read", "--port", Port(), "--device", "2", "--wait", "1", file});
    EXPECT_EQ(gaveUp.Status, 1);
    EXPECT_NE(gaveUp.Err.find("is held by another reader; waiting up to 1 s"), std::string::npos);
    EXPECT_NE(gaveUp.Err.find("невозможно открыть последовательный порт"), std::string::npos)
        << gaveUp.Err;

    ChildProcess waiting({KVE17CTL_PATH, "read", "--port", Port(), "--device", "2", "--wait", "60",
                          "--delay-tx", "0", "--no-history", file});
    ASSERT_TRUE(waiting.WaitForErr("is held by another reader", Patience)) << waiting.err;
    EXPECT_TRUE(Contents(file) == fresh) << "read while the port was held";
    held.Release();
    EXPECT_EQ(waiting.Wait(Patience), 0) << waiting.err;
    EXPECT_TRUE(Contents(file) == model::AfterReading(fresh, line.Archive(2)));
}

// --- A stop signal ends the program as the signal would, without losing what it has to say.

TEST_F(LineCtl, AStoppedLineStillPrintsItsWholeJsonSummaryIntoAPipe) {
    line.SetDevice(2, sim::MakeArchive(23));
    line.SetDevice(3, sim::MakeArchive(5));
    ChildProcess ctl({KVE17CTL_PATH, "read", "--port", Port(), "--device", "2-3", "--dir", folder,
                      "--json", "--trace", "--delay-tx", "30"});
    ASSERT_TRUE(ctl.WaitForErr(" TX 02 43 00 04 ", Patience)) << ctl.err;
    ctl.Signal(SIGTERM);
    EXPECT_EQ(ctl.Wait(Patience), 128 + SIGTERM) << ctl.err;

    const auto json = nlohmann::json::parse(ctl.out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << "summary lost: '" << ctl.out << "'";
    EXPECT_EQ(json["ok"], false);
    ASSERT_EQ(json["devices"].size(), 2u);
    EXPECT_EQ(json["devices"][0]["result"], "reading stopped; the archive file is unchanged");
    EXPECT_EQ(json["devices"][1]["result"],
              "not read: reading stopped; the archive file is unchanged");
    EXPECT_EQ(ctl.err.find(" TX 03 "), std::string::npos) << "asked a device after the stop";
}

TEST_F(LineCtl, AStopSignalEndsTheWaitForAHeldPort) {
    HeldPort held(Port());
    ChildProcess waiting({KVE17CTL_PATH, "read", "--port", Port(), "--device", "2", "--wait", "60",
                          dir.File("a.dat")});
    ASSERT_TRUE(waiting.WaitForErr("is held by another reader", Patience)) << waiting.err;
    const auto signalled = std::chrono::steady_clock::now();
    waiting.Signal(SIGTERM);
    // Well inside the sixty seconds the program was told to wait.
    EXPECT_EQ(waiting.Wait(30s), 128 + SIGTERM) << waiting.err;
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 30s);
}

} // namespace
} // namespace kve17::test
