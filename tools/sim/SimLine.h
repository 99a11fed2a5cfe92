// A simulated line of devices on a pseudo-terminal: the engine behind kve17-sim, also used inside
// test programs. Devices answer archive block requests from their archive; faults are injected
// per device and per request.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace kve17::sim {

inline constexpr int ArchiveBytes = 7936; // 62 blocks of 128 bytes, newest record first
inline constexpr int BlockBytes = 128;
inline constexpr int BlockCount = 62;
inline constexpr int RecordCount = 992;
inline constexpr int FirstAddress = 1;
inline constexpr int LastAddress = 31;

using DeviceArchive = std::array<std::uint8_t, ArchiveBytes>;

// A reproducible archive: `valid` records with rising time stamps (newest first), a few invalid
// ones among them, and an all-0xFF tail for the rest (a young device). `valid` counts every
// written record, the invalid ones too (about one in forty, never the newest); it is clamped to
// 0..992. Code is 0..254, Detail 0..255, so a time of day with both rarely repeats.
DeviceArchive MakeArchive(std::uint32_t seed, int valid = 992);
// Adds `count` newer records at the front; the oldest fall off the end. The new records are
// valid and follow the newest valid time stamp in the archive.
void GrowArchive(DeviceArchive& archive, int count, std::uint32_t seed);
// The seed of device `address` on a line made from `seed` (what kve17-sim uses).
std::uint32_t DeviceSeed(std::uint32_t seed, int address);

// An archive file of a device: exactly 7936 raw bytes in the device's order (newest first).
// Both throw std::runtime_error with the path and the reason; saving replaces the file whole.
DeviceArchive LoadArchive(const std::string& path);
void SaveArchive(const DeviceArchive& archive, const std::string& path);

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

// Faults of a device apply together to the requests they match (Silence wins over the rest);
// each applied fault uses up one of its `times` and is dropped when none are left.
struct Fault {
    FaultKind kind = FaultKind::Silence;
    int value = 0;
    int times = 1; // requests it applies to; -1 for every request
    int block = 0; // only requests for this archive block (1..62); 0 for any request
};

struct LineOptions {
    bool pacing = false; // send no faster than the line would carry the bytes
    int baud = 0;        // 0: take the speed from the pty's settings
    // A pty keeps no parity bit, so its settings cannot tell; true counts 11 bits a character.
    bool parity = false;
    bool echo = false; // send every received byte back at once, as echoing adapters do
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

    // Devices with addresses 1 to 31; other addresses throw std::out_of_range.
    void SetDevice(int address, const DeviceArchive& archive);
    void RemoveDevice(int address);
    bool HasDevice(int address) const;
    // The current archive; all 0xFF for an absent device.
    DeviceArchive Archive(int address) const;
    // Grows a present device's archive; an absent device is left alone.
    void Grow(int address, int count, std::uint32_t seed);

    void AddFault(int address, const Fault& fault);
    void ClearFaults();

    // Well-formed requests (good CRC) received for an address since the start; address 0
    // counts broadcasts. Any other address gives 0.
    int Requests(int address) const;
    // Waits until Requests(address) reaches `count`; false when the time runs out first.
    bool WaitForRequests(int address, int count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kve17::sim
