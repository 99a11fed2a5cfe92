// Where a save can put its temporary file and where it cannot: a writable archive in a folder
// that takes no new file, a shared archive of another user (in a sticky folder too), a failure
// part way through an overwrite, extended attributes and access lists, and temporary files that
// killed saves left behind. The tests run as root, so each case of an ordinary user runs in a
// child process that gives up root first.
#include "archive/ArchiveFile.h"
#include "archive/ArchiveOps.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"

#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>

namespace kve17::test {
namespace {

namespace fs = std::filesystem;
using FileArray = std::array<std::uint8_t, ArchiveFileSize>;

constexpr uid_t Owner = 61001;  // the archive's owner and group
constexpr uid_t Member = 61002; // another user in the owner's group
constexpr uid_t Nobody = 65534;

std::vector<std::uint8_t> BytesOf(const FileArray& file) {
    return {file.begin(), file.end()};
}

// The old content: a fresh file. The new one: one record at slot 0 and Position 8.
const std::vector<std::uint8_t> Old = BytesOf(model::FreshFile());
std::vector<std::uint8_t> NewBytes() {
    FileArray file = model::FreshFile();
    model::Put(file, 0, {0x10, 0x20, 0x30, 0x0C, 0x05, 0x18, 0x07, 0x01});
    model::SetPosition(file, 8);
    return BytesOf(file);
}

bool BecomeUser(uid_t user, gid_t group, std::vector<gid_t> groups) {
    return ::setgroups(groups.size(), groups.data()) == 0 &&
           ::setresgid(group, group, group) == 0 && ::setresuid(user, user, user) == 0;
}

struct Report {
    std::string text;
    void Check(bool ok, const std::string& what) {
        if (!ok)
            text += what + "\n";
    }
};

// Opens the archive for update and saves the new content, as a reading does.
std::string OpenAndSave(const std::string& path) {
    Report r;
    TArchiveFile file;
    TArchiveImage image{};
    r.Check(file.Open(path, TOpenMode::Update, image), "the archive does not open for update");
    r.Check(file.Save(ImageOf(NewBytes())), "the save failed");
    r.Check(file.Close(), "the close failed");
    return r.text;
}

struct Placed {
    uid_t uid = 0;
    gid_t gid = 0;
    unsigned mode = 0;
    ino_t inode = 0;
};

Placed StatOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {st.st_uid, st.st_gid, st.st_mode & 07777, st.st_ino};
}

class SavePlace : public ::testing::Test {
protected:
    void SetUp() override {
        fs::permissions(dir.Path(), fs::perms(0755));
        folder = dir.Path() / "shared";
        fs::create_directory(folder);
        file = (folder / "a.dat").string();
        WriteBytes(file, Old);
    }
    // The folder and the file as a user or administrator set them up.
    void Own(const fs::path& path, uid_t uid, gid_t gid, unsigned mode) {
        ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    TempDir dir;
    fs::path folder;
    std::string file;
};

TEST_F(SavePlace, AWritableFileInAFolderOfAnotherUserIsSavedInPlace) {
    Own(folder, 0, 0, 0755);
    Own(file, Nobody, Nobody, 0600);
    const Placed before = StatOf(file);
    EXPECT_EQ(RunInChild([&] {
                  return BecomeUser(Nobody, Nobody, {}) ? OpenAndSave(file) : "no user change";
              }),
              "");
    EXPECT_EQ(FileBytes(file), NewBytes());
    EXPECT_EQ(StatOf(file).inode, before.inode);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"a.dat"});
}

TEST_F(SavePlace, CreatingAnewInAFolderOfAnotherUserOverwritesTheFile) {
    Own(folder, 0, 0, 0755);
    Own(file, Nobody, Nobody, 0600);
    WriteBytes(file, NewBytes());
    EXPECT_EQ(RunInChild([&] {
                  if (!BecomeUser(Nobody, Nobody, {}))
                      return std::string("no user change");
                  return CreateFreshFile(file, true) == TCreateFileResult::Created
                             ? std::string()
                             : std::string("not created");
              }),
              "");
    EXPECT_EQ(FileBytes(file), Old);
}

TEST_F(SavePlace, AFailurePartWayThroughAnOverwriteLeavesTheOldContent) {
    Own(folder, 0, 0, 0755);
    Own(file, Nobody, Nobody, 0600);
    EXPECT_EQ(RunInChild([&] {
                  if (!BecomeUser(Nobody, Nobody, {}) || !LimitFileSize(4000))
                      return std::string("no user change");
                  TArchiveFile archive;
                  TArchiveImage image{};
                  if (!archive.Open(file, TOpenMode::Update, image))
                      return std::string("does not open");
                  return archive.Save(ImageOf(NewBytes())) ? std::string("saved beyond the limit")
                                                           : std::string();
              }),
              "");
    EXPECT_EQ(FileBytes(file), Old);
}

// A user of the file's group reads into the shared archive: it stays the owner's, group included.
class SharedArchive : public SavePlace, public ::testing::WithParamInterface<unsigned> {};

TEST_P(SharedArchive, KeepsOwnerGroupAndModeAfterASaveByAGroupMember) {
    Own(folder, GetParam() & S_ISVTX ? 0 : Owner, Owner, GetParam());
    Own(file, Owner, Owner, 0660);
    EXPECT_EQ(RunInChild([&] {
                  return BecomeUser(Member, Member, {Member, Owner}) ? OpenAndSave(file)
                                                                     : "no user change";
              }),
              "");
    EXPECT_EQ(FileBytes(file), NewBytes());
    const Placed after = StatOf(file);
    EXPECT_EQ(after.uid, Owner);
    EXPECT_EQ(after.gid, Owner);
    EXPECT_EQ(after.mode, 0660u);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"a.dat"});
}

INSTANTIATE_TEST_SUITE_P(Folders, SharedArchive, ::testing::Values(0775u, 01777u),
                         [](const auto& info) {
                             return info.param & S_ISVTX ? "Sticky" : "GroupWritable";
                         });

std::string Attribute(const std::string& path, const char* name) {
    std::array<char, 256> value{};
    const ssize_t n = ::getxattr(path.c_str(), name, value.data(), value.size());
    return n < 0 ? std::string("(none)") : std::string(value.data(), static_cast<std::size_t>(n));
}

TEST_F(SavePlace, ARenamedSaveKeepsExtendedAttributesAndTheAccessList) {
    if (::setxattr(file.c_str(), "user.kve17.site", "boiler 3", 8, 0) != 0)
        GTEST_SKIP() << "the file system of " << folder << " takes no user attributes";
    if (std::system(("setfacl -m u:61003:rw,g:61004:r " + file + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "the file system of " << folder << " takes no access lists";
    const std::string acl = Attribute(file, "system.posix_acl_access");
    ASSERT_NE(acl, "(none)");
    const Placed before = StatOf(file);

    EXPECT_EQ(OpenAndSave(file), "");
    EXPECT_EQ(FileBytes(file), NewBytes());
    EXPECT_NE(StatOf(file).inode, before.inode) << "the temporary file was not used";
    EXPECT_EQ(Attribute(file, "user.kve17.site"), "boiler 3");
    EXPECT_EQ(Attribute(file, "system.posix_acl_access"), acl);
    EXPECT_EQ(StatOf(file).mode, before.mode);
}

pid_t GonePid() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST_F(SavePlace, ASaveRemovesTemporaryFilesOfSavesThatWereKilled) {
    const std::string stale = ".kve17-" + std::to_string(GonePid()) + "-0.tmp";
    const std::string living = ".kve17-1-0.tmp"; // process 1 is always there
    WriteBytes(folder / stale, Old);
    WriteBytes(folder / living, Old);
    EXPECT_EQ(OpenAndSave(file), "");
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{living, "a.dat"}));
}

// A save killed while it writes its temporary file (here by the file size limit's signal) leaves
// that file; it must be no more readable than the archive, whatever the umask.
TEST_F(SavePlace, ATemporaryFileLeftByAKilledSaveIsAsPrivateAsTheArchive) {
    Own(file, 0, 0, 0600);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::umask(0);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TArchiveFile archive;
        TArchiveImage image{};
        if (archive.Open(file, TOpenMode::Update, image))
            (void)archive.Save(ImageOf(NewBytes()));
        ::_exit(0);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{60};
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            FAIL() << "the saving child did not end within 60 s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    const auto entries = FolderEntries(folder);
    ASSERT_EQ(entries.size(), 2u);
    const std::string& left = entries.front();
    ASSERT_TRUE(left.starts_with(".kve17-" + std::to_string(pid) + "-")) << left;
    EXPECT_EQ(StatOf((folder / left).string()).mode & 077, 0u);
    EXPECT_EQ(FileBytes(file), Old);
}

} // namespace
} // namespace kve17::test
