// A device archive built in the test, served block by block through the link interface, with
// scripted failures; and a progress view that remembers its calls.
#pragma once

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveOps.h"
#include "link/Crc16.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kve17::test {

using DeviceBytes = std::array<std::uint8_t, RingSize>;

inline TArchiveRecord Rec(std::uint8_t code, std::uint8_t detail, std::uint8_t h, std::uint8_t m,
                          std::uint8_t s, std::uint8_t d = 15, std::uint8_t mo = 6,
                          std::uint8_t y = 24) {
    return {code, detail, s, m, h, d, mo, y};
}

inline TArchiveRecord RecordOf(const DeviceBytes& device, int k) {
    TArchiveRecord r;
    std::memcpy(&r, device.data() + k * RecordSize, RecordSize);
    return r;
}

inline void SetRecord(DeviceBytes& device, int k, const TArchiveRecord& r) {
    std::memcpy(device.data() + k * RecordSize, &r, RecordSize);
}

// Record k (0 = newest) of a device whose records lie 37 s apart, `shift` records after a start:
// no two records of 2000 in a row share their time of day.
inline TArchiveRecord DeviceRecord(int k, int shift = 0) {
    const int n = shift - k + 4000;
    const int seconds = (20000 + n * 37) % 86400;
    return Rec(static_cast<std::uint8_t>(1 + n % 200), static_cast<std::uint8_t>(n % 7),
               static_cast<std::uint8_t>(seconds / 3600),
               static_cast<std::uint8_t>(seconds / 60 % 60),
               static_cast<std::uint8_t>(seconds % 60));
}

// A full device archive; `shift` newer records pushed in front of the archive with shift 0.
inline DeviceBytes MakeDevice(int shift = 0) {
    DeviceBytes device{};
    for (int k = 0; k < SlotCount; ++k)
        SetRecord(device, k, DeviceRecord(k, shift));
    return device;
}

// Record k (0 = newest) of a device `shift` records after a start: 100 records a day from
// 01.03.24 on, times 37 s apart, codes 1 to 3. Records 5 and 9 (of shift 0) are damaged: an
// hour of 24, and six 0xFF time bytes.
inline TArchiveRecord EventRecord(int k, int shift) {
    const int n = shift - k + 2000;
    const int seconds = n * 37 % 86400;
    auto r =
        Rec(static_cast<std::uint8_t>(1 + n % 3), static_cast<std::uint8_t>(n % 256),
            static_cast<std::uint8_t>(seconds / 3600), static_cast<std::uint8_t>(seconds / 60 % 60),
            static_cast<std::uint8_t>(seconds % 60), static_cast<std::uint8_t>(1 + n / 100 % 28), 3,
            24);
    if (n == 1995)
        r.Hour = 24;
    if (n == 1991)
        r = {7, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return r;
}

inline DeviceBytes MakeEventDevice(int shift) {
    DeviceBytes device{};
    for (int k = 0; k < SlotCount; ++k)
        SetRecord(device, k, EventRecord(k, shift));
    return device;
}

inline bool SameRecord(const TArchiveRecord& a, const TArchiveRecord& b) {
    return std::memcmp(&a, &b, RecordSize) == 0;
}

class FakeDevice : public IDeviceLink {
public:
    DeviceBytes Archive{};
    int FailBlock = 0; // block number whose request fails with FailCode
    int FailCode = 130;
    int WrongCountBlock = 0; // block number whose reply carries WrongCount as its byte count
    std::uint8_t WrongCount = 0;
    int ThrowBlock = 0;                 // block number whose request raises an exception
    std::function<void(int)> OnRequest; // called with the block number before answering

    std::vector<int> Requested;
    std::vector<std::pair<int, int>> Errors; // device index, code

    int Exchange(int deviceIndex, std::uint8_t command, int dataLen, const std::uint8_t* data,
                 std::span<std::uint8_t> reply) override {
        if (command != 67 || dataLen != 2 || data[0] != 0 || reply.size() != 133)
            throw std::logic_error("unexpected request");
        for (std::uint8_t b : reply)
            if (b != 0)
                throw std::logic_error("reply buffer not cleared");
        const int block = data[1];
        Requested.push_back(block);
        if (OnRequest)
            OnRequest(block);
        if (block == ThrowBlock)
            throw std::runtime_error("line gone");
        if (block == FailBlock)
            return FailCode;
        reply[0] = static_cast<std::uint8_t>(deviceIndex + 1);
        reply[1] = command;
        reply[2] = block == WrongCountBlock ? WrongCount : 128;
        std::memcpy(reply.data() + 3, Archive.data() + (block - 1) * 128, 128);
        const std::uint16_t crc = Crc16(131, reply.data());
        reply[131] = static_cast<std::uint8_t>(crc);
        reply[132] = static_cast<std::uint8_t>(crc >> 8);
        return 0;
    }
    void ShowError(int deviceIndex, int code) override { Errors.emplace_back(deviceIndex, code); }
};

class RecordingView : public IReadingView {
public:
    std::vector<std::string> Calls;
    int Steps = 0;
    void ShowProgress(int blocks) override { Calls.push_back("show " + std::to_string(blocks)); }
    void StepProgress() override { ++Steps; }
    void FinishProgress() override { Calls.push_back("finish"); }
    void HideLabel() override { Calls.push_back("hide label"); }
};

inline std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ImageBytes(const TArchiveImage& image) {
    std::array<std::uint8_t, ArchiveFileSize> bytes{};
    EncodeImage(image, bytes);
    return {bytes.begin(), bytes.end()};
}

inline TArchiveImage ImageOf(const std::vector<std::uint8_t>& bytes) {
    TArchiveImage image{};
    DecodeImage(std::span<const std::uint8_t, ArchiveFileSize>(bytes.data(), ArchiveFileSize),
                image);
    return image;
}

// A temporary folder removed with the fixture.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kve17-archive-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The names in a folder, sorted: what a test checks was left behind.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kve17::test
