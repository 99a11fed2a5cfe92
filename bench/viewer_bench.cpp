// The viewer's speed on a full archive file: opening it with the table and chart drawn, and a
// filter change. Runs on the offscreen platform unless another one is set.
#include "archive/ArchiveFile.h"
#include "archive/ArchiveOps.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/QuietOperator.h"
#include "viewer/ArchiveViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <string_view>

using namespace kve17;

namespace {

// A full archive file: 988 records over eleven days, as a reading leaves it.
bool WriteFullArchive(const std::string& file) {
    if (CreateFreshFile(file, true) != TCreateFileResult::Created)
        return false;
    test::FakeDevice device;
    device.Archive = test::MakeEventDevice(0);
    test::QuietPrompt prompt;
    test::QuietView view;
    return ReadArchiveFile(file, 0, device, prompt, view).Saved;
}

QString FullArchive() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath("full.dat");
        WriteFullArchive(file.toStdString());
        return file;
    }();
    return path;
}

void BM_ViewerOpenAndDraw(benchmark::State& state) {
    const QString path = FullArchive();
    for (auto _ : state) {
        QString error;
        TArchiveViewer* viewer = TArchiveViewer::OpenFile(path, nullptr, error);
        viewer->show();
        benchmark::DoNotOptimize(viewer->grab()); // table and chart drawn
        delete viewer;
    }
}
BENCHMARK(BM_ViewerOpenAndDraw)->Unit(benchmark::kMillisecond);

void BM_ViewerFilterChange(benchmark::State& state) {
    QString error;
    TArchiveViewer* viewer = TArchiveViewer::OpenFile(FullArchive(), nullptr, error);
    viewer->show();
    QApplication::processEvents();
    bool on = false;
    for (auto _ : state) {
        on = !on;
        viewer->SearchEdit->setText(on ? QStringLiteral("0x1") : QString());
        QApplication::processEvents();
    }
    delete viewer;
}
BENCHMARK(BM_ViewerFilterChange)->Unit(benchmark::kMillisecond);

} // namespace

// With --write-archive=FILE it only writes the full archive file, for the start-up timing.
int main(int argc, char** argv) {
    const std::string_view write = "--write-archive=";
    if (argc == 2 && std::string_view(argv[1]).starts_with(write))
        return WriteFullArchive(argv[1] + write.size()) ? 0 : 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
