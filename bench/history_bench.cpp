// The history at scale: one whole fresh reading appended, a whole file offered again with
// nothing or a few events new, and listings over a history of one
// million events of 31 devices (a year and a quarter of about 70 events a day each). On SQLite
// always; on PostgreSQL when KVE17_BENCH_PG names a server (bench/run.sh starts one).
#include "bench/HistoryEvents.h"
#include "history/History.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace kve17;
using namespace kve17::history;
using kve17::bench::ReadingOf;

namespace {

constexpr int Devices = 31;
constexpr int EventsPerDevice = 32300; // 31 × 32300 ≈ 1,000,000
constexpr int ReadingRecords = 988;
constexpr int LongEvents = 100000;

std::string Scratch(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("kve17-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string Where(bool server, const std::string& name) {
    if (!server)
        return Scratch(name + ".sqlite");
    const char* url = std::getenv("KVE17_BENCH_PG");
    return url ? url : "";
}

void AppendFreshReading(benchmark::State& state, bool server) {
    const std::string where = Where(server, "append");
    if (where.empty())
        return state.SkipWithError("KVE17_BENCH_PG is not set");
    THistory h = THistory::Open(where);
    int line = 0;
    for (auto _ : state) {
        // A device never seen before, so every reading adds all of its records.
        state.PauseTiming();
        const THistoryReading reading =
            ReadingOf("bench " + std::to_string(::getpid()) + " " + std::to_string(++line), 1, 0,
                      ReadingRecords);
        state.ResumeTiming();
        benchmark::DoNotOptimize(h.Append(reading));
    }
}

// Every reading offers its whole file; a file that the history holds already, or all but its
// newest `range(0)` events, as the next reading of a device read often offers it.
void AppendWholeFile(benchmark::State& state, bool server) {
    const std::string where = Where(server, "append");
    if (where.empty())
        return state.SkipWithError("KVE17_BENCH_PG is not set");
    THistory h = THistory::Open(where);
    static int run = 0;
    const std::string line = "whole " + std::to_string(::getpid()) + " " + std::to_string(++run);
    const int fresh = static_cast<int>(state.range(0));
    h.Append(ReadingOf(line, 1, 0, ReadingRecords));
    int first = 0;
    for (auto _ : state) {
        state.PauseTiming();
        first += fresh;
        const THistoryReading reading = ReadingOf(line, 1, first, ReadingRecords);
        state.ResumeTiming();
        benchmark::DoNotOptimize(h.Append(reading));
    }
}

// 31 devices of about 32,300 events each; each reading's file holds the device's last 988
// events, half of them new.
void FillMillion(THistory& h, const std::string& line) {
    for (int d = 1; d <= Devices; ++d)
        for (int end = ReadingRecords; end < EventsPerDevice + ReadingRecords / 2;
             end += ReadingRecords / 2) {
            const int last = std::min(end, EventsPerDevice);
            const int first = std::max(0, last - ReadingRecords);
            h.Append(ReadingOf(line, d, first, last - first));
        }
}

// The million-event history, filled once per program run.
THistory& MillionEvents(bool server) {
    static std::optional<THistory> histories[2];
    auto& h = histories[server ? 1 : 0];
    if (h)
        return *h;
    h.emplace(THistory::Open(Where(server, "million")));
    FillMillion(*h, "million " + std::to_string(::getpid()));
    return *h;
}

void DeviceMonth(benchmark::State& state, bool server) {
    if (Where(server, "million").empty())
        return state.SkipWithError("KVE17_BENCH_PG is not set");
    THistory& h = MillionEvents(server);
    THistoryFilter f;
    f.Address = 17;
    f.Since = "2025-06-01";
    f.Until = "2025-06-30";
    for (auto _ : state)
        state.counters["events"] = static_cast<double>(h.Events(f).size());
}

void YearPerDay(benchmark::State& state, bool server) {
    if (Where(server, "million").empty())
        return state.SkipWithError("KVE17_BENCH_PG is not set");
    THistory& h = MillionEvents(server);
    THistoryFilter f;
    f.Address = static_cast<int>(state.range(0));
    f.Since = "2025-01-01";
    f.Until = "2025-12-31";
    for (auto _ : state)
        state.counters["days"] = static_cast<double>(h.DayCounts(f).size());
}

// One device of 100,000 events, as the viewer shows it, filled once per program run.
THistory& LongDevice(bool server, std::string& line) {
    static std::optional<THistory> histories[2];
    line = "long " + std::to_string(::getpid());
    auto& h = histories[server ? 1 : 0];
    if (h)
        return *h;
    h.emplace(THistory::Open(Where(server, "long")));
    for (int first = 0; first < LongEvents; first += ReadingRecords)
        h->Append(ReadingOf(line, 7, first, std::min(ReadingRecords, LongEvents - first)));
    return *h;
}

// What a search typed in the viewer asks: the counts per day and code and the first page.
void DeviceSearch(benchmark::State& state, bool server) {
    if (Where(server, "long").empty())
        return state.SkipWithError("KVE17_BENCH_PG is not set");
    std::string line;
    THistory& h = LongDevice(server, line);
    THistoryFilter f;
    f.Line = line;
    f.Address = 7;
    f.UpToSeq = h.NewestSeq(line, 7);
    f.Text = state.range(0) == 0 ? "0x1" : "13:0";
    for (auto _ : state) {
        state.counters["events"] = static_cast<double>(h.Tally(f).Summary.Count);
        f.Limit = 500;
        benchmark::DoNotOptimize(h.Events(f));
        f.Limit = 0;
    }
}

} // namespace

BENCHMARK_CAPTURE(AppendFreshReading, Sqlite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AppendFreshReading, Postgres, true)->Unit(benchmark::kMillisecond);
// The file held already, and all of it but the newest 5.
BENCHMARK_CAPTURE(AppendWholeFile, Sqlite, false)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AppendWholeFile, Postgres, true)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeviceMonth, Sqlite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeviceMonth, Postgres, true)->Unit(benchmark::kMillisecond);
// One device's year, and all 31 devices' (address 0: any).
BENCHMARK_CAPTURE(YearPerDay, Sqlite, false)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(YearPerDay, Postgres, true)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);
// A code in hex, and a time of day.
BENCHMARK_CAPTURE(DeviceSearch, Sqlite, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeviceSearch, Postgres, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // --write-history=PATH: the million-event history as a file, for kve17ctl history to list.
    const std::string_view write = "--write-history=";
    if (argc == 2 && std::string_view(argv[1]).starts_with(write)) {
        THistory h = THistory::Open(std::string(argv[1] + write.size()));
        FillMillion(h, "million");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const char* name : {"append.sqlite", "million.sqlite"})
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(Scratch(name) + suffix);
}
