// The rows shown written out for a spreadsheet (CSV by RFC 4180 rules) or a program (JSON). One
// CSV dialect for the viewer and kve17ctl: code and detail as plain numbers with their hex in
// columns of their own, dates as yyyy-mm-dd, a byte order mark before ";"-separated text (what a
// spreadsheet of a Russian locale opens), and no field a spreadsheet would take as a formula.
#pragma once

#include "archive/EventDictionary.h"
#include "archive/RecordTable.h"

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace kve17 {

// What an export carries besides the records.
struct TExportColumns {
    const TEventDictionary* Names = nullptr; // adds the name and severity of each code
    std::optional<std::string> Line;         // a history's line: adds its line and device
    int Device = 0;
};

// One field: a leading single quote when it starts with = + - @ tab or CR (a formula to a
// spreadsheet), then quoted when it holds the separator, a quote, CR or LF; quotes doubled inside.
std::string CsvField(std::string_view text, char separator);
// The fields as one CSV row, ending in CRLF.
std::string CsvRow(std::span<const std::string> fields, char separator);
// The byte order mark a ";"-separated file starts with; "" for ",".
std::string CsvStart(char separator);
// The header row and one record's row, each ending in CRLF.
std::string CsvHeader(const TExportColumns& columns, char separator);
std::string CsvLine(const TRecordRow& row, const TExportColumns& columns, char separator);
// A row that is no record but a note between two (a history's gap): the line and device, the
// note in the state's column, the other cells empty.
std::string CsvNoteLine(std::string_view note, const TExportColumns& columns, char separator);
// CsvStart, the header row, then one row per record shown.
void WriteCsv(std::ostream& out, const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
              char separator, const TExportColumns& columns = {});
// Tab-separated as the table shows the rows, header first, lines ending in "\n": what a copy
// puts on the clipboard; with `names`, the name and severity after the code.
std::string TabText(const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
                    const TEventDictionary* names = nullptr);
// A JSON array with one object per record shown: number, offset, date ("dd.mm.yy" or null),
// time ("hh:mm:ss" or null), code, detail, invalid; with `names` also name and severity (null
// for a code without a name).
void WriteJson(std::ostream& out, const std::vector<TRecordRow>& rows,
               const std::vector<int>& shown, const TEventDictionary* names = nullptr);

} // namespace kve17
