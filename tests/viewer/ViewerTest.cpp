// The viewer window on archive files made by readings: the table and its order, the filters,
// the chart and the counts agreeing with the table, the refresh after a reading into the open
// file, refusal of damaged files, and the exports.
#include "tests/viewer/ViewerFixture.h"
#include "viewer/ArchiveViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gmock/gmock.h>
#include <numeric>

namespace kve17::test {
namespace {

constexpr int WaitMs = 15000;

class Viewer : public ::testing::Test {
protected:
    Viewer() : path(temp.filePath("a.dat").toStdString()) {}
    ~Viewer() override { delete viewer; }

    void Open() {
        QString error;
        viewer = TArchiveViewer::OpenFile(QString::fromStdString(path), nullptr, error);
        ASSERT_NE(viewer, nullptr) << error.toStdString();
        viewer->show();
    }
    std::string Cell(int row, int column) const {
        return viewer->Model->index(row, column).data().toString().toStdString();
    }
    // The numbers of the rows the table shows, top down.
    std::vector<int> Numbers() const {
        std::vector<int> numbers;
        for (int row = 0; row < viewer->Model->rowCount(); ++row)
            numbers.push_back(std::stoi(Cell(row, ColNumber)));
        return numbers;
    }
    std::vector<int> AddedNumbers() const {
        std::vector<int> numbers;
        for (int row = 0; row < viewer->Model->rowCount(); ++row)
            if (viewer->Model->index(row, 0).data(TRecordModel::AddedRole).toBool())
                numbers.push_back(std::stoi(Cell(row, ColNumber)));
        return numbers;
    }
    int ChartTotal() const {
        const auto& bars = viewer->Chart->Bars();
        return std::accumulate(bars.begin(), bars.end(), 0,
                               [](int sum, const TBin& bar) { return sum + bar.Count; });
    }
    // The chart's bars as their first day (or code) and count.
    std::vector<std::pair<int, int>> Bars() const {
        std::vector<std::pair<int, int>> bars;
        for (const TBin& bin : viewer->Chart->Bars())
            bars.emplace_back(bin.First, bin.Count);
        return bars;
    }

    QTemporaryDir temp;
    std::string path;
    TArchiveViewer* viewer = nullptr;
};

std::vector<int> Range(int from, int to) {
    std::vector<int> numbers(static_cast<std::size_t>(to - from + 1));
    std::iota(numbers.begin(), numbers.end(), from);
    return numbers;
}

TEST_F(Viewer, TableListsNewestFirstAndSortsByEachColumn) {
    ReadEvents(path, 0);
    Open();
    ASSERT_EQ(viewer->Model->rowCount(), 988);
    EXPECT_EQ(viewer->Model->headerData(ColDetail, Qt::Horizontal).toString(), "Параметр");
    EXPECT_EQ(Cell(0, ColNumber), "1");
    EXPECT_EQ(Cell(0, ColDate), "21.03.24");
    EXPECT_EQ(Cell(0, ColTime), "20:33:20");
    EXPECT_EQ(Cell(0, ColCode), "3 (0x03)");
    EXPECT_EQ(Cell(0, ColDetail), "208 (0xD0)");
    EXPECT_EQ(Cell(5, ColState), "недостоверна");
    EXPECT_EQ(Cell(987, ColNumber), "988");

    viewer->Table->sortByColumn(ColCode, Qt::DescendingOrder);
    EXPECT_EQ(Cell(0, ColCode), "255 (0xFF)");
    EXPECT_EQ(Cell(1, ColCode), "255 (0xFF)");
    EXPECT_EQ(Cell(2, ColCode), "3 (0x03)");
    // By date: the record without a time stamp first, then the oldest day.
    viewer->Table->sortByColumn(ColDate, Qt::AscendingOrder);
    EXPECT_EQ(Cell(0, ColNumber), "10");
    EXPECT_EQ(Cell(1, ColNumber), "988");
    EXPECT_EQ(Cell(987, ColNumber), "1");
    viewer->Table->sortByColumn(ColNumber, Qt::AscendingOrder);
    EXPECT_EQ(Numbers(), Range(1, 988));
}

TEST_F(Viewer, FiltersChartAndCountsAgreeWithTheTable) {
    ReadEvents(path, 0);
    Open();
    EXPECT_EQ(viewer->Counts->text(), "Показано записей: 988 из 988, недостоверных: 2   "
                                      "Даты: 11.03.24 — 21.03.24");
    ASSERT_EQ(viewer->Chart->Bars().size(), 11u);
    EXPECT_EQ(ChartTotal(), 987); // the record without a day has no bar
    EXPECT_EQ(viewer->Chart->BarText(10), "21.03.24: записей 1");

    viewer->InvalidBox->setChecked(true);
    EXPECT_EQ(Numbers(), (std::vector<int>{6, 10}));
    EXPECT_EQ(viewer->Counts->text(), "Показано записей: 2 из 988, недостоверных: 2   "
                                      "Даты: 20.03.24 — 20.03.24");
    EXPECT_EQ(Bars(), (std::vector<std::pair<int, int>>{{20240320, 1}}));
    viewer->InvalidBox->setChecked(false);

    // A click on the bar of 20.03.24 narrows the table to that day.
    viewer->Chart->ClickBar(9);
    EXPECT_TRUE(viewer->SinceBox->isChecked());
    auto day20 = Range(2, 101);
    day20.erase(day20.begin() + 8); // number 10 has no time stamp
    EXPECT_EQ(Numbers(), day20);
    EXPECT_EQ(Bars(), (std::vector<std::pair<int, int>>{{20240320, 99}}));
    EXPECT_EQ(viewer->Counts->text(), "Показано записей: 99 из 988, недостоверных: 1   "
                                      "Даты: 20.03.24 — 20.03.24   Без даты, не показаны: 1");

    viewer->CodesEdit->setText("255");
    EXPECT_EQ(Numbers(), (std::vector<int>{6}));
    viewer->CodesEdit->setText("25x"); // not a code list: marked, said, and no code filter
    EXPECT_EQ(viewer->Model->rowCount(), 99);
    EXPECT_FALSE(viewer->CodesEdit->styleSheet().isEmpty());
    EXPECT_FALSE(viewer->FilterMessage->isHidden());
    EXPECT_EQ(viewer->FilterMessage->text().toStdString(),
              "Коды: «25x» — не код: нужно число от 0 до 255 или от 0x00 до 0xFF — отбор по "
              "кодам не применен, пока список не исправлен.");

    viewer->ResetFilters();
    viewer->SearchEdit->setText("0xd0");
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 257, 513, 769}));
    EXPECT_EQ(ChartTotal(), 4);

    viewer->SearchEdit->clear();
    viewer->ChartMode->setCurrentIndex(1);
    EXPECT_EQ(Bars(), (std::vector<std::pair<int, int>>{{1, 328}, {2, 329}, {3, 329}, {255, 2}}));
    viewer->Chart->ClickBar(3);
    EXPECT_EQ(Numbers(), (std::vector<int>{6, 10}));
}

TEST_F(Viewer, ReadingIntoTheOpenFileMarksExactlyTheNewRecords) {
    ReadEvents(path, 0);
    Open();
    EXPECT_TRUE(AddedNumbers().empty());

    ASSERT_EQ(ReadEvents(path, 20).MergedRecords, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !AddedNumbers().empty(); }, WaitMs));
    EXPECT_EQ(AddedNumbers(), Range(1, 20));
    EXPECT_EQ(viewer->Model->rowCount(), 988);
    EXPECT_EQ(Cell(0, ColDetail), "228 (0xE4)"); // n = 2020
    EXPECT_THAT(viewer->Counts->text().toStdString(),
                ::testing::EndsWith("Добавлено последним чтением: 20"));

    // The next reading replaces the file again; the watch goes on, and only its records count.
    ASSERT_EQ(ReadEvents(path, 25).MergedRecords, 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return AddedNumbers().size() == 5; }, WaitMs));
    EXPECT_EQ(AddedNumbers(), Range(1, 5));
    EXPECT_EQ(Cell(0, ColDetail), "233 (0xE9)");
}

TEST_F(Viewer, DamagedFilesAreRefusedAndLeftUnchanged) {
    const auto refused = [&](const std::vector<std::uint8_t>& bytes, const char* reason) {
        WriteBytes(path, bytes);
        QString error;
        EXPECT_EQ(TArchiveViewer::OpenFile(QString::fromStdString(path), nullptr, error), nullptr);
        EXPECT_THAT(error.toStdString(), ::testing::HasSubstr(path));
        EXPECT_THAT(error.toStdString(), ::testing::HasSubstr(reason));
        EXPECT_EQ(FileBytes(path), bytes);
    };
    refused(std::vector<std::uint8_t>(7939, 0xFF), "размер 7939 байт");
    refused(std::vector<std::uint8_t>(7941, 0xFF), "размер 7941 байт");
    std::vector<std::uint8_t> badPosition(7940, 0xFF);
    badPosition[7936] = 5;
    badPosition[7937] = badPosition[7938] = badPosition[7939] = 0;
    refused(badPosition, "неверная позиция записи");
    QString error;
    EXPECT_EQ(TArchiveViewer::OpenFile(temp.filePath("none.dat"), nullptr, error), nullptr);
    EXPECT_THAT(error.toStdString(), ::testing::HasSubstr("файл не найден"));

    // A file damaged while it is shown: the rows stay, the status bar says why, nothing written.
    std::filesystem::remove(path);
    ReadEvents(path, 0);
    Open();
    WriteBytes(path, badPosition);
    viewer->ReloadSource();
    EXPECT_EQ(viewer->Model->rowCount(), 988);
    EXPECT_THAT(viewer->ProblemText().toStdString(),
                ::testing::HasSubstr("неверная позиция записи"));
    EXPECT_EQ(FileBytes(path), badPosition);
}

TEST_F(Viewer, CopyExportAndPdfHoldTheRowsAsShown) {
    ReadEvents(path, 0);
    Open();
    viewer->InvalidBox->setChecked(true);
    viewer->Table->sortByColumn(ColNumber, Qt::DescendingOrder);

    const QString csv = temp.filePath("out.csv");
    QString error;
    EXPECT_EQ(Finish(*viewer, viewer->StartCsv(csv, ';', error), error),
              "Экспорт записан: " + csv.toStdString() + " (записей: 2)");
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "\xEF\xBB\xBF№;Дата;Время;Код;Код (hex);Параметр;Параметр (hex);Состояние\r\n"
              "10;;;255;0xFF;7;0x07;недостоверна\r\n"
              "6;2024-03-20;24:30:15;255;0xFF;203;0xCB;недостоверна\r\n");
    EXPECT_THAT(Finish(*viewer, viewer->StartCsv(temp.filePath("no/such/folder.csv"), ';', error)),
                ::testing::HasSubstr("не удается записать"));

    viewer->Table->selectionModel()->select(
        viewer->Model->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    viewer->CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(),
              "№\tДата\tВремя\tКод\tПараметр\tСостояние\n"
              "6\t20.03.24\t24:30:15\t255 (0xFF)\t203 (0xCB)\tнедостоверна\n");

    const QString pdf = temp.filePath("out.pdf");
    EXPECT_EQ(Finish(*viewer, viewer->StartPdf(pdf, error), error),
              "PDF записан: " + pdf.toStdString());
    QFile printed(pdf);
    ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(printed.readAll().startsWith("%PDF"));
}

TEST_F(Viewer, ExportsNeverReplaceAnArchiveAndReportATargetTheyCannotWrite) {
    ReadEvents(path, 0);
    Open();
    const auto archive = FileBytes(path);
    const QString shown = QString::fromStdString(path);
    const QString link = temp.filePath("shown.csv");
    ASSERT_TRUE(QFile::link(shown, link));
    for (const QString& target : {shown, link, temp.filePath("other.dat")}) {
        QString error;
        EXPECT_EQ(viewer->StartCsv(target, ';', error), nullptr) << target.toStdString();
        EXPECT_THAT(error.toStdString(), ::testing::HasSubstr("файл архива"));
        error.clear();
        EXPECT_EQ(viewer->StartPdf(target, error), nullptr) << target.toStdString();
        EXPECT_THAT(error.toStdString(), ::testing::HasSubstr("файл архива"));
    }
    EXPECT_EQ(FileBytes(path), archive);
    EXPECT_FALSE(QFile::exists(temp.filePath("other.dat")));

    // A target that exists and has a size, yet cannot be written.
    const QString folder = temp.filePath("folder.pdf");
    ASSERT_TRUE(QDir().mkdir(folder));
    QString error;
    EXPECT_THAT(Finish(*viewer, viewer->StartPdf(folder, error), error),
                ::testing::HasSubstr("не удается записать"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

} // namespace
} // namespace kve17::test
