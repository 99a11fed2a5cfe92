// The server's listening sockets and what they accept: the only file of the server that makes
// socket calls of its own (a connection, once accepted, is a net::Socket).
#pragma once

#include "serve/Schedule.h"

#include <string>

namespace kve17::serve {

class Listener {
public:
    // Listens on the address; throws std::runtime_error naming it and the reason.
    explicit Listener(const ListenAddress& address);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Descriptor() const { return fd_; }
    // "HOST:PORT" with the port actually listened on.
    const std::string& Address() const { return address_; }
    int Port() const { return port_; }

    // A non-blocking connection with Nagle's algorithm off, or -1 when none is waiting;
    // `peer` gets its source address ("10.1.2.3:40123").
    int Accept(std::string& peer) const;

private:
    int fd_ = -1;
    int port_ = 0;
    std::string address_;
};

} // namespace kve17::serve
