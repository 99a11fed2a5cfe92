// The archive file a reading must give, worked out record by record from the device's archive
// in the plainest way, apart from the code under test: it checks the readings against it.
#pragma once

#include "archive/ArchiveFormat.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kve17::test::model {

using Bytes = std::array<std::uint8_t, 8>;

inline Bytes DeviceRecordBytes(const std::array<std::uint8_t, 7936>& device, int k) {
    Bytes b{};
    for (int i = 0; i < 8; ++i)
        b[static_cast<std::size_t>(i)] = device[static_cast<std::size_t>(k * 8 + i)];
    return b;
}

// Bytes: code, detail, second, minute, hour, day, month, year.
inline Bytes Checked(Bytes b) {
    const bool valid = b[4] <= 23 && b[3] <= 59 && b[2] <= 59 && b[5] >= 1 && b[5] <= 31 &&
                       b[6] >= 1 && b[6] <= 12 && b[7] >= 1 && b[7] <= 99;
    if (!valid)
        b[0] = 0xFF;
    bool restZero = true;
    for (int i = 1; i < 8; ++i)
        restZero = restZero && b[static_cast<std::size_t>(i)] == 0;
    if (b[0] == 0xFF && restZero)
        b[0] = 0;
    return b;
}

// The time of day of a record; nothing when its six time bytes are all 0xFF.
inline std::string TimeOfDay(const Bytes& b) {
    bool none = true;
    for (int i = 2; i < 8; ++i)
        none = none && b[static_cast<std::size_t>(i)] == 0xFF;
    if (none)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", b[4], b[3], b[2]);
    return std::string(text).substr(0, 8);
}

inline void Put(std::array<std::uint8_t, 7940>& file, int offset, const Bytes& b) {
    for (int i = 0; i < 8; ++i)
        file[static_cast<std::size_t>(offset + i)] = b[static_cast<std::size_t>(i)];
}

inline std::int32_t PositionOf(const std::array<std::uint8_t, 7940>& file) {
    return static_cast<std::int32_t>(file[7936] | file[7937] << 8 | file[7938] << 16 |
                                     static_cast<std::uint32_t>(file[7939]) << 24);
}

inline void SetPosition(std::array<std::uint8_t, 7940>& file, std::int32_t p) {
    for (int i = 0; i < 4; ++i)
        file[static_cast<std::size_t>(7936 + i)] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(p) >> (8 * i));
}

// The file after a complete reading of `device` into `file`.
inline std::array<std::uint8_t, 7940> AfterReading(std::array<std::uint8_t, 7940> file,
                                                   const std::array<std::uint8_t, 7936>& device) {
    const std::int32_t position = PositionOf(file);
    if (position == -1) {
        for (int k = 0; k < 992; ++k) {
            Bytes b = Checked(DeviceRecordBytes(device, k));
            if (k >= 988)
                b[0] = 0xFF;
            Put(file, 7928 - 8 * k, b);
        }
        SetPosition(file, 0);
        return file;
    }
    const int newestAt = position == 0 ? 7928 : position - 8;
    Bytes newest{};
    for (int i = 0; i < 8; ++i)
        newest[static_cast<std::size_t>(i)] = file[static_cast<std::size_t>(newestAt + i)];
    const std::string ref = TimeOfDay(newest);
    std::string current;
    int fresh = 992;
    for (int k = 0; k < 992; ++k) {
        const Bytes b = Checked(DeviceRecordBytes(device, k));
        if (const std::string t = TimeOfDay(b); !t.empty())
            current = t;
        if (current == ref && b[0] == newest[0] && b[1] == newest[1]) {
            fresh = k;
            break;
        }
    }
    if (fresh == 0)
        return file;
    int p = position;
    for (int k = fresh - 1; k >= 0; --k) {
        Put(file, p, Checked(DeviceRecordBytes(device, k)));
        p = (p + 8) % 7936;
    }
    for (int s = 0; s < 4; ++s)
        file[static_cast<std::size_t>((p + 8 * s) % 7936)] = 0xFF;
    SetPosition(file, p);
    return file;
}

// A fresh file after a reading whose block `goodBlocks + 1` failed.
inline std::array<std::uint8_t, 7940>
AfterFailedFreshReading(std::array<std::uint8_t, 7940> file,
                        const std::array<std::uint8_t, 7936>& device, int goodBlocks) {
    for (int k = 0; k < 16 * goodBlocks; ++k)
        Put(file, 7928 - 8 * k, Checked(DeviceRecordBytes(device, k)));
    SetPosition(file, goodBlocks == 0 ? 0 : 7936 - 128 * goodBlocks);
    return file;
}

inline std::array<std::uint8_t, 7940> FreshFile() {
    std::array<std::uint8_t, 7940> file{};
    file.fill(0xFF);
    return file;
}

} // namespace kve17::test::model
