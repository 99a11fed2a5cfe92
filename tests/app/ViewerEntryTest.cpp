// The ways to the archive viewer from the main window: the menu and its shortcut, the tool bar,
// the command line's files, and a drop; a file that cannot be shown is refused by name.
#include "tests/app/AppFixture.h"
#include "tests/viewer/ViewerFixture.h"
#include "viewer/ArchiveViewer.h"

#include <QAction>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gmock/gmock.h>

namespace kve17::test {
namespace {

class ViewerEntry : public AppFixture {
protected:
    void SetUp() override {
        file = TempPath("a.dat");
        ASSERT_TRUE(ReadEvents(file, 0).Saved);
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    QList<TArchiveViewer*> Viewers() const { return form->findChildren<TArchiveViewer*>(); }
    // Drags `urls` over the window and drops them; true when the window took the drag.
    bool Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = form->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        return drop.isAccepted();
    }

    std::string file;
};

TEST_F(ViewerEntry, CtrlOAsksForTheFileAndShowsItsRecords) {
    prompt.Files.push_back(file);
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_THAT(prompt.FileDialogTitles, ::testing::ElementsAre("Просмотр архива"));
    ASSERT_EQ(Viewers().size(), 1);
    TArchiveViewer* viewer = Viewers().front();
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(viewer->isWindow());
    EXPECT_EQ(viewer->Model->rowCount(), 988);
    EXPECT_THAT(viewer->windowTitle().toStdString(), ::testing::HasSubstr(file));

    // A cancelled choice opens nothing; the tool bar button asks as the menu does.
    QTest::mouseClick(form->ToolButton6, Qt::LeftButton);
    EXPECT_EQ(prompt.FileDialogTitles.size(), 2u);
    EXPECT_EQ(Viewers().size(), 1);
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(ViewerEntry, FilesFromTheCommandLineOpenAViewerEach) {
    const std::string second = TempPath("b.dat");
    ASSERT_TRUE(ReadEvents(second, 40).Saved);
    form->OpenViewers({QString::fromStdString(file), QString::fromStdString(second),
                       QString::fromStdString(file)}); // the same file twice: one viewer
    ASSERT_EQ(Viewers().size(), 2);
    EXPECT_TRUE(prompt.Shown.empty());
}

TEST_F(ViewerEntry, DroppedArchiveFilesOpenAndOtherFilesAreNotTaken) {
    EXPECT_FALSE(Drop({QUrl::fromLocalFile(temp.filePath("notes.txt"))}));
    EXPECT_TRUE(Viewers().isEmpty());
    EXPECT_TRUE(Drop({QUrl::fromLocalFile(QString::fromStdString(file))}));
    ASSERT_EQ(Viewers().size(), 1);
    EXPECT_EQ(Viewers().front()->Model->rowCount(), 988);
}

TEST_F(ViewerEntry, DamagedFileIsRefusedByNameAndLeftUnchanged) {
    std::vector<std::uint8_t> bytes = FileBytes(file);
    bytes.pop_back();
    WriteBytes(file, bytes);
    prompt.Files.push_back(file);
    form->AViewArchive->trigger();
    EXPECT_TRUE(Viewers().isEmpty());
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Caption, "Ошибка");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Error);
    EXPECT_THAT(prompt.Shown[0].Text, ::testing::HasSubstr(file));
    EXPECT_THAT(prompt.Shown[0].Text, ::testing::HasSubstr("размер 7939 байт"));
    EXPECT_EQ(FileBytes(file), bytes);
}

} // namespace
} // namespace kve17::test
