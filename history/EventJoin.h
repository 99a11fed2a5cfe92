// How a file's records join a device's history, apart from any database: the repeats a ring
// that moved while it was read leaves in a file collapsed, and the place where the file goes on
// from the history's newest event found by comparing whole records, date included.
#pragma once

#include "archive/ArchiveFormat.h"

#include <cstddef>
#include <span>
#include <vector>

namespace kve17::history {

// A device that adds k records between two block requests makes the next block begin with the
// last k records of the one before: a run immediately followed by itself. Runs up to this long
// are taken for such repeats (k is at most 16 in practice).
inline constexpr std::size_t LongestRepeat = 32;

enum class TJoinKind {
    Continues,  // the file and the history share events: the file's newer ones follow
    FreshStart, // the history of the device is empty
    Disjoint,   // they share nothing: the file is far older, or events were lost in between
};

struct TJoin {
    TJoinKind Kind = TJoinKind::FreshStart;
    // Positions in the file (oldest first) of the records to append, oldest first.
    std::vector<std::size_t> New;
};

// The positions of `records` (oldest first) kept once each immediate repeat of a run of up to
// LongestRepeat records is left out; `context` holds the records kept before them, and the
// kept ones are added to it.
std::vector<std::size_t> CollapseRepeats(std::span<const TArchiveRecord> records,
                                         std::vector<TArchiveRecord>& context);

// Joins a file (its records oldest first) to a device's last events (oldest first). Where the
// history's newest event lies more than once in the file, the place where file and history
// agree longest going back wins; then one where they agree up to the start of either rather
// than up to a difference; then the newest. Offering the same file twice, or an older file
// after a newer one, adds nothing. Repeats across the join are collapsed too.
TJoin JoinFile(std::span<const TArchiveRecord> file, std::span<const TArchiveRecord> tail);

} // namespace kve17::history
