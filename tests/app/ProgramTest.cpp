// The desktop program as a process: its help names what it reads, and a stop signal ends it
// while the error box of a bad file from its command line is open.
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gmock/gmock.h>

namespace kve17::test {
namespace {

using ::testing::HasSubstr;

constexpr int WaitMs = 15000; // a deadline for failures only

// The program on the offscreen platform, every folder it reads or writes in `home`, no history.
void Start(QProcess& program, const QTemporaryDir& home, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("KVE17_HISTORY", "off");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KVE17_ARCHIVE_PATH), arguments);
}

TEST(Program, HelpNamesTheHistoryAndTheFilesItReads) {
    QTemporaryDir home;
    QProcess program;
    Start(program, home, {"--help"});
    ASSERT_TRUE(program.waitForFinished(WaitMs));
    EXPECT_EQ(program.exitCode(), 0);
    const std::string help = program.readAllStandardOutput().toStdString();
    EXPECT_THAT(help, HasSubstr("KVE17_HISTORY"));
    EXPECT_THAT(help, HasSubstr("/etc/kve17/events/kve17.txt, ~/.config/kve17/events/kve17.txt"));
    EXPECT_THAT(help, HasSubstr("~/.config/kve17/viewer.conf"));
}

TEST(Program, AStopSignalEndsItWithTheBoxOfABadFileOpen) {
    for (const int signal : {SIGTERM, SIGINT}) {
        QTemporaryDir home;
        QProcess program;
        Start(program, home, {home.filePath("missing.dat")});
        ASSERT_TRUE(program.waitForStarted(WaitMs));
        // The box that says the file is missing holds the program until it is answered.
        EXPECT_FALSE(program.waitForFinished(1500)) << program.readAllStandardError().toStdString();
        ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), signal), 0);
        EXPECT_TRUE(program.waitForFinished(WaitMs)) << "signal " << signal;
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(WaitMs);
        }
    }
}

} // namespace
} // namespace kve17::test
