// The main window as the operator meets it: captions, menu, actions, tool bar, device list, and
// what closing it does.
#include "archive/ArchiveFormat.h"
#include "tests/app/AppFixture.h"
#include "tests/support/Pty.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

namespace kve17::test {
namespace {

using MainWindow = AppFixture;

QColor TextColour(const QWidget* widget) {
    return widget->palette().color(QPalette::WindowText);
}

TEST_F(MainWindow, DeviceListOffersOneToThirtyOneChoosingOnly) {
    ASSERT_EQ(form->CBoxUstr->count(), 31);
    for (int i = 0; i < 31; ++i)
        EXPECT_EQ(form->CBoxUstr->itemText(i), QString::number(i + 1));
    EXPECT_FALSE(form->CBoxUstr->isEditable());
}

TEST_F(MainWindow, StartsOnDeviceOneWithoutOperatorSelection) {
    EXPECT_EQ(form->CBoxUstr->currentText(), "1");
    EXPECT_EQ(DeviceIndex, 0);
}

TEST_F(MainWindow, DeviceIndexFollowsOperatorSelection) {
    QTest::keyClick(form->CBoxUstr, Qt::Key_End);
    EXPECT_EQ(form->CBoxUstr->currentText(), "31");
    EXPECT_EQ(DeviceIndex, 30);
    QTest::keyClick(form->CBoxUstr, Qt::Key_Home);
    EXPECT_EQ(DeviceIndex, 0);
    SelectDevice(3);
    EXPECT_EQ(DeviceIndex, 2);
}

TEST_F(MainWindow, SelectionByProgramLeavesDeviceIndex) {
    form->CBoxUstr->setCurrentIndex(9);
    EXPECT_EQ(DeviceIndex, 0);
}

TEST_F(MainWindow, CaptionsColoursAndHiddenIndicator) {
    EXPECT_EQ(form->windowTitle(), "Чтение архива КВЕ-17");
    EXPECT_NEAR(form->width(), 395, 40);
    EXPECT_NEAR(form->height(), 295, 40);
    EXPECT_EQ(form->Label2->text(), "Устройство №");
    EXPECT_TRUE(form->Label2->font().bold());
    EXPECT_EQ(TextColour(form->Label2), QColor(0, 128, 128));
    EXPECT_EQ(form->Button2->text(), "Чтение архива");
    EXPECT_EQ(form->Label5->text(), "Идет чтение архива");
    EXPECT_EQ(TextColour(form->Label5), QColor(0, 0, 128));
    EXPECT_TRUE(form->Label5->isHidden());
    EXPECT_TRUE(form->ProgressBar1->isHidden());
    EXPECT_EQ(form->ProgressBar1->minimum(), 0);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
}

TEST_F(MainWindow, MenuTitlesKeepTheirBlanksAndHints) {
    const auto titles = form->menuBar()->actions();
    ASSERT_EQ(titles.size(), 3);
    EXPECT_EQ(titles[0]->text(), "Файл        ");
    EXPECT_EQ(titles[0]->statusTip(), "Файл");
    EXPECT_EQ(titles[0]->menu(), form->N1File);
    EXPECT_EQ(titles[1]->text(), "Порт");
    EXPECT_EQ(titles[1]->menu(), form->N1);
    EXPECT_EQ(form->N1File->actions(), (QList<QAction*>{form->AOpenFile, form->AClose}));
    EXPECT_EQ(form->N1->actions(), (QList<QAction*>{form->APort}));
    EXPECT_EQ(titles[2]->text(), "Архив");
    EXPECT_EQ(form->N3->actions(), (QList<QAction*>{form->AViewArchive, form->AViewHistory}));
}

struct ActionRow {
    const char* Name;
    const char* Category;
    const char* Caption;
    const char* Hint;
    int Image; // -1: none
    QKeySequence Shortcut;
};

class Actions : public AppFixture, public ::testing::WithParamInterface<ActionRow> {
protected:
    QAction* Action() const {
        const std::string name = GetParam().Name;
        return name == "AOpenFile"      ? form->AOpenFile
               : name == "APort"        ? form->APort
               : name == "AViewArchive" ? form->AViewArchive
               : name == "AViewHistory" ? form->AViewHistory
                                        : form->AClose;
    }
};

TEST_P(Actions, CarryCategoryCaptionHintImageAndShortcut) {
    const ActionRow& row = GetParam();
    const QAction* action = Action();
    EXPECT_EQ(action->property("category").toString(), row.Category);
    EXPECT_EQ(action->text(), row.Caption);
    EXPECT_EQ(action->statusTip(), row.Hint);
    EXPECT_EQ(action->shortcut(), row.Shortcut);
    if (row.Image < 0) {
        EXPECT_TRUE(action->icon().isNull());
        return;
    }
    EXPECT_EQ(action->icon().cacheKey(), form->ImageList1[row.Image].cacheKey());
    const QImage image = action->icon().pixmap(16, 16).toImage();
    ASSERT_EQ(image.size(), QSize(16, 16));
    // A drawn picture: opaque pixels in more than one colour.
    QList<QRgb> colours;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (qAlpha(image.pixel(x, y)) == 255 && !colours.contains(image.pixel(x, y)))
                colours.append(image.pixel(x, y));
    EXPECT_GE(colours.size(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, Actions,
    ::testing::Values(ActionRow{"AOpenFile", "Файл", "Создать файл архива", "Создать файл архива",
                                17, QKeySequence(Qt::Key_F3)},
                      ActionRow{"APort", "Порт", "Настройка СОМ порта", "Настройка СОМ порта", 16,
                                QKeySequence()},
                      ActionRow{"AClose", "Файл", "Выход", "", -1,
                                QKeySequence(Qt::ALT | Qt::Key_X)},
                      ActionRow{"AViewHistory", "Архив", "История событий…",
                                "История событий устройства", -1, QKeySequence()},
                      ActionRow{"AViewArchive", "Архив", "Просмотр архива…", "Просмотр архива", 15,
                                QKeySequence(Qt::CTRL | Qt::Key_O)}),
    [](const auto& info) { return std::string(info.param.Name); });

class ShownMainWindow : public AppFixture {
protected:
    void SetUp() override {
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
};

TEST_F(ShownMainWindow, ToolBarHoldsCreationGapPortGapAndViewerWithHintsAsTips) {
    const auto items = form->ToolBar1->actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[0], form->AOpenFile);
    EXPECT_EQ(items[2], form->APort);
    EXPECT_EQ(items[4], form->AViewArchive);
    ASSERT_NE(form->ToolButton6, nullptr);
    EXPECT_EQ(form->ToolButton6->toolTip(), "Просмотр архива");
    EXPECT_GT(form->ToolButton6->x(), form->ToolButton5->geometry().right() + 1);
    ASSERT_NE(form->ToolButton1, nullptr);
    ASSERT_NE(form->ToolButton5, nullptr);
    EXPECT_EQ(form->ToolButton1->defaultAction(), form->AOpenFile);
    EXPECT_EQ(form->ToolButton5->defaultAction(), form->APort);
    EXPECT_EQ(form->ToolButton1->toolTip(), "Создать файл архива");
    EXPECT_EQ(form->ToolButton5->toolTip(), "Настройка СОМ порта");
    EXPECT_GT(form->ToolButton5->x(), form->ToolButton1->geometry().right() + 1);
}

TEST_F(ShownMainWindow, ExitEntryClosesTheWindow) {
    form->AClose->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ShownMainWindow, AltXClosesTheWindow) {
    QTest::keyClick(form.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ShownMainWindow, F3CreatesAnArchiveFile) {
    const std::string chosen = TempPath("archive");
    prompt.Files.push_back(chosen);
    QTest::keyClick(form.get(), Qt::Key_F3);
    EXPECT_EQ(prompt.FileDialogTitles, std::vector<std::string>{"Создание файла архива"});
    const auto bytes = FileBytes(chosen + ".dat");
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(ArchiveFileSize));
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0xFF; }));
    ASSERT_EQ(prompt.Shown.size(), 1U);
    EXPECT_EQ(prompt.Shown[0].Text, "Создан файл архива " + chosen + ".dat");
}

TEST_F(ShownMainWindow, ClosingClosesAnOpenPort) {
    Pty pty;
    OpenPortOn(pty.SlavePath());
    ASSERT_TRUE(form->ComPort1.Connected());
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(ShownMainWindow, ClosingWithNeverOpenedPortShowsNothing) {
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_EQ(prompt.CloseRequests, 0);
    EXPECT_TRUE(ShownExceptions().empty());
}

TEST_F(ShownMainWindow, EscapingExceptionIsShownAndTheLoopGoesOn) {
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [] { throw std::runtime_error("Unable to open com port"); },
        Qt::QueuedConnection);
    bool later = false;
    QMetaObject::invokeMethod(
        &receiver, [&later] { later = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(QTest::qWaitFor([&later] { return later; }, 2000));
    EXPECT_EQ(ShownExceptions(), std::vector<std::string>{"Unable to open com port"});
}

} // namespace
} // namespace kve17::test
