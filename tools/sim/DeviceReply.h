// What a device sends back for a request: the ordinary answer from its archive, shaped by the
// faults that apply to the request.
#pragma once

#include "tools/sim/RequestFramer.h"
#include "tools/sim/SimLine.h"
#include "tools/sim/SimRandom.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace kve17::sim {

inline constexpr int MaxNoise = 256;
inline constexpr int MaxReplyFrame = 3 + 255 + 2;
inline constexpr int ReplyCapacity = MaxNoise + MaxReplyFrame;

// Exception codes of the ordinary answers.
inline constexpr std::uint8_t IllegalFunction = 1;
inline constexpr std::uint8_t IllegalAddress = 2;
inline constexpr std::uint8_t IllegalValue = 3;

struct Reply {
    std::array<std::uint8_t, ReplyCapacity> bytes{};
    int length = 0;
    std::chrono::milliseconds delay{0};
};

// The faults that apply to one request, taken together.
struct FaultSet {
    bool silence = false;
    bool badCrc = false;
    std::optional<int> cut;
    std::optional<int> count;
    std::optional<int> command;
    std::optional<int> exception;
    int delayMs = 0;
    int noise = 0;
};

// The archive block a request asks for (command 67), else 0.
int RequestedBlock(const Request& request);
// Whether a device answers this request at all (broadcasts and commands 69 and 70 get none).
bool WantsReply(const Request& request);

// Takes the faults that match a request for `block` out of a device's list: each uses up one
// of its times and is removed when none are left.
FaultSet TakeFaults(std::vector<Fault>& faults, int block);

// The reply of a device with `archive`; false when it keeps silent.
bool BuildReply(const Request& request, const DeviceArchive& archive, const FaultSet& faults,
                SimRandom& noise, Reply& reply);

} // namespace kve17::sim
