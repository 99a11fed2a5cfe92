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
// newest record in ring order: at most 988 records. Slots never written (eight 0xFF bytes, also
// a young device's empty tail) are left out; a fresh file lists nothing.
std::vector<TListedRecord> ListArchive(const TArchiveImage& image);

// "hh:mm:ss dd.mm.yy", or "" for a record without time stamp (six 0xFF time bytes).
std::string RecordTimeString(const TArchiveRecord& record);

} // namespace kve17
