#include "archive/ArchiveOps.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ScriptedPrompt.h"

#include <gtest/gtest.h>

namespace kve17::test {
namespace {

class ArchiveCreate : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedPrompt prompt;
    TArchiveNameState state;
    const std::vector<std::uint8_t> fresh = std::vector<std::uint8_t>(7940, 0xFF);

    int Entries() const { return static_cast<int>(FolderEntries(dir.Path()).size()); }
};

TEST_F(ArchiveCreate, NameWithoutExtensionCreatesDatAndConfirmsFullName) {
    prompt.Files.push_back(dir.File("archive"));
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Created);
    const std::string path = dir.File("archive.dat");
    EXPECT_EQ(FileBytes(path), fresh);
    EXPECT_EQ(prompt.FileDialogTitles, std::vector<std::string>{"Создание файла архива"});
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Создан файл архива " + path);
    EXPECT_EQ(prompt.Shown[0].Caption, "Подтверждение");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Information);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(ArchiveCreate, WrongExtensionWarnsWithCreationCaption) {
    prompt.Files = {dir.File("a.DAT"), dir.File("a.b.dat")};
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Created);
    EXPECT_EQ(prompt.Shown[0].Text, "Неверно задано имя файла");
    EXPECT_EQ(prompt.Shown[0].Caption, "задание имени файла");
    EXPECT_EQ(FileBytes(dir.File("a.b.dat")), fresh);
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.DAT")));
}

TEST_F(ArchiveCreate, ExistingFileKeptOnNo) {
    const std::string path = dir.File("old.dat");
    WriteBytes(path, std::vector<std::uint8_t>(7940, 0x11));
    prompt.Files.push_back(path);
    prompt.Answers.push_back(TMsgAnswer::No);
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Kept);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Файл с таким именем существует.\nСоздать его заново?");
    EXPECT_EQ(prompt.Shown[0].Caption, "Создание файла");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(prompt.Shown[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(FileBytes(path), std::vector<std::uint8_t>(7940, 0x11));
}

TEST_F(ArchiveCreate, ExistingFileReplacedOnYesKeepingItsPermissions) {
    const std::string path = dir.File("old.dat");
    WriteBytes(path, std::vector<std::uint8_t>(100, 0x11));
    const auto perms = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                       std::filesystem::perms::others_read;
    std::filesystem::permissions(path, perms);
    prompt.Files.push_back(path);
    prompt.Answers.push_back(TMsgAnswer::Yes);
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Created);
    EXPECT_EQ(FileBytes(path), fresh);
    EXPECT_EQ(std::filesystem::status(path).permissions(), perms);
    EXPECT_EQ(prompt.Shown.size(), 2u);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(ArchiveCreate, MissingFolderFailsWithoutConfirmation) {
    prompt.Files.push_back(dir.File("none/archive.dat"));
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Failed);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Файл архива не удается создать");
    EXPECT_EQ(prompt.Shown[0].Caption, "Создание файла");
    EXPECT_EQ(prompt.Shown[0].Icon, TMsgIcon::Warning);
}

TEST_F(ArchiveCreate, ReadOnlyFileIsNeitherAskedAboutNorReplaced) {
    const std::string path = dir.File("ro.dat");
    WriteBytes(path, std::vector<std::uint8_t>(7940, 0x22));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    prompt.Files.push_back(path);
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Failed);
    ASSERT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.Shown[0].Text, "Файл архива не удается создать");
    EXPECT_EQ(FileBytes(path), std::vector<std::uint8_t>(7940, 0x22));
    EXPECT_EQ(Entries(), 1);
}

TEST_F(ArchiveCreate, FolderOfTheNameIsNotReplaced) {
    std::filesystem::create_directory(dir.Path() / "x.dat");
    prompt.Files.push_back(dir.File("x.dat"));
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Failed);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "x.dat"));
}

TEST_F(ArchiveCreate, LongestFileNameIsCreated) {
    const std::string path = dir.File(std::string(251, 'b') + ".dat");
    EXPECT_EQ(CreateFreshFile(path, false), TCreateFileResult::Created);
    EXPECT_EQ(FileBytes(path), fresh);
    EXPECT_EQ(CreateFreshFile(path, true), TCreateFileResult::Created);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(ArchiveCreate, CancelDoesNothing) {
    EXPECT_EQ(CreateArchive(prompt, state), TCreateResult::Cancelled);
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_EQ(Entries(), 0);
}

TEST_F(ArchiveCreate, FreshFileWithoutOverwriteRefusesAnExistingOne) {
    const std::string path = dir.File("a.dat");
    WriteBytes(path, {1, 2, 3});
    EXPECT_EQ(CreateFreshFile(path, false), TCreateFileResult::Exists);
    EXPECT_EQ(FileBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(CreateFreshFile(path, true), TCreateFileResult::Created);
    EXPECT_EQ(FileBytes(path), fresh);
}

} // namespace
} // namespace kve17::test
