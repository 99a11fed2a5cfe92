// The names of event codes, kept by the user: a plain text file per device type with a code, a
// name and a severity on each line. The device's manual gives each code its meaning; the program
// ships no names of its own. A system folder and the user's folder are read in that order, and a
// code the user names replaces the system's name for it.
#pragma once

#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kve17 {

enum class TSeverity { None, Info, Warning, Alarm };

// "информация", "предупреждение", "авария"; "" for None.
std::string_view SeverityText(TSeverity severity);
// One of the three words above; nothing otherwise.
std::optional<TSeverity> ParseSeverity(std::string_view text);

struct TEventName {
    std::string Name;
    TSeverity Severity = TSeverity::None;
};

// The file of the КВЕ-17 in each folder.
inline constexpr std::string_view EventDictionaryFile = "kve17.txt";

class TEventDictionary {
public:
    // Takes the lines of one file, `name` naming it in problems:
    //     код; название[; важность]
    // with the code decimal or 0x-hex, blank lines and lines starting with '#' skipped. A line
    // that cannot be read adds a problem ("name, строка 4: …") and is left out; the rest count.
    void Read(std::istream& in, const std::string& name, std::vector<std::string>& problems);
    // Reads `file` when it exists; one that exists and cannot be read is a problem.
    void ReadFile(const std::filesystem::path& file, std::vector<std::string>& problems);

    // The name of `code`; nullptr when the dictionary has none.
    const TEventName* Find(int code) const;
    // Every code named with `severity`.
    std::set<int> CodesOf(TSeverity severity) const;
    bool Empty() const { return names_.empty(); }
    std::size_t Size() const { return names_.size(); }

private:
    std::map<int, TEventName> names_;
};

// The name and severity word of `code`, as a row's two cells; both empty when `names` is null or
// names no such code (a named code always has a name).
struct TNameCells {
    std::string Name;
    std::string Severity;
};
TNameCells NameCells(const TEventDictionary* names, int code);

// The folders a dictionary is read from, in order: /etc/kve17/events, then the user's
// $XDG_CONFIG_HOME/kve17/events (~/.config/kve17/events when unset).
std::vector<std::filesystem::path> EventDictionaryFolders();
// The dictionary of the КВЕ-17 from `folders` in order, the later overriding the earlier.
TEventDictionary LoadEventDictionary(const std::vector<std::filesystem::path>& folders,
                                     std::vector<std::string>& problems);

} // namespace kve17
