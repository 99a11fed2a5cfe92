// The history as a store that loses nothing, on SQLite and on the test PostgreSQL server: every
// reading offers its whole file and the history takes what it lacks, so the faults of the field
// (a daily event at a fixed time, a failed write, a ring that moved while it was read, events
// overwritten before they were read) leave each event the device made there exactly once. The
// store is checked against the list of events the test's device made, never against the code.
#include "archive/ArchiveOps.h"
#include "history/HistorySchema.h"
#include "tests/history/HistoryBackend.h"
#include "tests/support/TcpPeer.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <map>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using history::EHistory;
using history::THistory;
using history::THistoryFault;
using history::THistoryFilter;
using history::THistoryReading;

// Event n of an ordinary device: one every ten minutes from 1 January 2024, no two alike.
TArchiveRecord TenMinutes(int n) {
    using namespace std::chrono;
    const sys_seconds t = sys_days{year{2024} / 1 / 1} + minutes{10 * n};
    const year_month_day day{floor<days>(t)};
    const hh_mm_ss time{t - floor<days>(t)};
    return {static_cast<std::uint8_t>(1 + n % 250),
            static_cast<std::uint8_t>(n / 250 % 256),
            0,
            static_cast<std::uint8_t>(time.minutes().count()),
            static_cast<std::uint8_t>(time.hours().count()),
            static_cast<std::uint8_t>(static_cast<unsigned>(day.day())),
            static_cast<std::uint8_t>(static_cast<unsigned>(day.month())),
            static_cast<std::uint8_t>(static_cast<int>(day.year()) - 2000)};
}

// Event n of a device that logs three marks a day, at 06:00, 12:00 and 18:00 (code the hour,
// detail 0), from 1 March 2026: every day repeats the day before but for the date.
TArchiveRecord DailyMark(int n) {
    const int hour = 6 + 6 * (n % 3);
    const int day = n / 3;
    return {static_cast<std::uint8_t>(hour),
            0,
            0,
            0,
            static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(1 + day % 28),
            static_cast<std::uint8_t>(3 + day / 28),
            26};
}

// A device that makes events one after the other and keeps its last 992, newest first.
class EventDevice {
public:
    explicit EventDevice(std::function<TArchiveRecord(int)> event, int made = 0)
        : event_(std::move(event)) {
        Add(made);
    }
    void Add(int count) {
        for (int i = 0; i < count; ++i)
            Made.push_back(event_(static_cast<int>(Made.size())));
    }
    DeviceBytes Archive() const {
        DeviceBytes bytes;
        bytes.fill(0xFF);
        for (int k = 0; k < SlotCount && k < static_cast<int>(Made.size()); ++k)
            SetRecord(bytes, k, Made[Made.size() - 1 - static_cast<std::size_t>(k)]);
        return bytes;
    }
    // Events first to last, oldest first.
    std::vector<TArchiveRecord> Events(int first, int last) const {
        return {Made.begin() + first, Made.begin() + last + 1};
    }

    std::vector<TArchiveRecord> Made; // every event it made, oldest first

private:
    std::function<TArchiveRecord(int)> event_;
};

// The archive file of one collector, read for real from an EventDevice, which may add events
// between two block requests (the block number it adds before, and how many).
struct Collector {
    TArchiveImage image = FreshImage();
    std::string port = "/dev/ttyUSB0";
    std::string place = "desk:/dev/ttyUSB0";
    int address = 2;

    THistoryReading Read(EventDevice& device, std::map<int, int> addsBefore = {}) {
        FakeDevice link;
        link.Archive = device.Archive();
        link.OnRequest = [&](int block) {
            if (const auto it = addsBefore.find(block); it != addsBefore.end()) {
                device.Add(it->second);
                link.Archive = device.Archive();
            }
        };
        THistoryReading reading = ReadForHistory(image, link, address, port, "/srv/a.dat");
        reading.Place = place;
        return reading;
    }
};

class Store : public OnBackend {
protected:
    static THistoryFilter Device(int address = 2) {
        THistoryFilter f;
        f.Address = address;
        return f;
    }

    // The device's events in the history, oldest first.
    static std::vector<TArchiveRecord> Stored(THistory& h, const THistoryFilter& f = Device()) {
        std::vector<TArchiveRecord> stored;
        for (const auto& e : h.Events(f))
            stored.insert(stored.begin(), e.Record);
        return stored;
    }

    // Appends `reading` through a history that fails: the SQLite file held by another writer,
    // the server connection killed under it.
    void AppendFailing(const THistoryReading& reading) {
        if (GetParam() == Backend::Sqlite) {
            const auto holder = history::OpenHistoryConnection(where);
            holder->BeginWrite();
            THistory h(history::OpenHistoryConnection(where, {.BusyTimeout = 200ms}));
            EXPECT_THROW(h.Append(reading), EHistory);
            holder->Rollback();
            return;
        }
        const std::string name = "kve17_victim_" + std::to_string(::getpid());
        THistory h = THistory::Open(where + "&application_name=" + name);
        history::OpenHistoryConnection(where)->Query(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" +
            name + "'");
        EXPECT_THROW(h.Append(reading), EHistory);
    }
};

// Records are compared whole; a failure names the first event that differs.
::testing::AssertionResult SameEvents(const std::vector<TArchiveRecord>& stored,
                                      const std::vector<TArchiveRecord>& made) {
    for (std::size_t i = 0; i < std::min(stored.size(), made.size()); ++i)
        if (!SameRecord(stored[i], made[i]))
            return ::testing::AssertionFailure()
                   << "event " << i << " of " << made.size() << " differs";
    if (stored.size() != made.size())
        return ::testing::AssertionFailure()
               << stored.size() << " events stored, " << made.size() << " made";
    return ::testing::AssertionSuccess();
}

TEST_P(Store, ADailyEventAtAFixedTimeDoesNotHideTheNewOnes) {
    EventDevice device(DailyMark, 30); // ten days
    Collector c;
    THistory h = THistory::Open(where);
    EXPECT_EQ(h.Append(c.Read(device)).Added, 30);
    device.Add(2); // 06:00 and 12:00 of the eleventh day; the history's newest is at 18:00
    const THistoryReading reading = c.Read(device);
    EXPECT_EQ(reading.Found, 2);
    EXPECT_EQ(h.Append(reading).Added, 2);
    // Fewer new events than a day's marks: the file's own rule (the time of day) takes them.
    for (const int count : {1, 2}) {
        device.Add(count);
        EXPECT_EQ(h.Append(c.Read(device)).Added, count);
    }
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(0, 34)));
}

TEST_P(Store, WhatAFailedWriteLeftOutComesWithTheNextGoodReading) {
    EventDevice device(TenMinutes, 1200);
    Collector c;
    THistory(history::OpenHistoryConnection(where)).Append(c.Read(device));
    device.Add(40);
    AppendFailing(c.Read(device)); // the file took the 40, the history did not
    device.Add(7);
    THistory h = THistory::Open(where);
    EXPECT_EQ(h.Append(c.Read(device)).Added, 47);
    // The first file held the device's last 988 of 1200: events 212 to 1199.
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(212, 1246)));
    const auto log = h.Readings(Device());
    ASSERT_EQ(log.size(), 2u); // the failed write left nothing, not even its log entry
    EXPECT_EQ(log[0].Found, 7);
    EXPECT_EQ(log[0].Added, 47);
}

TEST_P(Store, ARingThatMovedWhileItWasReadStoresEachEventOnce) {
    EventDevice device(TenMinutes, 1500);
    Collector c;
    THistory h = THistory::Open(where);
    // 5 events come before block 17 and 3 before block 40: blocks 17 and 40 begin with records
    // of the blocks before them. Block 62 is then read from events 1507 back; its last four,
    // 519 to 516, become the end markers, so the file's oldest event is 520.
    h.Append(c.Read(device, {{17, 5}, {40, 3}}));
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(520, 1499)));
    // Incremental: 10 more before the reading, 4 before its second block.
    device.Add(10);
    h.Append(c.Read(device, {{2, 4}}));
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(520, 1517)));
    h.Append(c.Read(device));
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(520, 1521)));
    EXPECT_TRUE(h.Gaps(Device()).empty());
}

TEST_P(Store, TheSameFileTwiceOrAnOlderFileAfterANewerOneAddsNothing) {
    EventDevice device(TenMinutes, 2000);
    Collector first;
    Collector second;
    THistory h = THistory::Open(where);
    const THistoryReading old = first.Read(device);
    device.Add(3000); // far more than a ring: the old file shares nothing with the history's end
    const THistoryReading recent = second.Read(device);
    EXPECT_EQ(h.Append(old).Added, 988);
    const auto joined = h.Append(recent);
    EXPECT_EQ(joined.Added, 988);
    EXPECT_TRUE(joined.Gap);
    EXPECT_EQ(h.Append(recent).Added, 0);
    EXPECT_EQ(h.Append(old).Added, 0);
    std::vector<TArchiveRecord> made = device.Events(1012, 1999);
    const auto later = device.Events(4012, 4999);
    made.insert(made.end(), later.begin(), later.end());
    EXPECT_TRUE(SameEvents(Stored(h), made));
}

TEST_P(Store, EventsOverwrittenBeforeTheyWereReadAreAMarkedGap) {
    EventDevice device(TenMinutes, 1000);
    Collector c;
    THistory h = THistory::Open(where);
    h.Append(c.Read(device)); // events 12 to 999
    device.Add(1500);         // 1000 to 2499; the device keeps 1508 on
    const auto outcome = h.Append(c.Read(device));
    EXPECT_TRUE(outcome.Gap);
    EXPECT_TRUE(outcome.Warning);
    EXPECT_EQ(outcome.Added, 988); // 1512 to 2499: the incremental reading found no match

    std::vector<TArchiveRecord> made = device.Events(12, 999);
    const auto after = device.Events(1512, 2499);
    made.insert(made.end(), after.begin(), after.end());
    EXPECT_TRUE(SameEvents(Stored(h), made));

    const auto gaps = h.Gaps(Device());
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].AfterSeq, 988);
    EXPECT_EQ(gaps[0].Before, "2024-01-07 22:30:00"); // event 999
    EXPECT_EQ(gaps[0].After, "2024-01-11 12:00:00");  // event 1512
    EXPECT_EQ(gaps[0].File, "/srv/a.dat");
    EXPECT_EQ(h.Readings(Device())[0].Gap, true);

    // The listing places the gap between the two events it lies between.
    THistoryFilter around = Device();
    around.Since = "2024-01-07";
    around.Until = "2024-01-11";
    std::vector<std::string> items;
    h.StreamListing(around, [&](const history::THistoryItem& item) {
        if (const auto* gap = std::get_if<history::THistoryGap>(&item))
            items.push_back("gap after " + std::to_string(gap->AfterSeq));
        else
            items.push_back(std::to_string(std::get<history::THistoryEvent>(item).Seq));
        return true;
    });
    ASSERT_GE(items.size(), 3u);
    const auto gap = std::find(items.begin(), items.end(), "gap after 988");
    ASSERT_NE(gap, items.end());
    ASSERT_NE(gap, items.begin());
    EXPECT_EQ(*(gap - 1), "989");
    EXPECT_EQ(*(gap + 1), "988");
    // A page lists the gaps between two of its own events only.
    const auto page = [&](std::int64_t offset, std::int64_t limit) {
        THistoryFilter f = Device();
        f.Offset = offset;
        f.Limit = limit;
        std::vector<std::string> listed;
        h.StreamListing(f, [&](const history::THistoryItem& item) {
            const auto* gap = std::get_if<history::THistoryGap>(&item);
            listed.push_back(gap ? "gap"
                                 : std::to_string(std::get<history::THistoryEvent>(item).Seq));
            return true;
        });
        return listed;
    };
    EXPECT_EQ(page(987, 2), (std::vector<std::string>{"989", "gap", "988"}));
    EXPECT_EQ(page(985, 3), (std::vector<std::string>{"991", "990", "989"}));
    EXPECT_EQ(page(988, 2), (std::vector<std::string>{"988", "987"}));
    // Dates that lie on one side of it do not list it.
    around.Since = "2024-01-12";
    around.Until = "2024-01-12";
    EXPECT_TRUE(h.Gaps(around).empty());
}

TEST_P(Store, NewEventsThatFillMostOfTheRingWarn) {
    EventDevice device(TenMinutes, 100);
    Collector c;
    THistory h = THistory::Open(where);
    EXPECT_FALSE(h.Append(c.Read(device)).Warning); // a fresh start warns of nothing
    device.Add(800);
    const auto full = h.Append(c.Read(device));
    EXPECT_TRUE(full.Warning);
    EXPECT_FALSE(full.Gap);
    device.Add(100);
    EXPECT_FALSE(h.Append(c.Read(device)).Warning);
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(0, 999)));
    EXPECT_EQ(h.Readings(Device())[1].Warning, true);
}

TEST_P(Store, AFailedReadingIsLoggedWithItsResultAndAddsNothing) {
    THistory h = THistory::Open(where);
    THistoryReading failed;
    failed.Port = "/dev/ttyUSB0";
    failed.Address = 4;
    failed.File = "/srv/d4.dat";
    failed.Ok = false;
    failed.Result = "устройство 4 /dev/ttyUSB0 не отвечает на запрос";
    failed.Records.push_back({0, TenMinutes(1), false}); // offered by mistake: not taken
    const auto outcome = h.Append(failed);
    EXPECT_EQ(outcome.Added, 0);
    const auto log = h.Readings(Device(4));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].Ok);
    EXPECT_EQ(log[0].Result, "устройство 4 /dev/ttyUSB0 не отвечает на запрос");
    EXPECT_EQ(h.CountEvents(Device(4)), 0);
}

TEST_P(Store, ADayThatIsNoCalendarDayHasNoDateInTheHistory) {
    THistory h = THistory::Open(where);
    THistoryReading reading;
    reading.Port = "/dev/ttyUSB0";
    reading.Address = 2;
    reading.Result = "Закончено чтение архива";
    reading.Records = {{0, Rec(5, 1, 10, 0, 0, 1, 3, 24), false},   // 01.03.24
                       {0, Rec(5, 2, 10, 0, 0, 31, 2, 24), false},  // 31.02.24
                       {0, Rec(5, 3, 10, 0, 0, 29, 2, 24), false}}; // 29.02.24, a leap day
    ASSERT_EQ(h.Append(reading).Added, 3);
    const auto events = h.Events(Device());
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Stamp, "2024-03-01 10:00:00");
    EXPECT_EQ(events[1].Stamp, "");
    EXPECT_EQ(events[2].Stamp, "2024-02-29 10:00:00");
    THistoryFilter february = Device();
    february.Since = "2024-02-01";
    february.Until = "2024-02-29";
    EXPECT_EQ(h.CountEvents(february), 1);
}

// --- A line is a place.

using Lines = Store;

TEST_P(Lines, ALineReadUnderACOMNameAndAPathIsOneLine) {
    EventDevice device(TenMinutes, 1200);
    Collector desk; // the desktop program: a COM name
    desk.port = "COM3";
    Collector collector; // collect: the device's path
    collector.port = "/dev/serial/by-id/usb-FTDI-if00-port0";
    THistory h = THistory::Open(where);
    h.Append(desk.Read(device));
    device.Add(30);
    h.Append(collector.Read(device));
    device.Add(5);
    h.Append(desk.Read(device));
    const auto lines = h.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Name, "COM3");
    EXPECT_EQ(lines[0].Place, "desk:/dev/ttyUSB0");
    EXPECT_EQ(lines[0].Port, "COM3"); // as the last reading gave it
    EXPECT_TRUE(SameEvents(Stored(h), device.Events(212, 1234)));
}

TEST_P(Lines, TwoHostsCom1AreTwoLines) {
    EventDevice boiler(TenMinutes, 50);
    EventDevice pumps(DailyMark, 20);
    Collector a;
    a.port = "COM1";
    a.place = "desk-a:/dev/ttyS0";
    Collector b = a;
    b.place = "desk-b:/dev/ttyS0";
    THistory h = THistory::Open(where);
    h.Append(a.Read(boiler));
    h.Append(b.Read(pumps));
    const auto lines = h.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Name, "COM1");
    EXPECT_EQ(lines[1].Name, "COM1 (desk-b)");
    THistoryFilter f = Device();
    f.Line = "COM1";
    EXPECT_TRUE(SameEvents(Stored(h, f), boiler.Events(0, 49)));
    f.Line = "COM1 (desk-b)";
    EXPECT_TRUE(SameEvents(Stored(h, f), pumps.Events(0, 19)));
}

TEST_P(Lines, ANamedReadingTakesThePlaceForItsLine) {
    EventDevice device(TenMinutes, 100);
    Collector c;
    THistory h = THistory::Open(where);
    THistoryReading named = c.Read(device);
    named.Line = "Котельная";
    h.Append(named);
    device.Add(3);
    h.Append(c.Read(device)); // no name: found by its place
    ASSERT_EQ(h.Lines().size(), 1u);
    device.Add(2);
    named = c.Read(device);
    named.Line = "Насосная"; // the place goes over to the other name, which starts afresh
    h.Append(named);
    const auto lines = h.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Name, "Котельная");
    EXPECT_EQ(lines[0].Place, "");
    EXPECT_EQ(lines[1].Name, "Насосная");
    EXPECT_EQ(lines[1].Place, "desk:/dev/ttyUSB0");
    THistoryFilter f = Device();
    f.Line = "Котельная";
    EXPECT_TRUE(SameEvents(Stored(h, f), device.Events(0, 102)));
}

// --- A history of the previous release, upgraded in place.

class Upgrade : public Store {
protected:
    // The fixture's tables copied into this test's database made at version 1.
    void LoadFixture() {
        const std::string fixture =
            std::string(KVE17_SOURCE_DIR) + "/tests/history/history-v1.sqlite";
        if (GetParam() == Backend::Sqlite) {
            std::filesystem::copy_file(fixture, where);
            return;
        }
        const std::string copy = database.Dir().File("v1.sqlite");
        std::filesystem::copy_file(fixture, copy);
        const auto from = history::OpenHistoryConnection(copy);
        const auto to = history::OpenHistoryConnection(where);
        history::PrepareSchema(*to, 1);
        for (const std::string table : {"lines", "devices", "readings", "events", "event_days"}) {
            const auto rows = from->Query("SELECT * FROM " + table);
            for (const auto& row : rows) {
                std::vector<history::TValue> values;
                std::string marks;
                for (const auto& cell : row) {
                    values.push_back(cell ? history::TValue{*cell} : history::TValue{nullptr});
                    marks += (marks.empty() ? "$" : ", $") + std::to_string(values.size());
                }
                to->Execute("INSERT INTO " + table + " VALUES (" + marks + ")", values);
            }
            if (table != "events" && table != "event_days")
                to->Query("SELECT setval(pg_get_serial_sequence('" + table +
                          "', 'id'), (SELECT max(id) FROM " + table + "))");
        }
    }
};

TEST_P(Upgrade, AVersion1HistoryKeepsItsNamesAndEventsAndItsLinesFindTheirPlaces) {
    LoadFixture();
    THistory h = THistory::Open(where);
    EXPECT_EQ(history::OpenHistoryConnection(where)->Query("SELECT version FROM kve17_schema"),
              (std::vector<history::TRow>{{"2"}}));
    auto lines = h.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Name, "COM3");
    EXPECT_EQ(lines[1].Name, "Котельная 2");
    EXPECT_EQ(lines[1].Port, "/dev/ttyUSB0");
    EXPECT_EQ(lines[1].Addresses, (std::vector<int>{2, 7}));
    EXPECT_EQ(lines[2].Name, "Насосная");
    for (const auto& line : lines)
        EXPECT_EQ(line.Place, "") << line.Name;
    THistoryFilter f = Device();
    f.Line = "Котельная 2";
    std::vector<int> details;
    for (const auto& e : h.Events(f))
        details.push_back(e.Record.Detail);
    EXPECT_EQ(details, (std::vector<int>{50, 45, 40, 7, 10, 20}));
    const auto log = h.Readings({});
    ASSERT_EQ(log.size(), 5u);
    for (const auto& r : log) {
        EXPECT_TRUE(r.Ok);
        EXPECT_EQ(r.Offered, r.Found);
    }

    // The renamed line of /dev/ttyUSB0 takes its place at its next reading, which joins the
    // events it had: the file holds the last three of them and two new ones.
    THistoryReading reading;
    reading.Port = "/dev/ttyUSB0";
    reading.Place = "desk:/dev/serial/by-id/usb-FTDI_B-if00-port0";
    reading.Address = 2;
    reading.Result = "Закончено чтение архива";
    reading.Records = {{0, Rec(6, 60, 12, 0, 0, 5, 11, 26), false},
                       {0, Rec(6, 55, 11, 0, 0, 5, 11, 26), false},
                       {0, Rec(5, 50, 10, 0, 0, 4, 11, 26), false},
                       {0, Rec(4, 45, 9, 0, 0, 3, 11, 26), false},
                       {0, Rec(3, 40, 8, 30, 0, 2, 11, 26), false}};
    EXPECT_EQ(h.Append(reading).Added, 2);
    reading.Port = "COM3";
    reading.Place = "desk:/dev/ttyS2";
    reading.Address = 1;
    reading.Records = {{0, Rec(6, 59, 6, 16, 0, 6, 11, 26), false},
                       {0, Rec(6, 60, 6, 15, 0, 6, 11, 26), false}};
    EXPECT_EQ(h.Append(reading).Added, 1);
    lines = h.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Place, "desk:/dev/ttyS2");
    EXPECT_EQ(lines[1].Place, "desk:/dev/serial/by-id/usb-FTDI_B-if00-port0");
    EXPECT_EQ(h.CountEvents(f), 8);
    f.Line = "COM3";
    f.Address = 1;
    EXPECT_EQ(h.CountEvents(f), 4);
}

// --- Listings a row at a time.

std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const auto info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

TEST_P(Store, AListingHandsItsRowsOverOneAtATimeInBoundedMemory) {
    constexpr int Events = 100000;
    {
        THistory h = THistory::Open(where);
        THistoryReading reading;
        reading.Port = "/dev/ttyUSB0";
        reading.Address = 2;
        reading.Result = "Закончено чтение архива";
        reading.Records = {{0, TenMinutes(0), false}};
        h.Append(reading);
    }
    // The rest straight into the table, as many readings would have put them.
    const auto db = history::OpenHistoryConnection(where);
    const std::string columns = "(device_id, seq, reading_id, code, detail, second, minute, hour,"
                                " day, month, year, stamp, invalid)";
    const std::string values = "SELECT 1, i, 1, 1 + i % 250, 0, 0, 0, 0, 1, 1, 24, NULL, 0";
    if (GetParam() == Backend::Sqlite)
        db->Execute("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                    std::to_string(Events) + ") INSERT INTO events " + columns + " " + values +
                    " FROM n");
    else
        db->Execute("INSERT INTO events " + columns + " " + values + " FROM generate_series(2, " +
                    std::to_string(Events) + ") i");

    THistory h = THistory::Open(where);
    const std::size_t before = HeapInUse();
    std::size_t most = 0;
    std::int64_t expected = Events;
    bool inOrder = true;
    h.StreamEvents(Device(), [&](const history::THistoryEvent& e) {
        most = std::max(most, HeapInUse());
        inOrder = inOrder && e.Seq == expected--;
        return true;
    });
    EXPECT_EQ(expected, 0);
    EXPECT_TRUE(inOrder);
    // All rows at once would take tens of megabytes.
    EXPECT_LT(most - std::min(most, before), 8u << 20);

    // A listing ended early leaves the connection ready for the next.
    int taken = 0;
    h.StreamEvents(Device(), [&](const history::THistoryEvent&) { return ++taken < 10; });
    EXPECT_EQ(taken, 10);
    EXPECT_EQ(h.CountEvents(Device()), Events);
}

// --- Waits that end.

// A pipe whose read end becomes readable when the test says stop, as the stop signals' does.
class StopPipe {
public:
    StopPipe() { EXPECT_EQ(::pipe2(ends_, O_CLOEXEC), 0); }
    ~StopPipe() {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    int Fd() const { return ends_[0]; }
    void Stop() { EXPECT_EQ(::write(ends_[1], "x", 1), 1); }

private:
    int ends_[2] = {-1, -1};
};

TEST_P(Store, AStopEndsAWaitForAnotherWritersLockAtOnce) {
    EventDevice device(TenMinutes, 50);
    Collector c;
    THistory(history::OpenHistoryConnection(where)).Append(c.Read(device));
    device.Add(5);
    const THistoryReading reading = c.Read(device);

    // The other writer: SQLite's write lock, or the device's row on the server.
    const auto holder = history::OpenHistoryConnection(where);
    holder->BeginWrite();
    if (GetParam() == Backend::Postgres)
        holder->Query("SELECT id FROM devices FOR UPDATE");

    StopPipe stop;
    const auto patient = std::chrono::milliseconds(60000);
    THistory h(
        history::OpenHistoryConnection(where, {.BusyTimeout = patient, .StopFd = stop.Fd()}));
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop.Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        h.Append(reading);
        ADD_FAILURE() << "written past the lock";
    } catch (const EHistory& e) {
        EXPECT_EQ(e.Fault(), THistoryFault::Stopped) << e.what();
    }
    stopper.join();
    // Far sooner than the lock would have let it go.
    EXPECT_LT(std::chrono::steady_clock::now() - start, patient / 4);
    holder->Rollback();
    THistory after = THistory::Open(where);
    EXPECT_TRUE(SameEvents(Stored(after), device.Events(0, 49)));
}

INSTANTIATE_TEST_SUITE_P(Backends, Store, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, Lines, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, Upgrade, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         BackendName);

// A server that takes the connection and never answers: a listener that never accepts.
TEST(ServerWaits, AServerThatNeverAnswersIsGivenUpAtTheConnectTimeOut) {
    TcpPeer silent;
    const auto start = std::chrono::steady_clock::now();
    try {
        history::OpenHistoryConnection(
            "postgresql://kve17@127.0.0.1:" + std::to_string(silent.Port()) +
            "/postgres?connect_timeout=1");
        ADD_FAILURE() << "connected";
    } catch (const EHistory& e) {
        EXPECT_EQ(e.Fault(), THistoryFault::Unreachable);
        EXPECT_EQ(std::string(e.what()),
                  "сервер базы истории недоступен: нет ответа за 1 с; проверьте адрес сервера, "
                  "имя пользователя и пароль (~/.pgpass)");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(ServerWaits, AStopEndsAConnectionUnderWayAtOnce) {
    TcpPeer silent;
    StopPipe stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        history::OpenHistoryConnection(
            "postgresql://kve17@127.0.0.1:" + std::to_string(silent.Port()) +
                "/postgres?connect_timeout=120",
            {.StopFd = stop.Fd()});
        ADD_FAILURE() << "connected";
    } catch (const EHistory& e) {
        EXPECT_EQ(e.Fault(), THistoryFault::Stopped) << e.what();
    }
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(ServerWaits, ALockHeldLongerThanTheLockTimeOutIsNamedWithWhatToDo) {
    HistoryDatabase database(Backend::Postgres);
    const std::string where = database.Location();
    if (where.empty())
        GTEST_SKIP() << "KVE17_TEST_PG names no server";
    EventDevice device(TenMinutes, 20);
    Collector c;
    THistory(history::OpenHistoryConnection(where)).Append(c.Read(device));
    const auto holder = history::OpenHistoryConnection(where);
    holder->BeginWrite();
    holder->Query("SELECT id FROM devices FOR UPDATE");
    THistory h(history::OpenHistoryConnection(where, {.BusyTimeout = 300ms}));
    try {
        h.Append(c.Read(device));
        ADD_FAILURE() << "written past the lock";
    } catch (const EHistory& e) {
        EXPECT_EQ(e.Fault(), THistoryFault::LockTimeout);
        EXPECT_EQ(std::string(e.what()),
                  "база истории на сервере занята другим сеансом дольше 300 мс; события будут "
                  "записаны при следующем чтении; если это повторяется, найдите сеанс, который "
                  "держит блокировку (pg_stat_activity)");
    }
    holder->Rollback();
}

} // namespace
} // namespace kve17::test
