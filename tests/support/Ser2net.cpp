#include "tests/support/Ser2net.h"

#include "tests/support/TcpPeer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace kve17::test {

namespace {

using Clock = std::chrono::steady_clock;

// The loopback ports in the listening state, from the kernel's table (no connection is made,
// which would make the server open the line).
std::set<int> ListeningPorts() {
    std::set<int> ports;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const auto colon = local.find(':');
        if (state == "0A" && colon != std::string::npos)
            ports.insert(std::stoi(local.substr(colon + 1), nullptr, 16));
    }
    return ports;
}

std::string Connection(const std::string& name, const std::string& accepter, int port,
                       const std::string& device, const std::string& settings) {
    return "connection: &" + name + "\n  accepter: " + accepter + "tcp(nodelay),127.0.0.1," +
           std::to_string(port) + "\n  connector: serialdev," + device + "," + settings +
           ",local\n  options:\n    chardelay: false\n";
}

} // namespace

bool Ser2net::Installed() {
    return access(Program, X_OK) == 0;
}

Ser2net::Ser2net(const std::string& device, const std::string& settings) {
    std::string folder = (std::filesystem::temp_directory_path() / "kve17-ser2net-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr)
        throw std::runtime_error("ser2net: no temporary folder");
    folder_ = folder;
    try {
        Start(device, settings);
    } catch (...) {
        Stop();
        throw;
    }
}

void Ser2net::Start(const std::string& device, const std::string& settings) {
    rawPort_ = FreeTcpPort();
    rfcPort_ = FreeTcpPort();
    const std::string config = folder_ + "/ser2net.yaml";
    const std::string log = folder_ + "/ser2net.log";
    std::ofstream(config) << Connection("raw", "", rawPort_, device, settings)
                          << Connection("rfc", "telnet(rfc2217),", rfcPort_, device, settings);
    // Its messages go to a file nobody has to drain: a pipe left unread could stop the server.
    // The shell replaces itself with the server, so the process id stays the server's.
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/bin/sh", "-c", "exec \"$@\" >\"$0\" 2>&1", log, Program, "-n", "-d", "-c", config});
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        const std::set<int> listening = ListeningPorts();
        if (listening.contains(rawPort_) && listening.contains(rfcPort_))
            return;
        if (Clock::now() > deadline) {
            std::ifstream file(log);
            const std::string said{std::istreambuf_iterator<char>(file), {}};
            throw std::runtime_error("ser2net does not listen: " + said);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Ser2net::Stop() {
    process_.reset(); // stops it by its process id
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

Ser2net::~Ser2net() {
    Stop();
}

} // namespace kve17::test
