// kve17ctl ports: the serial ports the program offers.
#include "serial/PortDirectory.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/SubCommand.h"

#include <cstdio>
#include <exception>

namespace kve17::ctl {

namespace {

struct TPortsOptions {};

void DeclarePorts(CLI::App&, TPortsOptions&) {}

std::string AcceptPorts(TPortsOptions&, const std::vector<std::string>& operands) {
    return NoOperand(operands);
}

int RunPorts(const TPortsOptions&) {
    try {
        for (const TPortEntry& entry : TPortDirectory().List())
            std::printf("%s\t%s\n", entry.Name.c_str(), entry.Device.c_str());
    } catch (const std::exception& e) {
        Fail(e.what());
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

extern const TSubCommand PortsCommand = {
    .Name = "ports",
    .Synopsis = "ports",
    .Summary = "list the serial ports: name and device path",
    .Usage = "ports",
    .About = "Lists the serial ports the program offers, one a line: name, a tab, device path.\n",
    .Footer = "",
    .Make = TCommandLine<TPortsOptions, DeclarePorts, AcceptPorts, RunPorts>::Make,
};

} // namespace kve17::ctl
