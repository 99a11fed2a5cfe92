// The serial device server of the distribution, serving one line (a pty's slave, or any
// terminal) on the loopback: raw TCP on one port and RFC 2217 on another, with its hold-backs
// off. Started for a test and stopped with it.
#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>

namespace kve17::test {

class Ser2net {
public:
    static constexpr const char* Program = "/usr/sbin/ser2net";
    static bool Installed();

    // Starts the server for `device` with its initial line settings ("9600n82") and waits, up
    // to a deadline, until both ports listen. Throws std::runtime_error.
    explicit Ser2net(const std::string& device, const std::string& settings = "9600n82");
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    std::string RawAddress() const { return "tcp://127.0.0.1:" + std::to_string(rawPort_); }
    std::string RfcAddress() const { return "rfc2217://127.0.0.1:" + std::to_string(rfcPort_); }

private:
    void Start(const std::string& device, const std::string& settings);
    void Stop();

    std::string folder_;
    int rawPort_ = 0;
    int rfcPort_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace kve17::test
