#include "tools/ctl/CtlCommands.h"

#include "link/Comportclass.h"
#include "tools/ctl/ConsoleView.h"

#include <array>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <unistd.h>

namespace kve17::ctl {

void Say(std::FILE* out, std::string_view text) {
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
}

int ReadingStatus(const std::vector<TDeviceOutcome>& outcomes) {
    if (!AllOk(outcomes))
        return ExitFailed;
    return AllHistoryWritten(outcomes) ? ExitOk : ExitHistory;
}

namespace {

// The files of a reading: the one FILE, or one per device in the folder of --dir.
std::vector<TReadingTarget> TargetsOf(const TLineCommand& options) {
    const TReadOptions& read = options.Read;
    if (read.Dir.empty())
        return {{read.Devices.front(), options.File, false}};
    std::vector<TReadingTarget> targets;
    for (const int device : read.Devices) {
        std::array<char, 16> name{};
        std::snprintf(name.data(), name.size(), "device-%02d.dat", device);
        targets.push_back({device, (std::filesystem::path(read.Dir) / name.data()).string(), true});
    }
    return targets;
}

} // namespace

std::optional<std::string> ReadTargetsOver(IComPort& port, const TLineCommand& options,
                                           TConsolePrompt& prompt,
                                           std::vector<TDeviceOutcome>& outcomes) {
    const TReadOptions& read = options.Read;
    TComPortClass link(port, prompt);
    ConfigureLink(link, read);
    if (auto error = OpenLine(port, link, read))
        return error;
    const bool terminal = !read.Trace && ::isatty(STDERR_FILENO) == 1;
    TConsoleView view(stderr, terminal);
    outcomes = ReadTargets(link, prompt, view, TargetsOf(options), read);
    link.ClosePort();
    return std::nullopt;
}

std::string DirFault(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec))
        return dir + ": " + (ec ? ec.message() : "not a folder");
    return "";
}

TLineReading ReadWholeLine(const TLineCommand& options, std::unique_ptr<IByteLine> line) {
    TLineReading reading;
    reading.Error = DirFault(options.Read.Dir);
    if (!reading.Error.empty()) {
        Fail(reading.Error);
        return reading;
    }
    TConsolePrompt prompt;
    try {
        TComPort port;
        ConfigurePort(port, options.Read);
        if (line)
            port.UseLine(std::move(line));
        reading.Error = ReadTargetsOver(port, options, prompt, reading.Outcomes).value_or("");
    } catch (const std::exception& e) {
        reading.Error = FailedBy(e);
    }
    return reading;
}

const TEventDictionary* EventNames() {
    static const TEventDictionary names = [] {
        std::vector<std::string> problems;
        TEventDictionary loaded = LoadEventDictionary(EventDictionaryFolders(), problems);
        for (const std::string& problem : problems)
            Say(stderr, problem);
        return loaded;
    }();
    return names.Empty() ? nullptr : &names;
}

std::string EventNameText(const TEventDictionary* names, int code) {
    const TEventName* name = names ? names->Find(code) : nullptr;
    if (name == nullptr)
        return "";
    const std::string_view severity = SeverityText(name->Severity);
    return "  " + name->Name + (severity.empty() ? "" : " (" + std::string(severity) + ")");
}

} // namespace kve17::ctl
