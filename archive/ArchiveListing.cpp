#include "archive/ArchiveListing.h"

#include <algorithm>

namespace kve17 {

namespace {

constexpr int EndMarkers = 4;

bool NeverWritten(const TArchiveRecord& r) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&r);
    return std::all_of(bytes, bytes + RecordSize, [](std::uint8_t b) { return b == 0xFF; });
}

} // namespace

std::vector<TListedRecord> ListArchive(const TArchiveImage& image, int slots) {
    std::vector<TListedRecord> records;
    if (!PositionValid(image.Position) || image.Position == FreshPosition)
        return records;
    int offset = image.Position;
    const int count = std::min(slots, SlotCount - EndMarkers);
    for (int n = 0; n < count; ++n) {
        offset = PrevSlot(offset);
        const TArchiveRecord record = image.RecordAt(offset);
        if (NeverWritten(record))
            continue;
        records.push_back({offset, record, record.Code == MarkCode || !RecordTimeValid(record)});
    }
    return records;
}

bool SameEvent(const TArchiveRecord& stored, const TArchiveRecord& received) {
    TTimeText a{};
    TTimeText b{};
    RecordTimeText(stored.Hour, stored.Minute, stored.Second, stored.Day, stored.Month, stored.Year,
                   a);
    RecordTimeText(received.Hour, received.Minute, received.Second, received.Day, received.Month,
                   received.Year, b);
    return SameTimeOfDay(a, b) && stored.Code == received.Code && stored.Detail == received.Detail;
}

std::string RecordTimeString(const TArchiveRecord& r) {
    TTimeText text{};
    RecordTimeText(r.Hour, r.Minute, r.Second, r.Day, r.Month, r.Year, text);
    return std::string(text.data());
}

} // namespace kve17
