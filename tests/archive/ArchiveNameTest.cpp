#include "archive/ArchiveOps.h"
#include "tests/support/ScriptedPrompt.h"

#include <gtest/gtest.h>

namespace kve17::test {
namespace {

struct NameCase {
    const char* name;
    const char* path;
    const char* ext;
    const char* accepted; // nullptr: refused
};

class ArchiveNameRule : public ::testing::TestWithParam<NameCase> {};

TEST_P(ArchiveNameRule, ExtensionAndResult) {
    const NameCase c = GetParam();
    EXPECT_EQ(ArchiveExtOf(c.path), c.ext);
    const auto normalized = NormalizeArchiveName(c.path);
    if (c.accepted)
        EXPECT_EQ(normalized, std::optional<std::string>(c.accepted));
    else
        EXPECT_EQ(normalized, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ArchiveNameRule,
    ::testing::Values(
        NameCase{"NoExtensionGetsDat", "/home/op/archive", "", "/home/op/archive.dat"},
        NameCase{"DatKept", "/home/op/archive.dat", ".dat", "/home/op/archive.dat"},
        NameCase{"CapitalDatRefused", "/home/op/archive.DAT", ".DAT", nullptr},
        NameCase{"LastDotCounts", "/home/op/a.b.dat", ".dat", "/home/op/a.b.dat"},
        NameCase{"OtherExtensionRefused", "/home/op/a.dat.txt", ".txt", nullptr},
        NameCase{"DotInFolderOnly", "/home/data.old/archive", "", "/home/data.old/archive.dat"},
        NameCase{"DotInBackslashFolder", "D:\\data.old\\archive", "", "D:\\data.old\\archive.dat"},
        NameCase{"DotBeforeDriveColon", "a.b:archive", "", "a.b:archive.dat"},
        NameCase{"TrailingDotRefused", "/home/op/archive.", ".", nullptr},
        NameCase{"FolderNameRefused", "/home/op/", "", nullptr},
        NameCase{"RelativeName", "archive", "", "archive.dat"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChooseArchiveFileName, WarnsAndAsksAgainUntilANameFits) {
    ScriptedPrompt prompt;
    prompt.Files = {"/x/a.DAT", "/x/b.", "/x/c"};
    TArchiveNameState state;
    const auto name = ChooseArchiveFileName(prompt, "Title", "Caption", state);
    EXPECT_EQ(name, std::optional<std::string>("/x/c.dat"));
    EXPECT_EQ(state.ArchiveFileName, "/x/c.dat");
    EXPECT_EQ(state.ArchiveFileExt, "");
    EXPECT_EQ(prompt.FileDialogTitles, (std::vector<std::string>{"Title", "Title", "Title"}));
    ASSERT_EQ(prompt.Shown.size(), 2u);
    for (const auto& m : prompt.Shown) {
        EXPECT_EQ(m.Text, "Неверно задано имя файла");
        EXPECT_EQ(m.Caption, "Caption");
        EXPECT_EQ(m.Icon, TMsgIcon::Warning);
        EXPECT_EQ(m.Buttons, TMsgButtons::Ok);
    }
}

TEST(ChooseArchiveFileName, CancelAfterAWarningGivesNothing) {
    ScriptedPrompt prompt;
    prompt.Files = {"/x/a.txt"};
    TArchiveNameState state;
    EXPECT_EQ(ChooseArchiveFileName(prompt, "T", "C", state), std::nullopt);
    EXPECT_EQ(prompt.Shown.size(), 1u);
    EXPECT_EQ(prompt.FileDialogTitles.size(), 2u);
}

} // namespace
} // namespace kve17::test
