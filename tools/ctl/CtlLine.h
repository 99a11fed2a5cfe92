// The line as kve17ctl drives it: the port and the link set from the command line, the port
// opened (waiting for another reader to let it go when asked to), and the devices read.
#pragma once

#include "link/Comportclass.h"
#include "serial/Comport.h"
#include "tools/ctl/ConsolePrompt.h"
#include "tools/ctl/ConsoleView.h"
#include "tools/ctl/CtlOptions.h"
#include "tools/ctl/LineReport.h"

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17::ctl {

// What a reading ended by a stop signal (Ctrl+C, SIGTERM, SIGHUP) says.
inline constexpr std::string_view StoppedText = "reading stopped; the archive file is unchanged";

void Fail(std::string_view text);
// Why a reading ended by `e` (StoppedText when a stop signal came), said with Fail.
std::string FailedBy(const std::exception& e);
// The path from the root, or as given when the current folder is unknown.
std::string Absolute(const std::string& path);

// The port as the program's start leaves it, then the line the command line asks for.
void ConfigurePort(TComPort& port, const TReadOptions& read);
void ConfigureLink(TComPortClass& link, const TReadOptions& read);

// Opens the port. While another reader holds it, tries again until `wait` has passed (saying
// once on stderr that it waits). Raises the driver's EComPort when it gives up.
void OpenWhenFree(IComPort& port, std::chrono::seconds wait, std::string_view name);

// Opens the line's port as OpenWhenFree does; on failure shows the program's message and the
// driver's reason on stderr and returns that reason.
std::optional<std::string> OpenLine(IComPort& port, TComPortClass& link, const TReadOptions& read);

struct TReadingTarget {
    int Device = 0;
    std::string File;
    bool CreateMissing = false; // a missing file is created fresh first
};

// One target after the other; a device that fails does not stop the others, a port that is
// lost does (the devices not reached say so). Each device's reading goes to the history that
// `read` names right after its file is saved (a failure said on stderr there and then), so
// that a line cut short keeps what it read and one device's history failure does not keep the
// next device out.
std::vector<TDeviceOutcome> ReadTargets(TComPortClass& link, TConsolePrompt& prompt,
                                        TConsoleView& view,
                                        const std::vector<TReadingTarget>& targets,
                                        const TReadOptions& read);

// A whole line as `read --dir` reads it: the folder made, the port opened, the devices read one
// after the other. `Error` says why nothing was read ("" when the port served).
struct TLineReading {
    std::vector<TDeviceOutcome> Outcomes;
    std::string Error;
};
// A line given (a modem's connection) is read under the options' port name instead of the port.
TLineReading ReadWholeLine(const TLineCommand& options, std::unique_ptr<IByteLine> line = nullptr);

// The line "history WHERE: N new events" on stdout for the devices whose readings the history
// took, and a line for those it did not (none without history, or as JSON).
void SayHistory(const TReadOptions& read, const std::vector<TDeviceOutcome>& outcomes);

} // namespace kve17::ctl
