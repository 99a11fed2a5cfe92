#include "archive/RecordExport.h"

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

namespace kve17 {

namespace {

using TFields = std::vector<std::string>;

std::string Join(const TFields& fields, const std::string& separator,
                 const std::function<std::string(const std::string&)>& field) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i > 0 ? separator : "") + field(fields[i]);
    return line;
}

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

TFields CsvTitles(const TExportColumns& columns) {
    TFields titles;
    if (columns.Line)
        titles = {"Линия", "Устройство"};
    titles.insert(titles.end(), {"№", "Дата", "Время", "Код", "Код (hex)"});
    if (columns.Names != nullptr)
        titles.insert(titles.end(), {"Событие", "Важность"});
    titles.insert(titles.end(), {"Параметр", "Параметр (hex)", "Состояние"});
    return titles;
}

TFields CsvFields(const TRecordRow& row, const TExportColumns& columns) {
    const auto texts = RowTexts(row);
    const TArchiveRecord& record = row.Listed.Record;
    TFields fields;
    if (columns.Line)
        fields = {*columns.Line, std::to_string(columns.Device)};
    fields.insert(fields.end(), {texts[ColNumber], row.Day ? IsoDayText(*row.Day) : texts[ColDate],
                                 texts[ColTime], std::to_string(record.Code), Hex(record.Code)});
    if (columns.Names != nullptr) {
        auto [name, severity] = NameCells(columns.Names, record.Code);
        fields.insert(fields.end(), {std::move(name), std::move(severity)});
    }
    fields.insert(fields.end(),
                  {std::to_string(record.Detail), Hex(record.Detail), texts[ColState]});
    return fields;
}

TFields TableTitles(const TEventDictionary* names) {
    TFields titles(ColumnTitles.begin(), ColumnTitles.end());
    if (names != nullptr)
        titles.insert(titles.begin() + ColCode + 1, {"Событие", "Важность"});
    return titles;
}

TFields TableFields(const TRecordRow& row, const TEventDictionary* names) {
    const auto texts = RowTexts(row);
    TFields fields(texts.begin(), texts.end());
    if (names != nullptr) {
        auto [name, severity] = NameCells(names, row.Listed.Record.Code);
        fields.insert(fields.begin() + ColCode + 1, {std::move(name), std::move(severity)});
    }
    return fields;
}

} // namespace

std::string CsvField(std::string_view text, char separator) {
    // A spreadsheet takes a field that begins so for a formula: a quote in front keeps it text.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    const std::string field = (formula ? "'" : "") + std::string(text);
    if (field.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string CsvRow(std::span<const std::string> fields, char separator) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += separator;
        line += CsvField(fields[i], separator);
    }
    return line + "\r\n";
}

std::string CsvStart(char separator) {
    return separator == ';' ? "\xEF\xBB\xBF" : "";
}

std::string CsvHeader(const TExportColumns& columns, char separator) {
    return CsvRow(CsvTitles(columns), separator);
}

std::string CsvLine(const TRecordRow& row, const TExportColumns& columns, char separator) {
    return CsvRow(CsvFields(row, columns), separator);
}

std::string CsvNoteLine(std::string_view note, const TExportColumns& columns, char separator) {
    TFields fields(CsvTitles(columns).size());
    if (columns.Line) {
        fields[0] = *columns.Line;
        fields[1] = std::to_string(columns.Device);
    }
    fields.back() = note;
    return CsvRow(fields, separator);
}

void WriteCsv(std::ostream& out, const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
              char separator, const TExportColumns& columns) {
    out << CsvStart(separator) << CsvHeader(columns, separator);
    for (int i : shown)
        out << CsvLine(rows[static_cast<std::size_t>(i)], columns, separator);
}

std::string TabText(const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
                    const TEventDictionary* names) {
    const auto same = [](const std::string& text) { return text; };
    std::string text = Join(TableTitles(names), "\t", same) + '\n';
    for (int i : shown)
        text += Join(TableFields(rows[static_cast<std::size_t>(i)], names), "\t", same) + '\n';
    return text;
}

void WriteJson(std::ostream& out, const std::vector<TRecordRow>& rows,
               const std::vector<int>& shown, const TEventDictionary* names) {
    using TJson = nlohmann::ordered_json;
    auto list = TJson::array();
    const auto textOrNull = [](const std::string& text) {
        return text.empty() ? TJson(nullptr) : TJson(text);
    };
    for (int i : shown) {
        const TRecordRow& row = rows[static_cast<std::size_t>(i)];
        const auto texts = RowTexts(row);
        TJson object = {{"number", row.Number},
                        {"offset", row.Listed.Offset},
                        {"date", textOrNull(texts[ColDate])},
                        {"time", textOrNull(texts[ColTime])},
                        {"code", row.Listed.Record.Code},
                        {"detail", row.Listed.Record.Detail},
                        {"invalid", row.Listed.Invalid}};
        if (names != nullptr) {
            const auto [name, severity] = NameCells(names, row.Listed.Record.Code);
            object["name"] = textOrNull(name);
            object["severity"] = textOrNull(severity);
        }
        list.push_back(std::move(object));
    }
    out << list.dump(2) << '\n';
}

} // namespace kve17
