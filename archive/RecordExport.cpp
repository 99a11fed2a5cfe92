#include "archive/RecordExport.h"

#include <nlohmann/json.hpp>

namespace kve17 {

namespace {

template <typename Field>
std::string JoinRow(const std::array<std::string, ColumnCount>& texts, char separator,
                    Field field) {
    std::string line;
    for (int c = 0; c < ColumnCount; ++c) {
        if (c > 0)
            line += separator;
        line += field(texts[static_cast<std::size_t>(c)]);
    }
    return line;
}

std::array<std::string, ColumnCount> Titles() {
    std::array<std::string, ColumnCount> titles;
    for (int c = 0; c < ColumnCount; ++c)
        titles[static_cast<std::size_t>(c)] = ColumnTitles[static_cast<std::size_t>(c)];
    return titles;
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

void WriteCsv(std::ostream& out, const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
              char separator) {
    out << CsvRow(Titles(), separator);
    for (int i : shown)
        out << CsvRow(RowTexts(rows[static_cast<std::size_t>(i)]), separator);
}

std::string TabText(const std::vector<TRecordRow>& rows, const std::vector<int>& shown) {
    const auto same = [](const std::string& text) { return text; };
    std::string text = JoinRow(Titles(), '\t', same) + '\n';
    for (int i : shown)
        text += JoinRow(RowTexts(rows[static_cast<std::size_t>(i)]), '\t', same) + '\n';
    return text;
}

void WriteJson(std::ostream& out, const std::vector<TRecordRow>& rows,
               const std::vector<int>& shown) {
    auto list = nlohmann::ordered_json::array();
    for (int i : shown) {
        const TRecordRow& row = rows[static_cast<std::size_t>(i)];
        const auto texts = RowTexts(row);
        const auto textOrNull = [](const std::string& text) {
            return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
        };
        list.push_back({{"number", row.Number},
                        {"offset", row.Listed.Offset},
                        {"date", textOrNull(texts[ColDate])},
                        {"time", textOrNull(texts[ColTime])},
                        {"code", row.Listed.Record.Code},
                        {"detail", row.Listed.Record.Detail},
                        {"invalid", row.Listed.Invalid}});
    }
    out << list.dump(2) << '\n';
}

} // namespace kve17
