#include "serial/PortTarget.h"

#include <charconv>

namespace kve17 {

namespace {

constexpr std::string_view kEcho = "?echo";
constexpr std::string_view kTcp = "tcp://";
constexpr std::string_view kRfc2217 = "rfc2217://";

bool IsPortNumber(std::string_view text) {
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() &&
           text[0] != '+' && number >= 1 && number <= 65535;
}

// "host:4001" or "[fe80::1]:4001".
bool SplitHostPort(std::string_view text, TPortTarget& target) {
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string_view::npos)
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return false; // an IPv6 address needs its brackets
    }
    if (host.empty() || host.find_first_of("/?# ") != std::string_view::npos || !IsPortNumber(port))
        return false;
    target.Host = host;
    target.Service = port;
    return true;
}

} // namespace

bool IsNetworkTarget(std::string_view target) {
    return target.starts_with(kTcp) || target.starts_with(kRfc2217);
}

std::string_view TargetWithoutOptions(std::string_view target) {
    if (target.ends_with(kEcho))
        target.remove_suffix(kEcho.size());
    return target;
}

std::optional<TPortTarget> ParsePortTarget(std::string_view text) {
    TPortTarget target;
    target.Echo = text.ends_with(kEcho);
    const std::string_view bare = TargetWithoutOptions(text);
    if (!IsNetworkTarget(bare)) {
        target.Path = bare;
        return target;
    }
    const bool raw = bare.starts_with(kTcp);
    target.Kind = raw ? TLineKind::RawTcp : TLineKind::Rfc2217;
    if (!SplitHostPort(bare.substr(raw ? kTcp.size() : kRfc2217.size()), target))
        return std::nullopt;
    return target;
}

} // namespace kve17
