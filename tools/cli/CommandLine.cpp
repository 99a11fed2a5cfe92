#include "tools/cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

namespace kve17::cli {

namespace {

std::string NamesOf(const CLI::Option& option) {
    std::string names;
    for (const auto& name : option.get_snames())
        names += (names.empty() ? "-" : ", -") + name;
    for (const auto& name : option.get_lnames())
        names += (names.empty() ? "--" : ", --") + name;
    if (option.get_type_size() != 0 && !option.get_type_name().empty())
        names += " " + option.get_type_name();
    return names;
}

// The option a CLI11 message begins with, as the user knows it: "--force", not "force".
std::string OptionNamed(const CLI::App& app, const std::string& what) {
    std::string name = what.substr(0, what.find_first_of(": "));
    name.erase(0, name.find_first_not_of('-'));
    for (const std::string prefix : {"--", "-"})
        if (const CLI::Option* option = app.get_option_no_throw(prefix + name))
            return option->get_lnames().empty() ? prefix + name
                                                : "--" + option->get_lnames().front();
    return name;
}

// CLI11 words a missing value as "NAME: 1 required TYPE missing" and a flag given a value as
// "NAME was given a disallowed flag override".
std::string MismatchText(const CLI::App& app, const std::string& what) {
    const std::string name = OptionNamed(app, what);
    if (what.find("flag override") != std::string::npos)
        return name + " takes no value";
    return name + " needs a value";
}

// "--port=" hands CLI11 no value, and it would take the next argument instead; the option's
// own check is to see the empty value.
std::vector<std::string> SplitEmptyValues(const std::vector<std::string>& args) {
    std::vector<std::string> split;
    bool options = true;
    for (const std::string& arg : args) {
        options = options && arg != "--";
        if (options && arg.starts_with("--") && arg.find('=') == arg.size() - 1) {
            split.push_back(arg.substr(0, arg.size() - 1));
            split.emplace_back();
        } else {
            split.push_back(arg);
        }
    }
    return split;
}

} // namespace

void PrepareApp(CLI::App& app) {
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* AddValue(CLI::App& app, const std::string& names, const std::string& value,
                      const std::string& help, std::function<void(std::string_view)> apply) {
    return app
        .add_option_function<std::string>(
            names, [apply = std::move(apply)](const std::string& text) { apply(text); }, help)
        ->type_name(value)
        ->trigger_on_parse();
}

CLI::Option* AddFlag(CLI::App& app, const std::string& names, const std::string& help,
                     bool& target) {
    return app.add_flag(names, target, help)->disable_flag_override();
}

void ParseArguments(CLI::App& app, const std::vector<std::string>& args) {
    const std::vector<std::string> split = SplitEmptyValues(args);
    std::vector<std::string> reversed(split.rbegin(), split.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        throw std::invalid_argument(MismatchText(app, e.what()));
    } catch (const CLI::ParseError& e) {
        throw std::invalid_argument(e.what());
    }
    // CLI11 keeps the end-of-options mark among the extras.
    auto extras = app.remaining();
    const auto mark = std::find(extras.begin(), extras.end(), "--");
    if (mark != extras.end())
        extras.erase(mark);
    if (!extras.empty())
        throw std::invalid_argument("unknown option '" + extras.front() + "'");
}

void Bad(std::string_view option, std::string_view value, std::string_view why) {
    throw std::invalid_argument(std::string(option) + " '" + std::string(value) +
                                "': " + std::string(why));
}

std::optional<long long> Number(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

int NumberIn(std::string_view option, std::string_view text, long long low, long long high) {
    const auto value = Number(text);
    if (!value || *value < low || *value > high)
        Bad(option, text,
            "expected a number from " + std::to_string(low) + " to " + std::to_string(high));
    return static_cast<int>(*value);
}

std::vector<int> AddressList(std::string_view option, std::string_view text) {
    constexpr int first = 1, last = 31;
    std::array<bool, last + 1> set{};
    std::string_view rest = text;
    for (bool more = true; more;) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const auto dash = item.find('-');
        const int low = NumberIn(option, item.substr(0, dash), first, last);
        const int high = dash == std::string_view::npos
                             ? low
                             : NumberIn(option, item.substr(dash + 1), first, last);
        if (high < low)
            Bad(option, text, "a range must go upward");
        for (int a = low; a <= high; ++a)
            set[static_cast<std::size_t>(a)] = true;
        more = comma != std::string_view::npos;
        if (more)
            rest.remove_prefix(comma + 1);
    }
    std::vector<int> addresses;
    for (int a = first; a <= last; ++a)
        if (set[static_cast<std::size_t>(a)])
            addresses.push_back(a);
    return addresses;
}

std::string OptionTable(const CLI::App& app) {
    const auto options = app.get_options([](const CLI::Option* o) { return o->nonpositional(); });
    std::size_t width = 0;
    for (const CLI::Option* option : options)
        width = std::max(width, NamesOf(*option).size());
    std::string table;
    for (const CLI::Option* option : options) {
        std::string names = NamesOf(*option);
        names.resize(width + 2, ' ');
        table += "  " + names;
        for (const char c : option->get_description())
            table += c == '\n' ? "\n" + std::string(width + 4, ' ') : std::string(1, c);
        table += '\n';
    }
    return table;
}

} // namespace kve17::cli
