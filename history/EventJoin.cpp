#include "history/EventJoin.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_set>

namespace kve17::history {

namespace {

bool Same(const TArchiveRecord& a, const TArchiveRecord& b) {
    return std::memcmp(&a, &b, RecordSize) == 0;
}

std::uint64_t Key(const TArchiveRecord& r) {
    std::uint64_t key = 0;
    std::memcpy(&key, &r, RecordSize);
    return key;
}

// The length of the run that begins at `at` and repeats the last records kept; 0 when none.
std::size_t RepeatAt(std::span<const TArchiveRecord> records, std::size_t at,
                     const std::vector<TArchiveRecord>& kept) {
    for (std::size_t length = 1;
         length <= LongestRepeat && length <= kept.size() && at + length <= records.size();
         ++length) {
        const auto run = kept.end() - static_cast<std::ptrdiff_t>(length);
        if (Same(records[at], *run) &&
            std::equal(records.begin() + static_cast<std::ptrdiff_t>(at),
                       records.begin() + static_cast<std::ptrdiff_t>(at + length), run, Same))
            return length;
    }
    return 0;
}

struct TCandidate {
    std::size_t At = 0;    // in the collapsed file
    std::size_t Agree = 0; // records that agree going back from it
    bool RanOut = false;   // the agreement ended at the start of the file or the history
};

// Where the history's newest event lies in the file; nothing when it does not.
std::optional<std::size_t> NewestInFile(std::span<const TArchiveRecord> file,
                                        std::span<const TArchiveRecord> tail) {
    std::optional<TCandidate> best;
    for (std::size_t at = 0; at < file.size(); ++at) {
        if (!Same(file[at], tail.back()))
            continue;
        TCandidate c{at, 0, false};
        while (c.Agree <= at && c.Agree < tail.size() &&
               Same(file[at - c.Agree], tail[tail.size() - 1 - c.Agree]))
            ++c.Agree;
        c.RanOut = c.Agree > at || c.Agree == tail.size();
        // A later candidate that is as good wins: the newest.
        if (!best || c.Agree > best->Agree ||
            (c.Agree == best->Agree && (c.RanOut || !best->RanOut)))
            best = c;
    }
    if (!best)
        return std::nullopt;
    return best->At;
}

// The newest place in the file of any event the history holds.
std::optional<std::size_t> NewestShared(std::span<const TArchiveRecord> file,
                                        std::span<const TArchiveRecord> tail) {
    std::unordered_set<std::uint64_t> held;
    for (const TArchiveRecord& r : tail)
        held.insert(Key(r));
    for (std::size_t at = file.size(); at-- > 0;)
        if (held.contains(Key(file[at])))
            return at;
    return std::nullopt;
}

} // namespace

std::vector<std::size_t> CollapseRepeats(std::span<const TArchiveRecord> records,
                                         std::vector<TArchiveRecord>& context) {
    std::vector<std::size_t> kept;
    for (std::size_t at = 0; at < records.size();) {
        if (const std::size_t run = RepeatAt(records, at, context); run > 0) {
            at += run;
            continue;
        }
        context.push_back(records[at]);
        kept.push_back(at++);
    }
    return kept;
}

TJoin JoinFile(std::span<const TArchiveRecord> file, std::span<const TArchiveRecord> tail) {
    std::vector<TArchiveRecord> collapsed;
    const std::vector<std::size_t> positions = CollapseRepeats(file, collapsed);
    if (tail.empty())
        return {TJoinKind::FreshStart, positions};
    auto after = NewestInFile(collapsed, tail);
    if (!after)
        after = NewestShared(collapsed, tail);
    if (!after)
        return {TJoinKind::Disjoint, positions};
    // Only the last runs of the history can repeat at the join.
    std::vector<TArchiveRecord> context(
        tail.end() - static_cast<std::ptrdiff_t>(std::min(tail.size(), LongestRepeat)), tail.end());
    const auto rest = std::span(collapsed).subspan(*after + 1);
    TJoin join{TJoinKind::Continues, {}};
    for (const std::size_t at : CollapseRepeats(rest, context))
        join.New.push_back(positions[*after + 1 + at]);
    return join;
}

} // namespace kve17::history
