// The command line of kve17-sim.
#pragma once

#include "tools/sim/SimLine.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kve17::sim {

struct SimOptions {
    SimOptions();

    std::array<bool, LastAddress + 1> present{}; // by address; 1 to 31 by default
    std::uint32_t seed = 1;
    std::array<int, LastAddress + 1> records{}; // written records of a made archive; 992
    std::vector<std::pair<int, std::string>> archiveFiles;
    int grow = 0;    // newer records per device every second
    int growFor = 0; // seconds the growth lasts; 0 for as long as the line serves
    int burst = 0;   // records SIGUSR1 adds; 0 for max(grow, 1)
    std::vector<std::pair<int, Fault>> faults;
    LineOptions line;
    std::string name;    // the COM name to link; empty for the lowest free one
    std::string portDir; // empty for the port directory's default
    std::string dumpDir; // empty for no dumps
    std::string journal; // empty for none
    std::string tcpHost = "127.0.0.1";
    int tcpPort = -1; // -1: no TCP server; 0: a free port
    // Calling a server as cellular modems: one line of the same devices for each ID.
    std::string dialHost;
    std::string dialPort;
    std::vector<std::vector<std::uint8_t>> registers;
    bool registerEvery = false;
    int heartbeatMs = 0;
    std::vector<std::uint8_t> heartbeat{0xFE};
    std::size_t dropAfter = 0;
    bool help = false;
    bool version = false;
};

// The arguments after the program name. Throws std::invalid_argument with a message that
// names the option at fault.
SimOptions ParseSimOptions(std::span<const std::string_view> args);

std::string_view SimHelpText();

} // namespace kve17::sim
