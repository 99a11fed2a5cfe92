#include "tools/ctl/CtlCommands.h"

#include "archive/ArchiveFile.h"
#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "archive/RecordExport.h"
#include "link/Comportclass.h"
#include "serial/Comport.h"
#include "serial/PortDirectory.h"
#include "tools/ctl/ConsolePrompt.h"
#include "tools/ctl/ConsoleView.h"
#include "tools/ctl/CtlLine.h"
#include "tools/ctl/LineScan.h"
#include "tools/ctl/TraceComPort.h"

#include <array>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace kve17::ctl {

namespace {

void Say(std::FILE* out, std::string_view text) {
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
}

// The files of a reading: the one FILE, or one per device in the folder of --dir.
std::vector<TReadingTarget> TargetsOf(const TCtlOptions& options) {
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

int Summarize(const TCtlOptions& options, const std::vector<TDeviceOutcome>& outcomes) {
    const bool ok = AllOk(outcomes);
    if (options.Read.Json)
        PrintJson(options.Command, options.Read, outcomes, "");
    else if (!options.Read.Dir.empty())
        PrintReadingTable(outcomes);
    else if (ok)
        std::printf("%s reading of device %d: %d records stored, %d new records merged\n",
                    ModeName(outcomes.front().Mode), outcomes.front().Device,
                    outcomes.front().StoredRecords, outcomes.front().NewRecords);
    return ok ? ExitOk : ExitFailed;
}

// The table's columns in fixed widths: "   1  21.03.24  20:33:20  3 (0x03)    208 (0xD0)".
std::string PlainLine(const std::array<std::string, ColumnCount>& texts) {
    char line[128];
    std::snprintf(line, sizeof line, "%4s  %-8s  %-8s  %-10s  %-10s  %s", texts[ColNumber].c_str(),
                  texts[ColDate].empty() ? "-" : texts[ColDate].c_str(),
                  texts[ColTime].empty() ? "-" : texts[ColTime].c_str(), texts[ColCode].c_str(),
                  texts[ColDetail].c_str(), texts[ColState].c_str());
    std::string text(line);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// Opens the line and reads its targets; the reason when the port does not open.
std::optional<std::string> ReadTargetsOver(IComPort& port, const TCtlOptions& options,
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

int ReadOver(IComPort& port, const TCtlOptions& options, TConsolePrompt& prompt) {
    std::vector<TDeviceOutcome> outcomes;
    if (const auto error = ReadTargetsOver(port, options, prompt, outcomes)) {
        if (options.Read.Json)
            PrintJson(options.Command, options.Read, {}, *error);
        return ExitFailed;
    }
    const int status = Summarize(options, outcomes);
    SayHistory(options.Read, outcomes);
    return status;
}

// A folder for the files of a whole line, made when missing; the reason when it cannot be.
std::string DirFault(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec))
        return dir + ": " + (ec ? ec.message() : "not a folder");
    return "";
}

// Runs `body` on the port the command line names, with the trace in between when asked for.
// A driver failure that `body` lets pass ends the command; a script still gets its summary.
template <typename Body> int OverPort(const TCtlOptions& options, Body body) {
    const TReadOptions& read = options.Read;
    try {
        TComPort port;
        ConfigurePort(port, read);
        if (!read.Trace)
            return body(port, port);
        TTraceComPort trace(port, stderr);
        return body(trace, port);
    } catch (const std::exception& e) {
        // The driver gave up, or a stop signal came: the file kept its content, and the port is
        // closed by now.
        const std::string why = FailedBy(e);
        if (read.Json)
            PrintJson(options.Command, read, {}, why);
        return ExitFailed;
    }
}

} // namespace

TLineReading ReadWholeLine(const TCtlOptions& options) {
    TLineReading line;
    line.Error = DirFault(options.Read.Dir);
    if (!line.Error.empty()) {
        Fail(line.Error);
        return line;
    }
    TConsolePrompt prompt;
    try {
        TComPort port;
        ConfigurePort(port, options.Read);
        line.Error = ReadTargetsOver(port, options, prompt, line.Outcomes).value_or("");
    } catch (const std::exception& e) {
        line.Error = FailedBy(e);
    }
    return line;
}

int RunPorts() {
    try {
        for (const TPortEntry& entry : TPortDirectory().List())
            std::printf("%s\t%s\n", entry.Name.c_str(), entry.Device.c_str());
    } catch (const std::exception& e) {
        Fail(e.what());
        return ExitFailed;
    }
    return ExitOk;
}

int RunCreate(const TCtlOptions& options) {
    const auto name = NormalizeArchiveName(options.File);
    if (!name) {
        Say(stderr, "Неверно задано имя файла");
        return ExitFailed;
    }
    switch (CreateFreshFile(*name, options.Force)) {
    case TCreateFileResult::Created:
        Say(stdout, "Создан файл архива " + Absolute(*name));
        return ExitOk;
    case TCreateFileResult::Exists:
        Say(stderr, "Файл с таким именем существует.");
        Fail("--force creates it anew");
        return ExitFailed;
    case TCreateFileResult::Failed:
        break;
    }
    Say(stderr, CreateFailedText);
    return ExitFailed;
}

int RunRead(const TCtlOptions& options) {
    if (const std::string fault = options.Read.Dir.empty() ? "" : DirFault(options.Read.Dir);
        !fault.empty()) {
        Fail(fault);
        if (options.Read.Json)
            PrintJson(options.Command, options.Read, {}, fault);
        return ExitFailed;
    }
    TConsolePrompt prompt;
    return OverPort(options,
                    [&](IComPort& port, TComPort&) { return ReadOver(port, options, prompt); });
}

int RunScan(const TCtlOptions& options) {
    const TReadOptions& read = options.Read;
    return OverPort(options, [&](IComPort& port, TComPort& serial) {
        FitScanTimeouts(serial, read);
        TConsolePrompt prompt;
        TComPortClass link(port, prompt, ScanTiming());
        ConfigureLink(link, read);
        if (const auto error = OpenLine(port, link, read)) {
            if (read.Json)
                PrintJson(options.Command, read, {}, *error);
            return ExitFailed;
        }
        // The link's words for each address are kept for the summary, not shown one by one.
        prompt.SetOutput(nullptr);
        const auto outcomes = ScanLine(link, prompt, read.Devices);
        link.ClosePort();
        if (read.Json)
            PrintJson(options.Command, read, outcomes, "");
        else
            PrintScan(outcomes, read);
        return ExitOk;
    });
}

int RunShow(const TCtlOptions& options) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(options.File, TOpenMode::ReadOnly, image)) {
        Say(stderr, OpenFailedText);
        return ExitFailed;
    }
    file.Close();
    const auto rows = ListRows(image);
    const auto shown = FilterRows(rows, options.Filter);
    if (options.Json)
        WriteJson(std::cout, rows, shown);
    else if (options.Csv)
        WriteCsv(std::cout, rows, shown, options.Separator);
    else
        for (int i : shown) {
            const auto texts = RowTexts(rows[static_cast<std::size_t>(i)]);
            std::cout << PlainLine(texts) << '\n';
        }
    std::cout.flush();
    if (!std::cout)
        return ExitFailed;
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFailed;
}

} // namespace kve17::ctl
