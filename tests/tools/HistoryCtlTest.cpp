// kve17ctl and the history under the faults of the field, as a process against the simulator:
// a kill between the file's save and the history's commit, a line killed after its second
// device, a line read under its COM name and its path, a ring that moves while it is read, a
// server lock ended by SIGTERM, a file-size limit, a history path that cannot be looked at, a
// history locked or unreachable (status 3), and each device's history result in the JSON.
// The history is checked against the events the simulator made.
#include "history/History.h"
#include "serial/PortDirectory.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/history/HistoryBackend.h"
#include "tests/support/ChildProcess.h"
#include "tests/tools/CtlProcess.h"
#include "tools/sim/SimLine.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <thread>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using model::Bytes;

constexpr auto Patience = 60s;

// Events k = from down to to (oldest first) of a device archive, checked as a reading stores
// them.
std::vector<Bytes> Made(const sim::DeviceArchive& archive, int from, int to) {
    std::vector<Bytes> made;
    for (int k = from; k >= to; --k)
        made.push_back(model::Checked(model::DeviceRecordBytes(archive, k)));
    return made;
}

std::vector<Bytes> Join(std::vector<Bytes> a, const std::vector<Bytes>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The events of a device in the history, oldest first.
std::vector<Bytes> Stored(const std::string& where, int address, const std::string& line = "") {
    history::THistory h = history::THistory::Open(where);
    history::THistoryFilter f;
    f.Line = line;
    f.Address = address;
    std::vector<Bytes> stored;
    for (const auto& e : h.Events(f)) {
        const TArchiveRecord& r = e.Record;
        stored.insert(stored.begin(),
                      Bytes{r.Code, r.Detail, r.Second, r.Minute, r.Hour, r.Day, r.Month, r.Year});
    }
    return stored;
}

// Waits until `test` holds; false when the patience runs out first.
template <typename Test> bool Eventually(Test test, std::chrono::milliseconds patience = Patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!test()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class HistoryCtl : public ::testing::Test {
protected:
    TempDir dir;
    sim::SimLine line;
    std::string history = dir.File("h.sqlite");
    std::string folder = dir.File("line");
    // The pause before each request: a test that acts in the middle of a reading gives itself
    // time with a longer one.
    std::string delayTx = "0";

    HistoryCtl() {
        // The default history and the port directory of every run are the test's own.
        ::setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
        for (int a = 1; a <= 4; ++a)
            line.SetDevice(a, sim::MakeArchive(60 + static_cast<std::uint32_t>(a)));
    }

    // kve17ctl's read of `port` with `more` options, then `target` (the file, or the folder
    // after a "--dir" that ends `more`).
    std::vector<std::string> Read(const std::string& port, const std::string& target,
                                  const std::string& where, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {KVE17CTL_PATH, "read",  "--port",    port,
                                         "--delay-tx",  delayTx, "--history", where};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(target);
        return args;
    }
    Finished Run(std::vector<std::string> args) {
        args.erase(args.begin()); // RunCtl puts the program first itself
        return RunCtl(std::move(args), Patience);
    }
    std::string File(const std::string& name) {
        const std::string path = dir.File(name);
        EXPECT_EQ(CreateFreshFile(path, false), TCreateFileResult::Created);
        return path;
    }
    std::string DeviceFile(int device) const {
        return folder + "/device-0" + std::to_string(device) + ".dat";
    }
};

TEST_F(HistoryCtl, AKillAfterTheSaveLosesNothingTheNextReadingBrings) {
    const std::string file = File("a.dat");
    const auto first = line.Archive(2);
    ASSERT_EQ(Run(Read(line.SlavePath(), file, history, {"--device", "2"})).Status, 0);
    line.Grow(2, 20, 5);
    const auto expected =
        model::AfterReading(model::AfterReading(model::FreshFile(), first), line.Archive(2));
    {
        // The history is held, so the reading waits to commit once its file is saved.
        const auto holder = history::OpenHistoryConnection(history);
        holder->BeginWrite();
        ChildProcess ctl(Read(line.SlavePath(), file, history, {"--device", "2"}));
        ASSERT_TRUE(Eventually([&] {
            const auto bytes = FileBytes(file);
            return std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end());
        }));
        ctl.Signal(SIGKILL);
        EXPECT_EQ(ctl.Wait(Patience), 128 + SIGKILL);
        holder->Rollback();
    }
    EXPECT_EQ(Stored(history, 2).size(), 988u); // the 20 new events were lost with the kill
    line.Grow(2, 5, 6);
    const auto last = line.Archive(2);
    const Finished run = Run(Read(line.SlavePath(), file, history, {"--device", "2"}));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Stored(history, 2), Join(Made(first, 987, 0), Made(last, 24, 0)));
}

TEST_F(HistoryCtl, AWholeLineKilledAfterItsSecondDeviceKeepsWhatItRead) {
    std::vector<sim::DeviceArchive> first(5);
    for (int a = 1; a <= 4; ++a)
        first[static_cast<std::size_t>(a)] = line.Archive(a);
    delayTx = "10";
    {
        ChildProcess ctl(Read(line.SlavePath(), folder, history, {"--device", "1-4", "--dir"}));
        ASSERT_TRUE(line.WaitForRequests(3, 1, Patience)); // device 3's first block
        ctl.Signal(SIGKILL);
        EXPECT_EQ(ctl.Wait(Patience), 128 + SIGKILL);
    }
    EXPECT_EQ(Stored(history, 1), Made(first[1], 987, 0));
    EXPECT_EQ(Stored(history, 2), Made(first[2], 987, 0));
    EXPECT_TRUE(Stored(history, 3).empty());

    delayTx = "0";
    for (int a = 1; a <= 4; ++a)
        line.Grow(a, 3 + a, static_cast<std::uint32_t>(a));
    const Finished run = Run(Read(line.SlavePath(), folder, history, {"--device", "1-4", "--dir"}));
    EXPECT_EQ(run.Status, 0) << run.Err;
    for (int a = 1; a <= 2; ++a)
        EXPECT_EQ(Stored(history, a), Join(Made(first[static_cast<std::size_t>(a)], 987, 0),
                                           Made(line.Archive(a), 2 + a, 0)))
            << "device " << a;
    for (int a = 3; a <= 4; ++a)
        EXPECT_EQ(Stored(history, a), Made(line.Archive(a), 987, 0)) << "device " << a;
}

TEST_F(HistoryCtl, ALineReadUnderItsComNameAndItsPathIsOneLine) {
    TPortDirectory().AddLink(line.SlavePath(), "COM4");
    const auto first = line.Archive(2);
    ASSERT_EQ(Run(Read("COM4", File("desk.dat"), history, {"--device", "2"})).Status, 0);
    line.Grow(2, 9, 3);
    const Finished run =
        Run(Read(line.SlavePath(), File("collector.dat"), history, {"--device", "2"}));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("history " + history + ": 9 new events\n"), std::string::npos)
        << run.Out;
    const auto lines = history::THistory::Open(history).Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Name, "COM4");
    EXPECT_EQ(Stored(history, 2, "COM4"), Join(Made(first, 987, 0), Made(line.Archive(2), 8, 0)));
}

TEST_F(HistoryCtl, ARingThatMovesWhileItIsReadStoresEachEventOnce) {
    const std::string file = File("a.dat");
    const auto before = line.Archive(2);
    delayTx = "10";
    {
        ChildProcess ctl(Read(line.SlavePath(), file, history, {"--device", "2"}));
        ASSERT_TRUE(line.WaitForRequests(2, 16, Patience));
        line.Grow(2, 5, 8); // the blocks after this one begin with records read already
        EXPECT_EQ(ctl.Wait(Patience), 0) << ctl.err;
    }
    // Block 62 came from the moved ring: the file's oldest event is 987 of that, 982 of before.
    EXPECT_EQ(Stored(history, 2), Made(before, 982, 0));
    const auto moved = line.Archive(2);
    EXPECT_EQ(Run(Read(line.SlavePath(), file, history, {"--device", "2"})).Status, 0);
    EXPECT_EQ(Stored(history, 2), Join(Made(before, 982, 0), Made(moved, 4, 0)));
}

TEST_F(HistoryCtl, AFileSizeLimitIsReportedAndDoesNotKillTheReading) {
    const std::string file = File("a.dat");
    ChildProcess ctl(Read(line.SlavePath(), file, history, {"--device", "2"}), [] {
        const rlimit limit{32768, 32768}; // the archive file fits, the history does not
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(ctl.Wait(Patience), 3) << ctl.err;
    EXPECT_NE(ctl.err.find("kve17ctl: device 2: История не записана: "), std::string::npos)
        << ctl.err;
    EXPECT_NE(ctl.err.find("нет места"), std::string::npos) << ctl.err;
    const auto bytes = FileBytes(file);
    const auto expected = model::AfterReading(model::FreshFile(), line.Archive(2));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end()));
}

// A record's time as the history lists it (the simulator makes only calendar days).
std::string Stamp(const Bytes& r) {
    char text[32];
    std::snprintf(text, sizeof text, "20%02d-%02d-%02d %02d:%02d:%02d", r[7], r[6], r[5], r[4],
                  r[3], r[2]);
    return text;
}

TEST_F(HistoryCtl, EachDevicesHistoryResultIsInTheJsonAndAFillingRingIsWarnedOf) {
    const std::string file = File("a.dat");
    const auto read = [&] {
        const Finished run =
            Run(Read(line.SlavePath(), file, history, {"--device", "2", "--json"}));
        EXPECT_EQ(run.Status, 0) << run.Err;
        const auto json = nlohmann::json::parse(run.Out);
        EXPECT_EQ(json["ok"], true);
        return std::pair(json["devices"][0]["history"], run.Err);
    };
    const auto first = line.Archive(2);
    auto [result, err] = read();
    EXPECT_EQ(result, nlohmann::json::parse(
                          R"({"written": true, "reason": null, "added": 988, "gap": false,
                              "warning": false})"));
    line.Grow(2, 800, 11);
    std::tie(result, err) = read();
    EXPECT_EQ(result, nlohmann::json::parse(
                          R"({"written": true, "reason": null, "added": 800, "gap": false,
                              "warning": true})"));
    EXPECT_NE(err.find("kve17ctl: device 2: its new events filled most of its archive: read it "
                       "more often, or events will be lost\n"),
              std::string::npos)
        << err;
    const auto second = line.Archive(2);
    line.Grow(2, 1000, 12); // more than the ring holds: 12 events are overwritten unread
    std::tie(result, err) = read();
    EXPECT_EQ(result, nlohmann::json::parse(
                          R"({"written": true, "reason": null, "added": 988, "gap": true,
                              "warning": true})"));
    EXPECT_NE(err.find("kve17ctl: device 2: it wrote new events over unread ones: a gap is marked "
                       "in the history; read it more often\n"),
              std::string::npos)
        << err;
    const Finished gaps = RunCtl({"history", "--history", history, "--gaps", "--json"}, Patience);
    EXPECT_EQ(gaps.Status, 0) << gaps.Err;
    const auto gap = nlohmann::json::parse(gaps.Out);
    ASSERT_EQ(gap.size(), 1u) << gaps.Out;
    EXPECT_EQ(gap[0]["after_seq"], 1788);
    EXPECT_EQ(gap[0]["before_seq"], 1789);
    EXPECT_EQ(gap[0]["after_time"], Stamp(model::DeviceRecordBytes(second, 0)));
    EXPECT_EQ(gap[0]["before_time"], Stamp(model::DeviceRecordBytes(line.Archive(2), 987)));
    EXPECT_EQ(Stored(history, 2),
              Join(Join(Made(first, 987, 0), Made(second, 799, 0)), Made(line.Archive(2), 987, 0)));
}

// What keeps a history from being written while the files are saved: its SQLite file held by
// another writer, or a server that cannot be reached; by `read` and by `collect`.
struct HistoryFault {
    const char* Name;
    bool Server;
    bool Collect;
};

class HistoryFailed : public HistoryCtl, public ::testing::WithParamInterface<HistoryFault> {
protected:
    // The devices of the line of `read --dir` or of a configuration's line, as JSON.
    nlohmann::json Devices(const Finished& run) const {
        const auto json = nlohmann::json::parse(run.Out);
        return GetParam().Collect ? json["lines"][0]["devices"] : json["devices"];
    }
    Finished ReadLine(const std::string& where) {
        if (!GetParam().Collect)
            return Run(
                Read(line.SlavePath(), folder, where, {"--device", "1-2", "--json", "--dir"}));
        std::ofstream(dir.File("c.conf"))
            << "history = " << where << "\ndelay-tx = 0\n[boiler]\ndir = " << folder
            << "\nport = " << line.SlavePath() << "\ndevice = 1-2\n";
        return RunCtl({"collect", "--config", dir.File("c.conf"), "--json"}, Patience);
    }
};

TEST_P(HistoryFailed, ASavedReadingExitsWith3AndTheNextGoodReadingBringsItsEvents) {
    const std::string where =
        GetParam().Server ? "postgresql://kve17@127.0.0.1:1/kve17?connect_timeout=5" : history;
    std::unique_ptr<history::IHistoryConnection> holder;
    if (!GetParam().Server) {
        history::THistory::Open(history);
        holder = history::OpenHistoryConnection(history);
        holder->BeginWrite();
    }
    const auto first = line.Archive(1);
    const auto second = line.Archive(2);
    Finished run = ReadLine(where);
    EXPECT_EQ(run.Status, 3) << run.Err;
    EXPECT_EQ(nlohmann::json::parse(run.Out)["ok"], false);
    const auto devices = Devices(run);
    ASSERT_EQ(devices.size(), 2u) << run.Out;
    for (const auto& d : devices) {
        EXPECT_EQ(d["ok"], true);
        EXPECT_EQ(d["history"]["written"], false);
        EXPECT_EQ(d["history"]["added"], 0);
        EXPECT_EQ(d["history"]["reason"].get<std::string>().rfind("История не записана: ", 0), 0u)
            << d;
    }
    for (const auto& [device, archive] : {std::pair(1, first), std::pair(2, second)}) {
        const auto bytes = FileBytes(DeviceFile(device));
        const auto expected = model::AfterReading(model::FreshFile(), archive);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end()))
            << "device " << device;
    }
    if (GetParam().Server)
        return; // no server comes back here; the test PostgreSQL server's case is the chaos run's
    holder->Rollback();
    line.Grow(1, 4, 21);
    run = ReadLine(where);
    EXPECT_EQ(run.Status, 0) << run.Err;
    // What the file still held: the four oldest of the first reading left it for the new ones.
    EXPECT_EQ(Stored(history, 1), Made(line.Archive(1), 987, 0));
    EXPECT_EQ(Stored(history, 2), Made(second, 987, 0));
}

INSTANTIATE_TEST_SUITE_P(Faults, HistoryFailed,
                         ::testing::Values(HistoryFault{"SqliteLockedCollect", false, true},
                                           HistoryFault{"ServerUnreachableRead", true, false},
                                           HistoryFault{"ServerUnreachableCollect", true, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HistoryCtl, AHistoryPathThatCannotBeLookedAtIsSaidWithStatus1) {
    std::filesystem::create_symlink("loop", dir.File("loop"));
    const Finished run = RunCtl({"history", "--history", dir.File("loop/h.sqlite")}, Patience);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err.rfind(
                  "kve17ctl: историю " + dir.File("loop/h.sqlite") + " не удается проверить: ", 0),
              0u)
        << run.Err;
}

// A row lock another session holds on the server: the reading saved its file and waits; a
// SIGTERM ends the wait at once, not when the lock time-out would.
TEST_F(HistoryCtl, ASigtermEndsAWaitForAServerLockAtOnce) {
    HistoryDatabase database(Backend::Postgres);
    const std::string server = database.Location();
    if (server.empty())
        GTEST_SKIP() << "KVE17_TEST_PG names no server (scripts/test.sh starts one)";
    const std::string name = "kve17_waiter_" + std::to_string(::getpid());
    const std::string where = server + "&application_name=" + name;
    const std::string file = File("a.dat");
    const auto first = line.Archive(2);
    ASSERT_EQ(Run(Read(line.SlavePath(), file, where, {"--device", "2"})).Status, 0);
    line.Grow(2, 6, 4);
    const auto expected =
        model::AfterReading(model::AfterReading(model::FreshFile(), first), line.Archive(2));
    const auto holder = history::OpenHistoryConnection(server);
    holder->BeginWrite();
    holder->Query("SELECT id FROM devices FOR UPDATE");
    ChildProcess ctl(Read(line.SlavePath(), file, where, {"--device", "2"}));
    const auto watcher = history::OpenHistoryConnection(server);
    ASSERT_TRUE(Eventually([&] {
        return watcher
                   ->Query("SELECT count(*) FROM pg_stat_activity WHERE application_name = '" +
                           name + "' AND wait_event_type = 'Lock'")[0][0]
                   .value_or("0") == "1";
    }));
    const auto bytes = FileBytes(file);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end()))
        << "the file is saved before the history is written";
    const auto stopped = std::chrono::steady_clock::now();
    ctl.Signal(SIGTERM);
    EXPECT_EQ(ctl.Wait(Patience), 128 + SIGTERM) << ctl.err;
    // The lock time-out is 5 s: ending well before it is the stop's doing.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2500ms);
    EXPECT_NE(ctl.err.find("kve17ctl: device 2: История не записана: работа с базой истории "
                           "остановлена сигналом; события будут записаны при следующем чтении"),
              std::string::npos)
        << ctl.err;
    holder->Rollback();

    ASSERT_EQ(Run(Read(line.SlavePath(), file, where, {"--device", "2"})).Status, 0);
    EXPECT_EQ(Stored(where, 2), Join(Made(first, 987, 0), Made(line.Archive(2), 5, 0)));
}

} // namespace
} // namespace kve17::test
