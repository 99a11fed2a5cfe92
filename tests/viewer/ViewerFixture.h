// Archive files made by real readings of a device archive with dated events, for the viewer.
#pragma once

#include "archive/ArchiveOps.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/QuietOperator.h"
#include "viewer/ArchiveViewer.h"

#include <QLabel>
#include <QTest>
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

// Waits for an export or print of `viewer` to end and returns what the viewer then says of it;
// "refused: …" when it did not start.
inline std::string Finish(TArchiveViewer& viewer, TRowJob* job, const QString& refusal = {}) {
    if (job == nullptr)
        return "refused: " + refusal.toStdString();
    if (!QTest::qWaitFor([&] { return viewer.Job() == nullptr; }, 60000))
        return "did not end";
    return viewer.Notice->text().toStdString();
}

} // namespace kve17::test
