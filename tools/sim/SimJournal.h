// Every record the simulated devices make, in the order they make them: the list a collection
// is checked against. One line a record, "ADDR HEX" with the eight bytes as they lie in the
// archive (code, detail, second, minute, hour, day, month, year), oldest first per device.
#pragma once

#include "tools/sim/SimLine.h"

#include <cstdio>
#include <string>

namespace kve17::sim {

class SimJournal {
public:
    // Appends to `path`, made when missing; throws std::runtime_error when it cannot be opened
    // or is not a regular file.
    explicit SimJournal(const std::string& path);
    ~SimJournal();
    SimJournal(const SimJournal&) = delete;
    SimJournal& operator=(const SimJournal&) = delete;

    // The written records of a device's first archive, oldest first (empty slots left out).
    void Start(int address, const DeviceArchive& archive);
    // The `count` newest records of `archive`, just added, oldest first.
    void Grown(int address, const DeviceArchive& archive, int count);
    // Hands what is written to the file, so that a reader sees every record made so far.
    void Flush();

private:
    void Put(int address, const DeviceArchive& archive, int index);
    std::FILE* file_ = nullptr;
};

} // namespace kve17::sim
