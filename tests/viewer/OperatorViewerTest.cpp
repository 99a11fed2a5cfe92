// The viewer as an operator uses it: a history of three years charted by month with its quiet
// month drawn, filters typed with hex codes, ranges and an inverted date range, a long history
// reached at its end in one page, a long print cancelled half way while the window answers,
// printed pages that carry their headings, a file deleted and cut short while shown, names of
// codes from the user's dictionary, the keyboard, and pictures of the window to look at.
#include "bench/HistoryEvents.h"
#include "tests/history/HistoryBackend.h"
#include "tests/viewer/ViewerFixture.h"
#include "viewer/ArchiveViewer.h"
#include "viewer/HistoryPicker.h"
#include "viewer/HistoryTableModel.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPdfWriter>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <gmock/gmock.h>

namespace kve17::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int WaitMs = 15000; // a deadline for failures only

// Three years of one device, 1 January 2024 to 31 December 2026: every third day (day index i
// from 1 January 2024, i % 3 == 0) holds 1 + i % 4 events, at 8 o'clock and the hours after,
// with codes 1 to 5 by turns; July 2025 is quiet. 892 events in all.
history::THistoryReading ThreeYears() {
    using namespace std::chrono;
    history::THistoryReading reading;
    reading.Line = "Котельная 2";
    reading.Port = "/dev/ttyUSB0";
    reading.Address = 4;
    reading.File = "/tmp/a.dat";
    reading.Result = "Закончено чтение архива";
    const sys_days first = sys_days{year{2024} / January / 1};
    for (int i = 1095; i >= 0; --i) {
        const year_month_day day{first + days{i}};
        if (i % 3 != 0 || (day.year() == year{2025} && day.month() == July))
            continue;
        for (int k = i % 4; k >= 0; --k) {
            const auto byte = [](auto value) { return static_cast<std::uint8_t>(value); };
            const TArchiveRecord r{byte(1 + (i + k) % 5),
                                   byte(k),
                                   0,
                                   0,
                                   byte(8 + k),
                                   byte(unsigned(day.day())),
                                   byte(unsigned(day.month())),
                                   byte(int(day.year()) - 2000)};
            reading.Records.push_back({0, r, false});
        }
    }
    return reading;
}

// A dictionary of the codes 1 to 4 (5 has no name), as a user keeps one, the user's file
// overriding the system's name of code 3.
std::shared_ptr<const TEventDictionary> Names(const std::filesystem::path& root) {
    std::filesystem::create_directories(root / "etc");
    std::filesystem::create_directories(root / "user");
    std::ofstream(root / "etc" / "kve17.txt") << "# system\n1; Пуск; информация\n"
                                                 "2; Останов; предупреждение\n"
                                                 "3; Авария датчика; авария\n";
    std::ofstream(root / "user" / "kve17.txt") << "3; Обрыв датчика; авария\n"
                                                  "4; Дверь открыта; предупреждение\n";
    std::vector<std::string> problems;
    auto names = std::make_shared<const TEventDictionary>(
        LoadEventDictionary({root / "etc", root / "user"}, problems));
    EXPECT_TRUE(problems.empty());
    return names;
}

class OperatorHistory : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        where = database.Location();
        if (where.empty())
            GTEST_SKIP() << "KVE17_TEST_PG names no server (scripts/test.sh starts one)";
        history = std::make_shared<history::THistory>(history::THistory::Open(where));
    }
    TArchiveViewer* Open(int address, std::shared_ptr<const TEventDictionary> names = nullptr) {
        QString error;
        TArchiveViewer* viewer = OpenHistoryViewer(history, where, "Котельная 2", address, nullptr,
                                                   error, std::move(names));
        EXPECT_NE(viewer, nullptr) << error.toStdString();
        if (viewer != nullptr) {
            viewer->resize(1024, 768);
            viewer->show();
        }
        return viewer;
    }
    // 20,000 events of device 7, one every 1237 seconds from 1 January 2025, read as a full
    // ring each time that still holds the 88 newest events of the reading before: no gap.
    void AppendLong() {
        for (int newest = 987;; newest = std::min(newest + 900, 19999)) {
            const int first = std::max(0, newest - 987);
            ASSERT_FALSE(
                history->Append(bench::ReadingOf("Котельная 2", 7, first, newest - first + 1)).Gap);
            if (newest == 19999)
                break;
        }
    }

    HistoryDatabase database{GetParam()};
    QTemporaryDir dir;
    std::string where;
    std::shared_ptr<history::THistory> history;
};

TEST_P(OperatorHistory, ThreeYearsAreChartedByMonthWithTheQuietMonthDrawn) {
    ASSERT_EQ(history->Append(ThreeYears()).Added, 892);
    std::unique_ptr<TArchiveViewer> viewer(Open(4));
    ASSERT_TRUE(viewer);
    EXPECT_THAT(viewer->Counts->text().toStdString(),
                StartsWith("Показано записей: 892 из 892, недостоверных: 0   "
                           "Даты: 01.01.24 — 31.12.26"));
    TEventChart& chart = *viewer->Chart;
    EXPECT_EQ(chart.Unit(), TBinUnit::Month);
    ASSERT_EQ(chart.Bars().size(), 36u);
    EXPECT_EQ(chart.Bars()[0].Label, "01.2024");
    EXPECT_EQ(chart.Bars()[0].Count, 28); // days 0, 3, … 30: 1+4+3+2+1+4+3+2+1+4+3
    EXPECT_EQ(chart.Bars()[18].Label, "07.2025");
    EXPECT_EQ(chart.Bars()[18].Count, 0);
    EXPECT_EQ(chart.Bars()[35].Label, "12.2026");
    EXPECT_EQ(chart.BarText(18), "июль 2025: записей 0");
    EXPECT_EQ(chart.EmptyText(), "");
    // The labels drawn fit and never repeat, the first month's among them.
    QStringList labels = chart.Labels();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels.front(), "01.2024");
    EXPECT_EQ(labels.removeDuplicates(), 0);
    EXPECT_LE(labels.size(), 36);

    // A click on January 2024 narrows the table to it; its days are drawn, empty ones as zero.
    chart.ClickBar(0);
    EXPECT_EQ(viewer->Model->rowCount(), 28);
    EXPECT_EQ(chart.Unit(), TBinUnit::Day);
    ASSERT_EQ(chart.Bars().size(), 31u);
    EXPECT_EQ(chart.Bars()[0].Count, 1);
    EXPECT_EQ(chart.Bars()[1].Count, 0);
    EXPECT_EQ(chart.Bars()[3].Count, 4);

    viewer->ChartMode->setCurrentIndex(1);
    ASSERT_EQ(chart.Bars().size(), 5u);
    EXPECT_EQ(chart.Bars()[0].Label, "1");
}

TEST_P(OperatorHistory, AnInvertedRangeIsSaidAndFiltersNothingUntilMended) {
    ASSERT_EQ(history->Append(ThreeYears()).Added, 892);
    std::unique_ptr<TArchiveViewer> viewer(Open(4));
    ASSERT_TRUE(viewer);
    viewer->SinceBox->setChecked(true);
    viewer->SinceEdit->setDate(QDate(2026, 1, 10));
    viewer->UntilBox->setChecked(true);
    viewer->UntilEdit->setDate(QDate(2025, 1, 1));
    EXPECT_FALSE(viewer->FilterMessage->isHidden());
    EXPECT_EQ(viewer->FilterMessage->text().toStdString(),
              "Даты: начало 10.01.2026 позже конца 01.01.2025 — отбор по датам не применен, "
              "пока даты не исправлены.");
    EXPECT_FALSE(viewer->SinceEdit->styleSheet().isEmpty());
    EXPECT_EQ(viewer->Model->rowCount(), 892);
    EXPECT_EQ(viewer->Chart->Bars().size(), 36u);

    // Mended: 10 to 31 January 2026 are days 740 to 761, of which 741 … 761 every third.
    viewer->UntilEdit->setDate(QDate(2026, 1, 31));
    EXPECT_TRUE(viewer->FilterMessage->isHidden());
    EXPECT_TRUE(viewer->SinceEdit->styleSheet().isEmpty());
    EXPECT_EQ(viewer->Model->rowCount(), 2 + 1 + 4 + 3 + 2 + 1 + 4);
}

TEST_P(OperatorHistory, TheEndOfALongHistoryIsOnePageAwayInAnyOrder) {
    AppendLong();
    std::unique_ptr<TArchiveViewer> viewer(Open(7));
    ASSERT_TRUE(viewer);
    auto& model = *qobject_cast<THistoryTableModel*>(viewer->Model);
    ASSERT_EQ(model.rowCount(), 20000);
    QApplication::processEvents();
    const int opened = model.PagesFetched();
    EXPECT_LE(opened, 2);

    viewer->Table->setFocus();
    QTest::keyClick(viewer->Table, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(viewer->Table->currentIndex().row(), 19999);
    EXPECT_EQ(model.RowAt(19999).Number, 20000);
    EXPECT_LE(model.PagesFetched() - opened, 2); // the last page, and the one above it on screen

    // The scroll bar dragged to the middle fetches the pages it shows, not those before.
    QScrollBar* bar = viewer->Table->verticalScrollBar();
    const int before = model.PagesFetched();
    bar->setValue(bar->maximum() / 2);
    QApplication::processEvents();
    EXPECT_LE(model.PagesFetched() - before, 2);

    // An export of all of it, thousands of rows a query, misses and doubles none at their seams.
    const QString csv = dir.filePath("long.csv");
    const QStringList lines = ExportCsvLines(*viewer, csv, ',');
    ASSERT_EQ(lines.size(), 20001);
    EXPECT_EQ(lines[5000].toStdString(), "Котельная 2,7,5000,2025-08-03,18:10:00,0,0x00,6,0x06,");
    EXPECT_EQ(lines[5001].toStdString(), "Котельная 2,7,5001,2025-08-03,17:49:23,199,0xC7,5,0x05,");
    EXPECT_EQ(lines[20000].toStdString(), "Котельная 2,7,20000,2025-01-01,00:00:00,0,0x00,0,0x00,");

    // A new order starts again from its first page; its end is as near.
    viewer->Table->sortByColumn(ColCode, Qt::DescendingOrder);
    QApplication::processEvents();
    EXPECT_EQ(model.RowAt(0).Listed.Record.Code, 199);
    QTest::keyClick(viewer->Table, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(model.RowAt(19999).Listed.Record.Code, 0);
    EXPECT_LE(model.PagesFetched(), 4);
}

// Events 0 to 59 read, then 300 to 399 by a reading that shares none of them: the events between
// were overwritten unread, and a row says so between events 59 and 300 in the number order.
TEST_P(OperatorHistory, AGapStandsBetweenItsTwoEventsInEitherNumberOrderAndFilter) {
    ASSERT_FALSE(history->Append(bench::ReadingOf("Котельная 2", 7, 0, 60)).Gap);
    ASSERT_TRUE(history->Append(bench::ReadingOf("Котельная 2", 7, 300, 100)).Gap);
    std::unique_ptr<TArchiveViewer> viewer(Open(7));
    ASSERT_TRUE(viewer);
    TRecordModel& model = *viewer->Model;
    ASSERT_EQ(model.rowCount(), 161);
    EXPECT_THAT(viewer->Counts->text().toStdString(), StartsWith("Показано записей: 160 из 160,"));
    EXPECT_EQ(model.NoteRows(), std::vector<int>{100});
    // Event 59 is 20:16:23 on 1 January, event 300 is 07:05:00 on 5 January 2025.
    EXPECT_THAT(model.NoteAt(100).toStdString(),
                StartsWith("Пропуск: устройство перезаписало события между 01.01.25 20:16:23 и "
                           "05.01.25 07:05:00, пока их не прочитали (найден чтением "));
    EXPECT_THAT(model.NoteAt(100).toStdString(), HasSubstr("файл /srv/archive.dat)"));
    EXPECT_EQ(model.index(100, ColDate).data().toString(), model.NoteAt(100));
    EXPECT_EQ(viewer->Table->columnSpan(100, ColDate), model.columnCount() - ColDate);
    EXPECT_EQ(model.NoteAt(99), "");
    EXPECT_EQ(model.RowAt(99).Number, 100);
    EXPECT_EQ(model.RowAt(101).Number, 101);
    EXPECT_EQ(model.index(101, ColTime).data().toString(), "20:16:23");
    // An export holds the gap where the table shows it, its words in the state's column.
    const QString csv = dir.filePath("gap.csv");
    const QStringList lines = ExportCsvLines(*viewer, csv, ',');
    ASSERT_EQ(lines.size(), 162);
    EXPECT_EQ(lines[100].toStdString(), "Котельная 2,7,100,2025-01-05,07:05:00,100,0x64,6,0x06,");
    EXPECT_THAT(lines[101].toStdString(),
                StartsWith("Котельная 2,7,,,,,,,,\"Пропуск: устройство перезаписало события "
                           "между 01.01.25 20:16:23 и 05.01.25 07:05:00,"));
    EXPECT_EQ(lines[102].toStdString(), "Котельная 2,7,101,2025-01-01,20:16:23,59,0x3B,3,0x03,");

    viewer->Table->sortByColumn(ColNumber, Qt::DescendingOrder); // oldest first
    EXPECT_EQ(model.NoteRows(), std::vector<int>{60});
    EXPECT_EQ(model.RowAt(59).Number, 101);
    EXPECT_EQ(model.RowAt(61).Number, 100);
    EXPECT_EQ(viewer->Table->columnSpan(60, ColDate), model.columnCount() - ColDate);

    // Codes 0 to 49 are events 0 to 49 alone: the gap stays on their newer side.
    viewer->Table->sortByColumn(ColNumber, Qt::AscendingOrder);
    viewer->CodesEdit->setText("0-49");
    viewer->ApplyFilter();
    ASSERT_EQ(model.rowCount(), 51);
    EXPECT_EQ(model.NoteRows(), std::vector<int>{0});
    EXPECT_EQ(model.RowAt(1).Number, 111); // event 49
    // Sorted by another column the rows are events alone, as the listing gives them.
    viewer->Table->sortByColumn(ColCode, Qt::AscendingOrder);
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_TRUE(model.NoteRows().empty());
    EXPECT_EQ(viewer->Table->columnSpan(0, ColDate), 1);
}

TEST_P(OperatorHistory, ALongPrintIsAskedForCancelledHalfWayAndLeavesNoFile) {
    AppendLong();
    std::unique_ptr<TArchiveViewer> viewer(Open(7));
    ASSERT_TRUE(viewer);
    const QString pdf = dir.filePath("long.pdf");
    QPdfWriter layout(pdf);
    EXPECT_THAT(viewer->LongPrintQuestion(layout).toStdString(),
                StartsWith("Записей: 20000, страниц: "));

    QString error;
    QPointer<TRowJob> job = viewer->StartPdf(pdf, error);
    ASSERT_TRUE(job) << error.toStdString();
    EXPECT_FALSE(viewer->APdf->isEnabled());
    // The window answers while the pages are made: its timers run and a filter acts.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return job && job->RowsDone() >= 2000; }, WaitMs * 4));
    viewer->CodesEdit->setText("7");
    viewer->ApplyFilter();
    EXPECT_EQ(viewer->Model->rowCount(), 100); // n % 200 == 7
    EXPECT_GE(ticks, 3);
    ASSERT_TRUE(job);
    EXPECT_LT(job->RowsDone(), 20000);
    EXPECT_EQ(job->RowsTotal(), 20000); // the rows shown when it started

    ASSERT_NE(viewer->Progress, nullptr);
    emit viewer->Progress->canceled(); // as its button does
    EXPECT_EQ(Finish(*viewer, job),
              "Сохранение в PDF отменено: файл " + pdf.toStdString() + " не записан");
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_TRUE(viewer->APdf->isEnabled());
}

TEST_P(OperatorHistory, EveryPrintedPageCarriesHeadingsSourceFiltersNumberAndTime) {
    AppendLong();
    std::unique_ptr<TArchiveViewer> viewer(Open(7));
    ASSERT_TRUE(viewer);
    viewer->CodesEdit->setText("0x07, 10-11");
    viewer->ApplyFilter();
    ASSERT_EQ(viewer->Model->rowCount(), 300);
    const QString pdf = dir.filePath("codes.pdf");
    QString error;
    ASSERT_EQ(Finish(*viewer, viewer->StartPdf(pdf, error), error),
              "PDF записан: " + pdf.toStdString());
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(WaitMs)) << "pdftotext (poppler-utils) is needed";
    const QStringList pages = QString::fromUtf8(text.readAllStandardOutput())
                                  .split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 2);
    const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const std::string page = pages[i].toStdString();
        EXPECT_THAT(page, HasSubstr("История событий: линия «Котельная 2», устройство 7"));
        EXPECT_THAT(page, HasSubstr("Отбор: коды 0x07, 10-11; записей: 300"));
        EXPECT_THAT(page, HasSubstr("Напечатано " + today.toStdString()));
        EXPECT_THAT(page, HasSubstr("№"));
        EXPECT_THAT(page, HasSubstr("Параметр"));
        EXPECT_THAT(page, HasSubstr("Страница " + std::to_string(i + 1) + " из " +
                                    std::to_string(pages.size())));
    }
    EXPECT_THAT(pages.back().toStdString(), HasSubstr("300"));
}

TEST_P(OperatorHistory, NamesStandBesideCodesColourTheRowsAndFilterBySeverity) {
    ASSERT_EQ(history->Append(ThreeYears()).Added, 892);
    QTemporaryDir folders;
    std::unique_ptr<TArchiveViewer> viewer(
        Open(4, Names(std::filesystem::path(folders.path().toStdString()))));
    ASSERT_TRUE(viewer);
    TRecordModel& model = *viewer->Model;
    EXPECT_FALSE(viewer->Table->isColumnHidden(TRecordModel::NameColumn));
    EXPECT_EQ(viewer->Table->horizontalHeader()->visualIndex(TRecordModel::NameColumn),
              ColCode + 1);
    EXPECT_EQ(model.headerData(TRecordModel::NameColumn, Qt::Horizontal).toString(), "Событие");
    // The newest rows hold all five codes (days 1095 to 1086).
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return model.index(row, column).data(role);
    };
    for (int row = 0; row < 8; ++row) {
        const int code = model.RowAt(row).Listed.Record.Code;
        const QString name = cell(row, TRecordModel::NameColumn).toString();
        const QColor shade = cell(row, ColNumber, Qt::BackgroundRole).value<QBrush>().color();
        switch (code) {
        case 3: // the user's name, not the system's
            EXPECT_EQ(name, "Обрыв датчика");
            EXPECT_EQ(shade, QColor(255, 204, 188));
            break;
        case 5: // no name: the number alone, no shade
            EXPECT_EQ(name, "");
            EXPECT_FALSE(cell(row, ColNumber, Qt::BackgroundRole).isValid());
            break;
        case 2:
        case 4:
            EXPECT_EQ(shade, QColor(255, 240, 186));
            break;
        default:
            EXPECT_EQ(name, "Пуск");
        }
        EXPECT_EQ(cell(row, ColCode).toString(),
                  QStringLiteral("%1 (0x0%1)").arg(code)); // the number stays as it was
    }

    // Severity "авария" is code 3 alone; with codes 1-2 typed too, nothing is left.
    viewer->SeverityBox->setCurrentText("авария");
    EXPECT_FALSE(viewer->Chart->Bars().empty());
    ASSERT_GT(model.rowCount(), 0);
    for (int row = 0; row < model.rowCount(); row += 25)
        EXPECT_EQ(model.RowAt(row).Listed.Record.Code, 3);
    viewer->CodesEdit->setText("1-2");
    viewer->ApplyFilter();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(viewer->EmptyText().toStdString(), "Ни одна из записей (892) не проходит отбор.");
    EXPECT_THAT(viewer->FilterWords().toStdString(), HasSubstr("важность «авария»"));

    // The CSV carries the names; a code without one leaves its cells empty.
    viewer->ResetFilters();
    viewer->CodesEdit->setText("3,5");
    viewer->ApplyFilter();
    const QString csv = dir.filePath("names.csv");
    const QStringList lines = ExportCsvLines(*viewer, csv, ',');
    EXPECT_EQ(lines[0].toStdString(), "Линия,Устройство,№,Дата,Время,Код,Код (hex),Событие,"
                                      "Важность,Параметр,Параметр (hex),Состояние");
    EXPECT_THAT(lines.filter(",3,0x03,").front().toStdString(),
                HasSubstr(",3,0x03,Обрыв датчика,авария,"));
    EXPECT_THAT(lines.filter(",5,0x05,").front().toStdString(), HasSubstr(",5,0x05,,,"));
}

INSTANTIATE_TEST_SUITE_P(Backends, OperatorHistory,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres), BackendName);

class OperatorFile : public ::testing::Test {
protected:
    OperatorFile() : path(temp.filePath("a.dat")) {}
    TArchiveViewer* Open(std::shared_ptr<const TEventDictionary> names = nullptr) {
        QString error;
        TArchiveViewer* viewer = TArchiveViewer::OpenFile(path, nullptr, error, std::move(names));
        EXPECT_NE(viewer, nullptr) << error.toStdString();
        if (viewer != nullptr)
            viewer->show();
        return viewer;
    }

    QTemporaryDir temp;
    QString path;
};

// Codes of the event device's file: 1 (328 records), 2 (329), 3 (329) and 255 (2).
TEST_F(OperatorFile, CodesAreTakenInHexWithRangesAndAWrongListIsSaidUnderTheField) {
    ReadEvents(path.toStdString(), 0);
    std::unique_ptr<TArchiveViewer> viewer(Open());
    ASSERT_TRUE(viewer);
    const auto rows = [&](const QString& codes) {
        viewer->CodesEdit->setText(codes);
        return viewer->Model->rowCount();
    };
    EXPECT_EQ(rows("0x01,3-3"), 328 + 329);
    EXPECT_EQ(rows("0xff"), 2);
    EXPECT_EQ(rows(" 1 - 3 "), 986);
    EXPECT_EQ(rows("0x02,0xFE-0xFF"), 331);
    EXPECT_TRUE(viewer->FilterMessage->isHidden());
    EXPECT_EQ(rows("3-1"), 988);
    EXPECT_EQ(viewer->FilterMessage->text().toStdString(),
              "Коды: в диапазоне «3-1» начало больше конца — отбор по кодам не применен, пока "
              "список не исправлен.");
    EXPECT_EQ(rows("2"), 329);
    EXPECT_TRUE(viewer->FilterMessage->isHidden());
}

TEST_F(OperatorFile, AFileDeletedOrCutShortWhileShownIsSaidUntilItIsGoodAgain) {
    ReadEvents(path.toStdString(), 0);
    std::unique_ptr<TArchiveViewer> viewer(Open());
    ASSERT_TRUE(viewer);
    const QString title = viewer->windowTitle();
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewer->ProblemText().isEmpty(); }, WaitMs));
    EXPECT_EQ(viewer->ProblemText().toStdString(),
              "Файл архива " + path.toStdString() + " не удается открыть: файл не найден.");
    EXPECT_EQ(viewer->windowTitle(), title + " — не читается");
    EXPECT_EQ(viewer->Model->rowCount(), 988); // the last rows read, marked as such

    // Back again, whole: the bar goes.
    ReadEvents(path.toStdString(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer->ProblemText().isEmpty(); }, WaitMs));
    EXPECT_EQ(viewer->windowTitle(), title);

    // Cut short.
    ASSERT_TRUE(QFile::resize(path, 7000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewer->ProblemText().isEmpty(); }, WaitMs));
    EXPECT_THAT(viewer->ProblemText().toStdString(), HasSubstr("его размер 7000 байт"));
    EXPECT_EQ(viewer->Model->rowCount(), 988);
}

TEST_F(OperatorFile, AnEmptyTableSaysWhy) {
    ASSERT_EQ(CreateFreshFile(path.toStdString(), false), TCreateFileResult::Created);
    std::unique_ptr<TArchiveViewer> fresh(Open());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->EmptyText().toStdString(),
              "В файле нет записей: архив в него еще не читался.");
    EXPECT_TRUE(fresh->Chart->Bars().empty());
    EXPECT_EQ(fresh->Chart->EmptyText().toStdString(),
              "Нет записей с датой: графику нечего показать");
    fresh.reset();

    ReadEvents(path.toStdString(), 0);
    std::unique_ptr<TArchiveViewer> viewer(Open());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->EmptyText(), "");
    viewer->SinceBox->setChecked(true);
    viewer->SinceEdit->setDate(QDate(2024, 3, 22));
    EXPECT_EQ(viewer->EmptyText().toStdString(),
              "Ни одна из записей (988) не проходит отбор.\n"
              "Записи без даты (1) при отборе по датам не показываются.");
}

TEST_F(OperatorFile, TheKeyboardMovesThroughTheWindowAndClosesIt) {
    ReadEvents(path.toStdString(), 0);
    QPointer<TArchiveViewer> viewer(Open());
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer));
    // Tab from the search field reaches the chart and the table, and leaves the table again.
    viewer->SearchEdit->setFocus();
    std::vector<QWidget*> visited;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    const auto at = [&](QWidget* widget) {
        return std::find(visited.begin(), visited.end(), widget) - visited.begin();
    };
    EXPECT_LT(at(viewer->ChartMode), at(viewer->Chart));
    EXPECT_EQ(at(viewer->Table), at(viewer->Chart) + 1);
    EXPECT_LT(at(viewer->Table) + 1, static_cast<long>(visited.size()));
    EXPECT_NE(visited[static_cast<std::size_t>(at(viewer->Table) + 1)], viewer->Table);

    // Every control has a name a screen reader says.
    for (QWidget* widget : viewer->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                             qobject_cast<QCheckBox*>(widget) || qobject_cast<QDateEdit*>(widget);
        // The line edit inside a date edit is the date edit's.
        if (control && !qobject_cast<QDateEdit*>(widget->parent())) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }
    EXPECT_FALSE(viewer->Table->accessibleName().isEmpty());
    EXPECT_FALSE(viewer->Chart->accessibleName().isEmpty());

    // The shortcuts are in the menus.
    QStringList shortcuts;
    for (QAction* menu : viewer->menuBar()->actions())
        for (QAction* action : menu->menu()->actions())
            for (const QKeySequence& key : action->shortcuts())
                shortcuts << key.toString();
    EXPECT_TRUE(shortcuts.contains("Ctrl+W"));
    EXPECT_TRUE(shortcuts.contains("Esc"));
    EXPECT_TRUE(shortcuts.contains("Ctrl+C"));

    viewer->Table->setFocus();
    QTest::keyClick(viewer->Table, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.isNull(); }, WaitMs));

    QPointer<TArchiveViewer> second(Open());
    ASSERT_TRUE(second);
    ASSERT_TRUE(QTest::qWaitForWindowActive(second));
    QTest::keyClick(second->Table, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.isNull(); }, WaitMs));
}

TEST_F(OperatorFile, ExportsSuggestANameOfTheSourceAndItsDatesInItsFolder) {
    ReadEvents(path.toStdString(), 0);
    std::unique_ptr<TArchiveViewer> viewer(Open());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->SuggestedName("csv"), temp.filePath("a_2024-03-11_2024-03-21.csv"));
    viewer->Chart->ClickBar(9);
    EXPECT_EQ(viewer->SuggestedName("pdf"), temp.filePath("a_2024-03-20.pdf"));
}

TEST_F(OperatorFile, ViewersCascadeAndTheLastSizeIsRemembered) {
    ReadEvents(path.toStdString(), 0);
    std::unique_ptr<TArchiveViewer> first(Open());
    ASSERT_TRUE(first);
    std::unique_ptr<TArchiveViewer> second(Open());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->pos(), first->pos() + QPoint(28, 28));
    second->resize(700, 500);
    second.release()->close(); // it deletes itself
    std::unique_ptr<TArchiveViewer> third(Open());
    ASSERT_TRUE(third);
    EXPECT_EQ(third->size(), QSize(700, 500));
    // Narrower than the filters in one row: they wrap rather than being cut off.
    third->resize(600, 500);
    QApplication::processEvents();
    EXPECT_LT(third->SinceBox->mapTo(third.get(), QPoint()).y() + 10,
              third->SearchEdit->mapTo(third.get(), QPoint()).y());
    third->resize(1400, 500);
    QApplication::processEvents();
    EXPECT_LT(std::abs(third->SinceBox->mapTo(third.get(), QPoint()).y() -
                       third->SearchEdit->mapTo(third.get(), QPoint()).y()),
              10);
}

// Pictures of the viewer for looking at, in the test output: a three-year history per month and
// per code at 1024×768 and 1920×1080, with the dictionary in use, and a file that went missing.
TEST(ViewerPictures, WrittenToTheTestOutput) {
    const QDir out(QStringLiteral(KVE17_TEST_OUTPUT "/viewer"));
    ASSERT_TRUE(QDir().mkpath(out.path()));
    HistoryDatabase database(Backend::Sqlite);
    const std::string where = database.Location();
    auto history = std::make_shared<history::THistory>(history::THistory::Open(where));
    ASSERT_EQ(history->Append(ThreeYears()).Added, 892);
    QTemporaryDir folders;
    const auto names = Names(std::filesystem::path(folders.path().toStdString()));
    const auto save = [&](QWidget& window, const char* name) {
        QTest::qWait(200);
        const QString file = out.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
        EXPECT_GT(QFileInfo(file).size(), 10000) << file.toStdString();
    };
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
        QString error;
        std::unique_ptr<TArchiveViewer> viewer(
            OpenHistoryViewer(history, where, "Котельная 2", 4, nullptr, error, names));
        ASSERT_TRUE(viewer) << error.toStdString();
        viewer->resize(size);
        viewer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
        const std::string tag = std::to_string(size.width());
        save(*viewer, ("history-3y-months-" + tag + ".png").c_str());
        viewer->ChartMode->setCurrentIndex(1);
        viewer->SeverityBox->setCurrentText("предупреждение");
        save(*viewer, ("history-3y-codes-names-" + tag + ".png").c_str());
        viewer->ResetFilters();
        viewer->ChartMode->setCurrentIndex(0);
        viewer->Chart->ClickBar(0);
        save(*viewer, ("history-3y-january-days-" + tag + ".png").c_str());
    }
    QTemporaryDir temp;
    const QString file = temp.filePath("gone.dat");
    ReadEvents(file.toStdString(), 0);
    QString error;
    std::unique_ptr<TArchiveViewer> viewer(TArchiveViewer::OpenFile(file, nullptr, error));
    ASSERT_TRUE(viewer);
    viewer->resize(1024, 768);
    viewer->show();
    ASSERT_TRUE(QFile::remove(file));
    viewer->ReloadSource();
    viewer->CodesEdit->setText("0x1G");
    save(*viewer, "file-missing-1024.png");
}

} // namespace
} // namespace kve17::test
