// The desktop operator prompt: what its boxes and file dialog look like, and that a call from
// the reading's thread is answered on the user-interface thread.
#include "app/QtOperatorPrompt.h"

#include "archive/ArchiveOps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
constexpr auto Patience = 10s;

// Hands the next modal window of type T to `act`, from the event loop. A window that does not come
// in time, or stays up after its step, fails the test and is closed, so that the run goes on.
template <typename T> void WhenModal(std::function<void(T&)> act) {
    // Owned by the application: a timer whose deletion is still pending when the test ends goes
    // with it rather than leaking.
    auto* poll = new QTimer(QCoreApplication::instance());
    auto deadline = std::chrono::steady_clock::now() + Patience;
    QObject::connect(
        poll, &QTimer::timeout,
        [poll, act = std::move(act), deadline, stepped = false, window = QPointer<T>()]() mutable {
            const bool late = std::chrono::steady_clock::now() > deadline;
            if (stepped && (window.isNull() || !window->isVisible())) {
                poll->stop();
                poll->deleteLater();
            } else if (stepped && late) {
                ADD_FAILURE() << "\"" << window->windowTitle().toStdString()
                              << "\" stayed up after its step";
                window->close();
            } else if (!stepped) {
                window = qobject_cast<T*>(QApplication::activeModalWidget());
                if (window && window->isVisible()) {
                    stepped = true;
                    deadline = std::chrono::steady_clock::now() + Patience;
                    act(*window);
                } else if (late) {
                    ADD_FAILURE() << "the modal window never came";
                    poll->stop();
                    poll->deleteLater();
                }
            }
        });
    poll->start(10);
}

// Runs `call` on a thread of its own while the event loop goes on here. A call that does not end
// in time fails the test; its modal windows are closed so that it can end, and a call that still
// does not end stops the test program rather than hanging it.
void OnWorker(const std::function<void()>& call) {
    std::atomic<bool> done = false;
    std::thread worker([&] {
        call();
        done = true;
    });
    constexpr int Ms = static_cast<int>(std::chrono::milliseconds(Patience).count());
    bool finished = QTest::qWaitFor([&] { return done.load(); }, Ms);
    if (!finished) {
        ADD_FAILURE() << "the call on the worker thread did not end";
        while (QWidget* modal = QApplication::activeModalWidget())
            if (!modal->close())
                break;
        finished = QTest::qWaitFor([&] { return done.load(); }, Ms);
    }
    if (!finished) {
        std::fputs("the worker thread hangs; stopping the test program\n", stderr);
        std::abort();
    }
    worker.join();
}

struct BoxRow {
    const char* Name;
    TMsgIcon Icon;
    TMsgButtons Buttons;
    QMessageBox::Icon ShownIcon;
    QMessageBox::StandardButtons ShownButtons;
    QMessageBox::StandardButton Pressed;
    TMsgAnswer Answer;
};

class PromptBox : public ::testing::TestWithParam<BoxRow> {};

TEST_P(PromptBox, FromReadingThreadShowsTaskModalBoxAndReturnsThePress) {
    const BoxRow& row = GetParam();
    QtOperatorPrompt prompt;
    bool looked = false;
    WhenModal<QMessageBox>([&](QMessageBox& box) {
        looked = true;
        EXPECT_EQ(box.windowTitle(), "Создание файла");
        EXPECT_EQ(box.text(), "Файл с таким именем существует.\nСоздать его заново?");
        EXPECT_EQ(box.icon(), row.ShownIcon);
        EXPECT_EQ(box.standardButtons(), row.ShownButtons);
        EXPECT_EQ(box.windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(box.parentWidget(), nullptr);
        box.button(row.Pressed)->click();
    });
    TMsgAnswer answer = TMsgAnswer::Ok;
    OnWorker([&] {
        EXPECT_FALSE(QThread::currentThread() == qApp->thread());
        answer = prompt.Message("Файл с таким именем существует.\nСоздать его заново?",
                                "Создание файла", row.Icon, row.Buttons);
    });
    EXPECT_TRUE(looked);
    EXPECT_EQ(answer, row.Answer);
}

INSTANTIATE_TEST_SUITE_P(
    QtOperatorPrompt, PromptBox,
    ::testing::Values(
        BoxRow{"WarningOk", TMsgIcon::Warning, TMsgButtons::Ok, QMessageBox::Warning,
               QMessageBox::Ok, QMessageBox::Ok, TMsgAnswer::Ok},
        BoxRow{"InformationOk", TMsgIcon::Information, TMsgButtons::Ok, QMessageBox::Information,
               QMessageBox::Ok, QMessageBox::Ok, TMsgAnswer::Ok},
        BoxRow{"QuestionNo", TMsgIcon::Question, TMsgButtons::YesNo, QMessageBox::Question,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No, TMsgAnswer::No},
        BoxRow{"QuestionYes", TMsgIcon::Question, TMsgButtons::YesNo, QMessageBox::Question,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, TMsgAnswer::Yes},
        BoxRow{"ErrorRetry", TMsgIcon::Error, TMsgButtons::RetryCancel, QMessageBox::Critical,
               QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry, TMsgAnswer::Retry},
        BoxRow{"ErrorCancel", TMsgIcon::Error, TMsgButtons::RetryCancel, QMessageBox::Critical,
               QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Cancel, TMsgAnswer::Cancel}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(QtOperatorPrompt, SimpleMessageHasProgramTitleAndNoIcon) {
    QtOperatorPrompt prompt;
    bool looked = false;
    WhenModal<QMessageBox>([&](QMessageBox& box) {
        looked = true;
        EXPECT_EQ(box.windowTitle(), "Чтение архива КВЕ-17");
        EXPECT_EQ(box.text(), "Закончено чтение архива");
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
        box.button(QMessageBox::Ok)->click();
    });
    prompt.SimpleMessage("Закончено чтение архива"); // on the user-interface thread itself
    EXPECT_TRUE(looked);
}

TEST(QtOperatorPrompt, ClosedBoxAnswersAsItsNegativeButton) {
    QtOperatorPrompt prompt;
    WhenModal<QMessageBox>([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(prompt.Message("?", "Создание файла", TMsgIcon::Question, TMsgButtons::YesNo),
              TMsgAnswer::No);
}

class PromptFileDialog : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QtOperatorPrompt prompt;
};

TEST_F(PromptFileDialog, AcceptsANameThatDoesNotExistYet) {
    bool looked = false;
    WhenModal<QFileDialog>([&](QFileDialog& dialog) {
        looked = true;
        EXPECT_EQ(dialog.windowTitle(), "Открытие файла архива");
        EXPECT_EQ(dialog.defaultSuffix(), "dat");
        EXPECT_EQ(dialog.nameFilters(), (QStringList{"Файлы типа .dat (*.dat)", "Все файлы (*)"}));
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
        dialog.setDirectory(temp.path());
        // Typed as the operator types it.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        QTest::keyClicks(name, QStringLiteral("archive"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    std::optional<std::string> chosen;
    OnWorker([&] { chosen = prompt.ChooseFile("Открытие файла архива"); });
    EXPECT_TRUE(looked);
    // Qt appends the default suffix only at times; with the archive name rules applied, as every
    // caller does, the name is the same either way.
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(NormalizeArchiveName(*chosen), temp.filePath("archive.dat").toStdString());
}

TEST_F(PromptFileDialog, CancelGivesNothing) {
    WhenModal<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(prompt.ChooseFile("Создание файла архива"), std::nullopt);
}

TEST_F(PromptFileDialog, NextShowingOpensInTheFolderOfTheLastChoice) {
    WhenModal<QFileDialog>([this](QFileDialog& dialog) {
        dialog.setDirectory(temp.path());
        // Typed, as the operator types it: selectFile leaves the name field as it is once the
        // field has the focus, which the dialog gives it at some point after showing, and the
        // dialog then refuses to accept an empty name and stays up.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        QTest::keyClicks(name, QStringLiteral("first.dat"));
        static_cast<QDialog&>(dialog).accept(); // the file dialog's own checks run
    });
    ASSERT_TRUE(prompt.ChooseFile("Создание файла архива"));
    QString folder;
    WhenModal<QFileDialog>([&folder](QFileDialog& dialog) {
        folder = dialog.directory().absolutePath();
        dialog.reject();
    });
    prompt.ChooseFile("Открытие файла архива");
    EXPECT_EQ(folder, QDir(temp.path()).absolutePath());
}

TEST(QtOperatorPrompt, CloseRequestFromReadingThreadClosesOnceBackInTheLoop) {
    QtOperatorPrompt prompt;
    QWidget window;
    window.show();
    prompt.SetMainWindow(&window);
    OnWorker([&] { prompt.RequestMainClose(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
}

TEST(QtOperatorPrompt, CloseRequestOnTheUiThreadWaitsForTheLoop) {
    QtOperatorPrompt prompt;
    QWidget window;
    window.show();
    prompt.SetMainWindow(&window);
    prompt.RequestMainClose();
    EXPECT_TRUE(window.isVisible()) << "the handler that asked must finish first";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
}

} // namespace
} // namespace kve17::test
