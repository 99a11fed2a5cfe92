// kve17ctl serve end to end against kve17-sim dialling in as a cellular modem: the files a
// modem's line gives through IDs and heartbeats equal those of a plain reading of the same
// devices, a call cut in the middle keeps its file and the next call reads on, and SIGTERM ends
// the server as a signal ends a reading.
#include "tests/support/ChildProcess.h"
#include "tests/tools/CtlProcess.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace kve17::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using Records = std::map<int, std::vector<std::string>>;

// A record as the history stores it: a time stamp out of range is marked with code FF.
std::string AsStored(std::string record) {
    const auto byte = [&](int i) { return std::stoi(record.substr(2 * i, 2), nullptr, 16); };
    const bool valid = byte(4) <= 23 && byte(3) <= 59 && byte(2) <= 59 && byte(5) >= 1 &&
                       byte(5) <= 31 && byte(6) >= 1 && byte(6) <= 12 && byte(7) >= 1 &&
                       byte(7) <= 99;
    if (!valid)
        record.replace(0, 2, "FF");
    return record;
}

// What the simulator's devices made and a reading can still get (the newest 988: an archive
// file's 992 slots less four end markers), per device oldest first, from its "ADDR HEX" lines.
Records Journal(const fs::path& file) {
    Records made;
    std::ifstream in(file);
    int address = 0;
    std::string record;
    while (in >> address >> record)
        made[address].push_back(AsStored(record));
    for (auto& [device, records] : made)
        if (records.size() > 988)
            records.erase(records.begin(), records.end() - 988);
    return made;
}

// What the history holds, per device in its order, in the journal's notation.
Records HistoryEvents(const fs::path& history) {
    const std::string command =
        "sqlite3 -readonly '" + history.string() +
        "' \"SELECT d.address, printf('%02X%02X%02X%02X%02X%02X%02X%02X', e.code, e.detail,"
        " e.second, e.minute, e.hour, e.day, e.month, e.year) FROM events e JOIN devices d"
        " ON d.id = e.device_id ORDER BY d.address, e.seq\" | tr '|' ' '";
    Records stored;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return stored;
    std::array<char, 64> line{};
    while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
        std::istringstream fields(line.data());
        int address = 0;
        std::string record;
        if (fields >> address >> record)
            stored[address].push_back(record);
    }
    ::pclose(pipe);
    return stored;
}

class ServeCtlTest : public ::testing::Test {
protected:
    ServeCtlTest() { fs::create_directories(dir); }
    ~ServeCtlTest() override { fs::remove_all(dir); }

    // The server of one line "site" on a free port; the port it listens on.
    std::string StartServer(const std::string& lineKeys) {
        return StartLines("[site]\n" + lineKeys);
    }
    std::string StartLines(const std::string& lines) {
        std::ofstream(dir / "site.conf") << "listen = 127.0.0.1:0\n"
                                         << "dir = " << (dir / "arch").string() << "\n"
                                         << "history = " << (dir / "h.sqlite").string() << "\n"
                                         << lines;
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
    std::vector<std::string> modem{"--register",   "861234567890123",
                                   "--heartbeat",  "0.2:50494e47",
                                   "--drop-after", "12000",
                                   "--journal",    (dir / "journal.txt").string(),
                                   "--baud",       "57600"};
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
    EXPECT_EQ(HistoryEvents(dir / "h.sqlite"), Journal(dir / "journal.txt"));
    server->Signal(SIGTERM);
    server->Wait(10s);
    sim.Signal(SIGTERM);
    sim.Wait(5s);
}

// socat carries a simulated line to the server as a third-party modem would, the ID sent
// first. SIGTERM in the middle of the second device ends the server as a stopped reading ends;
// a second server then reads on, and the history holds each record the devices made, once.
TEST_F(ServeCtlTest, SocatAsTheModemAStopInTheMiddleAndTheNextServerReadsOn) {
    const fs::path journal = dir / "journal.txt";
    ChildProcess sim({KVE17_SIM_PROGRAM, "--port-dir", (dir / "ports").string(), "--devices", "1-3",
                      "--seed", "11", "--journal", journal.string()});
    const auto first = sim.OutLine(5s);
    ASSERT_TRUE(first) << sim.err;
    const std::string pty = first->substr(first->find(' ') + 1);
    const std::string keys = "modem = SITE-77\nheartbeat = HB\ndevice = 1-3\nbaud = 57600\n";
    const auto modem = [&](const std::string& port) {
        return ChildProcess({"/usr/bin/socat", "TCP:127.0.0.1:" + port,
                             "SYSTEM:printf SITE-77HB; exec socat - " + pty + "\\,raw\\,echo=0"});
    };

    std::string port = StartServer(keys);
    ASSERT_FALSE(port.empty()) << server->err;
    ChildProcess cut = modem(port);
    ASSERT_TRUE(server->WaitForErr("modem SITE-77 (line site) identified from 127.0.0.1:", 10s))
        << server->err;
    const fs::path files = dir / "arch" / "site";
    for (const auto deadline = std::chrono::steady_clock::now() + 30s;
         !fs::exists(files / "device-01.dat") && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(fs::exists(files / "device-01.dat")) << server->err;
    server->Signal(SIGTERM);
    EXPECT_EQ(server->Wait(10s), 128 + SIGTERM) << server->err;
    EXPECT_NE(server->out.find("reading stopped"), std::string::npos) << server->out;
    EXPECT_EQ(fs::file_size(files / "device-01.dat"), 7940U);
    cut.Wait(5s); // the server hung up on it
    port = StartServer(keys);
    ASSERT_FALSE(port.empty()) << server->err;
    ChildProcess again = modem(port);
    ASSERT_TRUE(server->WaitForErr("(line site): 3 of 3 devices read", 30s)) << server->err;
    // The status, as an operator asks for it (rewritten at most once a second).
    Finished status;
    for (const auto deadline = std::chrono::steady_clock::now() + 5s;
         status.Out.find("3 of 3 devices read") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline;)
        status = RunCtl({"serve", "--config", (dir / "site.conf").string(), "--status"}, 5s);
    EXPECT_EQ(status.Status, 0) << status.Err;
    EXPECT_NE(status.Out.find("line site, modem SITE-77: connected from 127.0.0.1:"),
              std::string::npos)
        << status.Out;
    EXPECT_NE(status.Out.find("3 of 3 devices read"), std::string::npos) << status.Out;
    server->Signal(SIGTERM);
    server->Wait(10s);
    again.Wait(5s);

    const Records made = Journal(journal);
    ASSERT_EQ(made.size(), 3U);
    EXPECT_EQ(HistoryEvents(dir / "h.sqlite"), made);
    sim.Signal(SIGTERM);
    sim.Wait(5s);
}

// Fifty modems at once from one simulator, each its own line read side by side.
TEST_F(ServeCtlTest, FiftyModemsAtOnceEachReadIntoItsOwnLine) {
    constexpr int Modems = 50;
    std::string lines;
    std::vector<std::string> modem{"--devices", "1", "--seed", "5", "--no-pacing"};
    const auto name = [](const char* prefix, int i) {
        return prefix + std::string(i < 10 ? "0" : "") + std::to_string(i);
    };
    for (int i = 1; i <= Modems; ++i) {
        lines += "[" + name("s", i) + "]\nmodem = " + name("m", i) + "\ndevice = 1\n";
        modem.insert(modem.end(), {"--register", name("m", i)});
    }
    const std::string port = StartLines(lines);
    ASSERT_FALSE(port.empty()) << server->err;
    ChildProcess sim = Dial(port, modem);
    for (int i = 1; i <= Modems; ++i)
        ASSERT_TRUE(server->WaitForErr(
            "modem " + name("m", i) + " (line " + name("s", i) + "): 1 of 1 devices read", 60s))
            << server->err;
    ReadDirectly({"--devices", "1", "--seed", "5"}, "1", dir / "plain");
    const std::string plain = Contents(dir / "plain" / "device-01.dat");
    ASSERT_EQ(plain.size(), 7940U);
    for (int i = 1; i <= Modems; ++i)
        EXPECT_TRUE(Contents(dir / "arch" / name("s", i) / "device-01.dat") == plain) << i;
    server->Signal(SIGTERM);
    EXPECT_EQ(server->Wait(10s), 128 + SIGTERM);
    sim.Signal(SIGTERM);
    sim.Wait(5s);
}

// A wrong configuration is refused at once with the line and the key, before anything listens.
struct ConfigFault {
    const char* Name;
    const char* Text;
    const char* Message;
};

class ServeConfigFaults : public ::testing::TestWithParam<ConfigFault> {};

TEST_P(ServeConfigFaults, AreRefusedWithTheirKey) {
    const fs::path file =
        fs::temp_directory_path() / ("kve17-serve-conf-" + std::to_string(::getpid()));
    std::ofstream(file) << GetParam().Text;
    const Finished run = RunCtl({"serve", "--config", file.string()}, 10s);
    fs::remove(file);
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ServeConfigFaults,
    ::testing::Values(
        ConfigFault{"PortInsteadOfModem", "listen = 4059\n[a]\nport = COM1\ndevice = 1\n",
                    "unknown key 'port'"},
        ConfigFault{"NoModem", "listen = 4059\n[a]\ndevice = 1\n", "needs modem and device"},
        ConfigFault{"OddHex", "listen = 4059\n[a]\nmodem = 0x123\ndevice = 1\n",
                    "modem must be text or 0x and hex digits"},
        ConfigFault{"IdMode", "listen = 4059\n[a]\nmodem = A\nmodem-id = always\ndevice = 1\n",
                    "modem-id must be once or each-packet"},
        ConfigFault{"Every", "listen = 4059\n[a]\nmodem = A\nevery = 1w\ndevice = 1\n",
                    "every must be a number and s, m, h or d"},
        ConfigFault{
            "SameModemTwice",
            "listen = 4059\ndir = d\n[a]\nmodem = A\ndevice = 1\n[b]\nmodem = A\ndevice = 2\n",
            "modem A is given to two lines"},
        ConfigFault{"Listen", "listen = host:port\n[a]\nmodem = A\ndevice = 1\n",
                    "listen must be [HOST:]PORT"},
        ConfigFault{"NowhereToListen", "dir = d\n[a]\nmodem = A\ndevice = 1\n",
                    "nowhere to listen"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace kve17::test
