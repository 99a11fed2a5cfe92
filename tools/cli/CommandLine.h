// Parsing a tool's arguments with CLI11: options are declared on a CLI::App, faults come back
// as std::invalid_argument in the tool's own words, naming the option at fault.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17::cli {

// An app that takes options in any order, the last of a repeated one winning, and leaves its
// help flag to the tool.
void PrepareApp(CLI::App& app);

// An option with a value, handed to `apply` as the option is met (in command-line order);
// `apply` throws std::invalid_argument for a value it refuses.
CLI::Option* AddValue(CLI::App& app, const std::string& names, const std::string& value,
                      const std::string& help, std::function<void(std::string_view)> apply);

// A whole decimal number, nothing else.
std::optional<long long> Number(std::string_view text);
// A number from `low` to `high`; else throws std::invalid_argument "OPTION 'TEXT': why".
int NumberIn(std::string_view option, std::string_view text, long long low, long long high);
// Device addresses "1-5,7" from 1 to 31, ascending without repeats; else throws as NumberIn.
std::vector<int> AddressList(std::string_view option, std::string_view text);
[[noreturn]] void Bad(std::string_view option, std::string_view value, std::string_view why);

// A flag without value.
CLI::Option* AddFlag(CLI::App& app, const std::string& names, const std::string& help,
                     bool& target);

// Parses `args` (without the program name) into `app`. Throws std::invalid_argument for an
// unknown option, a missing value, a flag given a value, or a value the option refused.
void ParseArguments(CLI::App& app, const std::vector<std::string>& args);

// The option lines of a help text: "  NAMES VALUE" and its help in one column, each line of a
// help that spans lines indented to that column.
std::string OptionTable(const CLI::App& app);

} // namespace kve17::cli
