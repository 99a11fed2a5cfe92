// The rows shown written out for a spreadsheet (CSV by RFC 4180 rules) or a program (JSON).
#pragma once

#include "archive/RecordTable.h"

#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace kve17 {

// One field quoted when it holds the separator, a quote, CR or LF; quotes doubled inside. A field
// that a spreadsheet would take for a formula (=, +, -, @, tab or CR first) gets a quote (')
// in front.
std::string CsvField(std::string_view text, char separator);
// The fields as one CSV row, ending in CRLF.
std::string CsvRow(std::span<const std::string> fields, char separator);
// A header row with the column titles, then one row per record shown; lines end in CRLF. UTF-8
// without a byte order mark.
void WriteCsv(std::ostream& out, const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
              char separator);
// Tab-separated, header first, lines ending in "\n": what a copy puts on the clipboard.
std::string TabText(const std::vector<TRecordRow>& rows, const std::vector<int>& shown);
// A JSON array with one object per record shown: number, offset, date ("dd.mm.yy" or null),
// time ("hh:mm:ss" or null), code, detail, invalid.
void WriteJson(std::ostream& out, const std::vector<TRecordRow>& rows,
               const std::vector<int>& shown);

} // namespace kve17
