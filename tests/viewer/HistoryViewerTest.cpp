// The viewer on the event history: one device's events with the table's filters and counts, the
// events a later reading added, renaming a line in the history, and plain refusals.
#include "history/History.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryPicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

using history::THistory;

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

class HistoryViewer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        history = std::make_shared<THistory>(THistory::Open(path));
        history->Append(Reading(3, 30));
        history->Append(Reading(5, 4));
    }

    TArchiveViewer* Open(int address) {
        QString error;
        TArchiveViewer* viewer = OpenHistoryViewer(history, "Котельная 2", address, nullptr, error);
        EXPECT_NE(viewer, nullptr) << error.toStdString();
        return viewer;
    }

    QTemporaryDir dir;
    std::string path = dir.filePath("history.sqlite").toStdString();
    std::shared_ptr<THistory> history;
};

TEST_F(HistoryViewer, ShowsOneDevicesEventsNewestFirstWithTheTablesFiltersAndCounts) {
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

    viewer->CodesEdit->setText("7");
    EXPECT_EQ(viewer->Model->rowCount(), 10);
    viewer->CodesEdit->clear();
    viewer->InvalidBox->setChecked(true);
    ASSERT_EQ(viewer->Model->rowCount(), 1);
    EXPECT_EQ(viewer->Model->RowAt(0).Listed.Record.Detail, 5);
    viewer->ResetFilters();
    viewer->ShowDay(20260302);
    EXPECT_EQ(viewer->Model->rowCount(), 10);
    EXPECT_TRUE(viewer->Counts->text().startsWith("Показано записей: 10 из 30, недостоверных: 0"));
}

TEST_F(HistoryViewer, AReloadMarksTheEventsALaterReadingAdded) {
    std::unique_ptr<TArchiveViewer> viewer(Open(3));
    ASSERT_TRUE(viewer);
    EXPECT_EQ(history->Append(Reading(3, 33)), 3);
    viewer->ReloadSource();
    ASSERT_EQ(viewer->Model->rowCount(), 33);
    for (int row = 0; row < 33; ++row)
        EXPECT_EQ(viewer->Model->data(viewer->Model->index(row, 0), TRecordTableModel::AddedRole)
                      .toBool(),
                  row < 3)
            << row;
}

TEST_F(HistoryViewer, ALineRenamedInThePickerIsKeptInTheHistory) {
    THistoryPicker picker(history);
    QString error;
    ASSERT_TRUE(picker.Fill(error)) << error.toStdString();
    ASSERT_EQ(picker.LineBox->count(), 1);
    ASSERT_EQ(picker.DeviceBox->count(), 2);
    EXPECT_EQ(picker.DeviceBox->itemText(1), "Прибор 5");

    EXPECT_FALSE(picker.RenameLine("  ", error));
    EXPECT_TRUE(picker.RenameLine("Котельная 3", error)) << error.toStdString();
    EXPECT_EQ(picker.ChosenLine(), "Котельная 3");
    history.reset();
    const auto lines = THistory::Open(path).Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Name, "Котельная 3");
    EXPECT_EQ(lines[0].Addresses, (std::vector<int>{3, 5}));
}

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
