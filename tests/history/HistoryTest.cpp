// The event history on SQLite and on the test PostgreSQL server: real readings joined into a
// device's history exactly once and in order, also by concurrent collectors; the filters and
// per-day counts; line names; the schema version; and the failures a reading must survive.
#include "archive/ArchiveOps.h"
#include "tests/history/HistoryBackend.h"
#include "tests/support/ChildProcess.h"

#include <fstream>
#include <optional>
#include <thread>

namespace kve17::test {
namespace {

using history::EHistory;
using history::THistory;
using history::THistoryFilter;
using history::THistoryReading;

constexpr int Address = 2;
constexpr int InvalidEvent = 4025; // the event the device stored with hour 24

// The device after `shift` new events: event n lies at k = shift + 4000 - n (0 = newest).
DeviceBytes Device(int shift) {
    DeviceBytes device = MakeDevice(shift);
    const int k = shift + 4000 - InvalidEvent;
    if (k >= 0 && k < SlotCount) {
        TArchiveRecord r = RecordOf(device, k);
        r.Hour = 24;
        SetRecord(device, k, r);
    }
    return device;
}

// What the history must hold for event n.
TArchiveRecord ExpectedEvent(int n) {
    TArchiveRecord r = DeviceRecord(0, n - 4000);
    if (n == InvalidEvent) {
        r.Code = 0xFF;
        r.Hour = 24;
    }
    return r;
}

// One archive file of one collector, read for real from a device in memory.
struct Collector {
    TArchiveImage image = FreshImage();
    std::string file;

    THistoryReading Read(int shift) {
        FakeDevice device;
        device.Archive = Device(shift);
        return ReadForHistory(image, device, Address, "/dev/ttyUSB0", file);
    }
};

class History : public OnBackend {
protected:
    // Checks that the device's history is events `first` to `last`, each once, in order.
    void ExpectEvents(THistory& h, int first, int last) {
        THistoryFilter filter;
        filter.Address = Address;
        const auto events = h.Events(filter); // newest first
        ASSERT_EQ(events.size(), static_cast<std::size_t>(last - first + 1));
        for (std::size_t i = 0; i < events.size(); ++i) {
            const int n = last - static_cast<int>(i);
            const TArchiveRecord want = ExpectedEvent(n);
            ASSERT_TRUE(SameRecord(events[i].Record, want)) << "event " << n;
            ASSERT_EQ(events[i].Seq, n - first + 1) << "event " << n;
            ASSERT_EQ(events[i].Invalid, n == InvalidEvent) << "event " << n;
        }
    }
};

TEST_P(History, ReadingsJoinTheDeviceHistoryOnceAndInOrder) {
    THistory h = THistory::Open(where);
    Collector a{FreshImage(), "/srv/a.dat"};
    Collector b{FreshImage(), "/srv/b.dat"};
    Collector late{FreshImage(), "/srv/late.dat"};
    const THistoryReading stale = late.Read(0);

    EXPECT_EQ(h.Append(a.Read(0)).Added, 988); // fresh: everything but the end markers
    EXPECT_EQ(h.Append(a.Read(30)).Added, 30); // incremental, one of them invalid
    EXPECT_EQ(h.Append(a.Read(30)).Added, 0);  // nothing new on the device
    EXPECT_EQ(h.Append(b.Read(40)).Added, 10); // re-read fresh into a new file
    EXPECT_EQ(h.Append(stale).Added, 0);       // read before the others, stored after them
    ExpectEvents(h, 3013, 4040);

    THistoryFilter filter;
    filter.Address = Address;
    const auto log = h.Readings(filter);
    ASSERT_EQ(log.size(), 5u);
    const int found[] = {988, 988, 0, 30, 988};
    const int added[] = {0, 10, 0, 30, 988};
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].Found, found[i]) << i;
        EXPECT_EQ(log[i].Offered, 988) << i; // every reading offers its whole file
        EXPECT_EQ(log[i].Added, added[i]) << i;
        EXPECT_TRUE(log[i].Ok) << i;
        EXPECT_FALSE(log[i].Gap) << i;
        EXPECT_EQ(log[i].Line, "/dev/ttyUSB0");
        EXPECT_EQ(log[i].Result, "Закончено чтение архива");
    }
    EXPECT_EQ(log[1].File, "/srv/b.dat");
    EXPECT_EQ(log[1].Mode, "fresh");
    EXPECT_EQ(log[3].Mode, "incremental");
    EXPECT_EQ(log[0].At.size(), 20u) << log[0].At; // 2026-12-08T19:55:00Z
}

TEST_P(History, TenCollectorsOfOneDeviceStoreEveryEventOnce) {
    THistory(history::OpenHistoryConnection(where)); // the schema, before the rush
    constexpr int Collectors = 10;
    std::vector<std::pair<THistoryReading, THistoryReading>> readings;
    for (int c = 0; c < Collectors; ++c) {
        Collector collector{FreshImage(), "/srv/" + std::to_string(c) + ".dat"};
        auto first = collector.Read(0);
        readings.emplace_back(std::move(first), collector.Read(25));
    }
    std::vector<std::string> failures(Collectors);
    std::vector<int> added(Collectors, 0);
    std::vector<std::thread> threads;
    for (int c = 0; c < Collectors; ++c)
        threads.emplace_back([&, c] {
            try {
                THistory h = THistory::Open(where);
                added[static_cast<std::size_t>(c)] =
                    h.Append(readings[c].first).Added + h.Append(readings[c].second).Added;
            } catch (const EHistory& e) {
                failures[static_cast<std::size_t>(c)] = e.what();
            }
        });
    for (auto& t : threads)
        t.join(); // each Append ends within the busy and lock time-outs
    for (const auto& f : failures)
        EXPECT_EQ(f, "");
    int total = 0;
    for (int a : added)
        total += a;
    EXPECT_EQ(total, 4025 - 3013 + 1);
    THistory h = THistory::Open(where);
    ExpectEvents(h, 3013, 4025);
}

// Five events of device 7 on "Котельная 2", and the same five of device 8 on another line.
// Newest first by detail 5 to 1.
void AppendFive(THistory& h) {
    THistoryReading reading;
    reading.Line = "Котельная 2";
    reading.Port = "/dev/ttyUSB1";
    reading.Address = 7;
    reading.Result = "Закончено чтение архива";
    const TArchiveRecord records[] = {
        Rec(9, 5, 0, 0, 0, 2, 1, 26),     // 2026-01-02 00:00:00
        Rec(0xFF, 4, 25, 0, 0, 2, 1, 26), // hour 25: invalid, its day alone
        Rec(5, 3, 23, 59, 59, 1, 1, 26),  // 2026-01-01 23:59:59
        Rec(7, 2, 9, 30, 0, 1, 1, 26),    // 2026-01-01 09:30:00
        Rec(5, 1, 8, 0, 0, 31, 12, 25),   // 2025-12-31 08:00:00
    };
    for (const auto& r : records)
        reading.Records.push_back({0, r, r.Code == 0xFF});
    ASSERT_EQ(h.Append(reading).Added, 5);
    reading.Line = "";
    reading.Address = 8; // another device, another line: never in the results below
    reading.Port = "/dev/ttyUSB9";
    ASSERT_EQ(h.Append(reading).Added, 5);
}

// The details of the events of device 7 that `f` lists, in its order.
std::vector<int> Details(THistory& h, THistoryFilter f) {
    f.Line = "Котельная 2";
    std::vector<int> d;
    for (const auto& e : h.Events(f))
        d.push_back(e.Record.Detail);
    return d;
}

TEST_P(History, FiltersAndDayCountsSelectTheRightEvents) {
    THistory h = THistory::Open(where);
    AppendFive(h);

    const auto details = [&](const THistoryFilter& f) { return Details(h, f); };
    THistoryFilter f;
    EXPECT_EQ(details(f), (std::vector<int>{5, 4, 3, 2, 1}));
    f.Since = "2026-01-01";
    f.Until = "2026-01-01";
    EXPECT_EQ(details(f), (std::vector<int>{3, 2}));
    f = {};
    f.Codes = {5, 9};
    EXPECT_EQ(details(f), (std::vector<int>{5, 3, 1}));
    f.Until = "2025-12-31";
    EXPECT_EQ(details(f), (std::vector<int>{1}));
    f = {};
    f.OnlyInvalid = true;
    EXPECT_EQ(details(f), (std::vector<int>{4}));
    f = {};
    f.Offset = 1;
    f.Limit = 2;
    EXPECT_EQ(details(f), (std::vector<int>{4, 3}));

    f = {};
    f.Line = "Котельная 2";
    EXPECT_EQ(h.CountEvents(f), 5);
    const auto days = h.DayCounts(f);
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].Day, "2025-12-31");
    EXPECT_EQ(days[0].Count, 1);
    EXPECT_EQ(days[1].Day, "2026-01-01");
    EXPECT_EQ(days[1].Count, 2);
    EXPECT_EQ(days[2].Day, "2026-01-02");
    EXPECT_EQ(days[2].Count, 2);
    f.Codes = {5, 9}; // counted from the events themselves
    const auto byCode = h.DayCounts(f);
    ASSERT_EQ(byCode.size(), 3u);
    EXPECT_EQ(byCode[2].Day, "2026-01-02");
    EXPECT_EQ(byCode[2].Count, 1);
    f.Codes.clear();
    const auto events = h.Events(f);
    EXPECT_EQ(events[0].Stamp, "2026-01-02 00:00:00");
    EXPECT_EQ(events[1].Stamp, "2026-01-02");

    f.Since = "2026-02-30";
    EXPECT_THROW(h.Events(f), EHistory);
}

// The viewer's table pushed into the query: its text search over the column texts, its column
// order, and the counts of what it shows, also held to the events it started with.
TEST_P(History, TextSearchOrderAndCountsFollowTheTable) {
    THistory h = THistory::Open(where);
    AppendFive(h);
    THistoryFilter f;
    const auto text = [&](std::string wanted, std::int64_t upTo = 0) {
        THistoryFilter t;
        t.Text = std::move(wanted);
        t.UpToSeq = upTo;
        return Details(h, t);
    };
    EXPECT_EQ(text("31.12"), std::vector<int>{1});
    EXPECT_EQ(text("23:59"), std::vector<int>{3});
    EXPECT_EQ(text("0xff"), std::vector<int>{4});
    EXPECT_EQ(text("недостов"), std::vector<int>{4});
    EXPECT_EQ(text("5"), (std::vector<int>{5, 4, 3, 1}));
    EXPECT_EQ(text("%"), std::vector<int>{});
    EXPECT_EQ(text("_"), std::vector<int>{});
    // Number 4 counted from the newest event, and from the newest of the first four.
    EXPECT_EQ(text("4"), (std::vector<int>{4, 2}));
    EXPECT_EQ(text("4", 4), (std::vector<int>{4, 1}));

    f.OrderBy = ColCode;
    EXPECT_EQ(Details(h, f), (std::vector<int>{3, 1, 2, 5, 4}));
    f.Offset = 1;
    f.Limit = 2;
    EXPECT_EQ(Details(h, f), (std::vector<int>{1, 2}));
    f = {};
    f.OrderBy = ColCode;
    f.Descending = true;
    EXPECT_EQ(Details(h, f), (std::vector<int>{4, 5, 2, 3, 1}));
    f.OrderBy = ColDate;
    f.Descending = false;
    EXPECT_EQ(Details(h, f), (std::vector<int>{1, 2, 3, 5, 4}));
    f.OrderBy = ColNumber;
    f.Descending = true;
    EXPECT_EQ(Details(h, f), (std::vector<int>{1, 2, 3, 4, 5}));

    f = {};
    f.Line = "Котельная 2";
    auto summary = h.Summary(f);
    EXPECT_EQ(summary.Count, 5);
    EXPECT_EQ(summary.Invalid, 1);
    EXPECT_EQ(summary.First, "2025-12-31");
    EXPECT_EQ(summary.Last, "2026-01-02");
    f.Codes = {5};
    summary = h.Summary(f);
    EXPECT_EQ(summary.Count, 2);
    EXPECT_EQ(summary.Invalid, 0);
    EXPECT_EQ(summary.Last, "2026-01-01");

    f = {};
    f.Line = "Котельная 2";
    f.Since = "2026-01-01";
    std::vector<std::pair<int, std::int64_t>> codes;
    for (const auto& c : h.CodeCounts(f))
        codes.emplace_back(c.Code, c.Count);
    EXPECT_EQ(codes, (std::vector<std::pair<int, std::int64_t>>{{5, 1}, {7, 1}, {9, 1}, {255, 1}}));
    f.Text = "23:59";
    const auto days = h.DayCounts(f);
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].Day, "2026-01-01");
    EXPECT_EQ(days[0].Count, 1);

    // The same counts in one pass: the hour-25 mark has its day but no time.
    f.Text = "";
    f.Codes = {5, 0xFF};
    const auto tally = h.Tally(f);
    EXPECT_EQ(tally.Summary.Count, 2);
    EXPECT_EQ(tally.Summary.Invalid, 1);
    EXPECT_EQ(tally.Summary.First, "2026-01-01");
    EXPECT_EQ(tally.Summary.Last, "2026-01-02");
    ASSERT_EQ(tally.Days.size(), 2u);
    EXPECT_EQ(tally.Days[1].Day, "2026-01-02");
    EXPECT_EQ(tally.Days[1].Count, 1);
    ASSERT_EQ(tally.Codes.size(), 2u);
    EXPECT_EQ(tally.Codes[1].Code, 0xFF);

    EXPECT_EQ(h.NewestSeq("Котельная 2", 7), 5);
    EXPECT_EQ(h.NewestSeq("Котельная 2", 8), 0);
    EXPECT_EQ(h.NewestSeq("Нет такой", 7), 0);
}

// The search finds in the history exactly the rows the file's table finds for the same text:
// among ordinary events, a day that is no calendar day (31.02), an hour out of range, a blank
// record, and a mark; on numbers, dates, times, codes and the state, in either case.
TEST_P(History, TextSearchFindsWhatTheFilesTableFinds) {
    std::vector<TArchiveRecord> records = {Rec(0x1C, 0x12, 23, 59, 59, 31, 12, 25),
                                           Rec(7, 3, 12, 5, 0, 31, 2, 26),
                                           Rec(0xFF, 4, 25, 61, 0, 2, 1, 26),
                                           Rec(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF),
                                           Rec(5, 0xA0, 0, 0, 0, 1, 1, 26),
                                           Rec(28, 1, 9, 30, 5, 29, 2, 28)};
    for (int n = 0; n < 40; ++n)
        records.push_back(Rec(static_cast<std::uint8_t>(n * 7), static_cast<std::uint8_t>(n),
                              static_cast<std::uint8_t>(n % 24), static_cast<std::uint8_t>(n),
                              static_cast<std::uint8_t>(59 - n),
                              static_cast<std::uint8_t>(1 + n % 28),
                              static_cast<std::uint8_t>(1 + n % 12), 24));
    THistoryReading reading;
    reading.Line = "Котельная 2";
    reading.Port = "/dev/ttyUSB1";
    reading.Address = 7;
    reading.Result = "Закончено чтение архива";
    std::vector<TRecordRow> rows;
    for (const TArchiveRecord& r : records) {
        const TListedRecord listed{0, r, r.Code == 0xFF};
        reading.Records.push_back(listed);
        rows.push_back({static_cast<int>(rows.size()) + 1, listed, RecordDay(r)});
    }
    THistory h = THistory::Open(where);
    ASSERT_EQ(h.Append(reading).Added, static_cast<int>(records.size()));

    for (const char* text : {"0x1",    "0X1c", "12", "1",    "31.02",    "25:61",    "5:6",
                             "255",    ".",    ":",  "2.2",  "02.26",    "23:59:59", "недост",
                             "НЕДОСТ", "x",    "46", "0xff", "00:00:00", "9:3",      "29.02.28"}) {
        SCOPED_TRACE(text);
        TRecordFilter table;
        table.Text = text;
        std::vector<std::int64_t> expected;
        for (const int i : FilterRows(rows, table))
            expected.push_back(rows[static_cast<std::size_t>(i)].Number);
        THistoryFilter f;
        f.Line = "Котельная 2";
        f.Address = 7;
        f.Text = text;
        std::vector<std::int64_t> found;
        const std::int64_t newest = h.NewestSeq("Котельная 2", 7);
        for (const auto& e : h.Events(f))
            found.push_back(newest - e.Seq + 1);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, expected);
        EXPECT_EQ(h.CountEvents(f), static_cast<std::int64_t>(expected.size()));
    }
}

TEST_P(History, LinesAreNamedByPortUntilRenamedAndKeepTheirName) {
    THistory h = THistory::Open(where);
    Collector c{FreshImage(), "/srv/a.dat"};
    ASSERT_EQ(h.Append(c.Read(0)).Added, 988);
    h.RenameLine("/dev/ttyUSB0", "Котельная 2");
    EXPECT_EQ(h.Append(c.Read(5)).Added, 5); // same port, no name given: the renamed line
    THistoryReading other = Collector{FreshImage(), "/srv/b.dat"}.Read(0);
    other.Line = "Насосная";
    other.Port = "/dev/ttyUSB1";
    EXPECT_EQ(h.Append(other).Added, 988);

    const auto lines = h.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Name, "Котельная 2");
    EXPECT_EQ(lines[0].Port, "/dev/ttyUSB0");
    EXPECT_EQ(lines[0].Addresses, std::vector<int>{Address});
    EXPECT_EQ(lines[1].Name, "Насосная");
    THistoryFilter f;
    f.Line = "Котельная 2";
    EXPECT_EQ(h.CountEvents(f), 993);

    EXPECT_THROW(h.RenameLine("Насосная", "Котельная 2"), EHistory);
    EXPECT_THROW(h.RenameLine("Нет такой", "Другая"), EHistory);
    EXPECT_EQ(h.Lines()[1].Name, "Насосная");
}

TEST_P(History, AHistoryOfANewerProgramIsRefused) {
    { THistory h = THistory::Open(where); }
    history::OpenHistoryConnection(where)->Execute("UPDATE kve17_schema SET version = 3");
    try {
        THistory::Open(where);
        FAIL() << "opened";
    } catch (const EHistory& e) {
        EXPECT_NE(std::string(e.what()).find("более новой версией"), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, History, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         BackendName);

// A failure leaves nothing of the reading behind, and says what went wrong.
void ExpectNothingStored(const std::string& where) {
    THistory h = THistory::Open(where);
    EXPECT_EQ(h.CountEvents({}), 0);
    EXPECT_TRUE(h.Readings({}).empty());
}

TEST(HistoryFailure, ALockedFileFailsAfterTheBusyTimeOut) {
    HistoryDatabase database(Backend::Sqlite);
    const std::string where = database.Location();
    THistory h(
        history::OpenHistoryConnection(where, {.BusyTimeout = std::chrono::milliseconds(200)}));
    const auto holder = history::OpenHistoryConnection(where);
    holder->BeginWrite();
    try {
        h.Append(Collector{FreshImage(), "a.dat"}.Read(0));
        FAIL() << "written";
    } catch (const EHistory& e) {
        EXPECT_NE(std::string(e.what()).find("занята другой программой дольше 200 мс"),
                  std::string::npos)
            << e.what();
    }
    // A reader (the viewer) is not held up by the writer.
    EXPECT_EQ(THistory(history::OpenHistoryConnection(
                           where, {.BusyTimeout = std::chrono::milliseconds(200)}))
                  .CountEvents({}),
              0);
    holder->Rollback();
    ExpectNothingStored(where);
}

// A small private file system filled up where the system allows mounting one, else a file-size
// limit of the child: either way the reading's events and log entry are all or nothing.
TEST(HistoryFailure, AFullDiskWritesNothing) {
    HistoryDatabase database(Backend::Sqlite);
    const auto folder = database.Dir().Path() / "mnt";
    std::filesystem::create_directory(folder);
    const std::string where = (folder / "history.sqlite").string();
    const std::string failures = RunInChild([&]() -> std::string {
        const bool mounted = MountPrivateTmpfs(folder.string(), 256 * 1024);
        std::optional<THistory> h(THistory::Open(where));
        if (mounted) {
            std::ofstream filler(folder / "filler", std::ios::binary);
            const std::string chunk(4096, 'x');
            while (filler.write(chunk.data(), chunk.size()))
                filler.flush();
        } else if (!LimitFileSize(16384)) {
            return "no full disk";
        }
        try {
            h->Append(Collector{FreshImage(), "a.dat"}.Read(0));
            return "written";
        } catch (const EHistory& e) {
            const std::string text = e.what();
            if (text.find("нет места") == std::string::npos)
                return text;
        }
        h.reset();
        std::filesystem::remove(folder / "filler");
        ExpectNothingStored(where);
        return ::testing::Test::HasFailure() ? "stored" : "";
    });
    EXPECT_EQ(failures, "");
}

TEST(HistoryFailure, AServerThatIsGoneIsNamed) {
    try {
        history::OpenHistoryConnection("postgresql://kve17@/postgres?host=/nonexistent&"
                                       "connect_timeout=2");
        FAIL() << "connected";
    } catch (const EHistory& e) {
        EXPECT_EQ(std::string(e.what()).rfind("сервер базы истории недоступен: ", 0), 0u)
            << e.what();
    }
    HistoryDatabase database(Backend::Postgres);
    const std::string where = database.Location();
    if (where.empty())
        GTEST_SKIP() << "KVE17_TEST_PG names no server";
    THistory h = THistory::Open(where + "&application_name=kve17_victim");
    history::OpenHistoryConnection(where)->Query(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
        " WHERE application_name = 'kve17_victim'");
    try {
        h.Append(Collector{FreshImage(), "a.dat"}.Read(0));
        FAIL() << "written";
    } catch (const EHistory& e) {
        EXPECT_EQ(e.Fault(), history::THistoryFault::ConnectionLost);
        EXPECT_EQ(std::string(e.what()).rfind("связь с сервером базы истории потеряна; ", 0), 0u)
            << e.what();
    }
    ExpectNothingStored(where);
}

} // namespace
} // namespace kve17::test
