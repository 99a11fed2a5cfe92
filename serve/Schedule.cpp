#include "serve/Schedule.h"

#include <charconv>

namespace kve17::serve {

namespace {

std::optional<long long> WholeNumber(std::string_view digits) {
    long long n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        digits.front() == '-' || digits.front() == '+')
        return std::nullopt;
    return n;
}

} // namespace

std::optional<std::chrono::seconds> ParseEvery(std::string_view written) {
    if (written.size() < 2)
        return std::nullopt;
    long long unit = 0;
    switch (written.back()) {
    case 's':
        unit = 1;
        break;
    case 'm':
        unit = 60;
        break;
    case 'h':
        unit = 3600;
        break;
    case 'd':
        unit = 86400;
        break;
    default:
        return std::nullopt;
    }
    const auto n = WholeNumber(written.substr(0, written.size() - 1));
    // Up to a year: longer is no schedule.
    if (!n || *n <= 0 || *n * unit > 366LL * 86400)
        return std::nullopt;
    return std::chrono::seconds(*n * unit);
}

Clock::time_point NextReading(std::optional<Clock::time_point> last, bool lastOk,
                              std::chrono::seconds every, Clock::time_point now) {
    if (!last || !lastOk)
        return now;
    const Clock::time_point due = *last + every;
    return due < now ? now : due;
}

std::optional<ListenAddress> ParseListen(std::string_view written) {
    ListenAddress address;
    std::string_view port = written;
    if (const auto colon = written.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = written.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != std::string_view::npos)
            return std::nullopt; // an IPv6 address needs its brackets
        if (host.empty())
            return std::nullopt;
        address.Host = host;
        port = written.substr(colon + 1);
    }
    const auto n = WholeNumber(port);
    if (!n || *n > 65535)
        return std::nullopt;
    address.Port = static_cast<int>(*n);
    return address;
}

} // namespace kve17::serve
