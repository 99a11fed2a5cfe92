#include "serial/ReadPlan.h"

#include <algorithm>
#include <limits>

namespace kve17::tty {

namespace {

constexpr std::uint32_t kMaxTimeout = std::numeric_limits<std::uint32_t>::max();

} // namespace

std::chrono::steady_clock::time_point Later(std::chrono::steady_clock::time_point start,
                                            std::uint64_t ms) {
    using std::chrono::milliseconds;
    constexpr std::uint64_t kCap = std::uint64_t{1} << 40; // about 35 years
    return start + milliseconds(static_cast<milliseconds::rep>(std::min(ms, kCap)));
}

ReadPlan PlanRead(const ReadTimeouts& t, std::size_t wanted,
                  std::chrono::steady_clock::time_point start) {
    ReadPlan plan;
    if (t.Interval == kMaxTimeout && t.Multiplier == 0 && t.Constant == 0) {
        plan.Total = start;
    } else if (t.Interval == kMaxTimeout && t.Multiplier == kMaxTimeout && t.Constant != 0 &&
               t.Constant != kMaxTimeout) {
        plan.Total = Later(start, t.Constant);
        plan.ReturnOnAny = true;
    } else {
        if (t.Multiplier != 0 || t.Constant != 0)
            plan.Total = Later(start, std::uint64_t{t.Multiplier} * wanted + t.Constant);
        if (t.Interval != 0)
            plan.Interval = std::chrono::milliseconds(t.Interval);
    }
    return plan;
}

} // namespace kve17::tty
