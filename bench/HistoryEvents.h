// Made-up device events for the history benchmarks: valid, rising time stamps, and the
// readings that found them.
#pragma once

#include "history/History.h"

#include <chrono>
#include <string>

namespace kve17::bench {

constexpr int SecondsApart = 1237;

// Event n of a device: valid, rising time stamps from 1 January 2025.
inline TArchiveRecord EventAt(int n) {
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
inline history::THistoryReading ReadingOf(const std::string& line, int address, int first,
                                          int count) {
    history::THistoryReading reading;
    reading.Line = line;
    reading.Port = "/dev/ttyUSB0";
    reading.Address = address;
    reading.File = "/srv/archive.dat";
    reading.Result = "Закончено чтение архива";
    for (int n = first + count - 1; n >= first; --n)
        reading.Records.push_back({0, EventAt(n), false});
    return reading;
}

} // namespace kve17::bench
