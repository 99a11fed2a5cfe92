#include "tools/sim/RequestFramer.h"

#include "link/Crc16.h"

#include <algorithm>

namespace kve17::sim {

namespace {

constexpr int NoLength = -1;

// Candidate data lengths of a request whose first `available` bytes are at `head`; NoLength
// where a command has fewer candidates. Command 15 tells its length only once its byte count
// is in.
using Lengths = std::array<int, 2>;

Lengths DataLengths(const std::uint8_t* head, int available) {
    Lengths lengths{NoLength, NoLength};
    switch (head[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 14:
        lengths[0] = 4;
        break;
    case 15:
        if (available >= 7)
            lengths[0] = 5 + head[6];
        break;
    case 17:
    case 18:
    case 100:
        lengths[0] = 0;
        break;
    case 66:
    case 67:
    case 68:
    case 71:
        lengths[0] = 2;
        break;
    case 69:
    case 70:
        lengths = {0, 6};
        break;
    default:
        break;
    }
    return lengths;
}

bool CrcGood(const std::uint8_t* frame, int length) {
    const std::uint16_t crc = Crc16(length - 2, frame);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

} // namespace

void RequestFramer::Add(std::span<const std::uint8_t> bytes, Clock::time_point at,
                        Clock::duration gap) {
    if (count_ > 0 && at - times_[static_cast<std::size_t>(count_ - 1)] > gap)
        count_ = 0;
    if (bytes.size() >= Capacity) {
        bytes = bytes.last(Capacity);
        count_ = 0;
    }
    const int size = static_cast<int>(bytes.size());
    if (count_ + size > Capacity)
        Drop(count_ + size - Capacity);
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + count_);
    std::fill_n(times_.begin() + count_, size, at);
    count_ += size;
}

int RequestFramer::FrameAt(int at) const {
    const std::uint8_t* head = bytes_.data() + at;
    const int available = count_ - at;
    if (available < 4)
        return 0;
    for (const int data : DataLengths(head, available)) {
        const int length = data + 4;
        if (data != NoLength && length <= available && CrcGood(head, length))
            return length;
    }
    return 0;
}

bool RequestFramer::Next(Request& request) {
    for (int at = 0; at < count_; ++at) {
        const int length = FrameAt(at);
        if (length == 0)
            continue;
        std::copy_n(bytes_.begin() + at, length, request.bytes.begin());
        request.length = length;
        request.start = times_[static_cast<std::size_t>(at)];
        Drop(at + length);
        return true;
    }
    return false;
}

void RequestFramer::Drop(int bytes) {
    bytes = std::min(bytes, count_);
    std::copy(bytes_.begin() + bytes, bytes_.begin() + count_, bytes_.begin());
    std::copy(times_.begin() + bytes, times_.begin() + count_, times_.begin());
    count_ -= bytes;
}

} // namespace kve17::sim
