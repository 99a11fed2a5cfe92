#include "history/HistoryRows.h"

#include "archive/RecordTable.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace kve17::history {

std::int64_t Int(const std::optional<std::string>& text) {
    std::int64_t value = 0;
    if (text)
        std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

std::string Text(const std::optional<std::string>& text) {
    return text.value_or("");
}

TArchiveRecord RecordOf(const TRow& row, std::size_t first) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(Int(row[first + i])); };
    return {byte(0), byte(1), byte(2), byte(3), byte(4), byte(5), byte(6), byte(7)};
}

void AddRecord(TParams& params, const TArchiveRecord& r) {
    params.reserve(params.size() + 10); // room for the columns that follow, too
    for (const std::uint8_t value :
         {r.Code, r.Detail, r.Second, r.Minute, r.Hour, r.Day, r.Month, r.Year})
        params.emplace_back(std::int64_t{value});
}

std::string UtcText(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string EventStamp(const TArchiveRecord& r) {
    const auto day = RecordDay(r);
    if (!day)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", *day / 10000, *day / 100 % 100, *day % 100);
    std::string stamp = text;
    if (r.Hour < 24 && r.Minute < 60 && r.Second < 60) {
        std::snprintf(text, sizeof text, " %02u:%02u:%02u", r.Hour, r.Minute, r.Second);
        stamp += text;
    }
    return stamp;
}

} // namespace kve17::history
