#include "serve/ModemFilter.h"

#include <algorithm>

namespace kve17::serve {

void ModemFilter::Boundary() {
    between_ = true;
    held_.clear();
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
        const Prefix idMatch = PrefixOf(rest, id);
        const Prefix beatMatch = PrefixOf(rest, beat);
        if (idMatch == Prefix::Whole || beatMatch == Prefix::Whole) {
            // The longer of the two when both fit, so that an ID beginning like the heartbeat
            // is not cut in two.
            const bool takeId = idMatch == Prefix::Whole &&
                                (beatMatch != Prefix::Whole || id.size() >= beat.size());
            const std::size_t n = takeId ? id.size() : beat.size();
            rest = rest.subspan(n);
            removed_ += n;
            packetStart = false;
            continue;
        }
        if (idMatch == Prefix::Partial || beatMatch == Prefix::Partial) {
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
