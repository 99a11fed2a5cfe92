// Archive files made by real readings of a device archive with dated events, for the viewer.
#pragma once

#include "archive/ArchiveOps.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/QuietOperator.h"

#include <string>

namespace kve17::test {

// Reads the event device `shift` records on into the archive file at `path` (created fresh
// when missing) the way the program does: load, merge, save by rename.
inline TReadingResult ReadEvents(const std::string& path, int shift) {
    if (!std::filesystem::exists(path))
        CreateFreshFile(path, false);
    FakeDevice device;
    device.Archive = MakeEventDevice(shift);
    QuietPrompt prompt;
    QuietView view;
    return ReadArchiveFile(path, 0, device, prompt, view);
}

} // namespace kve17::test
