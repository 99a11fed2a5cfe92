// What goes into the history and what comes out of it: a reading as the history takes it, what
// its append did, and the rows of the listings.
#pragma once

#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "archive/RecordTable.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kve17::history {

// One reading as the history takes it: a reading without failure offers every record its file
// holds after the save, and the history takes those it lacks; a failed reading is logged only.
struct THistoryReading {
    // The operator's name of the line; "" to find the line by its place.
    std::string Line;
    std::string Port; // as given
    // Where the line really is (see serial/PortPlace.h); "" takes the port's text for it.
    std::string Place;
    int Address = 0; // 1 to 31
    std::string File;
    TReadingMode Mode = TReadingMode::Fresh;
    bool Ok = true; // false: a failed reading, logged with its result and nothing else
    // The file's stored records as saved, newest first (TReadingResult::Listing).
    std::vector<TListedRecord> Records;
    int Found = 0;      // records the reading found new
    std::string Result; // the program's words
    std::chrono::system_clock::time_point At = std::chrono::system_clock::now();
};

// A device's new events that fill this much of the ring since the last reading (80 % of 988)
// mean that it should be read more often: a little more and events are lost.
inline constexpr int RingFillWarning = 791;

// What one append did.
struct TAppendOutcome {
    int Offered = 0;      // records the file offered
    int Added = 0;        // events the history took of them
    bool Gap = false;     // the device overwrote events before they were read: marked
    bool Warning = false; // the new events filled most of the ring (or a gap was found)
};

struct THistoryEvent {
    std::string Line;
    int Address = 0;
    std::int64_t Seq = 0; // place in the device's history, rising with age
    TArchiveRecord Record{};
    std::string Stamp; // "2026-03-01 08:15:00"; the day alone when the time is out of range, ""
                       // when the day is
    bool Invalid = false;
};

// Events a device overwrote before any reading took them: they lay between two known events.
struct THistoryGap {
    std::string Line;
    int Address = 0;
    std::int64_t AfterSeq = 0; // the gap lies between events AfterSeq and AfterSeq + 1
    std::string Before;        // the stamps of those two events (as THistoryEvent::Stamp)
    std::string After;
    std::string FoundAt; // UTC, when the reading that found it was made
    std::string File;    // that reading's archive file
};

// One row of a listing of events and gaps.
using THistoryItem = std::variant<THistoryEvent, THistoryGap>;

// "" and 0 stand for any; dates are "YYYY-MM-DD", both days included.
struct THistoryFilter {
    std::string Line;
    int Address = 0;
    std::string Since;
    std::string Until;
    std::vector<int> Codes;
    bool OnlyInvalid = false;
    // Found in any column's text as the record table shows it (RowTexts), the number counted
    // from the device's newest event; "" for any.
    std::string Text;
    // Only the events up to this place in their device's history (0: all), so that the pages of
    // one listing stay the same while readings append.
    std::int64_t UpToSeq = 0;
    // The reading log only: readings made at this UTC instant ("2026-12-08T14:00:00Z") or later,
    // and before AtBefore; "" for any. A person's local day is such a span of UTC.
    std::string AtFrom;
    std::string AtBefore;
    // Listings only: rows in the order of a table column (ColNumber: newest first), each device
    // by itself; rows skipped, and at most Limit (0: all).
    TColumn OrderBy = ColNumber;
    bool Descending = false;
    std::int64_t Offset = 0;
    std::int64_t Limit = 0;
};

// What the events a filter selects come to.
struct THistorySummary {
    std::int64_t Count = 0;
    std::int64_t Invalid = 0;
    std::string First; // the earliest and latest day, "YYYY-MM-DD"; "" when no event has one
    std::string Last;
};

struct TCodeCount {
    int Code = 0;
    std::int64_t Count = 0;
};

struct TDayCount {
    std::string Day; // "YYYY-MM-DD"
    std::int64_t Count = 0;
};

// What a filter's events come to, counted in one pass: the summary, per day, per code.
struct THistoryTally {
    THistorySummary Summary;
    std::vector<TDayCount> Days;   // days with a date, ascending
    std::vector<TCodeCount> Codes; // ascending
};

struct TReadingLogEntry {
    std::string At; // UTC, "2026-12-08T19:55:00Z"
    std::string Line;
    int Address = 0;
    std::string Port;
    std::string File;
    std::string Mode;     // "fresh" or "incremental"
    bool Ok = true;       // false for a failed reading
    int Found = 0;        // records the reading found new
    int Offered = 0;      // records its file offered the history
    int Added = 0;        // events the history took of them
    bool Gap = false;     // it found events the device had overwritten
    bool Warning = false; // its new events filled most of the ring
    std::string Result;
};

struct TLineInfo {
    std::string Name;
    std::string Port;
    std::string Place; // "" until a reading has found where the line is
    std::vector<int> Addresses;
};

} // namespace kve17::history
