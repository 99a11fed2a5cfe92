// What the sub-commands of kve17ctl share: their exit statuses, and the port, folder and reading
// of the line that `read`, `scan` and `collect` work.
#pragma once

#include "archive/EventDictionary.h"
#include "serial/Comport.h"
#include "tools/ctl/ConsolePrompt.h"
#include "tools/ctl/CtlLine.h"
#include "tools/ctl/CtlOptions.h"
#include "tools/ctl/LineReport.h"
#include "tools/ctl/TraceComPort.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17::ctl {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// Every device was read and its file saved, but the history of at least one was not written
// (its events come with the next reading the history takes).
inline constexpr int ExitHistory = 3;

// The status of a reading's devices: 1 when any failed, else 3 when any history was not written.
int ReadingStatus(const std::vector<TDeviceOutcome>& outcomes);

// One line of the program's own words on `out`.
void Say(std::FILE* out, std::string_view text);

// The user's names of event codes (the system's and the user's dictionary folders); nullptr when
// none are kept, so that listings stay as they were. Problems in the files are said once on
// stderr.
const TEventDictionary* EventNames();
// "  Пуск (информация)" for a code `names` names, to follow a listed line; "" otherwise.
std::string EventNameText(const TEventDictionary* names, int code);

// Opens the line and reads its targets; the reason when the port does not open.
std::optional<std::string> ReadTargetsOver(IComPort& port, const TLineCommand& options,
                                           TConsolePrompt& prompt,
                                           std::vector<TDeviceOutcome>& outcomes);

// A folder for the files of a whole line, made when missing; the reason when it cannot be.
std::string DirFault(const std::string& dir);

// Runs `body` on the port the command line names, with the trace in between when asked for.
// A driver failure that `body` lets pass ends the command; a script still gets its summary.
template <typename Body> int OverPort(const TLineCommand& options, Body body) {
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

} // namespace kve17::ctl
