// The history at scale: one whole fresh reading appended, and listings over a history of one
// million events of 31 devices (a year and a quarter of about 70 events a day each). On SQLite
// always; on PostgreSQL when KVE17_BENCH_PG names a server (bench/run.sh starts one).
#include "history/History.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace kve17;
using namespace kve17::history;

namespace {

constexpr int Devices = 31;
constexpr int EventsPerDevice = 32300; // 31 × 32300 ≈ 1,000,000
constexpr int ReadingRecords = 988;
constexpr int SecondsApart = 1237;

// Event n of a device: valid, rising time stamps from 1 January 2025.
TArchiveRecord EventAt(int n) {
    using namespace std::chrono;
    const sys_seconds t = sys_days{year{2025} / 1 / 1} + seconds{std::int64_t{n} * SecondsApart};
    const year_month_day day{floor<days>(t)};
    const hh_mm_ss time{t - floor<days>(t)};
    return {static_cast<std::uint8_t>(n % 200),
            static_cast<std::uint8_t>(n % 7),
            static_cast<std::uint8_t>(time.seconds().count()),
            static_cast<std::uint8_t>(time.minutes().count()),
            static_cast<std::uint8_t>(time.hours().count()),
            static_cast<std::uint8_t>(static_cast<unsigned>(day.day())),
            static_cast<std::uint8_t>(static_cast<unsigned>(day.month())),
            static_cast<std::uint8_t>(static_cast<int>(day.year()) - 2000)};
}

// A reading that found events first to first + count - 1 new (newest first, as a reading gives).
THistoryReading ReadingOf(const std::string& line, int address, int first, int count) {
    THistoryReading reading;
    reading.Line = line;
    reading.Port = "/dev/ttyUSB0";
    reading.Address = address;
    reading.File = "/srv/archive.dat";
    reading.Result = "Закончено чтение архива";
    for (int n = first + count - 1; n >= first; --n)
        reading.Records.push_back({0, EventAt(n), false});
    return reading;
}

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

// The million-event history, filled once per program run.
THistory& MillionEvents(bool server) {
    static std::optional<THistory> histories[2];
    auto& h = histories[server ? 1 : 0];
    if (h)
        return *h;
    h.emplace(THistory::Open(Where(server, "million")));
    const std::string line = "million " + std::to_string(::getpid());
    for (int d = 1; d <= Devices; ++d)
        for (int first = 0; first < EventsPerDevice; first += ReadingRecords)
            h->Append(ReadingOf(line, d, first, std::min(ReadingRecords, EventsPerDevice - first)));
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

} // namespace

BENCHMARK_CAPTURE(AppendFreshReading, Sqlite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AppendFreshReading, Postgres, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeviceMonth, Sqlite, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DeviceMonth, Postgres, true)->Unit(benchmark::kMillisecond);
// One device's year, and all 31 devices' (address 0: any).
BENCHMARK_CAPTURE(YearPerDay, Sqlite, false)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(YearPerDay, Postgres, true)->Arg(17)->Arg(0)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const char* name : {"append.sqlite", "million.sqlite"})
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(Scratch(name) + suffix);
}
