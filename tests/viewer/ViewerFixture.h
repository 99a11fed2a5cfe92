// Archive files made by real readings of a device archive with dated events, for the viewer.
#pragma once

#include "archive/ArchiveOps.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/QuietOperator.h"
#include "viewer/ArchiveViewer.h"

#include <QFile>
#include <QLabel>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>
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

// Exports the viewer's rows as CSV to `path` and returns the file's lines (with a BOM, if any, on
// the first); none when the export did not say it was written.
inline QStringList ExportCsvLines(TArchiveViewer& viewer, const QString& path, char separator) {
    QString error;
    const std::string said = Finish(viewer, viewer.StartCsv(path, separator, error), error);
    EXPECT_EQ(said.rfind("Экспорт записан", 0), 0u) << said;
    QFile file(path);
    if (said.rfind("Экспорт записан", 0) != 0 || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
}

} // namespace kve17::test
