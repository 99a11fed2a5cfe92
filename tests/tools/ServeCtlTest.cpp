// kve17ctl serve end to end against kve17-sim dialling in as a cellular modem: the files a
// modem's line gives through IDs and heartbeats equal those of a plain reading of the same
// devices, a call cut in the middle keeps its file and the next call reads on, and SIGTERM ends
// the server as a signal ends a reading.
#include "tests/support/ChildProcess.h"
#include "tests/tools/CtlProcess.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/wait.h>

namespace kve17::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ServeCtlTest : public ::testing::Test {
protected:
    ServeCtlTest() { fs::create_directories(dir); }
    ~ServeCtlTest() override { fs::remove_all(dir); }

    // The server on a free port; the port it listens on.
    std::string StartServer(const std::string& lineKeys) {
        std::ofstream(dir / "site.conf") << "listen = 127.0.0.1:0\n"
                                         << "dir = " << (dir / "arch").string() << "\n"
                                         << "history = " << (dir / "h.sqlite").string() << "\n"
                                         << "[site]\n"
                                         << lineKeys;
        server.emplace(std::vector<std::string>{KVE17CTL_PATH, "serve", "--config",
                                                (dir / "site.conf").string()});
        if (!server->WaitForErr("listening on 127.0.0.1:", 5s))
            return "";
        const auto at = server->err.find("listening on 127.0.0.1:") + 23;
        return server->err.substr(at, server->err.find('\n', at) - at);
    }

    // The same devices read over a plain line, into `into`.
    void ReadDirectly(const std::vector<std::string>& simArgs, const std::string& list,
                      const fs::path& into) {
        std::vector<std::string> args{KVE17_SIM_PROGRAM, "--port-dir", (dir / "ports").string(),
                                      "--no-pacing"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        ChildProcess sim(args);
        const auto first = sim.OutLine(5s);
        ASSERT_TRUE(first) << sim.err;
        const Finished read = RunCtl({"read", "--port", first->substr(first->find(' ') + 1),
                                      "--device", list, "--dir", into.string(), "--no-history"},
                                     30s);
        EXPECT_EQ(read.Status, 0) << read.Err;
        sim.Signal(SIGTERM);
        sim.Wait(5s);
    }

    ChildProcess Dial(const std::string& port, std::vector<std::string> more) {
        std::vector<std::string> args{KVE17_SIM_PROGRAM, "--port-dir", (dir / "ports").string(),
                                      "--dial", "127.0.0.1:" + port};
        args.insert(args.end(), more.begin(), more.end());
        return ChildProcess(args);
    }

    fs::path dir = fs::temp_directory_path() / ("kve17-serve-" + std::to_string(::getpid()));
    std::optional<ChildProcess> server;
};

TEST_F(ServeCtlTest, ALineThroughIdsInEveryPacketAndHeartbeatsAt9600EqualsAPlainReading) {
    const std::string port = StartServer("modem = 0x3836ff\nmodem-id = each-packet\n"
                                         "heartbeat = 0xFE\ndevice = 1\nevery = 1h\n");
    ASSERT_FALSE(port.empty()) << server->err;
    const std::vector<std::string> devices{"--devices", "1", "--seed", "7"};
    std::vector<std::string> modem{"--baud",           "9600",        "--register", "0x3836ff",
                                   "--register-every", "--heartbeat", "0.1:FE"};
    modem.insert(modem.end(), devices.begin(), devices.end());
    ChildProcess sim = Dial(port, modem);
    ASSERT_TRUE(server->WaitForErr("1 of 1 devices read", 60s)) << server->err;
    ReadDirectly(devices, "1", dir / "plain");
    for (const char* file : {"device-01.dat"}) {
        const std::string served = Contents(dir / "arch" / "site" / file);
        EXPECT_EQ(served.size(), 7940U) << file;
        EXPECT_TRUE(served == Contents(dir / "plain" / file)) << file;
    }
    server->Signal(SIGTERM);
    const int status = server->Wait(10s);
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGTERM : status == 128 + SIGTERM)
        << status;
    sim.Signal(SIGTERM);
    sim.Wait(5s);
}

TEST_F(ServeCtlTest, ACallCutInTheMiddleKeepsItsFileAndTheNextCallReadsOn) {
    const std::string port =
        StartServer("modem = 861234567890123\nheartbeat = PING\ndevice = 1-2\nevery = 1h\n");
    ASSERT_FALSE(port.empty()) << server->err;
    const std::vector<std::string> devices{"--devices", "1-2", "--seed", "3"};
    std::vector<std::string> modem{"--register",   "861234567890123", "--heartbeat",
                                   "0.2:50494e47", "--drop-after",    "12000"};
    modem.insert(modem.end(), devices.begin(), devices.end());
    ChildProcess sim = Dial(port, modem);
    // 12000 bytes: device 1 whole (62 blocks of 133), device 2 cut part way.
    ASSERT_TRUE(server->WaitForErr("1 of 2 devices read", 60s)) << server->err;
    ASSERT_TRUE(server->WaitForErr("2 of 2 devices read", 60s)) << server->err;
    ReadDirectly(devices, "1-2", dir / "plain");
    for (const char* file : {"device-01.dat", "device-02.dat"})
        EXPECT_TRUE(Contents(dir / "arch" / "site" / file) == Contents(dir / "plain" / file))
            << file;
    const Finished readings =
        RunCtl({"history", "--history", (dir / "h.sqlite").string(), "--readings", "--json"}, 10s);
    EXPECT_EQ(readings.Status, 0) << readings.Err;
    EXPECT_NE(readings.Out.find("modem:861234567890123"), std::string::npos) << readings.Out;
    server->Signal(SIGTERM);
    server->Wait(10s);
    sim.Signal(SIGTERM);
    sim.Wait(5s);
}

} // namespace
} // namespace kve17::test
