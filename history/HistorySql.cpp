#include "history/HistorySql.h"

#include <chrono>
#include <cstdio>

namespace kve17::history {

std::string NextDay(const std::string& day) {
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    if (std::sscanf(day.c_str(), "%d-%u-%u", &y, &m, &d) != 3)
        throw EHistory(THistoryFault::BadDate, {day});
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{m},
                                          std::chrono::day{d}};
    if (!ymd.ok())
        throw EHistory(THistoryFault::BadDate, {day});
    const std::chrono::year_month_day next{std::chrono::sys_days{ymd} + std::chrono::days{1}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(next.year()),
                  static_cast<unsigned>(next.month()), static_cast<unsigned>(next.day()));
    return text;
}

std::string TwoDigits(const std::string& column) {
    return "(CASE WHEN " + column + " < 10 THEN '0' ELSE '' END || " + column + ")";
}

std::string DeviceConditions(const THistoryFilter& f, const TParamList& param) {
    std::string where;
    if (!f.Line.empty())
        where += " AND l.name = " + param(f.Line);
    if (f.Address != 0)
        where += " AND d.address = " + param(std::int64_t{f.Address});
    return where;
}

} // namespace kve17::history
