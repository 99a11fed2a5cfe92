// kve17ctl run as a process: exit status, the texts on stdout and stderr, and the files.
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/history/HistoryBackend.h"
#include "tests/support/ChildProcess.h"
#include "tools/sim/SimLine.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

constexpr auto Patience = 60s;

struct CtlRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class Ctl : public ::testing::Test {
protected:
    TempDir dir;
    // The default history of every reading goes to the test's folder, never to the home.
    Ctl() { ::setenv("XDG_DATA_HOME", dir.Path().c_str(), 1); }

    // The exit status is -1 when the program does not end in time; it is killed then.
    CtlRun Exec(std::vector<std::string> args) {
        args.insert(args.begin(), KVE17CTL_PATH);
        ChildProcess ctl(std::move(args));
        CtlRun run;
        run.Status = ctl.Wait(Patience);
        run.Out = ctl.out;
        run.Err = ctl.err;
        return run;
    }
};

TEST_F(Ctl, CreateAppendsDatAndConfirmsTheFullName) {
    const CtlRun run = Exec({"create", dir.File("a")});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "Создан файл архива " + dir.File("a.dat") + "\n");
    EXPECT_EQ(FileBytes(dir.File("a.dat")), std::vector<std::uint8_t>(7940, 0xFF));
}

TEST_F(Ctl, CreateKeepsAnExistingFileUnlessForced) {
    const std::string path = dir.File("a.dat");
    WriteBytes(path, std::vector<std::uint8_t>(7940, 0x33));
    CtlRun run = Exec({"create", path});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Файл с таким именем существует."), std::string::npos);
    EXPECT_EQ(FileBytes(path), std::vector<std::uint8_t>(7940, 0x33));
    run = Exec({"create", "--force", path});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(FileBytes(path), std::vector<std::uint8_t>(7940, 0xFF));
}

TEST_F(Ctl, CreateRefusesWrongNamesAndMissingFolders) {
    CtlRun run = Exec({"create", dir.File("a.DAT")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Неверно задано имя файла\n");
    run = Exec({"create", dir.File("no/a.dat")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Файл архива не удается создать\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};

class CtlUsage : public Ctl, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CtlUsage, IsRefusedWithStatus2AndAHint) {
    const CtlRun run = Exec(GetParam().args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Err.find("kve17ctl: "), std::string::npos);
    EXPECT_NE(run.Err.find("--help"), std::string::npos);
    EXPECT_TRUE(run.Out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CtlUsage,
    ::testing::Values(
        UsageCase{"NoCommand", {}}, UsageCase{"UnknownCommand", {"erase", "x"}},
        UsageCase{"CreateWithoutFile", {"create"}}, UsageCase{"ShowTwoFiles", {"show", "a", "b"}},
        UsageCase{"UnknownOption", {"show", "--tsv", "a"}},
        UsageCase{"ReadWithoutDevice", {"read", "--port", "COM1", "a"}},
        UsageCase{"DeviceOutOfRange", {"read", "--port", "COM1", "--device", "32", "a"}},
        UsageCase{"BaudNotOffered",
                  {"read", "--port", "COM1", "--device", "1", "--baud", "128000", "a"}},
        UsageCase{"ParityLetter",
                  {"read", "--port", "COM1", "--device", "1", "--parity", "M", "a"}},
        UsageCase{"StopBits", {"read", "--port", "COM1", "--device", "1", "--stop", "3", "a"}},
        UsageCase{"MissingValue", {"read", "a", "--port"}},
        UsageCase{"ForceOnShow", {"show", "--force", "a"}},
        UsageCase{"SinceNoDay", {"show", "--since", "31.02.24", "a"}},
        UsageCase{"UntilTwoDigitIsoYear", {"show", "--until", "24-03-01", "a"}},
        UsageCase{"CodeAbove255", {"show", "--code", "1,256", "a"}},
        UsageCase{"CsvAndJson", {"show", "--csv", "--json", "a"}},
        UsageCase{"SeparatorWithoutCsv", {"show", "--separator", ";", "a"}},
        UsageCase{"SeparatorTab", {"show", "--csv", "--separator", "\t", "a"}},
        UsageCase{"SinceOnRead",
                  {"read", "--port", "COM1", "--device", "1", "--since", "01.01.24", "a"}},
        UsageCase{"EmptyPortTakesNoOperand", {"read", "--port=", "--device", "1", "a"}},
        UsageCase{"FlagGivenAValue", {"create", "--force=1", "a"}},
        UsageCase{"DeviceListWithoutDir", {"read", "--port", "COM1", "--device", "1-3", "a"}},
        UsageCase{"DirWithAFile", {"read", "--port", "COM1", "--device", "1", "--dir", "d", "a"}},
        UsageCase{"DeviceListOutOfRange", {"scan", "--port", "COM1", "--device", "0-3"}},
        UsageCase{"ScanWithoutPort", {"scan", "--device", "1-3"}},
        UsageCase{"WaitNotANumber", {"scan", "--port", "COM1", "--wait", "soon"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ctl, EveryCommandHasHelp) {
    for (const char* command : {"ports", "create", "read", "show", "scan", "history", "collect"}) {
        const CtlRun run = Exec({command, "--help"});
        EXPECT_EQ(run.Status, 0) << command;
        EXPECT_EQ(run.Out.rfind(std::string("Usage: kve17ctl ") + command, 0), 0u) << command;
    }
    EXPECT_EQ(Exec({"--help"}).Status, 0);
}

TEST_F(Ctl, ShowRefusesAFileOfWrongSize) {
    WriteBytes(dir.File("bad.dat"), std::vector<std::uint8_t>(100, 0xFF));
    const CtlRun run = Exec({"show", dir.File("bad.dat")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Файл архива не удается открыть\n");
}

TEST_F(Ctl, ReadOfAPortThatDoesNotOpenFails) {
    Exec({"create", dir.File("a.dat")});
    const CtlRun run =
        Exec({"read", "--port", dir.File("no-such-tty"), "--device", "1", dir.File("a.dat")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("невозможно открыть последовательный порт"), std::string::npos);
    EXPECT_EQ(FileBytes(dir.File("a.dat")), std::vector<std::uint8_t>(7940, 0xFF));
}

class CtlOnLine : public Ctl {
protected:
    sim::SimLine line;
    std::string file = dir.File("line.dat");

    void SetUp() override {
        line.SetDevice(2, sim::MakeArchive(99));
        ASSERT_EQ(Exec({"create", file}).Status, 0);
    }
    CtlRun Read(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"read", "--port", line.SlavePath(), "--device", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(file);
        return Exec(args);
    }
    std::array<std::uint8_t, 7940> Current() {
        const auto bytes = FileBytes(file);
        std::array<std::uint8_t, 7940> a{};
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), a.size()), a.begin());
        return a;
    }
};

TEST_F(CtlOnLine, FreshAndIncrementalReadingsGiveTheModelFile) {
    auto expected = model::AfterReading(Current(), line.Archive(2));
    CtlRun run = Read();
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::string history = dir.File("kve17/history.sqlite");
    EXPECT_EQ(run.Out, "fresh reading of device 2: 988 records stored, 988 new records merged\n"
                       "history " +
                           history + ": 988 new events\n");
    EXPECT_EQ(run.Err, "Закончено чтение архива\n");
    EXPECT_TRUE(Current() == expected);

    line.Grow(2, 20, 3);
    expected = model::AfterReading(Current(), line.Archive(2));
    run = Read({"--trace", "--baud", "19200", "--parity", "E", "--stop", "1", "--delay-tx", "5"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "incremental reading of device 2: 988 records stored, 20 new records merged\n"
              "history " +
                  history + ": 20 new events\n");
    EXPECT_TRUE(Current() == expected);
    EXPECT_NE(run.Err.find(" ms TX 02 43 00 01 "), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(" ms RX 02 43 80\n"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(" ms TX 02 43 00 03 "), std::string::npos) << "read past the match";

    run = Exec({"show", "--csv", file});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(
        run.Out.rfind("№,Дата,Время,Код,Код (hex),Параметр,Параметр (hex),Состояние\r\n1,", 0), 0u);
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 989);
}

TEST_F(CtlOnLine, AHistoryThatCannotBeWrittenLeavesTheReadingAsItIs) {
    WriteBytes(dir.File("plain"), {1});
    const auto expected = model::AfterReading(Current(), line.Archive(2));
    const CtlRun run = Read({"--history", dir.File("plain/history.sqlite"), "--line", "Котельная"});
    EXPECT_EQ(run.Status, 3) << run.Err;
    EXPECT_EQ(run.Out, "fresh reading of device 2: 988 records stored, 988 new records merged\n"
                       "history " +
                           dir.File("plain/history.sqlite") +
                           ": not written for 1 of 1 devices; the next good reading brings "
                           "their events\n");
    EXPECT_EQ(
        run.Err.rfind("Закончено чтение архива\nkve17ctl: device 2: История не записана: ", 0), 0u)
        << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 2);
    EXPECT_TRUE(Current() == expected);
}

TEST_F(CtlOnLine, HistoryListsTheEventsAndReadingsOfANamedLine) {
    const std::string h = dir.File("h.sqlite");
    ASSERT_EQ(Read({"--history", h, "--line", "Котельная 2"}).Status, 0);
    line.Grow(2, 3, 9);
    ASSERT_EQ(Read({"--history", h, "--line", "Котельная 2"}).Status, 0);

    CtlRun run = Exec({"history", "--history", h, "--readings", "--csv"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind(
                  "at,line,device,port,file,mode,found,added,result,ok,offered,gap,warning\r\n", 0),
              0u);
    EXPECT_NE(run.Out.find(",Котельная 2,2," + line.SlavePath() + "," + file +
                           ",incremental,3,3,Закончено чтение архива,1,988,0,0\r\n"),
              std::string::npos)
        << run.Out;
    run = Exec({"history", "--history", h, "--line", "Котельная 2", "--device", "2", "--json"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '{'), 991); // 988 + 3 events
    run = Exec({"history", "--history", h, "--device", "3"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Exec({"history", "--history", h, "--csv", "--json"}).Status, 2);

    run = Exec({"history", "--history", h, "--rename-line", "Котельная 2", "--to", "Котельная 3"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    run = Exec({"history", "--history", h, "--lines", "--csv"});
    EXPECT_EQ(run.Out, "line,port,devices\r\nКотельная 3," + line.SlavePath() + ",2\r\n");
    EXPECT_EQ(Exec({"history", "--history", h, "--rename-line", "Нет", "--to", "X"}).Status, 1);
    EXPECT_EQ(Exec({"history", "--history", h, "--rename-line", "Котельная 3"}).Status, 2);
    EXPECT_EQ(Exec({"history", "--history", dir.File("none.sqlite")}).Status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.sqlite")));
}

// One history row as `history --csv` writes it for the device's record k (0 = newest): its day
// when in range (the simulator makes only calendar days), its time when in range too, code 255
// when not.
std::string HistoryRow(const sim::DeviceArchive& archive, int k) {
    const std::uint8_t* r = archive.data() + k * 8;
    const bool day = r[5] >= 1 && r[5] <= 31 && r[6] >= 1 && r[6] <= 12 && r[7] >= 1 && r[7] <= 99;
    const bool time = day && r[4] < 24 && r[3] < 60 && r[2] < 60;
    char text[64];
    std::snprintf(text, sizeof text, "20%02d-%02d-%02d", r[7], r[6], r[5]);
    std::string row = day ? text : "";
    std::snprintf(text, sizeof text, " %02d:%02d:%02d", r[4], r[3], r[2]);
    if (time)
        row += text;
    return row + "," + std::to_string(time ? r[0] : 255) + "," + std::to_string(r[1]);
}

TEST_F(CtlOnLine, TwoCollectorsOfOneDeviceStoreTheDevicesEventsOnceInOrder) {
    const std::string h = dir.File("h.sqlite");
    const std::string other = dir.File("other.dat");
    ASSERT_EQ(Exec({"create", other}).Status, 0);
    const auto ReadInto = [&](const std::string& f) {
        return Exec({"read", "--port", line.SlavePath(), "--device", "2", "--history", h, f});
    };
    const sim::DeviceArchive first = line.Archive(2);
    EXPECT_EQ(ReadInto(file).Status, 0);
    line.Grow(2, 10, 4);
    EXPECT_EQ(ReadInto(other).Status, 0); // a second collector, fresh into its own file
    line.Grow(2, 5, 5);
    EXPECT_EQ(ReadInto(file).Status, 0);
    EXPECT_EQ(ReadInto(other).Status, 0);
    const sim::DeviceArchive last = line.Archive(2);

    // The device's events from the oldest the first reading kept to the newest.
    std::vector<std::string> expected;
    for (int k = 987; k >= 0; --k)
        expected.push_back(HistoryRow(first, k));
    for (int k = 14; k >= 0; --k)
        expected.push_back(HistoryRow(last, k));
    const CtlRun run = Exec({"history", "--history", h, "--csv"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::vector<std::string> rows; // newest first: "line,device,seq,time,code,detail,invalid,…"
    std::istringstream in(run.Out);
    std::string row;
    std::getline(in, row);
    while (std::getline(in, row)) {
        const auto seq = row.find(',', row.find(',') + 1) + 1;
        const auto time = row.find(',', seq) + 1;
        const auto invalid = row.find(',', row.find(',', row.find(',', time) + 1) + 1);
        rows.insert(rows.begin(), row.substr(time, invalid - time));
    }
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], expected[i]) << "event " << i;
}

// Ten collectors, each on a line of its own that carries the same device, write one server at
// once, twice: the device's events are there once each, none lost.
TEST_F(Ctl, TenCollectorsOfOneDeviceWriteTheServerTogether) {
    HistoryDatabase database(Backend::Postgres);
    const std::string where = database.Location();
    if (where.empty())
        GTEST_SKIP() << "KVE17_TEST_PG names no server (scripts/test.sh starts one)";
    constexpr int Collectors = 10;
    std::vector<std::unique_ptr<sim::SimLine>> lines;
    for (int c = 0; c < Collectors; ++c) {
        lines.push_back(std::make_unique<sim::SimLine>());
        lines.back()->SetDevice(4, sim::MakeArchive(7));
        ASSERT_EQ(Exec({"create", dir.File(std::to_string(c) + ".dat")}).Status, 0);
    }
    const auto Round = [&] {
        std::vector<CtlRun> runs(Collectors);
        std::vector<std::thread> threads;
        for (int c = 0; c < Collectors; ++c)
            threads.emplace_back([&, c] {
                const std::string tag = std::to_string(c);
                runs[static_cast<std::size_t>(c)] = Exec(
                    {"read", "--port", lines[static_cast<std::size_t>(c)]->SlavePath(), "--device",
                     "4", "--line", "Котельная", "--history", where, dir.File(tag + ".dat")});
            });
        for (auto& t : threads)
            t.join(); // each reading ends within its link's time-outs
        for (const CtlRun& run : runs) {
            EXPECT_EQ(run.Status, 0) << run.Err;
            EXPECT_EQ(run.Err.find("История не записана"), std::string::npos) << run.Err;
        }
    };
    Round();
    for (auto& line : lines)
        line->Grow(4, 7, 11);
    Round();

    history::THistory h = history::THistory::Open(where);
    history::THistoryFilter device;
    device.Line = "Котельная";
    device.Address = 4;
    EXPECT_EQ(h.CountEvents(device), 988 + 7);
    const auto log = h.Readings(device);
    ASSERT_EQ(log.size(), 2u * Collectors);
    int added = 0;
    for (const auto& r : log)
        added += r.Added;
    EXPECT_EQ(added, 988 + 7);
}

TEST_F(CtlOnLine, AWholeLineReadingKeepsEachDevicesEvents) {
    line.SetDevice(5, sim::MakeArchive(12, 40));
    const std::string h = dir.File("h.sqlite");
    const CtlRun run = Exec({"read", "--port", line.SlavePath(), "--device", "2,5", "--dir",
                             dir.File("all"), "--history", h});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("history " + h + ": " + std::to_string(988 + 40) + " new events\n"),
              std::string::npos)
        << run.Out;
    const std::string five = Exec({"history", "--history", h, "--device", "5", "--csv"}).Out;
    EXPECT_EQ(std::count(five.begin(), five.end(), '\n'), 1 + 40) << five; // header, 40 events
}

TEST_F(CtlOnLine, AFailedReadingIsLoggedAndAddsNothingToTheHistory) {
    line.AddFault(2, {sim::FaultKind::Exception, 6, -1, 3});
    EXPECT_EQ(Read().Status, 1);
    const std::string h = dir.File("kve17/history.sqlite");
    CtlRun run = Exec({"history", "--history", h, "--readings", "--csv"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find(",2," + line.SlavePath() + "," + file + ",fresh,0,0,устройство 2 " +
                           line.SlavePath() + " Идет запись базы данных. Ждите.,0,0,0,0\r\n"),
              std::string::npos)
        << run.Out;
    run = Exec({"history", "--history", h, "--csv"});
    EXPECT_EQ(run.Out, "line,device,seq,time,code,detail,invalid,gap,after_seq,before_seq,"
                       "after_time,before_time\r\n");
}

TEST_F(CtlOnLine, DeviceExceptionEndsTheReadingWithItsMessage) {
    line.AddFault(2, {sim::FaultKind::Exception, 6, -1, 3});
    const auto expected = model::AfterFailedFreshReading(Current(), line.Archive(2), 2);
    const CtlRun run = Read();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Out.empty());
    EXPECT_EQ(run.Err, "Предупреждение: устройство 2 " + line.SlavePath() +
                           " Идет запись базы данных. Ждите.\nЗакончено чтение архива\n");
    EXPECT_TRUE(Current() == expected);
}

// A file read from a device with dated events: 988 records from 11.03.24 to 21.03.24, two
// of them invalid (number 6 on 20.03.24 with hour 24, number 10 without a time stamp).
class CtlShow : public Ctl {
protected:
    CtlShow() {
        TArchiveImage image = FreshImage();
        FakeDevice device;
        device.Archive = MakeEventDevice(0);
        RecordingView view;
        ReadIntoImage(image, 0, device, view);
        WriteBytes(file, ImageBytes(image));
    }
    std::string file = dir.File("events.dat");
};

TEST_F(CtlShow, FiltersNarrowTheListing) {
    CtlRun run = Exec({"show", file, "--code", "255"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "   6  20.03.24  24:30:15  255 (0xFF)  203 (0xCB)  недостоверна\n"
                       "  10  -         -         255 (0xFF)  7 (0x07)    недостоверна\n");
    run = Exec({"show", file, "--since", "21.03.24"});
    EXPECT_EQ(run.Out, "   1  21.03.24  20:33:20  3 (0x03)    208 (0xD0)\n");
    // Day 20 holds numbers 2 to 101 but for 10; of them code 1 are those with n % 3 == 0.
    run = Exec({"show", file, "--since", "2024-03-20", "--until", "20.03.24", "--code", "1",
                "--code", "255"});
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 33);
    EXPECT_EQ(run.Out.rfind("   3  20.03.24  20:32:06  1 (0x01)    206 (0xCE)\n", 0), 0u);
    run = Exec({"show", file, "--until", "2024-03-10"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "");
    run = Exec({"show", file, "--invalid", "--csv", "--separator", ";"});
    // The spreadsheet dialect: a byte order mark before ";", numbers and dates in cells of their
    // own.
    EXPECT_EQ(run.Out,
              "\xEF\xBB\xBF№;Дата;Время;Код;Код (hex);Параметр;Параметр (hex);Состояние\r\n"
              "6;2024-03-20;24:30:15;255;0xFF;203;0xCB;недостоверна\r\n"
              "10;;;255;0xFF;7;0x07;недостоверна\r\n");
    // Codes as the viewer takes them: hex and ranges.
    run = Exec({"show", file, "--code", "0xFF,2-2"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 331);
}

TEST_F(CtlShow, JsonHoldsTheRecordsOfTheTable) {
    CtlRun run = Exec({"show", "--json", file});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const auto all = nlohmann::json::parse(run.Out);
    ASSERT_EQ(all.size(), 988u);
    // The newest record sits in the ring's last slot (991 * 8 bytes in), number 6 five before.
    EXPECT_EQ(all[0], nlohmann::json::parse(R"({"number": 1, "offset": 7928, "date": "21.03.24",
                                               "time": "20:33:20", "code": 3, "detail": 208,
                                               "invalid": false})"));
    EXPECT_EQ(all[987]["number"], 988);
    EXPECT_EQ(all[987]["date"], "11.03.24");

    run = Exec({"show", "--json", "--invalid", file});
    const auto invalid = nlohmann::json::parse(run.Out);
    ASSERT_EQ(invalid.size(), 2u);
    EXPECT_EQ(invalid[0]["number"], 6);
    EXPECT_EQ(invalid[0]["time"], "24:30:15");
    EXPECT_EQ(invalid[1]["number"], 10);
    EXPECT_TRUE(invalid[1]["date"].is_null());
    EXPECT_EQ(invalid[1]["invalid"], true);
    EXPECT_EQ(invalid[0]["offset"], 7888);
}

} // namespace
} // namespace kve17::test
