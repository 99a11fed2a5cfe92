// The stored records of an archive image in the order a reader wants them: newest first.
#pragma once

#include "archive/ArchiveFormat.h"

#include <string>
#include <vector>

namespace kve17 {

struct TListedRecord {
    int Offset;            // slot offset in the ring
    TArchiveRecord Record; // as stored
    bool Invalid;          // marked with Code 0xFF, or its time stamp is out of range
};

// Backward from the slot before Position, stopping at the four end-marker slots that follow the
// newest record in ring order, or after `slots` slots: at most 988 records. Slots never written
// (eight 0xFF bytes, also a young device's empty tail) are left out; a fresh file lists nothing.
std::vector<TListedRecord> ListArchive(const TArchiveImage& image, int slots = SlotCount);

// The rule by which a reading recognises the newest stored record among the device's: the
// same time of day as text (an empty text for six 0xFF time bytes), Code and Detail.
bool SameEvent(const TArchiveRecord& stored, const TArchiveRecord& received);

// "hh:mm:ss dd.mm.yy", or "" for a record without time stamp (six 0xFF time bytes).
std::string RecordTimeString(const TArchiveRecord& record);

} // namespace kve17
