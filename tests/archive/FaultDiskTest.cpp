// A full disk and a read-only file system under the archive file: creation and the save after a
// reading fail as a whole, the file keeps its content and no temporary file is left behind. Each
// case runs in a child process, which alone sees the small file system or the size limit.
#include "archive/ArchiveOps.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScriptedPrompt.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

namespace fs = std::filesystem;

constexpr int Dev = 2;
// Room for the temporary copy of neither a new nor a saved file (7940 bytes).
constexpr rlim_t FileSizeLimit = 4096;
constexpr std::size_t TmpfsBytes = 64 * 1024;

// The checks of a child, gathered as text for the parent to show.
struct Report {
    std::string text;
    void Check(bool ok, const std::string& what) {
        if (!ok)
            text += what + "\n";
    }
};

// Fills a file system until it takes no byte more.
bool FillUp(const fs::path& folder) {
    const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::vector<char> chunk(4096, 'x');
    ssize_t n;
    while ((n = ::write(fd, chunk.data(), chunk.size())) > 0) {
    }
    const bool full = n < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
}

bool TmpfsAllowed() {
    static const bool allowed = [] {
        TempDir probe;
        return RunInChild([&] {
                   return MountPrivateTmpfs(probe.Path().string(), TmpfsBytes) ? "" : "no";
               }) == "";
    }();
    return allowed;
}

// Where a full disk comes from: a size limit of the process, or a small file system filled up.
struct Disk {
    const char* name;
    bool needsMount;
    // Run in the child once the folder holds what the case needs before the disk is full.
    bool (*fill)(const fs::path& folder);
};

const Disk Disks[] = {
    {"FileSizeLimit", false, [](const fs::path&) { return LimitFileSize(FileSizeLimit); }},
    {"FullTmpfs", true, FillUp},
};

class FullDisk : public ::testing::TestWithParam<Disk> {
protected:
    TempDir dir;
    fs::path folder = dir.Path();

    // Runs `body` in a child on the case's disk; `prepare` runs before the disk is full.
    std::string Run(const std::function<void()>& prepare,
                    const std::function<void(Report&)>& body) {
        const Disk& disk = GetParam();
        if (disk.needsMount) {
            folder = dir.Path() / "mnt";
            fs::create_directory(folder);
        }
        return RunInChild([&] {
            Report report;
            if (disk.needsMount && !MountPrivateTmpfs(folder.string(), TmpfsBytes))
                return std::string("mount failed");
            prepare();
            const auto names = FolderEntries(folder);
            report.Check(disk.fill(folder), "the disk could not be made full");
            body(report);
            auto left = FolderEntries(folder);
            std::erase(left, "filler");
            auto expected = names;
            std::erase(expected, "filler");
            report.Check(left == expected, "the folder holds other files than before");
            return report.text;
        });
    }
    void SetUp() override {
        if (GetParam().needsMount && !TmpfsAllowed())
            GTEST_SKIP() << "no mount here; FileSizeLimit stands in for it";
    }
};

TEST_P(FullDisk, CreationFailsAndLeavesNoFile) {
    const std::string report =
        Run([] {},
            [&](Report& r) {
                const std::string path = (folder / "new.dat").string();
                r.Check(CreateFreshFile(path, false) == TCreateFileResult::Failed,
                        "creation succeeded");
                r.Check(!fs::exists(path), "a file was left");
            });
    EXPECT_EQ(report, "");
}

TEST_P(FullDisk, CreationOverAnOldFileKeepsIt) {
    const std::vector<std::uint8_t> old(ArchiveFileSize, 0x33);
    const std::string report = Run(
        [&] { WriteBytes(folder / "old.dat", old); },
        [&](Report& r) {
            const std::string path = (folder / "old.dat").string();
            r.Check(CreateFreshFile(path, true) == TCreateFileResult::Failed, "creation succeeded");
            r.Check(FileBytes(path) == old, "the old file changed");
        });
    EXPECT_EQ(report, "");
}

// Both modes: the save of a fresh reading and of a merge fail alike.
TEST_P(FullDisk, SaveAfterAReadingFailsAndKeepsTheFile) {
    FakeDevice device;
    device.Archive = MakeDevice(40);
    const auto fresh = model::FreshFile();
    const auto earlier = model::AfterReading(fresh, MakeDevice());
    const std::string report = Run(
        [&] {
            WriteBytes(folder / "fresh.dat", {fresh.begin(), fresh.end()});
            WriteBytes(folder / "old.dat", {earlier.begin(), earlier.end()});
        },
        [&](Report& r) {
            for (const auto& [name, content] :
                 {std::pair{"fresh.dat", fresh}, std::pair{"old.dat", earlier}}) {
                ScriptedPrompt prompt;
                RecordingView view;
                const std::string path = (folder / name).string();
                const TReadingResult result = ReadArchiveFile(path, Dev, device, prompt, view);
                r.Check(result.Started && result.LinkResult == 0, std::string(name) + " not read");
                r.Check(!result.Saved, std::string(name) + ": the save reported success");
                r.Check(!prompt.Shown.empty() && prompt.Shown.back().Text == SaveFailedText,
                        std::string(name) + ": the failed save was not reported");
                const auto bytes = FileBytes(path);
                r.Check(std::equal(bytes.begin(), bytes.end(), content.begin(), content.end()),
                        std::string(name) + " changed");
            }
        });
    EXPECT_EQ(report, "");
}

INSTANTIATE_TEST_SUITE_P(Disks, FullDisk, ::testing::ValuesIn(Disks),
                         [](const auto& info) { return std::string(info.param.name); });

// A file system mounted read-only refuses even the superuser, whom file modes do not stop.
TEST(ReadOnlyFileSystem, RefusesReadingAndCreationAndKeepsTheFile) {
    if (!TmpfsAllowed())
        GTEST_SKIP() << "no mount here; read-only files are tested by their mode";
    TempDir dir;
    const fs::path folder = dir.Path() / "mnt";
    fs::create_directory(folder);
    const std::string report = RunInChild([&] {
        Report r;
        if (!MountPrivateTmpfs(folder.string(), TmpfsBytes))
            return std::string("mount failed");
        const std::string path = (folder / "a.dat").string();
        r.Check(CreateFreshFile(path, false) == TCreateFileResult::Created, "no file to start");
        r.Check(RemountReadOnly(folder.string()), "remount failed");
        FakeDevice device;
        device.Archive = MakeDevice();
        ScriptedPrompt prompt;
        RecordingView view;
        const TReadingResult result = ReadArchiveFile(path, Dev, device, prompt, view);
        r.Check(!result.Started, "the reading started");
        r.Check(device.Requested.empty(), "the device was asked");
        r.Check(prompt.Shown.size() == 1 && prompt.Shown[0].Text == OpenFailedText,
                "no open failure shown");
        r.Check(CreateFreshFile(path, true) == TCreateFileResult::Failed, "replaced");
        r.Check(CreateFreshFile((folder / "b.dat").string(), false) == TCreateFileResult::Failed,
                "created");
        const auto fresh = model::FreshFile();
        r.Check(FileBytes(path) == std::vector<std::uint8_t>(fresh.begin(), fresh.end()),
                "the file changed");
        r.Check(FolderEntries(folder) == std::vector<std::string>{"a.dat"}, "other files appeared");
        return r.text;
    });
    EXPECT_EQ(report, "");
}

} // namespace
} // namespace kve17::test
