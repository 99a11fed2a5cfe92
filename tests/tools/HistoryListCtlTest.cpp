// kve17ctl history's listings: gaps in their place and alone, the CSV dialect of `show` with
// fields that would start a formula kept as text, the reading log in local time and local days,
// and a million events listed in bounded memory.
#include "history/History.h"
#include "tests/archive/FakeDevice.h"
#include "tests/tools/CtlProcess.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

constexpr auto Patience = 120s;

TArchiveRecord Event(std::uint8_t code, std::uint8_t second, std::uint8_t hour, std::uint8_t day) {
    return {code, static_cast<std::uint8_t>(code * 2), second, 0, hour, day, 3, 26};
}

// `events` oldest first, as a reading of device 2 offers them (newest first).
history::THistoryReading Reading(const std::vector<TArchiveRecord>& events, const char* file,
                                 const char* at) {
    history::THistoryReading r;
    r.Line = "=2+5";
    r.Port = "-port";
    r.Address = 2;
    r.File = file;
    for (auto e = events.rbegin(); e != events.rend(); ++e)
        r.Records.push_back({0, *e, false});
    r.Found = static_cast<int>(events.size());
    r.Result = "@done";
    std::tm tm{};
    ::strptime(at, "%Y-%m-%dT%H:%M:%SZ", &tm);
    r.At = std::chrono::system_clock::from_time_t(::timegm(&tm));
    return r;
}

// Two readings of device 2 that share nothing: three events, a gap, two events. The readings
// were made at 14:30 UTC, half past midnight of the next day in Vladivostok (UTC+10).
class HistoryListing : public ::testing::Test {
protected:
    TempDir dir;
    std::string where = dir.File("h.sqlite");

    HistoryListing() {
        history::THistory h = history::THistory::Open(where);
        h.Append(Reading({Event(1, 1, 8, 1), Event(2, 2, 8, 1), Event(3, 3, 8, 1)}, "a.dat",
                         "2026-03-01T14:30:00Z"));
        h.Append(
            Reading({Event(11, 1, 9, 2), Event(12, 2, 9, 2)}, "b.dat", "2026-03-02T14:30:00Z"));
        ::setenv("TZ", "Asia/Vladivostok", 1);
    }
    ~HistoryListing() override { ::unsetenv("TZ"); }

    Finished History(std::vector<std::string> args) {
        args.insert(args.begin(), {"history", "--history", where});
        return RunCtl(args, Patience);
    }
};

TEST_F(HistoryListing, GapsStandInTheirPlaceInEveryFormat) {
    Finished run = History({});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "=2+5  device 2  2026-03-02 09:00:02  code  12  detail  24\n"
                       "=2+5  device 2  2026-03-02 09:00:01  code  11  detail  22\n"
                       "=2+5  device 2  -- gap: events overwritten unread, after seq 3 "
                       "(2026-03-01 08:00:03) and before seq 4 (2026-03-02 09:00:01)\n"
                       "=2+5  device 2  2026-03-01 08:00:03  code   3  detail   6\n"
                       "=2+5  device 2  2026-03-01 08:00:02  code   2  detail   4\n"
                       "=2+5  device 2  2026-03-01 08:00:01  code   1  detail   2\n");

    run = History({"--csv", "--separator", ";", "--since", "2026-03-02"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "line;device;seq;time;code;detail;invalid;gap;after_seq;before_seq;after_time;"
              "before_time\r\n"
              "'=2+5;2;5;2026-03-02 09:00:02;12;24;0;0;;;;\r\n"
              "'=2+5;2;4;2026-03-02 09:00:01;11;22;0;0;;;;\r\n"
              "'=2+5;2;;;;;;1;3;4;2026-03-01 08:00:03;2026-03-02 09:00:01\r\n");

    run = History({"--json", "--until", "2026-03-01"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    const auto json = nlohmann::json::parse(run.Out);
    ASSERT_EQ(json.size(), 4u) << run.Out;
    EXPECT_EQ(json[0], nlohmann::json({{"gap", true},
                                       {"line", "=2+5"},
                                       {"device", 2},
                                       {"after_seq", 3},
                                       {"before_seq", 4},
                                       {"after_time", "2026-03-01 08:00:03"},
                                       {"before_time", "2026-03-02 09:00:01"},
                                       {"found_at", "2026-03-02T14:30:00Z"},
                                       {"file", "b.dat"}}));
    EXPECT_EQ(json[1], nlohmann::json({{"line", "=2+5"},
                                       {"device", 2},
                                       {"seq", 3},
                                       {"time", "2026-03-01 08:00:03"},
                                       {"code", 3},
                                       {"detail", 6},
                                       {"invalid", false}}));

    run = History({"--gaps"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "=2+5  device 2  -- gap: events overwritten unread, after seq 3 "
                       "(2026-03-01 08:00:03) and before seq 4 (2026-03-02 09:00:01); found "
                       "2026-03-03 00:30:00 +1000 in b.dat\n");
    run = History({"--gaps", "--csv"});
    EXPECT_EQ(run.Out, "line,device,after_seq,before_seq,after_time,before_time,found_at,file\r\n"
                       "'=2+5,2,3,4,2026-03-01 08:00:03,2026-03-02 09:00:01,"
                       "2026-03-02T14:30:00Z,b.dat\r\n");
    EXPECT_EQ(History({"--gaps", "--readings"}).Status, 2);
    EXPECT_EQ(History({"--separator", ";"}).Status, 2);
}

// The log is UTC; a person reads it in local time, and a local day is asked for.
// The user's dictionary names codes in every format; a code it does not name stays a number.
TEST_F(HistoryListing, EventsCarryTheNamesOfTheUsersDictionary) {
    const std::string config = dir.File("config");
    std::filesystem::create_directories(config + "/kve17/events");
    std::ofstream(config + "/kve17/events/kve17.txt")
        << "12; Пуск; информация\n0x0B; Авария насоса; авария\n";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    Finished text = History({"--since", "2026-03-02"});
    Finished csv = History({"--csv", "--since", "2026-03-02"});
    Finished json = History({"--json", "--until", "2026-03-01"});
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(text.Out,
              "=2+5  device 2  2026-03-02 09:00:02  code  12  detail  24  Пуск (информация)\n"
              "=2+5  device 2  2026-03-02 09:00:01  code  11  detail  22  Авария насоса (авария)\n"
              "=2+5  device 2  -- gap: events overwritten unread, after seq 3 "
              "(2026-03-01 08:00:03) and before seq 4 (2026-03-02 09:00:01)\n");
    EXPECT_EQ(csv.Out,
              "line,device,seq,time,code,detail,invalid,gap,after_seq,before_seq,after_time,"
              "before_time,name,severity\r\n"
              "'=2+5,2,5,2026-03-02 09:00:02,12,24,0,0,,,,,Пуск,информация\r\n"
              "'=2+5,2,4,2026-03-02 09:00:01,11,22,0,0,,,,,Авария насоса,авария\r\n"
              "'=2+5,2,,,,,,1,3,4,2026-03-01 08:00:03,2026-03-02 09:00:01,,\r\n");
    const auto events = nlohmann::json::parse(json.Out);
    ASSERT_EQ(events.size(), 4u) << json.Out;
    EXPECT_TRUE(events[1]["name"].is_null());
    EXPECT_TRUE(events[1]["severity"].is_null());
}

TEST_F(HistoryListing, TheReadingLogIsReadInLocalTimeAndLocalDays) {
    Finished run = History({"--readings", "--since", "2026-03-02", "--until", "2026-03-02"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "2026-03-02 00:30:00 +1000  =2+5  device 2  fresh  3 new, 3 added  a.dat  "
                       "@done\n");
    run = History({"--readings", "--since", "02.03.26", "--json"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    const auto json = nlohmann::json::parse(run.Out);
    ASSERT_EQ(json.size(), 2u) << run.Out;
    EXPECT_EQ(json[0]["at"], "2026-03-02T14:30:00Z");
    EXPECT_EQ(json[0]["gap"], true);
    EXPECT_EQ(json[1]["at"], "2026-03-01T14:30:00Z");
    run = History({"--readings", "--until", "2026-03-01", "--csv"});
    EXPECT_EQ(run.Out,
              "at,line,device,port,file,mode,found,added,result,ok,offered,gap,warning\r\n");
    run = History({"--readings", "--since", "2026-03-03", "--csv"});
    EXPECT_EQ(run.Out, "at,line,device,port,file,mode,found,added,result,ok,offered,gap,warning\r\n"
                       "2026-03-02T14:30:00Z,'=2+5,2,'-port,b.dat,fresh,2,2,'@done,1,2,1,1\r\n");
}

TEST_F(HistoryListing, ALongPathIsListedWhole) {
    const std::string path = "/srv/" + std::string(3000, 'x') + ".dat";
    history::THistory::Open(where).Append(
        Reading({Event(13, 3, 9, 2)}, path.c_str(), "2026-03-04T00:00:00Z"));
    const Finished run = History({"--readings", "--since", "2026-03-04"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "2026-03-04 10:00:00 +1000  =2+5  device 2  fresh  1 new, 1 added  " + path +
                           "  @done\n");
}

TEST_F(HistoryListing, AListingThatCannotBeWrittenSaysSoWithStatus1) {
    ChildProcess ctl({KVE17CTL_PATH, "history", "--history", where}, [] {
        const int full = ::open("/dev/full", O_WRONLY);
        ::dup2(full, 1);
    });
    EXPECT_EQ(ctl.Wait(Patience), 1);
    EXPECT_EQ(ctl.err, "kve17ctl: the listing could not be written: No space left on device\n");
}

// A million events of one device, made by SQL rather than by a thousand readings.
// The sanitizers keep freed memory in quarantine and triple the time, so their run lists fewer
// events and leaves the memory bound to the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

class MillionEvents : public ::testing::TestWithParam<const char*> {
protected:
    static constexpr int Count = Sanitized ? 100'000 : 1'000'000;
    static inline TempDir* dir = nullptr;
    static inline std::string where;

    static void SetUpTestSuite() {
        dir = new TempDir;
        where = dir->File("million.sqlite");
        history::THistory::Open(where).Append(
            Reading({Event(1, 0, 0, 1)}, "a.dat", "2026-03-01T00:00:00Z"));
        const auto db = history::OpenHistoryConnection(where);
        db->BeginWrite();
        db->Execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                    std::to_string(Count - 1) +
                    ") INSERT INTO events (device_id, seq, reading_id, code, detail, second, "
                    "minute, hour, day, month, year, stamp, invalid) SELECT e.device_id, "
                    "e.seq + n.i, e.reading_id, n.i % 200, n.i % 256, n.i % 60, n.i / 60 % 60, "
                    "n.i / 3600 % 24, 1 + n.i / 86400 % 28, 3, 26, printf('2026-03-%02d "
                    "%02d:%02d:%02d', 1 + n.i / 86400 % 28, n.i / 3600 % 24, n.i / 60 % 60, "
                    "n.i % 60), 0 FROM n, events e");
        db->Commit();
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
};

// Where the listing goes: a file, since a pipe would hold it in the test.
char listingPath[512];

std::int64_t CountIn(const std::string& path, std::string_view what) {
    std::ifstream in(path, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    std::string carry;
    std::int64_t count = 0;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        std::string text = carry + chunk.substr(0, static_cast<std::size_t>(in.gcount()));
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + what.size()))
            ++count;
        carry = text.substr(text.size() - std::min(text.size(), what.size() - 1));
    }
    return count;
}

TEST_P(MillionEvents, AreListedInBoundedMemory) {
    const std::string out = dir->File(std::string("listing") + GetParam());
    std::snprintf(listingPath, sizeof listingPath, "%s", out.c_str());
    ChildProcess ctl({KVE17CTL_PATH, "history", "--history", where, GetParam()}, [] {
        const int file = ::open(listingPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, 1);
    });
    ASSERT_EQ(ctl.Wait(Patience), 0) << ctl.err;
    if (!Sanitized) {
        EXPECT_LT(ctl.PeakKiB(), 64 * 1024) << "KiB at the peak";
    }
    if (std::string_view(GetParam()) == "--json")
        EXPECT_EQ(CountIn(out, "\"seq\": "), Count);
    else
        EXPECT_EQ(CountIn(out, "\r\n"), Count + 1); // and the header
}

INSTANTIATE_TEST_SUITE_P(Formats, MillionEvents, ::testing::Values("--json", "--csv"),
                         [](const auto& info) { return std::string(info.param + 2); });

} // namespace
} // namespace kve17::test
