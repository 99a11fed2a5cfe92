// Reproducible device archives and their files.
#include "archive/ArchiveFormat.h"
#include "tools/sim/SimLine.h"
#include "tools/sim/SimRandom.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

using namespace std::chrono;

using Random = SimRandom;

constexpr int InvalidOneIn = 40;
constexpr int FirstInvalidIndex = 3;

TArchiveRecord StampedRecord(Random& random, sys_seconds when) {
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    TArchiveRecord r;
    r.Code = static_cast<std::uint8_t>(random.Below(255));
    r.Detail = static_cast<std::uint8_t>(random.Below(256));
    r.Second = static_cast<std::uint8_t>(time.seconds().count());
    r.Minute = static_cast<std::uint8_t>(time.minutes().count());
    r.Hour = static_cast<std::uint8_t>(time.hours().count());
    r.Day = static_cast<std::uint8_t>(static_cast<unsigned>(date.day()));
    r.Month = static_cast<std::uint8_t>(static_cast<unsigned>(date.month()));
    r.Year = static_cast<std::uint8_t>(static_cast<int>(date.year()) % 100);
    return r;
}

// Spoils one field of the time stamp, the way a device with a glitching clock would.
void SpoilStamp(Random& random, TArchiveRecord& r) {
    switch (random.Below(4)) {
    case 0:
        r.Hour = static_cast<std::uint8_t>(24 + random.Below(8));
        break;
    case 1:
        r.Minute = static_cast<std::uint8_t>(60 + random.Below(40));
        break;
    case 2:
        r.Month = static_cast<std::uint8_t>(13 + random.Below(3));
        break;
    default:
        r.Day = 0;
        break;
    }
}

void Put(DeviceArchive& archive, int index, const TArchiveRecord& record) {
    std::memcpy(archive.data() + index * RecordSize, &record, RecordSize);
}

TArchiveRecord Get(const DeviceArchive& archive, int index) {
    TArchiveRecord record;
    std::memcpy(&record, archive.data() + index * RecordSize, RecordSize);
    return record;
}

std::optional<sys_seconds> StampOf(const TArchiveRecord& r) {
    TArchiveRecord checked = r;
    CheckRecord(checked);
    if (checked.Code == MarkCode)
        return std::nullopt;
    const year_month_day date{year{2000 + r.Year}, month{r.Month}, day{r.Day}};
    if (!date.ok())
        return std::nullopt;
    return sys_days{date} + hours{r.Hour} + minutes{r.Minute} + seconds{r.Second};
}

sys_seconds BaseStamp(Random& random) {
    const sys_days start = year{2021} / January / 1;
    return start + days{random.Below(1500)} + seconds{random.Below(86400)};
}

[[noreturn]] void FileError(const std::string& path, const std::string& reason) {
    throw std::runtime_error(path + ": " + reason);
}

} // namespace

DeviceArchive MakeArchive(std::uint32_t seed, int valid) {
    valid = std::clamp(valid, 0, RecordCount);
    Random random(seed);
    DeviceArchive archive;
    archive.fill(0xFF);
    sys_seconds when = BaseStamp(random);
    for (int i = 0; i < valid; ++i) {
        TArchiveRecord record = StampedRecord(random, when);
        if (i >= FirstInvalidIndex && random.Below(InvalidOneIn) == 0)
            SpoilStamp(random, record);
        Put(archive, i, record);
        when -= seconds{1 + random.Below(7200)};
    }
    return archive;
}

void GrowArchive(DeviceArchive& archive, int count, std::uint32_t seed) {
    count = std::clamp(count, 0, RecordCount);
    if (count == 0)
        return;
    Random random(seed);
    std::optional<sys_seconds> newest;
    for (int i = 0; i < RecordCount && !newest; ++i)
        newest = StampOf(Get(archive, i));
    sys_seconds when = newest ? *newest : BaseStamp(random);
    const int kept = RecordCount - count;
    std::copy_backward(archive.begin(), archive.begin() + kept * RecordSize, archive.end());
    for (int i = count - 1; i >= 0; --i) {
        when += seconds{1 + random.Below(120)};
        Put(archive, i, StampedRecord(random, when));
    }
}

std::uint32_t DeviceSeed(std::uint32_t seed, int address) {
    return seed * 32U + static_cast<std::uint32_t>(address);
}

DeviceArchive LoadArchive(const std::string& path) {
    // Opened without waiting, so that a FIFO is refused at once rather than waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        FileError(path, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        FileError(path, "not a regular file");
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        FileError(path, std::strerror(errno));
    }
    DeviceArchive archive;
    const std::size_t got = std::fread(archive.data(), 1, archive.size(), file);
    const bool longer = std::fgetc(file) != EOF;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        FileError(path, "read error");
    if (got != archive.size() || longer)
        FileError(path, "not a device archive: it must be exactly 7936 bytes");
    return archive;
}

void SaveArchive(const DeviceArchive& archive, const std::string& path) {
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        FileError(temporary, std::strerror(errno));
    const bool written = std::fwrite(archive.data(), 1, archive.size(), file) == archive.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        FileError(temporary, "write error");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        FileError(path, reason);
    }
}

} // namespace kve17::sim
