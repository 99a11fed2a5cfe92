// The viewer on the event history: one device's events with the table's filters and counts, the
// events a later reading added, renaming a line in the history, and plain refusals.
#include "history/History.h"
#include "tests/history/HistoryBackend.h"
#include "tests/viewer/ViewerFixture.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/EventChart.h"
#include "viewer/HistoryPicker.h"
#include "viewer/HistoryTableModel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <gmock/gmock.h>

namespace kve17::test {
namespace {

using history::THistory;

constexpr int WaitMs = 15000; // a deadline for failures only

// Event i of device 3 (0 the oldest): i/10 + 1 March 2026 at i o'clock, code 7 for every
// third event and 12 for the rest, detail i; event 5 is marked invalid (code 0xFF).
TArchiveRecord Event(int i) {
    const auto byte = [](int value) { return static_cast<std::uint8_t>(value); };
    return {byte(i == 5 ? 0xFF : i % 3 == 0 ? 7 : 12),
            byte(i),
            0,
            0,
            byte(i % 10),
            byte(i / 10 + 1),
            3,
            26};
}

history::THistoryReading Reading(int address, int count) {
    history::THistoryReading reading;
    reading.Line = "Котельная 2";
    reading.Port = "/dev/ttyUSB0";
    reading.Address = address;
    reading.File = "/tmp/a.dat";
    reading.Result = "Архив прочитан";
    for (int i = count - 1; i >= 0; --i)
        reading.Records.push_back({i, Event(i), i == 5});
    return reading;
}

// On an SQLite file and on the test PostgreSQL server, as a desk reads a shared history.
class HistoryViewer : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = database.Location();
        if (path.empty())
            GTEST_SKIP() << "KVE17_TEST_PG names no server (scripts/test.sh starts one)";
        history = std::make_shared<THistory>(THistory::Open(path));
        history->Append(Reading(3, 30));
        history->Append(Reading(5, 4));
    }

    TArchiveViewer* Open(int address) {
        QString error;
        TArchiveViewer* viewer =
            OpenHistoryViewer(history, path, "Котельная 2", address, nullptr, error);
        EXPECT_NE(viewer, nullptr) << error.toStdString();
        return viewer;
    }

    HistoryDatabase database{GetParam()};
    QTemporaryDir dir;
    std::string path;
    std::shared_ptr<THistory> history;
};

TEST_P(HistoryViewer, ShowsOneDevicesEventsNewestFirstWithTheTablesFiltersAndCounts) {
    std::unique_ptr<TArchiveViewer> viewer(Open(3));
    ASSERT_TRUE(viewer);
    ASSERT_EQ(viewer->Model->rowCount(), 30);
    const auto text = [&](int row, int column) {
        return viewer->Model->data(viewer->Model->index(row, column), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(text(0, ColNumber), "1");
    EXPECT_EQ(text(0, ColDate), "03.03.26");
    EXPECT_EQ(text(0, ColTime), "09:00:00");
    EXPECT_EQ(text(0, ColCode), "12 (0x0C)");
    EXPECT_EQ(text(0, ColDetail), "29 (0x1D)");
    EXPECT_EQ(text(29, ColDetail), "0 (0x00)");
    EXPECT_EQ(text(24, ColState), "недостоверна");
    EXPECT_TRUE(viewer->Counts->text().startsWith("Показано записей: 30 из 30, недостоверных: 1"));
    EXPECT_TRUE(viewer->Counts->text().contains("01.03.26 — 03.03.26"));

    // The library's own listing of the device, in the same order.
    history::THistoryFilter filter;
    filter.Line = "Котельная 2";
    filter.Address = 3;
    const auto events = history->Events(filter);
    ASSERT_EQ(events.size(), 30u);
    for (int row = 0; row < 30; ++row)
        EXPECT_EQ(viewer->Model->RowAt(row).Listed.Record.Detail,
                  events[static_cast<std::size_t>(row)].Record.Detail);

    // Typing waits for a pause: every change is a query.
    viewer->CodesEdit->setText("7");
    EXPECT_EQ(viewer->Model->rowCount(), 30);
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer->Model->rowCount() == 10; }, WaitMs));
    viewer->CodesEdit->clear();
    viewer->InvalidBox->setChecked(true); // at once, with the cleared codes
    ASSERT_EQ(viewer->Model->rowCount(), 1);
    EXPECT_EQ(viewer->Model->RowAt(0).Listed.Record.Detail, 5);
    viewer->ResetFilters();
    viewer->ShowDays(20260302, 20260302);
    EXPECT_EQ(viewer->Model->rowCount(), 10);
    EXPECT_TRUE(viewer->Counts->text().startsWith("Показано записей: 10 из 30, недостоверных: 0"));
}

// 1234 events of device 9, one an hour of 52 days from 1 April 2026 (28 days of April, then
// May), 0 the oldest; code 7 for every seventh and 12 for the rest, detail i modulo 256.
history::THistoryReading LongReading() {
    history::THistoryReading reading = Reading(9, 0);
    for (int i = 1233; i >= 0; --i) {
        const auto byte = [](int value) { return static_cast<std::uint8_t>(value); };
        const int day = i / 24;
        const TArchiveRecord r{byte(i % 7 == 0 ? 7 : 12), byte(i % 256),      0, 0, byte(i % 24),
                               byte(1 + day % 28),        byte(4 + day / 28), 26};
        reading.Records.push_back({i, r, false});
    }
    return reading;
}

TEST_P(HistoryViewer, ALongHistoryIsFetchedByPagesWithFilterOrderAndCountsFromTheDatabase) {
    ASSERT_EQ(history->Append(LongReading()).Added, 1234);
    std::unique_ptr<TArchiveViewer> viewer(Open(9));
    ASSERT_TRUE(viewer);
    TRecordModel& model = *viewer->Model;
    EXPECT_EQ(model.rowCount(), 1234);
    EXPECT_EQ(model.RowAt(0).Number, 1);
    EXPECT_EQ(model.RowAt(0).Listed.Record.Detail, 1233 % 256);
    EXPECT_TRUE(viewer->Counts->text().startsWith("Показано записей: 1234 из 1234"));
    EXPECT_TRUE(viewer->Counts->text().contains("01.04.26 — 24.05.26"));
    int charted = 0;
    for (const TBin& bin : viewer->Chart->Bars())
        charted += bin.Count;
    EXPECT_EQ(charted, 1234);
    EXPECT_EQ(model.RowAt(1233).Number, 1234);

    viewer->CodesEdit->setText("7");
    viewer->ApplyFilter();
    EXPECT_EQ(model.rowCount(), 177);
    EXPECT_TRUE(viewer->Counts->text().startsWith("Показано записей: 177 из 1234"));
    viewer->Table->sortByColumn(ColDetail, Qt::AscendingOrder);
    ASSERT_EQ(model.rowCount(), 177);
    for (int row = 1; row < 177; ++row)
        ASSERT_LE(model.RowAt(row - 1).Listed.Record.Detail, model.RowAt(row).Listed.Record.Detail);
    viewer->CodesEdit->clear();
    viewer->SearchEdit->setText("23:00");
    viewer->ApplyFilter();
    EXPECT_EQ(model.rowCount(), 51); // the hours 23 of days 1 to 51
    viewer->SearchEdit->clear();
    viewer->ApplyFilter();

    // An export holds every row shown, in the table's order, without the table fetching them.
    auto* history = qobject_cast<THistoryTableModel*>(viewer->Model);
    const int fetched = history->PagesFetched();
    const QString csv = dir.filePath("all.csv");
    QString error;
    EXPECT_THAT(Finish(*viewer, viewer->StartCsv(csv, ';', error), error),
                ::testing::StartsWith("Экспорт записан"));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1235);
    EXPECT_EQ(lines[0].toStdString(), "Линия;Устройство;№;Дата;Время;Код;Код (hex);Параметр;"
                                      "Параметр (hex);Состояние");
    // Detail 0, newest first: event 1024, number 1234 - 1024, of 15 May (day 42) at 16 o'clock.
    EXPECT_EQ(lines[1].toStdString(), "Котельная 2;9;210;2026-05-15;16:00:00;12;0x0C;0;0x00;");
    EXPECT_EQ(history->PagesFetched(), fetched);
}

TEST_P(HistoryViewer, AnOpenViewerFindsAndMarksTheEventsALaterReadingAdded) {
    auto model = std::make_unique<THistoryTableModel>(history, path, "Котельная 2", 3, 20);
    QString error;
    ASSERT_TRUE(model->Load(error)) << error.toStdString();
    TArchiveViewer viewer(std::move(model));
    EXPECT_EQ(history->Append(Reading(3, 33)).Added, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.Model->rowCount() == 33; }, WaitMs));
    EXPECT_TRUE(viewer.Counts->text().contains("Добавлено последним чтением: 3"));
    for (int row = 0; row < 33; ++row)
        EXPECT_EQ(viewer.Model->data(viewer.Model->index(row, 0), TRecordModel::AddedRole).toBool(),
                  row < 3)
            << row;
}

TEST_P(HistoryViewer, ALineRenamedInThePickerIsKeptInTheHistory) {
    THistoryPicker picker(history);
    QString error;
    ASSERT_TRUE(picker.Fill(error)) << error.toStdString();
    ASSERT_EQ(picker.LineBox->count(), 1);
    ASSERT_EQ(picker.DeviceBox->count(), 2);
    EXPECT_EQ(picker.DeviceBox->itemText(1), "Устройство 5");

    EXPECT_FALSE(picker.RenameLine("  ", error));
    EXPECT_TRUE(picker.RenameLine("Котельная 3", error)) << error.toStdString();
    EXPECT_EQ(picker.ChosenLine(), "Котельная 3");
    history.reset();
    const auto lines = THistory::Open(path).Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Name, "Котельная 3");
    EXPECT_EQ(lines[0].Addresses, (std::vector<int>{3, 5}));
}

TEST_P(HistoryViewer, ALineRenamedInTheViewerKeepsItsEventsAndItsLaterReadings) {
    std::unique_ptr<TArchiveViewer> viewer(Open(3));
    ASSERT_TRUE(viewer);
    const auto actions = viewer->findChildren<QAction*>();
    EXPECT_TRUE(std::any_of(actions.begin(), actions.end(), [](const QAction* action) {
        return action->text() == "Переименовать линию…";
    }));
    QString error;
    EXPECT_FALSE(RenameViewedLine(*viewer, " ", error));
    ASSERT_TRUE(RenameViewedLine(*viewer, " Котельная 4 ", error)) << error.toStdString();
    EXPECT_EQ(viewer->windowTitle(), "История событий — линия «Котельная 4», устройство 3");
    EXPECT_EQ(history->Lines()[0].Name, "Котельная 4");

    history::THistoryReading later = Reading(3, 33);
    later.Line = "Котельная 4";
    EXPECT_EQ(history->Append(later).Added, 3);
    viewer->ReloadSource();
    EXPECT_EQ(viewer->Model->rowCount(), 33);
}

INSTANTIATE_TEST_SUITE_P(Backends, HistoryViewer,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres), BackendName);

TEST(HistoryViewerRefusal, AMissingOrEmptyHistoryIsNamedAndNotCreated) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("none.sqlite").toStdString();
    QString error;
    EXPECT_EQ(OpenHistoryViewer(missing, nullptr, error), nullptr);
    EXPECT_TRUE(error.contains(QString::fromStdString(missing))) << error.toStdString();
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::string empty = dir.filePath("empty.sqlite").toStdString();
    THistory::Open(empty);
    EXPECT_EQ(OpenHistoryViewer(empty, nullptr, error), nullptr);
    EXPECT_TRUE(error.startsWith("История событий пуста")) << error.toStdString();
}

} // namespace
} // namespace kve17::test
