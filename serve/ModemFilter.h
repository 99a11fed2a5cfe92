// What a cellular modem adds to its line's bytes, taken out before the link sees them: the
// registration ID in front of each packet (a modem set to send it every time) and heartbeats.
// A heartbeat comes between frames only, so it is removed where a frame may begin (after a
// request went out, before its answer's first byte) and never inside a frame; an ID sent per
// packet rides in front of what one receive brings, also inside a frame. Bytes that may be the
// start of an ID or heartbeat are held until the next bytes tell, or until the reader's time
// runs out and they are given up as data. Nothing else is ever removed.
#pragma once

#include "serve/ModemBytes.h"

#include <span>

namespace kve17::serve {

enum class IdMode { Once, EachPacket };

struct FilterSettings {
    Bytes Id;
    IdMode Mode = IdMode::Once;
    Bytes Heartbeat; // empty: the modem sends none
};

class ModemFilter {
public:
    explicit ModemFilter(FilterSettings settings) : settings_(std::move(settings)) {}

    // A request goes out: what arrives next begins between frames. Held bytes are stale input.
    void Boundary();
    // One receive's bytes; the data among them is appended to `out`.
    void Feed(std::span<const std::uint8_t> chunk, Bytes& out);
    // The held bytes given up as data (the reader's time ran out); afterwards inside a frame.
    void Release(Bytes& out);
    std::size_t Held() const { return held_.size(); }
    // Bytes removed so far, IDs and heartbeats together.
    std::size_t Removed() const { return removed_; }

private:
    FilterSettings settings_;
    bool between_ = true; // no byte of a frame has arrived since the last request
    Bytes held_;          // the beginning of what may be an ID or a heartbeat
    std::size_t removed_ = 0;
};

} // namespace kve17::serve
