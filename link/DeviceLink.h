// What the archive reading needs of the device link: one exchange per block and the reporter.
#pragma once

#include <cstdint>
#include <span>

namespace kve17 {

class IDeviceLink {
public:
    virtual ~IDeviceLink() = default;

    // One request/response transaction; the reply frame goes to `reply` from offset 0 and never
    // past its end. Returns a link result code (LinkCodes.h).
    virtual int Exchange(int deviceIndex, std::uint8_t command, int dataLen,
                         const std::uint8_t* data, std::span<std::uint8_t> reply) = 0;
    // Shows the operator the message of a result code; code 0 shows nothing.
    virtual void ShowError(int deviceIndex, int code) = 0;
};

} // namespace kve17
