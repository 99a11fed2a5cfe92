#include "archive/EventDictionary.h"

#include "archive/RecordTable.h"

#include <array>
#include <cstdlib>
#include <fstream>

namespace kve17 {

namespace {

constexpr std::array<std::pair<TSeverity, std::string_view>, 3> SeverityWords = {
    {{TSeverity::Info, "информация"},
     {TSeverity::Warning, "предупреждение"},
     {TSeverity::Alarm, "авария"}}};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        const auto semicolon = line.find(';');
        fields.push_back(Trim(line.substr(0, semicolon)));
        if (semicolon == std::string_view::npos)
            return fields;
        line.remove_prefix(semicolon + 1);
    }
}

// What is wrong with the fields of one line; "" when they make an entry.
std::string Check(const std::vector<std::string_view>& fields, int& code, TEventName& name) {
    if (fields.size() < 2 || fields.size() > 3)
        return "нужно «код; название; важность» (важность можно не писать)";
    const auto parsed = ParseCode(fields[0]);
    if (!parsed)
        return "«" + std::string(fields[0]) + "» — не код от 0 до 255 (или 0x00–0xFF)";
    if (fields[1].empty())
        return "нет названия кода " + std::string(fields[0]);
    std::optional<TSeverity> severity = TSeverity::None;
    if (fields.size() == 3 && !fields[2].empty())
        severity = ParseSeverity(fields[2]);
    if (!severity)
        return "важность «" + std::string(fields[2]) +
               "» не из списка: информация, предупреждение, авария";
    code = *parsed;
    name = {std::string(fields[1]), *severity};
    return {};
}

} // namespace

std::string_view SeverityText(TSeverity severity) {
    for (const auto& [value, word] : SeverityWords)
        if (value == severity)
            return word;
    return {};
}

TNameCells NameCells(const TEventDictionary* names, int code) {
    const TEventName* name = names == nullptr ? nullptr : names->Find(code);
    if (name == nullptr)
        return {};
    return {name->Name, std::string(SeverityText(name->Severity))};
}

std::optional<TSeverity> ParseSeverity(std::string_view text) {
    for (const auto& [value, word] : SeverityWords)
        if (word == text)
            return value;
    return std::nullopt;
}

void TEventDictionary::Read(std::istream& in, const std::string& name,
                            std::vector<std::string>& problems) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = Trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        int code = 0;
        TEventName entry;
        const std::string wrong = Check(Fields(text), code, entry);
        if (wrong.empty())
            names_[code] = std::move(entry);
        else
            problems.push_back(name + ", строка " + std::to_string(number) + ": " + wrong);
    }
}

void TEventDictionary::ReadFile(const std::filesystem::path& file,
                                std::vector<std::string>& problems) {
    std::error_code ignored;
    if (!std::filesystem::exists(file, ignored))
        return;
    std::ifstream in(file);
    if (!std::filesystem::is_regular_file(file, ignored) || !in) {
        problems.push_back(file.string() + ": файл не удается прочитать");
        return;
    }
    Read(in, file.string(), problems);
}

const TEventName* TEventDictionary::Find(int code) const {
    const auto found = names_.find(code);
    return found == names_.end() ? nullptr : &found->second;
}

std::set<int> TEventDictionary::CodesOf(TSeverity severity) const {
    std::set<int> codes;
    for (const auto& [code, name] : names_)
        if (name.Severity == severity)
            codes.insert(code);
    return codes;
}

std::vector<std::filesystem::path> EventDictionaryFolders() {
    std::filesystem::path user;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0)
        user = config;
    else if (const char* home = std::getenv("HOME"); home != nullptr)
        user = std::filesystem::path(home) / ".config";
    std::vector<std::filesystem::path> folders = {"/etc/kve17/events"};
    if (!user.empty())
        folders.push_back(user / "kve17" / "events");
    return folders;
}

TEventDictionary LoadEventDictionary(const std::vector<std::filesystem::path>& folders,
                                     std::vector<std::string>& problems) {
    TEventDictionary dictionary;
    for (const auto& folder : folders)
        dictionary.ReadFile(folder / EventDictionaryFile, problems);
    return dictionary;
}

} // namespace kve17
