#include "tools/ctl/CollectConfig.h"

#include "serial/PortPlace.h"
#include "serve/ModemBytes.h"
#include "serve/Schedule.h"
#include "tools/ctl/commands/Read.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace kve17::ctl {

namespace {

// The keys take the values of `read`'s options of the same name.
constexpr std::array<std::string_view, 6> LineSettings = {"baud",     "parity", "stop",
                                                          "delay-tx", "echo",   "wait"};

struct TSection {
    std::string Name;
    int At = 0; // its header's line; 0 for the keys before the first line
    std::vector<std::pair<std::string, std::string>> Keys;
    std::optional<bool> Echo;
};

class EConfig : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool Known(std::string_view key, bool global, bool serve) {
    if (std::find(LineSettings.begin(), LineSettings.end(), key) != LineSettings.end() ||
        key == "dir")
        return true;
    if (global)
        return key == "history" || (serve && (key == "listen" || key == "status"));
    if (serve)
        return key == "modem" || key == "modem-id" || key == "heartbeat" || key == "every" ||
               key == "device";
    return key == "port" || key == "device";
}

// The keys of `serve`, checked by the server's own readers of them.
void CheckServeValue(const std::string& key, const std::string& value) {
    if ((key == "modem" || key == "heartbeat") && !serve::ParseModemBytes(value))
        throw std::runtime_error(key + " must be text or 0x and hex digits, up to 64 bytes");
    if (key == "modem-id" && value != "once" && value != "each-packet")
        throw std::runtime_error("modem-id must be once or each-packet");
    if (key == "every" && !serve::ParseEvery(value))
        throw std::runtime_error("every must be a number and s, m, h or d, such as 15m or 1h");
    if (key == "listen" && !serve::ParseListen(value))
        throw std::runtime_error("listen must be [HOST:]PORT");
}

bool IsServeKey(std::string_view key) {
    return key == "modem" || key == "modem-id" || key == "heartbeat" || key == "every" ||
           key == "listen" || key == "status";
}

// A value checked by `read`'s own option, its fault said with the key's name.
void CheckValue(const std::string& key, const std::string& value) {
    std::string error;
    if (ParseReading({"--port", "p", "--device", "1", "--dir", "d", "--" + key, value}, error))
        return;
    if (const auto at = error.find("--" + key); at != std::string::npos)
        error.erase(at, 2);
    throw EConfig(error);
}

// Folders, history files and device paths; not port names, network addresses or `off`.
bool IsPath(std::string_view key, const std::string& value) {
    if (value.find("://") != std::string::npos)
        return false;
    return key == "dir" || key == "status" || (key == "history" && value != "off") ||
           (key == "port" && value.find('/') != std::string::npos);
}

class TParser {
public:
    TParser(std::string path, std::filesystem::path base, bool serve)
        : Path(std::move(path)), Base(base), Serve(serve) {}

    void Line(int number, std::string_view text) {
        At = number;
        text = Trim(text);
        if (text.empty() || text.front() == '#' || text.front() == ';')
            return;
        if (text.front() == '[')
            return Section(text);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos)
            Refuse("expected [LINE NAME] or KEY = VALUE");
        Key(std::string(Trim(text.substr(0, equals))), std::string(Trim(text.substr(equals + 1))));
    }

    std::vector<TSection> Finish() {
        if (Sections.size() == 1) {
            At = 0;
            Refuse("no line is listed: add a [LINE NAME] section with port and device");
        }
        return std::move(Sections);
    }

    [[noreturn]] void Refuse(const std::string& why) const { RefuseAt(At, why); }
    [[noreturn]] void RefuseAt(int at, const std::string& why) const {
        throw EConfig(Path + (at > 0 ? ":" + std::to_string(at) : "") + ": " + why);
    }

    std::string Path;
    std::filesystem::path Base; // relative folders and files are taken from here
    bool Serve = false;         // the configuration of `serve`

private:
    void Section(std::string_view text) {
        if (text.back() != ']')
            Refuse("a line's section is written [NAME]");
        const std::string name(Trim(text.substr(1, text.size() - 2)));
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            Refuse("a line's name must not be empty, '.', '..' or hold '/'");
        for (const TSection& s : Sections)
            if (s.Name == name && s.At > 0)
                Refuse("line '" + name + "' is listed twice");
        Sections.push_back({name, At, {}, {}});
    }

    void Key(const std::string& key, std::string value) {
        TSection& section = Sections.back();
        if (!Known(key, section.At == 0, Serve))
            Refuse("unknown key '" + key + "'" + (section.At == 0 ? " before the first line" : ""));
        if (value.empty())
            Refuse(key + " needs a value");
        for (const auto& [k, v] : section.Keys)
            if (k == key && key != "listen")
                Refuse(key + " is given twice");
        if (key == "echo" && value != "yes" && value != "no")
            Refuse("echo must be yes or no");
        if (IsPath(key, value))
            value = (Base / value).lexically_normal().string();
        try {
            if (key == "echo")
                section.Echo = value == "yes";
            else if (IsServeKey(key))
                CheckServeValue(key, value);
            else if (key != "history" || value != "off")
                CheckValue(key, value);
        } catch (const std::runtime_error& e) {
            Refuse(e.what());
        }
        section.Keys.emplace_back(key, value);
    }

    int At = 0;
    std::vector<TSection> Sections{TSection{}};
};

std::optional<std::string> ValueOf(const TSection& section, std::string_view key) {
    for (const auto& [k, v] : section.Keys)
        if (k == key)
            return v;
    return std::nullopt;
}

// The `read` command line of one line: the common settings first, its own after them.
std::vector<std::string> ReadArguments(const TSection& global, const TSection& line,
                                       const TCollectOptions& command, const TParser& parser) {
    const auto modem = ValueOf(line, "modem");
    const auto port =
        parser.Serve && modem ? std::string(ModemPlacePrefix) + *modem : ValueOf(line, "port");
    const auto device = ValueOf(line, "device");
    if (!port || !device)
        parser.RefuseAt(line.At, "line '" + line.Name + "' needs " +
                                     (parser.Serve ? "modem" : "port") + " and device");
    std::string dir = ValueOf(line, "dir").value_or("");
    if (dir.empty() && ValueOf(global, "dir"))
        dir = (std::filesystem::path(*ValueOf(global, "dir")) / line.Name).string();
    if (dir.empty())
        parser.RefuseAt(line.At,
                        "line '" + line.Name + "' needs a dir, or a dir before the first line");
    std::vector<std::string> args = {"--port", *port, "--device", *device,
                                     "--dir",  dir,   "--line",   line.Name};
    for (const TSection* section : {&global, &line})
        for (const auto& [key, value] : section->Keys)
            if (std::find(LineSettings.begin(), LineSettings.end(), key) != LineSettings.end() &&
                key != "echo")
                args.insert(args.end(), {"--" + key, value});
    const std::string history = ValueOf(global, "history").value_or("");
    if (command.Read.NoHistory || (command.Read.History.empty() && history == "off"))
        args.emplace_back("--no-history");
    else if (!command.Read.History.empty() || !history.empty())
        args.insert(args.end(),
                    {"--history", command.Read.History.empty() ? history : command.Read.History});
    return args;
}

// What the path is when it is there but no regular file; "" otherwise. A named pipe would wait
// for a writer and a device give bytes without end, so neither is opened.
std::string NotAFile(const std::string& path) {
    using std::filesystem::file_type;
    std::error_code ec;
    switch (std::filesystem::status(path, ec).type()) {
    case file_type::regular:
    case file_type::not_found:
    case file_type::none:
        return "";
    case file_type::directory:
        return "a folder";
    case file_type::fifo:
        return "a named pipe";
    case file_type::character:
    case file_type::block:
        return "a device";
    case file_type::socket:
        return "a socket";
    default:
        return "an unknown kind of file";
    }
}

} // namespace

namespace {

struct TLoaded {
    std::vector<TSection> Sections;
    std::vector<TCollectLine> Lines;
};

std::optional<TLoaded> Load(const TCollectOptions& command, bool serve, std::string& error) {
    const std::string& path = command.Config;
    if (const std::string what = NotAFile(path); !what.empty()) {
        error = path + ": " + what + "; a configuration is a regular file";
        return std::nullopt;
    }
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    TParser parser(path, std::filesystem::absolute(path).parent_path(), serve);
    TLoaded loaded;
    try {
        std::string text;
        for (int number = 1; std::getline(in, text); ++number) {
            // An editor's byte-order mark before the first key is no part of it.
            if (number == 1 && text.starts_with("\xEF\xBB\xBF"))
                text.erase(0, 3);
            parser.Line(number, text);
        }
        if (in.bad())
            parser.Refuse("cannot be read");
        loaded.Sections = parser.Finish();
        for (std::size_t i = 1; i < loaded.Sections.size(); ++i) {
            const TSection& s = loaded.Sections[i];
            const auto args = ReadArguments(loaded.Sections.front(), s, command, parser);
            auto options = ParseReading(args, error);
            if (!options)
                parser.RefuseAt(s.At, error);
            options->Read.Echo = s.Echo.value_or(loaded.Sections.front().Echo.value_or(false));
            options->Read.Json = command.Read.Json;
            TModemKeys modem;
            modem.Id = ValueOf(s, "modem").value_or("");
            modem.IdMode = ValueOf(s, "modem-id").value_or(modem.IdMode);
            modem.Heartbeat = ValueOf(s, "heartbeat").value_or("");
            modem.Every = ValueOf(s, "every").value_or(modem.Every);
            for (const TCollectLine& other : loaded.Lines)
                if (serve && other.Modem.Id == modem.Id)
                    parser.RefuseAt(s.At, "modem " + modem.Id + " is given to two lines");
            loaded.Lines.push_back({s.Name, std::move(*options), modem});
        }
    } catch (const EConfig& e) {
        error = e.what();
        return std::nullopt;
    }
    return loaded;
}

} // namespace

std::optional<std::vector<TCollectLine>> LoadCollectConfig(const TCollectOptions& command,
                                                           std::string& error) {
    auto loaded = Load(command, false, error);
    if (!loaded)
        return std::nullopt;
    return std::move(loaded->Lines);
}

std::optional<TServeConfig> LoadServeConfig(const TCollectOptions& command, std::string& error) {
    auto loaded = Load(command, true, error);
    if (!loaded)
        return std::nullopt;
    TServeConfig config;
    const TSection& global = loaded->Sections.front();
    for (const auto& [key, value] : global.Keys)
        if (key == "listen")
            config.Listen.push_back(value);
    config.Status = ValueOf(global, "status").value_or("");
    if (config.Status.empty() && ValueOf(global, "dir"))
        config.Status =
            (std::filesystem::path(*ValueOf(global, "dir")) / "serve-status.json").string();
    config.Lines = std::move(loaded->Lines);
    return config;
}

} // namespace kve17::ctl
