#include "serve/ModemFilter.h"

#include <algorithm>

namespace kve17::serve {

void ModemFilter::Boundary() {
    between_ = true;
    held_.clear();
}

ModemFilter::Match ModemFilter::Try(std::span<const std::uint8_t> rest, const Bytes& token) const {
    if (token.empty())
        return Match::None;
    const std::size_t n = std::min(rest.size(), token.size());
    if (!std::equal(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n), token.begin()))
        return Match::None;
    return n == token.size() ? Match::Whole : Match::Partial;
}

void ModemFilter::Feed(std::span<const std::uint8_t> chunk, Bytes& out) {
    // Held bytes began where a token may stand; they and this chunk are looked at as one.
    Bytes joined;
    std::span<const std::uint8_t> rest = chunk;
    const bool resumed = !held_.empty();
    if (resumed) {
        joined = std::move(held_);
        joined.insert(joined.end(), chunk.begin(), chunk.end());
        held_.clear();
        rest = joined;
    }
    bool packetStart = true;
    const Bytes none;
    while (!rest.empty()) {
        const bool perPacket = settings_.Mode == IdMode::EachPacket && (packetStart || between_);
        const Bytes& id = perPacket ? settings_.Id : none;
        const Bytes& beat = between_ ? settings_.Heartbeat : none;
        const Match idMatch = Try(rest, id);
        const Match beatMatch = Try(rest, beat);
        if (idMatch == Match::Whole || beatMatch == Match::Whole) {
            // The longer of the two when both fit, so that an ID beginning like the heartbeat
            // is not cut in two.
            const bool takeId =
                idMatch == Match::Whole && (beatMatch != Match::Whole || id.size() >= beat.size());
            const std::size_t n = takeId ? id.size() : beat.size();
            rest = rest.subspan(n);
            removed_ += n;
            packetStart = false;
            continue;
        }
        if (idMatch == Match::Partial || beatMatch == Match::Partial) {
            held_.assign(rest.begin(), rest.end());
            return;
        }
        break;
    }
    if (!rest.empty())
        between_ = false;
    out.insert(out.end(), rest.begin(), rest.end());
}

void ModemFilter::Release(Bytes& out) {
    if (held_.empty())
        return;
    out.insert(out.end(), held_.begin(), held_.end());
    held_.clear();
    between_ = false;
}

} // namespace kve17::serve
