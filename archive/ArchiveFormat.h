// The archive file: a ring of 992 eight-byte records and a 4-byte little-endian write position.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kve17 {

inline constexpr int RecordSize = 8;
inline constexpr int SlotCount = 992;
inline constexpr int RingSize = SlotCount * RecordSize; // 7936
inline constexpr int ArchiveFileSize = RingSize + 4;    // 7940
inline constexpr int LastSlot = RingSize - RecordSize;  // 7928
inline constexpr int FreshPosition = -1;
inline constexpr std::uint8_t MarkCode = 0xFF;

struct TArchiveRecord {
    std::uint8_t Code;
    std::uint8_t Detail;
    std::uint8_t Second;
    std::uint8_t Minute;
    std::uint8_t Hour;
    std::uint8_t Day;
    std::uint8_t Month;
    std::uint8_t Year;
};
static_assert(sizeof(TArchiveRecord) == RecordSize);

struct TArchiveImage {
    std::array<std::uint8_t, RingSize> Ring;
    std::int32_t Position;

    // `offset` is a slot offset: a multiple of 8 from 0 to 7928.
    TArchiveRecord RecordAt(int offset) const;
    void Store(int offset, const TArchiveRecord& record);
};

// Room for 23 characters and a terminator; an empty text is all NUL.
using TTimeText = std::array<char, 24>;

TArchiveImage FreshImage();
// -1, or a multiple of 8 from 0 to 7928.
bool PositionValid(std::int32_t position);
void DecodeImage(std::span<const std::uint8_t, ArchiveFileSize> bytes, TArchiveImage& image);
void EncodeImage(const TArchiveImage& image, std::span<std::uint8_t, ArchiveFileSize> bytes);

int PrevSlot(int offset);
int NextSlot(int offset);

// True when every time value lies in its range (a zero day, month or year does not).
bool RecordTimeValid(const TArchiveRecord& record);
// Marks a record whose time stamp is out of range with Code 0xFF; an all-zero record stays zero.
void CheckRecord(TArchiveRecord& record);
// "hh:mm:ss dd.mm.yy"; when all six values are 0xFF the text is left as it was.
void RecordTimeText(std::uint8_t hour, std::uint8_t minute, std::uint8_t second, std::uint8_t day,
                    std::uint8_t month, std::uint8_t year, TTimeText& text);
// The first eight characters of two texts as they lie in storage ("hh:mm:ss"; the date is not
// compared, two empty texts are equal).
bool SameTimeOfDay(const TTimeText& a, const TTimeText& b);

} // namespace kve17
