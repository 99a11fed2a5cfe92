// kve17ctl collect: the lines of a configuration read one after the other into their folders
// and the history, a failing device and a missing port in between; configurations it refuses;
// the example systemd units as systemd itself checks them.
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/tools/CtlProcess.h"
#include "tools/sim/SimLine.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using FileArray = std::array<std::uint8_t, 7940>;

// Ten bad checksums and a port that is refused take some seconds at the program's pace.
constexpr auto Patience = 120s;

Finished Ctl(const std::vector<std::string>& args) {
    return RunCtl(args, Patience);
}

bool FileHolds(const std::string& path, const FileArray& expected) {
    const auto bytes = FileBytes(path);
    return bytes.size() == expected.size() &&
           std::equal(bytes.begin(), bytes.end(), expected.begin());
}

class Collect : public ::testing::Test {
protected:
    TempDir dir;
    sim::SimLine boiler;  // devices 1 and 2, the second with bad checksums
    sim::SimLine station; // device 5
    std::string config = dir.File("site.conf");

    Collect() {
        ::setenv("XDG_DATA_HOME", dir.Path().c_str(), 1); // never the home's history
        boiler.SetDevice(1, sim::MakeArchive(41));
        boiler.SetDevice(2, sim::MakeArchive(42));
        boiler.AddFault(2, {sim::FaultKind::BadCrc, 0, -1, 0});
        station.SetDevice(5, sim::MakeArchive(45));
    }
    void Write(const std::string& text) { std::ofstream(config) << text; }
    std::string Sites() const {
        return "# relative paths are the configuration's folder\n"
               "history = h.sqlite\n"
               "dir = archive\n"
               "delay-tx = 0\n"
               "\n"
               "[Котельная 2]\n"
               "port = " +
               boiler.SlavePath() +
               "\n"
               "device = 1-2\n"
               "\n"
               "[ЦТП 4]\n"
               "port = " +
               station.SlavePath() +
               "\n"
               "device = 5\n"
               "dir = ctp\n"
               "baud = 19200\n"
               "[Пропавшая]\n"
               "port = " +
               dir.File("no-such-port") + "\ndevice = 1\n";
    }
    Finished History(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"history", "--history", dir.File("h.sqlite")};
        all.insert(all.end(), args.begin(), args.end());
        return Ctl(all);
    }
    int Events(const std::string& line, const std::string& device) {
        const Finished run = History({"--line", line, "--device", device, "--json"});
        EXPECT_EQ(run.Status, 0) << run.Err;
        return static_cast<int>(std::count(run.Out.begin(), run.Out.end(), '{'));
    }
};

TEST_F(Collect, EveryLineIsReadPastAFailingDeviceAndAMissingPort) {
    Write(Sites());
    Finished run = Ctl({"collect", "--config", config});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::string boilerDir = dir.File("archive/Котельная 2");
    const std::regex table("line Котельная 2 on " + boiler.SlavePath() +
                           "\n"
                           "device  mode         new  result\n"
                           "     1  fresh         988  Закончено чтение архива\n"
                           "     2  fresh           0  устройство 2 .* ошибка контрольной суммы\n"
                           "1 of 2 devices read\n"
                           "history .*h.sqlite: 988 new events\n"
                           "\n"
                           "line ЦТП 4 on " +
                           station.SlavePath() +
                           "\n"
                           "device  mode         new  result\n"
                           "     5  fresh         988  Закончено чтение архива\n"
                           "1 of 1 devices read\n"
                           "history .*h.sqlite: 988 new events\n"
                           "\n"
                           "line Пропавшая on .*no-such-port\n"
                           "not read: .*no-such-port: .*\n"
                           "\n"
                           "1 of 3 lines read in full\n");
    EXPECT_TRUE(std::regex_match(run.Out, table)) << run.Out;
    EXPECT_TRUE(FileHolds(boilerDir + "/device-01.dat",
                          model::AfterReading(model::FreshFile(), boiler.Archive(1))));
    EXPECT_TRUE(FileHolds(boilerDir + "/device-02.dat",
                          model::AfterFailedFreshReading(model::FreshFile(), {}, 0)));
    EXPECT_TRUE(FileHolds(dir.File("ctp/device-05.dat"),
                          model::AfterReading(model::FreshFile(), station.Archive(5))));
    EXPECT_FALSE(std::filesystem::exists(dir.File("archive/Пропавшая/device-01.dat")));
    // Device 2 failed: it is in the history by its logged reading, with no events.
    const Finished lines = History({"--lines", "--csv"});
    EXPECT_EQ(lines.Out, "line,port,devices\r\nКотельная 2," + boiler.SlavePath() +
                             ",1 2\r\nЦТП 4," + station.SlavePath() + ",5\r\n");

    // The next collection merges only what is new, and the history takes each event once.
    station.Grow(5, 4, 7);
    run = Ctl({"collect", "--config", config, "--json"});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const auto json = nlohmann::json::parse(run.Out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << run.Out;
    EXPECT_EQ(json["command"], "collect");
    EXPECT_EQ(json["config"], config);
    EXPECT_EQ(json["ok"], false);
    ASSERT_EQ(json["lines"].size(), 3u);
    const auto& first = json["lines"][0];
    EXPECT_EQ(first["line"], "Котельная 2");
    EXPECT_EQ(first["dir"], boilerDir);
    EXPECT_EQ(first["ok"], false);
    ASSERT_EQ(first["devices"].size(), 2u);
    EXPECT_EQ(first["devices"][0]["mode"], "incremental");
    EXPECT_EQ(first["devices"][0]["records_new"], 0);
    EXPECT_EQ(first["devices"][1]["ok"], false);
    const auto& second = json["lines"][1];
    EXPECT_EQ(second["ok"], true);
    EXPECT_EQ(second["baud"], 19200);
    EXPECT_EQ(second["devices"][0]["file"], dir.File("ctp/device-05.dat"));
    EXPECT_EQ(second["devices"][0]["records_new"], 4);
    EXPECT_EQ(json["lines"][2]["ok"], false);
    EXPECT_TRUE(json["lines"][2]["error"].is_string());
    EXPECT_TRUE(json["lines"][2]["devices"].empty());
    EXPECT_EQ(Events("ЦТП 4", "5"), 992);
    EXPECT_EQ(Events("Котельная 2", "1"), 988);
    EXPECT_EQ(Events("Котельная 2", "2"), 0);

    // Every device read: success; --no-history over the file's history.
    Write("\xEF\xBB\xBF# saved by Notepad\r\ndir = " + dir.File("only") +
          "\n[ЦТП 4]\nport = " + station.SlavePath() + "\ndevice = 5\ndelay-tx = 0\n");
    run = Ctl({"collect", "--config", config, "--no-history"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(FileHolds(dir.File("only/ЦТП 4/device-05.dat"),
                          model::AfterReading(model::FreshFile(), station.Archive(5))));
    EXPECT_EQ(run.Out.find("history"), std::string::npos) << run.Out;
    EXPECT_EQ(Events("ЦТП 4", "5"), 992);
}

TEST_F(Collect, AConfigurationFaultNamesFileLineAndKeyAndReadsNothing) {
    const std::string good = "[A]\nport = " + boiler.SlavePath() + "\ndevice = 1\n";
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"dir = x\n" + good + "speed = 9600\n", ":5: unknown key 'speed'\n"},
        {"dir = x\n" + good + "baud = 9601\n", ":5: baud must be one of 110 300"},
        {"dir = x\n" + good + "device = 0-3\n", ":5: device is given twice\n"},
        {"dir = x\n[A]\nport = p\ndevice = 32\n",
         ":4: device must be a device number from 1 to 31\n"},
        {"dir = x\n[A]\nport = p\n", ":2: line 'A' needs port and device\n"},
        {"port = p\n" + good, ":1: unknown key 'port' before the first line\n"},
        {good, ":1: line 'A' needs a dir, or a dir before the first line\n"},
        {"dir = x\n" + good + good, ":5: line 'A' is listed twice\n"},
        {"dir = x\n" + good + "echo = on\n", ":5: echo must be yes or no\n"},
        {"dir = x\n[A\n", ":2: a line's section is written [NAME]\n"},
        {"dir = x\n[a/b]\n", ":2: a line's name must not be empty, '.', '..' or hold '/'\n"},
        {"dir = x\n" + good + "wait\n", ":5: expected [LINE NAME] or KEY = VALUE\n"},
        {"dir = x\n# no line\n", ": no line is listed"},
    };
    for (const auto& [text, said] : faults) {
        Write(text);
        const Finished run = Ctl({"collect", "--config", config});
        EXPECT_EQ(run.Status, 2) << text;
        EXPECT_EQ(run.Err.rfind("kve17ctl: " + config + said, 0), 0u) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("h.sqlite")));
    Finished run = Ctl({"collect", "--config", dir.File("missing.conf")});
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, "kve17ctl: " + dir.File("missing.conf") + ": cannot be read\n");
    EXPECT_EQ(Ctl({"collect"}).Status, 2);
}

// A named pipe would wait for a writer and a device give bytes without end: anything but a
// regular file is refused before it is opened, through a link too.
TEST_F(Collect, AConfigurationThatIsNoRegularFileIsRefusedAtOnce) {
    const std::string pipe = dir.File("site.fifo");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::create_symlink(pipe, dir.File("link.conf"));
    std::filesystem::create_directory(dir.File("folder"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {pipe, "a named pipe"},
        {dir.File("link.conf"), "a named pipe"},
        {dir.File("folder"), "a folder"},
        {"/dev/null", "a device"},
    };
    for (const auto& [path, what] : cases) {
        const Finished run = RunCtl({"collect", "--config", path}, 10s);
        EXPECT_EQ(run.Status, 2) << path << " (-1: it waited)";
        EXPECT_EQ(run.Err,
                  "kve17ctl: " + path + ": " + what + "; a configuration is a regular file\n");
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("kve17")));
}

// systemd 252 checks unit files without a running systemd; the program's path is swapped for
// the built one, which is not installed in /usr/bin while the tests run.
TEST_F(Collect, TheExampleUnitsPassSystemdVerification) {
    const std::string analyze = "/usr/bin/systemd-analyze";
    if (!std::filesystem::exists(analyze))
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    const std::filesystem::path units = KVE17_SOURCE_DIR "/packaging/systemd";
    std::string service;
    for (const char* name : {"kve17-collect@.service", "kve17-collect@.timer"}) {
        const auto bytes = FileBytes(units / name);
        const std::string text = std::regex_replace(std::string(bytes.begin(), bytes.end()),
                                                    std::regex("/usr/bin/kve17ctl"), KVE17CTL_PATH);
        std::ofstream(dir.File(name)) << text;
        service = service.empty() ? text : service;
    }
    EXPECT_NE(service.find(std::string("ExecStart=") + KVE17CTL_PATH +
                           " collect --config /etc/kve17/%i.conf\n"),
              std::string::npos);
    ChildProcess verify({analyze, "verify", "--man=no", dir.File("kve17-collect@.service"),
                         dir.File("kve17-collect@.timer")});
    EXPECT_EQ(verify.Wait(Patience), 0) << verify.err;
    EXPECT_EQ(verify.out + verify.err, ""); // a misspelt key is only a warning
}

} // namespace
} // namespace kve17::test
