// SplitMix64: tiny and fully specified, so what a seed makes is the same on every machine.
#pragma once

#include <cstdint>

namespace kve17::sim {

class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 to limit - 1; limit must be positive.
    int Below(int limit) { return static_cast<int>(Next() % static_cast<std::uint64_t>(limit)); }

private:
    std::uint64_t state_;
};

} // namespace kve17::sim
