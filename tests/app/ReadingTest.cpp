// "Чтение архива" in the window: the reading runs beside the event loop, shows its progress,
// keeps the window's commands from starting, and holds back a close until it has ended.
#include "archive/ArchiveFormat.h"
#include "history/History.h"
#include "serial/PortPlace.h"
#include "tests/app/AppFixture.h"
#include "tools/sim/SimLine.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <set>

namespace kve17::test {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;

constexpr int Blocks = 62;

std::string FreshFile(const std::string& path) {
    EXPECT_EQ(CreateFreshFile(path, false), TCreateFileResult::Created);
    return path;
}

bool CommandsEnabled(const TForm1& form) {
    return form.AOpenFile->isEnabled() && form.APort->isEnabled() && form.Button2->isEnabled() &&
           form.CBoxUstr->isEnabled();
}

bool CommandsDisabled(const TForm1& form) {
    return !form.AOpenFile->isEnabled() && !form.APort->isEnabled() && !form.Button2->isEnabled() &&
           !form.CBoxUstr->isEnabled();
}

// Looks at the window every few milliseconds from the event loop; a tick that comes late means
// the loop was held up.
class LoopProbe {
public:
    explicit LoopProbe(std::function<void()> look) : look_(std::move(look)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longestGap_ = std::max(longestGap_, now - last_);
            last_ = now;
            ++ticks_;
            look_();
        });
        clock_.start();
        timer_.start(5);
    }
    int Ticks() const { return ticks_; }
    qint64 LongestGapMs() const { return longestGap_; }

private:
    std::function<void()> look_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longestGap_ = 0;
    int ticks_ = 0;
};

using ReadingClosedPort = AppFixture;

TEST_F(ReadingClosedPort, ReportsNoPortThenFinishesAndSavesPositionZero) {
    const std::string file = FreshFile(TempPath("closed.dat"));
    ReadInto(file);
    ASSERT_EQ(prompt.Shown.size(), 2U);
    EXPECT_EQ(prompt.Shown[0].Text, "Не выбран COM-порт.");
    EXPECT_EQ(prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(prompt.Shown[1].Text, "Закончено чтение архива");
    EXPECT_EQ(prompt.Shown[1].Caption, "<simple>");
    const auto bytes = FileBytes(file);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(ArchiveFileSize));
    EXPECT_TRUE(
        std::all_of(bytes.begin(), bytes.begin() + RingSize, [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(FilePosition(file), 0);
    EXPECT_TRUE(form->Label5->isHidden());
    EXPECT_TRUE(form->ProgressBar1->isHidden());
    EXPECT_TRUE(CommandsEnabled(*form));
}

TEST_F(ReadingClosedPort, CancelledFileChoiceLeavesTheWindowUsable) {
    QTest::mouseClick(form->Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitReadingEnds());
    EXPECT_EQ(prompt.FileDialogTitles, std::vector<std::string>{"Открытие файла архива"});
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_TRUE(form->Label5->isHidden());
    EXPECT_TRUE(CommandsEnabled(*form));
}

class ReadingSimulated : public AppFixture {
protected:
    void SetUp() override {
        sim = std::make_unique<sim::SimLine>();
        sim->SetDevice(3, sim::MakeArchive(17));
        ASSERT_NO_FATAL_FAILURE(OpenPortOn(sim->SlavePath()));
        SelectDevice(3);
        file = FreshFile(TempPath("sim.dat"));
        form->show();
    }
    void StartReading() {
        prompt.Files.push_back(file);
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    }
    bool WaitProgress(int value) {
        return QTest::qWaitFor([this, value] { return form->ProgressBar1->value() >= value; },
                               20000);
    }

    std::unique_ptr<sim::SimLine> sim;
    std::string file;
};

TEST_F(ReadingSimulated, ProgressAdvancesBlockByBlockWhileTheLoopRuns) {
    std::set<int> seen;
    bool blocked = true;
    LoopProbe probe([&] {
        if (!form->Reading() || !form->ProgressBar1->isVisible())
            return;
        seen.insert(form->ProgressBar1->value());
        blocked = blocked && CommandsDisabled(*form) && form->Label5->isVisible();
    });
    StartReading();
    EXPECT_TRUE(form->Reading());
    ASSERT_TRUE(WaitReadingEnds());

    const auto inside = std::count_if(seen.begin(), seen.end(),
                                      [](int value) { return value > 0 && value < Blocks; });
    EXPECT_GE(inside, 10) << "the bar must be seen moving, not only at its ends";
    EXPECT_EQ(form->ProgressBar1->maximum(), Blocks);
    EXPECT_TRUE(blocked) << "commands must stay off and the label on while reading";
    EXPECT_LT(probe.LongestGapMs(), 500);
    ASSERT_EQ(prompt.Shown.size(), 1U);
    EXPECT_EQ(prompt.Shown[0].Text, "Закончено чтение архива");
    EXPECT_EQ(FilePosition(file), 0);
    // The device's newest record lies in the slot before Position.
    const auto bytes = FileBytes(file);
    const auto archive = sim->Archive(3);
    EXPECT_TRUE(
        std::equal(archive.begin(), archive.begin() + RecordSize, bytes.begin() + LastSlot));
    EXPECT_TRUE(form->Label5->isHidden());
    EXPECT_TRUE(form->ProgressBar1->isHidden());
    EXPECT_TRUE(CommandsEnabled(*form));
}

TEST_F(ReadingSimulated, WindowStaysLiveWhileAFailingExchangeWaitsOutItsRepeats) {
    sim->AddFault(3, {sim::FaultKind::Silence, 0, -1, 2});
    form->Link.SetPovt1(2);
    std::set<int> seen;
    LoopProbe probe([&] {
        if (form->Reading())
            seen.insert(form->ProgressBar1->value());
    });
    QElapsedTimer clock;
    clock.start();
    StartReading();
    ASSERT_TRUE(WaitReadingEnds());

    EXPECT_GT(clock.elapsed(), 2000) << "two silent attempts at block 2";
    EXPECT_LT(probe.LongestGapMs(), 500);
    EXPECT_GT(probe.Ticks(), 100);
    EXPECT_TRUE(seen.count(2));
    ASSERT_EQ(prompt.Shown.size(), 2U);
    EXPECT_THAT(prompt.Shown[0].Text, HasSubstr("не отвечает на запрос"));
    EXPECT_EQ(prompt.Shown[0].Caption, "Предупреждение");
    EXPECT_EQ(prompt.Shown[1].Text, "Закончено чтение архива");
    EXPECT_EQ(FilePosition(file), RingSize - 128); // block 1 stored, then the failure
}

TEST_F(ReadingSimulated, CloseDuringReadingWaitsForItsEnd) {
    StartReading();
    ASSERT_TRUE(WaitProgress(5));
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->ComPort1.Connected());
    ASSERT_TRUE(WaitReadingEnds());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !form->isVisible(); }, 5000));
    EXPECT_FALSE(form->ComPort1.Connected());
    ASSERT_FALSE(prompt.Shown.empty());
    EXPECT_EQ(prompt.Shown.back().Text, "Закончено чтение архива");
    EXPECT_EQ(FilePosition(file), 0) << "the reading ran to its end and saved";
}

TEST_F(ReadingSimulated, DestroyingTheWindowWaitsForTheReading) {
    StartReading();
    ASSERT_TRUE(WaitProgress(5));
    form.reset();
    EXPECT_EQ(FilePosition(file), 0) << "the reading must finish and save, not be cut off";
    ASSERT_FALSE(prompt.Shown.empty());
    EXPECT_EQ(prompt.Shown.back().Text, "Закончено чтение архива");
}

TEST_F(ReadingSimulated, DriverFailureIsShownAndLeavesFileAndWindowUsable) {
    form->SetHistory(TempPath("history.sqlite"));
    const auto before = FileBytes(file);
    StartReading();
    ASSERT_TRUE(WaitProgress(3));
    sim.reset(); // the line hangs up under the reading
    ASSERT_TRUE(WaitReadingEnds());

    ASSERT_EQ(ShownExceptions().size(), 1U);
    EXPECT_THAT(ShownExceptions()[0],
                AnyOf(HasSubstr("ReadFile function failed"), HasSubstr("WriteFile function failed"),
                      HasSubstr("PurgeComm function failed")));
    EXPECT_EQ(FileBytes(file), before);
    for (const auto& shown : prompt.Shown)
        EXPECT_NE(shown.Text, "Закончено чтение архива");
    EXPECT_TRUE(form->Label5->isHidden());
    EXPECT_TRUE(form->ProgressBar1->isHidden());
    EXPECT_TRUE(CommandsEnabled(*form));
    // The failed reading is in the history's log with the driver's words, and adds no event.
    auto h = history::THistory::Open(TempPath("history.sqlite"));
    const auto log = h.Readings({});
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].Ok);
    EXPECT_THAT(log[0].Result, HasSubstr(" function failed"));
    EXPECT_EQ(h.CountEvents({}), 0);
}

TEST_F(ReadingSimulated, ReadingsGoToTheHistoryAndWhatAFailureLeftOutComesNextTime) {
    form->SetHistory(TempPath("history.sqlite"));
    StartReading();
    ASSERT_TRUE(WaitReadingEnds());
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Закончено чтение архива");
    history::THistoryFilter device;
    device.Address = 3;
    EXPECT_EQ(history::THistory::Open(TempPath("history.sqlite")).CountEvents(device), 988);
    // The line is where its COM name leads: this host and the simulator's terminal.
    const auto lines = history::THistory::Open(TempPath("history.sqlite")).Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Name, "COM1");
    EXPECT_EQ(lines[0].Place,
              HostName() + ":" + std::filesystem::canonical(sim->SlavePath()).string());

    sim->Grow(3, 7, 5);
    const std::string blocked = TempPath("history.sqlite") + "/no.sqlite"; // under a file
    form->SetHistory(blocked);
    const auto before = FileBytes(file);
    StartReading();
    ASSERT_TRUE(WaitReadingEnds());
    ASSERT_EQ(prompt.Shown.size(), 3u);
    EXPECT_EQ(prompt.Shown[1].Text, "Закончено чтение архива");
    EXPECT_EQ(prompt.Shown[2].Caption, "Предупреждение");
    EXPECT_THAT(prompt.Shown[2].Text, ::testing::StartsWith("История не записана: "));
    EXPECT_NE(FileBytes(file), before); // the 7 new records are merged all the same
    EXPECT_TRUE(CommandsEnabled(*form));

    // The file is the history's buffer: the next good reading brings the 7 with its own 2.
    sim->Grow(3, 2, 6);
    form->SetHistory(TempPath("history.sqlite"));
    StartReading();
    ASSERT_TRUE(WaitReadingEnds());
    ASSERT_EQ(prompt.Shown.size(), 4u);
    EXPECT_EQ(history::THistory::Open(TempPath("history.sqlite")).CountEvents(device), 988 + 7 + 2);
}

} // namespace
} // namespace kve17::test
