// Which addresses answer on a line: one short request each, one try, a reply time-out fitted
// to the line speed instead of the reading's repeats.
#pragma once

#include "link/Comportclass.h"
#include "serial/Comport.h"
#include "tools/ctl/ConsolePrompt.h"
#include "tools/ctl/CtlOptions.h"
#include "tools/ctl/LineReport.h"

#include <chrono>
#include <vector>

namespace kve17::ctl {

// The reply time-out of one address: the one given, or the request and a reply header at the
// line's speed plus the device's turn-around.
std::chrono::milliseconds ScanReplyTimeout(const TReadOptions& read);
// The port's read time-outs for the scan (before it opens).
void FitScanTimeouts(TComPort& port, const TReadOptions& read);
// No pause between tries: the scan makes one.
TLinkTiming ScanTiming();

// Asks each device for its newest archive block, the request every reading starts with, so
// any device that can be read answers it. Started marks an answer of the device's own, Ok a
// valid one; Result holds the link's words for a fault or a silence. `words` takes the link's
// messages without showing them.
std::vector<TDeviceOutcome> ScanLine(TComPortClass& link, TConsolePrompt& words,
                                     const std::vector<int>& devices);

} // namespace kve17::ctl
