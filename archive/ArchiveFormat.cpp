#include "archive/ArchiveFormat.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace kve17 {

TArchiveRecord TArchiveImage::RecordAt(int offset) const {
    assert(offset >= 0 && offset <= LastSlot && offset % RecordSize == 0);
    TArchiveRecord record;
    std::memcpy(&record, Ring.data() + offset, RecordSize);
    return record;
}

void TArchiveImage::Store(int offset, const TArchiveRecord& record) {
    assert(offset >= 0 && offset <= LastSlot && offset % RecordSize == 0);
    std::memcpy(Ring.data() + offset, &record, RecordSize);
}

TArchiveImage FreshImage() {
    TArchiveImage image;
    image.Ring.fill(0xFF);
    image.Position = FreshPosition;
    return image;
}

bool PositionValid(std::int32_t position) {
    return position == FreshPosition ||
           (position >= 0 && position <= LastSlot && position % RecordSize == 0);
}

void DecodeImage(std::span<const std::uint8_t, ArchiveFileSize> bytes, TArchiveImage& image) {
    std::copy_n(bytes.begin(), RingSize, image.Ring.begin());
    const std::uint8_t* p = bytes.data() + RingSize;
    image.Position = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void EncodeImage(const TArchiveImage& image, std::span<std::uint8_t, ArchiveFileSize> bytes) {
    std::copy(image.Ring.begin(), image.Ring.end(), bytes.begin());
    const auto value = static_cast<std::uint32_t>(image.Position);
    for (int i = 0; i < 4; ++i)
        bytes[RingSize + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int PrevSlot(int offset) {
    offset -= RecordSize;
    return offset < 0 ? LastSlot : offset;
}

int NextSlot(int offset) {
    offset += RecordSize;
    return offset > RingSize - 1 ? 0 : offset;
}

bool RecordTimeValid(const TArchiveRecord& r) {
    return r.Hour <= 23 && r.Minute <= 59 && r.Second <= 59 && r.Day >= 1 && r.Day <= 31 &&
           r.Month >= 1 && r.Month <= 12 && r.Year >= 1 && r.Year <= 99;
}

void CheckRecord(TArchiveRecord& r) {
    if (!RecordTimeValid(r))
        r.Code = MarkCode;
    const bool restZero = r.Detail == 0 && r.Second == 0 && r.Minute == 0 && r.Hour == 0 &&
                          r.Day == 0 && r.Month == 0 && r.Year == 0;
    if (r.Code == MarkCode && restZero)
        r.Code = 0;
}

namespace {

// Writes a value as at least two decimal digits; returns the position after it.
int PutTwoDigits(std::uint8_t value, TTimeText& text, int at) {
    if (value >= 100)
        text[static_cast<std::size_t>(at++)] = static_cast<char>('0' + value / 100);
    text[static_cast<std::size_t>(at++)] = static_cast<char>('0' + value / 10 % 10);
    text[static_cast<std::size_t>(at++)] = static_cast<char>('0' + value % 10);
    return at;
}

} // namespace

void RecordTimeText(std::uint8_t hour, std::uint8_t minute, std::uint8_t second, std::uint8_t day,
                    std::uint8_t month, std::uint8_t year, TTimeText& text) {
    if (hour == 0xFF && minute == 0xFF && second == 0xFF && day == 0xFF && month == 0xFF &&
        year == 0xFF)
        return;
    const std::uint8_t values[6] = {hour, minute, second, day, month, year};
    const char separators[5] = {':', ':', ' ', '.', '.'};
    text.fill('\0');
    int at = 0;
    for (int i = 0; i < 6; ++i) {
        at = PutTwoDigits(values[i], text, at);
        if (i < 5)
            text[static_cast<std::size_t>(at++)] = separators[i];
    }
}

bool SameTimeOfDay(const TTimeText& a, const TTimeText& b) {
    return std::memcmp(a.data(), b.data(), 8) == 0;
}

} // namespace kve17
