// The sub-commands of kve17ctl; each returns the program's exit status.
#pragma once

#include "tools/ctl/CtlOptions.h"

namespace kve17::ctl {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

int RunPorts();
int RunCreate(const TCtlOptions& options);
int RunRead(const TCtlOptions& options);
int RunShow(const TCtlOptions& options);
int RunScan(const TCtlOptions& options);
int RunHistory(const TCtlOptions& options);
int RunCollect(const TCtlOptions& options);

} // namespace kve17::ctl
