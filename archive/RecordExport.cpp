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
    if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void WriteCsv(std::ostream& out, const std::vector<TRecordRow>& rows, const std::vector<int>& shown,
              char separator) {
    const auto field = [separator](const std::string& text) { return CsvField(text, separator); };
    out << JoinRow(Titles(), separator, field) << "\r\n";
    for (int i : shown)
        out << JoinRow(RowTexts(rows[static_cast<std::size_t>(i)]), separator, field) << "\r\n";
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
