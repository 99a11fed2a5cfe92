// The configuration of `collect`: a small text file of lines, each with its port, settings,
// devices and archive folder, turned into the `read --dir` command line of each.
//
//   history = /var/lib/kve17/history.sqlite   # or postgresql://..., or off
//   dir = /var/lib/kve17                      # each line's files in DIR/NAME
//   baud = 9600                               # settings here hold for every line
//
//   [Котельная 2]
//   port = /dev/ttyUSB0
//   device = 1-5,7
//   wait = 30
#pragma once

#include "tools/ctl/CtlOptions.h"

#include <optional>
#include <string>
#include <vector>

namespace kve17::ctl {

// The options of `collect`: the configuration, and what overrides it.
struct TCollectOptions {
    std::string Config;
    TReadOptions Read; // --history, --no-history and --json
};

// The keys of a line a cellular modem carries (`serve` only), as written.
struct TModemKeys {
    std::string Id; // text, or 0x and hex digits
    std::string IdMode = "once";
    std::string Heartbeat; // "" for none
    std::string Every = "1h";
};

struct TCollectLine {
    std::string Name;     // the section's name; the line's name in the history
    TLineCommand Options; // as `read` would have parsed them
    TModemKeys Modem;     // `serve` only; the port is then "modem:" and the ID
};

// The configuration of `serve`: collect's, with where to listen and keep the status, and per
// line the modem instead of the port.
struct TServeConfig {
    std::vector<std::string> Listen; // [HOST:]PORT as written
    std::string Status;              // the status file; "" when no dir says where
    std::vector<TCollectLine> Lines;
};

// The lines in file order. `command` gives --json and a --history or --no-history that overrides
// the file's. On a fault, nothing with `error` naming the file, its line and the key.
std::optional<std::vector<TCollectLine>> LoadCollectConfig(const TCollectOptions& command,
                                                           std::string& error);
std::optional<TServeConfig> LoadServeConfig(const TCollectOptions& command, std::string& error);

} // namespace kve17::ctl
