// The pseudo-terminal of the line. The devices use the master side; the slave side is held open
// here too, so the line stays up (and keeps its settings) while programs open and close it.
#pragma once

#include <string>

namespace kve17::sim {

class Pty {
public:
    // Opens the pair in raw mode with a non-blocking master; throws std::runtime_error.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    // The held slave descriptor, for reading the line settings the program chose.
    int Slave() const { return slave_; }
    const std::string& SlavePath() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace kve17::sim
