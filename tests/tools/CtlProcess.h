// kve17ctl run as a process to its end, with what it wrote kept.
#pragma once

#include "tests/support/ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace kve17::test {

struct Finished {
    int Status = -1; // -1 when it did not end within the patience
    std::string Out;
    std::string Err;
};

inline Finished RunCtl(std::vector<std::string> args, std::chrono::milliseconds patience) {
    args.insert(args.begin(), KVE17CTL_PATH);
    ChildProcess ctl(args);
    Finished f;
    f.Status = ctl.Wait(patience);
    f.Out = ctl.out;
    f.Err = ctl.err;
    return f;
}

} // namespace kve17::test
