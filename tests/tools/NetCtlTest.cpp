// kve17ctl reading the simulator across the network: its own TCP server, the distribution's
// device server over raw TCP and RFC 2217, a connection cut in the middle, and echoing adapters.
#include "serial/Comport.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Ser2net.h"
#include "tools/sim/SimLine.h"

#include <csignal>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

constexpr auto Patience = 30s;
constexpr int Address = 3;

struct Finished {
    int Status = -1;
    std::string Err;
};

class NetCtl : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SaveArchive(archive, archiveFile);
        WriteBytes(file, std::vector<std::uint8_t>(7940, 0xFF));
    }

    // Starts the simulator with device 3 serving `archive`; returns its pty's path, and its
    // TCP address in `tcp` when asked for with --tcp.
    std::string StartSim(std::vector<std::string> extra, std::string* tcp = nullptr) {
        std::vector<std::string> args{KVE17_SIM_PROGRAM, "--port-dir", dir.File("ports"),
                                      "--devices",       "3",          "--archive",
                                      "3=" + archiveFile};
        args.insert(args.end(), extra.begin(), extra.end());
        simProcess = std::make_unique<ChildProcess>(args);
        const auto first = simProcess->OutLine(Patience);
        if (!first)
            throw std::runtime_error("kve17-sim did not start: " + simProcess->err);
        if (tcp)
            *tcp = simProcess->OutLine(Patience).value_or("");
        return first->substr(first->find(' ') + 1);
    }

    Finished Read(const std::string& port, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{KVE17CTL_PATH, "read", "--port",      port,
                                      "--device",    "3",    "--no-history"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(file);
        ChildProcess ctl(args);
        Finished f;
        f.Status = ctl.Wait(Patience);
        f.Err = ctl.err;
        return f;
    }

    std::vector<std::uint8_t> Expected() const {
        const auto file = model::AfterReading(model::FreshFile(), archive);
        return {file.begin(), file.end()};
    }

    TempDir dir;
    sim::DeviceArchive archive = sim::MakeArchive(41, 300);
    std::string archiveFile = dir.File("device.bin");
    std::string file = dir.File("line.dat");
    std::unique_ptr<ChildProcess> simProcess;
};

TEST_F(NetCtl, ReadingOverTheSimulatorsTcpServerStoresTheLocalReadingsFile) {
    std::string tcp;
    StartSim({"--no-pacing", "--tcp", "0"}, &tcp);
    ASSERT_TRUE(tcp.starts_with("tcp://127.0.0.1:")) << tcp;
    {
        // One client at a time: a reader behind the first is turned away, as by a busy server.
        TComPort first;
        first.SetPort(tcp);
        first.Open();
        const Finished refused = Read(tcp);
        EXPECT_EQ(refused.Status, 1);
        EXPECT_NE(refused.Err.find("Unable to open com port (Error: 16): the device server is "
                                   "busy: another program holds its line"),
                  std::string::npos)
            << refused.Err;
        EXPECT_EQ(FileBytes(file), std::vector<std::uint8_t>(7940, 0xFF));
    }
    const Finished run = Read(tcp);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(FileBytes(file), Expected());
}

TEST_F(NetCtl, ConnectionCutInTheMiddleFailsAsAHangUpAndKeepsTheFile) {
    std::string tcp;
    StartSim({"--no-pacing", "--tcp", "0"}, &tcp);
    ChildProcess ctl({KVE17CTL_PATH, "read", "--port", tcp, "--device", "3", "--no-history",
                      "--trace", "--delay-tx", "30", file});
    ASSERT_TRUE(ctl.WaitForErr(" TX 03 43 00 04 ", Patience)) << ctl.err;
    simProcess->Signal(SIGKILL);
    EXPECT_EQ(ctl.Wait(Patience), 1);
    EXPECT_NE(ctl.err.find("kve17ctl: ReadFile function failed (Error: 5)"), std::string::npos)
        << ctl.err;
    EXPECT_EQ(ctl.err.find("Закончено чтение архива"), std::string::npos);
    EXPECT_EQ(FileBytes(file), std::vector<std::uint8_t>(7940, 0xFF));
}

class NetCtlSer2net : public NetCtl {
protected:
    void SetUp() override {
        if (!Ser2net::Installed())
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        NetCtl::SetUp();
        pty = StartSim({"--no-pacing"});
        server = std::make_unique<Ser2net>(pty);
    }

    std::string pty;
    std::unique_ptr<Ser2net> server;
};

TEST_F(NetCtlSer2net, Rfc2217ReadingStoresTheLocalReadingsFile) {
    const Finished run = Read(server->RfcAddress(), {"--baud", "115200"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(FileBytes(file), Expected());
}

TEST_F(NetCtlSer2net, RawTcpReadingStoresTheLocalReadingsFile) {
    const Finished run = Read(server->RawAddress(), {"--baud", "115200"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(FileBytes(file), Expected());
}

// The server turns a second connection away while another program holds its line.
TEST_F(NetCtlSer2net, HeldLineIsSaidBusyAndWaitedForWithWait) {
    TComPort first;
    first.SetPort(server->RawAddress());
    first.Open();
    const Finished refused = Read(server->RawAddress());
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("Unable to open com port (Error: 16): the device server is busy: "
                               "another program holds its line"),
              std::string::npos)
        << refused.Err;
    EXPECT_EQ(refused.Err.find("(Error: 5)"), std::string::npos) << "not a hang-up";

    ChildProcess ctl({KVE17CTL_PATH, "read", "--port", server->RawAddress(), "--device", "3",
                      "--no-history", "--baud", "115200", "--wait", "60", file});
    ASSERT_TRUE(ctl.WaitForErr(
        server->RawAddress() +
            ": the device server is busy: another program holds its line; waiting up to 60 s",
        Patience))
        << ctl.err;
    first.Close();
    EXPECT_EQ(ctl.Wait(Patience), 0) << ctl.err;
    EXPECT_EQ(FileBytes(file), Expected());
}

TEST_F(NetCtl, EchoingAdapterIsReadWithTheEchoOptionOnly) {
    const std::string device = StartSim({"--no-pacing", "--echo"});
    const Finished without = Read(device, {"--delay-tx", "0"});
    EXPECT_EQ(without.Status, 1) << without.Err;
    EXPECT_NE(FileBytes(file), Expected());
    WriteBytes(file, std::vector<std::uint8_t>(7940, 0xFF));

    const Finished with = Read(device, {"--echo", "--delay-tx", "0"});
    EXPECT_EQ(with.Status, 0) << with.Err;
    EXPECT_EQ(FileBytes(file), Expected());
}

TEST_F(NetCtl, EchoOptionOnAQuietAdapterSaysSoAndKeepsTheFile) {
    const std::string device = StartSim({"--no-pacing"});
    const Finished run = Read(device, {"--echo"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("kve17ctl: ReadFile function failed (Error: 74): the echo differs "
                           "from the bytes sent (does the adapter echo?)"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(FileBytes(file), std::vector<std::uint8_t>(7940, 0xFF));
}

} // namespace
} // namespace kve17::test
