// Interrupt, terminate and hang-up as a request to stop: the handler only records the signal, the
// reading gives up at its next wait, the program closes the port through the driver (exclusive
// mode cleared, line settings restored) and then ends as the signal would have ended it.
#pragma once

namespace kve17 {

// Installs the recording handler for SIGINT, SIGTERM and SIGHUP (without restarting calls, so
// that a wait in progress returns).
void InstallStopSignals();
// The stop signal received, 0 while none has come.
int StopSignal();
// A descriptor that becomes readable when a stop signal comes, for event loops; -1 before
// InstallStopSignals.
int StopSignalFd();
// Ends the process with the received signal's default action; returns when none has come.
void RaiseStopSignal();
// A write past the file-size limit (ulimit -f) fails with EFBIG, reported like a full disk,
// instead of killing the program with SIGXFSZ.
void IgnoreFileSizeSignal();

} // namespace kve17
