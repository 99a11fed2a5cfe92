// A simulated line of devices on a pseudo-terminal: the engine behind kve17-sim, also used inside
// test programs. Devices answer archive block requests from their archive; faults are injected
// per device and per request.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace kve17::sim {

inline constexpr int ArchiveBytes = 7936; // 62 blocks of 128 bytes, newest record first

using DeviceArchive = std::array<std::uint8_t, ArchiveBytes>;

// A reproducible archive: `valid` records with rising time stamps (newest first), a few invalid
// ones among them, and an all-0xFF tail for the rest (a young device).
DeviceArchive MakeArchive(std::uint32_t seed, int valid = 992);
// Adds `count` newer records at the front; the oldest fall off the end.
void GrowArchive(DeviceArchive& archive, int count, std::uint32_t seed);

enum class FaultKind {
    Silence,        // no reply at all
    Cut,            // the reply stops after `value` bytes
    BadCrc,         // the checksum is wrong
    WrongCount,     // the byte count says `value` (with that many data bytes sent)
    ForeignCommand, // the command byte is `value`
    Exception,      // exception reply with code `value`
    Delay,          // waits `value` ms before answering
    Noise,          // `value` random bytes before the reply
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    int value = 0;
    int times = 1; // requests it applies to; -1 for every request
    int block = 0; // only requests for this archive block (1..62); 0 for any request
};

struct LineOptions {
    bool pacing = false; // send no faster than the line would carry the bytes
    int baud = 0;        // 0: take the speed from the pty's settings
};

class SimLine {
public:
    // Opens a pseudo-terminal; throws std::runtime_error on failure. Serving starts at once on
    // a thread of its own and stops in the destructor.
    explicit SimLine(LineOptions options = {});
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The device path of the pty's slave side, for the program to open.
    const std::string& SlavePath() const;

    // Devices with addresses 1 to 31.
    void SetDevice(int address, const DeviceArchive& archive);
    void RemoveDevice(int address);
    DeviceArchive Archive(int address) const;
    void Grow(int address, int count, std::uint32_t seed);

    void AddFault(int address, const Fault& fault);
    void ClearFaults();

    // Well-formed requests (good CRC) received for an address since the start.
    int Requests(int address) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kve17::sim
