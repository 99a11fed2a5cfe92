// The viewer's speed on a full archive file: opening it with the table and chart drawn, and a
// filter change; and opening the 100,000 events of one device's history, a filter change and a
// text search there, and a PDF of 5,000 of its rows. Runs on the offscreen
// platform unless another one is set.
#include "archive/ArchiveFile.h"
#include "archive/ArchiveOps.h"
#include "bench/HistoryEvents.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/QuietOperator.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryPicker.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <functional>
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

using TOpener = std::function<TArchiveViewer*(QString& error)>;

// Opens a viewer and draws the whole window, table and chart, once per iteration.
void OpenAndDraw(benchmark::State& state, const TOpener& open) {
    for (auto _ : state) {
        QString error;
        TArchiveViewer* viewer = open(error);
        if (viewer == nullptr)
            return state.SkipWithError(error.toStdString().c_str());
        viewer->show();
        benchmark::DoNotOptimize(viewer->grab());
        state.counters["rows"] = viewer->Model->rowCount();
        delete viewer;
    }
}

// Sets and clears `text` in a filter field of an open viewer, by turns, each applied at once
// (as the pause after typing does for a database source).
void FilterChange(benchmark::State& state, const TOpener& open, bool search, const QString& text) {
    QString error;
    TArchiveViewer* viewer = open(error);
    if (viewer == nullptr)
        return state.SkipWithError(error.toStdString().c_str());
    viewer->show();
    QApplication::processEvents();
    QLineEdit* edit = search ? viewer->SearchEdit : viewer->CodesEdit;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        edit->setText(on ? text : QString());
        viewer->ApplyFilter();
        QApplication::processEvents();
    }
    delete viewer;
}

TArchiveViewer* OpenFullArchive(QString& error) {
    return TArchiveViewer::OpenFile(FullArchive(), nullptr, error);
}

void BM_ViewerOpenAndDraw(benchmark::State& state) {
    OpenAndDraw(state, OpenFullArchive);
}
BENCHMARK(BM_ViewerOpenAndDraw)->Unit(benchmark::kMillisecond);

// A search typed: the table filtered and sorted, the chart and the counts redrawn.
void BM_ViewerFilterChange(benchmark::State& state) {
    FilterChange(state, OpenFullArchive, true, QStringLiteral("0x1"));
}
BENCHMARK(BM_ViewerFilterChange)->Unit(benchmark::kMillisecond);

constexpr int HistoryEvents = 100000;
constexpr int ReadingRecords = 988;

// One device with 100,000 events (about four years) in an SQLite history, filled once.
QString LongHistoryPath() {
    static QTemporaryDir dir;
    return dir.filePath("history.sqlite");
}

std::shared_ptr<history::THistory> LongHistory() {
    static const auto history = [] {
        auto h = std::make_shared<history::THistory>(
            history::THistory::Open(LongHistoryPath().toStdString()));
        // Each reading a full ring that still holds the 88 newest events of the one before.
        for (int newest = ReadingRecords - 1;;
             newest = std::min(newest + ReadingRecords - 88, HistoryEvents - 1)) {
            const int first = std::max(0, newest - ReadingRecords + 1);
            h->Append(bench::ReadingOf("Котельная 2", 7, first, newest - first + 1));
            if (newest == HistoryEvents - 1)
                break;
        }
        return h;
    }();
    return history;
}

TArchiveViewer* OpenLongHistory(QString& error) {
    return OpenHistoryViewer(LongHistory(), LongHistoryPath().toStdString(), "Котельная 2", 7,
                             nullptr, error);
}

void BM_HistoryViewerOpenAndDraw(benchmark::State& state) {
    LongHistory(); // filled before the clock runs
    OpenAndDraw(state, OpenLongHistory);
}
BENCHMARK(BM_HistoryViewerOpenAndDraw)->Unit(benchmark::kMillisecond);

// A change of the code filter, then of the text searched, each counted and fetched anew by the
// database.
void BM_HistoryViewerFilterChange(benchmark::State& state) {
    const bool search = state.range(0) == 1;
    FilterChange(state, OpenLongHistory, search,
                 search ? QStringLiteral("0x1") : QStringLiteral("7"));
}
BENCHMARK(BM_HistoryViewerFilterChange)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A PDF of 5,000 rows of the history (codes 0 to 9), made beside the window from the start of the
// job to its file written.
void BM_HistoryViewerPdf(benchmark::State& state) {
    QString error;
    std::unique_ptr<TArchiveViewer> viewer(OpenLongHistory(error));
    if (!viewer)
        return state.SkipWithError(error.toStdString().c_str());
    viewer->CodesEdit->setText(QStringLiteral("0-9"));
    viewer->ApplyFilter();
    QTemporaryDir dir;
    const QString pdf = dir.filePath("rows.pdf");
    for (auto _ : state) {
        if (viewer->StartPdf(pdf, error) == nullptr)
            return state.SkipWithError(error.toStdString().c_str());
        while (viewer->Job() != nullptr)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!viewer->Notice->text().startsWith(QStringLiteral("PDF записан")))
            return state.SkipWithError(viewer->Notice->text().toStdString().c_str());
        state.counters["rows"] = viewer->Model->rowCount();
        state.counters["bytes"] = static_cast<double>(QFileInfo(pdf).size());
    }
}
BENCHMARK(BM_HistoryViewerPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

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
