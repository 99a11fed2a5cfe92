// What a reading or a scan of a line found, device by device, and its summary on stdout: a
// table for people, JSON for scripts.
#pragma once

#include "archive/ArchiveOps.h"
#include "history/ReadingHistory.h"
#include "tools/ctl/CtlOptions.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kve17::ctl {

struct TDeviceOutcome {
    int Device = 0;
    std::string File;     // the archive file; "" for a scan
    bool Started = false; // the file opened and the device was asked; a scan: it answered
    TReadingMode Mode = TReadingMode::Fresh;
    int NewRecords = 0;     // stored by a fresh reading, merged by an incremental one
    int StoredRecords = 0;  // listed in the file afterwards
    int Code = 0;           // the link's result code; 0 when it succeeded
    int FailedBlock = 0;    // 1 to 62 when the link failed in a reading
    bool Ok = false;        // read and saved; for a scan: answered
    std::string Result;     // in the program's words
    TReadingResult Reading; // as the reading returned it (its file's records for the history)
    history::THistoryOutcome History; // what the history made of it, right after the save
};

// The reading's table: device, mode, records new, result; and a closing count.
void PrintReadingTable(const std::vector<TDeviceOutcome>& outcomes);
// True when every device was read.
bool AllOk(const std::vector<TDeviceOutcome>& outcomes);
// True when no history was tried and not written.
bool AllHistoryWritten(const std::vector<TDeviceOutcome>& outcomes);
// The answering devices of a scan, one a line, and a closing count.
void PrintScan(const std::vector<TDeviceOutcome>& outcomes, const TReadOptions& read);
// The summary as one JSON object; `error` is the reason nothing was read ("" otherwise). Its
// "ok" is false when a device failed or a history was not written.
nlohmann::json SummaryJson(TLineJob command, const TReadOptions& read,
                           const std::vector<TDeviceOutcome>& outcomes, const std::string& error);
void PrintJson(TLineJob command, const TReadOptions& read,
               const std::vector<TDeviceOutcome>& outcomes, const std::string& error);
// Any JSON value on stdout, indented.
void PrintJsonValue(const nlohmann::json& value);

const char* ModeName(TReadingMode mode);

} // namespace kve17::ctl
