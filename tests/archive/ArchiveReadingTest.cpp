#include "archive/ArchiveOps.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ScriptedPrompt.h"

#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kve17::test {
namespace {

constexpr int Dev = 2;

// The record as the file must hold it, by the written-out rule of the test model rather than the
// program's own record check.
TArchiveRecord Checked(TArchiveRecord r) {
    model::Bytes bytes{};
    std::memcpy(bytes.data(), &r, RecordSize);
    bytes = model::Checked(bytes);
    std::memcpy(&r, bytes.data(), RecordSize);
    return r;
}

// The file a complete fresh reading of `device` must give.
TArchiveImage ExpectedFresh(const DeviceBytes& device) {
    TArchiveImage image = FreshImage();
    for (int k = 0; k < SlotCount; ++k) {
        TArchiveRecord r = Checked(RecordOf(device, k));
        if (k >= SlotCount - 4)
            r.Code = MarkCode;
        image.Store(LastSlot - RecordSize * k, r);
    }
    image.Position = 0;
    return image;
}

// The file an incremental reading must give when device records 0 to n - 1 are new.
TArchiveImage ExpectedMerge(TArchiveImage image, const DeviceBytes& device, int n) {
    if (n == 0)
        return image;
    int p = image.Position;
    for (int k = n - 1; k >= 0; --k) {
        image.Store(p, Checked(RecordOf(device, k)));
        p = (p + RecordSize) % RingSize;
    }
    for (int s = 0; s < 4; ++s)
        image.Ring[static_cast<std::size_t>((p + 8 * s) % RingSize)] = MarkCode;
    image.Position = p;
    return image;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

class ArchiveReading : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("archive.dat");
    FakeDevice device;
    ScriptedPrompt prompt;
    RecordingView view;

    void SetUp() override { device.Archive = MakeDevice(); }

    void WriteImage(const TArchiveImage& image) { WriteBytes(path, ImageBytes(image)); }
    TArchiveImage Stored() { return ImageOf(FileBytes(path)); }
    TReadingResult Read() { return ReadArchiveFile(path, Dev, device, prompt, view); }

    std::vector<std::string> SimpleTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : prompt.Shown)
            if (m.Caption == "<simple>")
                texts.push_back(m.Text);
        return texts;
    }
    // A file that holds an earlier reading whose newest record is `newest`.
    TArchiveImage OldFile(int position, const TArchiveRecord& newest) {
        TArchiveImage image = FreshImage();
        for (int s = 0; s < SlotCount; ++s)
            image.Store(s * RecordSize,
                        Rec(7, 7, 1, 2, 3, 4, 5, static_cast<std::uint8_t>(s % 90 + 1)));
        image.Position = position;
        image.Store(PrevSlot(position), newest);
        return image;
    }
};

TEST_F(ArchiveReading, FreshReadingPlacesNewestAtTopAndMarksTheFourOldest) {
    WriteImage(FreshImage());
    const auto result = Read();
    EXPECT_TRUE(result.Started && result.Saved);
    EXPECT_EQ(result.Mode, TReadingMode::Fresh);
    EXPECT_EQ(result.StoredRecords, 992);
    const TArchiveImage image = Stored();
    EXPECT_EQ(image.Position, 0);
    EXPECT_TRUE(SameRecord(image.RecordAt(LastSlot), RecordOf(device.Archive, 0)));
    for (int offset : {0, 8, 16, 24}) {
        EXPECT_EQ(image.RecordAt(offset).Code, MarkCode) << offset;
        EXPECT_EQ(image.RecordAt(offset).Detail, RecordOf(device.Archive, 991 - offset / 8).Detail);
    }
    EXPECT_TRUE(SameRecord(image.RecordAt(32), RecordOf(device.Archive, 987)));
    EXPECT_EQ(FileBytes(path), ImageBytes(ExpectedFresh(device.Archive)));
    EXPECT_EQ(device.Requested.size(), 62u);
    EXPECT_EQ(view.Steps, 62);
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"show 62", "finish", "hide label"}));
    EXPECT_EQ(SimpleTexts(), std::vector<std::string>{"Закончено чтение архива"});
    EXPECT_TRUE(device.Errors.empty());
}

struct MatchCase {
    const char* name;
    int newRecords; // device records newer than the file's newest; 992: the file's is not there
    int blocksAsked;
    int position;
};

class IncrementalMatch : public ArchiveReading, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(IncrementalMatch, MergesOnlyTheNewerRecordsOldestFirst) {
    const MatchCase c = GetParam();
    const TArchiveImage old = OldFile(c.position, Checked(DeviceRecord(0)));
    WriteImage(old);
    device.Archive = MakeDevice(c.newRecords);
    const auto result = Read();
    EXPECT_EQ(result.Mode, TReadingMode::Incremental);
    EXPECT_EQ(result.MergedRecords, c.newRecords);
    EXPECT_EQ(static_cast<int>(device.Requested.size()), c.blocksAsked);
    EXPECT_EQ(FileBytes(path), ImageBytes(ExpectedMerge(old, device.Archive, c.newRecords)));
    EXPECT_TRUE(result.Saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, IncrementalMatch,
                         ::testing::Values(MatchCase{"AtRecord5OfBlock1", 5, 1, 4000},
                                           MatchCase{"AtRecord0OfBlock3", 32, 3, 4000},
                                           MatchCase{"AtOnceNothingMerged", 0, 1, 4000},
                                           MatchCase{"NeverWholeRingRewritten", 992, 62, 4000},
                                           MatchCase{"NeverFromPositionZero", 992, 62, 0},
                                           MatchCase{"OneRecordAcrossRingEnd", 1, 1, 7920},
                                           MatchCase{"ManyRecordsAcrossRingEnd", 40, 3, 7904}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ArchiveReading, MergeOfOneRecordAt7920PutsMarkersAcrossTheEnd) {
    WriteImage(OldFile(7920, Checked(DeviceRecord(0))));
    device.Archive = MakeDevice(1);
    Read();
    const TArchiveImage image = Stored();
    EXPECT_EQ(image.Position, 7928);
    EXPECT_TRUE(SameRecord(image.RecordAt(7920), RecordOf(device.Archive, 0)));
    for (int offset : {7928, 0, 8, 16})
        EXPECT_EQ(image.RecordAt(offset).Code, MarkCode) << offset;
    EXPECT_EQ(image.RecordAt(24).Code, 7);
}

TEST_F(ArchiveReading, MatchIgnoresTheDate) {
    TArchiveRecord stored = Checked(DeviceRecord(0));
    stored.Day = 1;
    stored.Year = 3;
    WriteImage(OldFile(4000, stored));
    device.Archive = MakeDevice(3);
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 3);
}

TEST_F(ArchiveReading, EmptyRefTextMatchesAnAllFFNewestRecordAtOnce) {
    const TArchiveImage old = OldFile(4000, Rec(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
    WriteImage(old);
    device.Archive.fill(0xFF);
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 0);
    EXPECT_EQ(FileBytes(path), ImageBytes(old));
}

TEST_F(ArchiveReading, EmptyRefTextNeverMatchesOnceCurTextHoldsAText) {
    const TArchiveImage old = OldFile(4000, Rec(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
    WriteImage(old);
    // A young device: ten records, then its empty tail of 0xFF records.
    device.Archive.fill(0xFF);
    for (int k = 0; k < 10; ++k)
        SetRecord(device.Archive, k, DeviceRecord(k));
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 992);
    EXPECT_EQ(FileBytes(path), ImageBytes(ExpectedMerge(old, device.Archive, 992)));
}

TEST_F(ArchiveReading, CurTextCarriedOverLetsATimelessRecordMatch) {
    // The newest stored record was invalid (day 0), so its Code is the mark.
    WriteImage(OldFile(4000, Rec(0xFF, 9, 10, 20, 30, 0, 6, 24)));
    SetRecord(device.Archive, 0, Rec(5, 9, 10, 20, 30));
    SetRecord(device.Archive, 1, Rec(0x42, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 1);
}

TEST_F(ArchiveReading, InvalidRecordsAreStoredMarkedInFreshMode) {
    SetRecord(device.Archive, 3, Rec(5, 6, 24, 0, 0));
    SetRecord(device.Archive, 4, Rec(5, 0, 0, 0, 0, 0, 0, 0));
    WriteImage(FreshImage());
    Read();
    const TArchiveImage image = Stored();
    const TArchiveRecord invalid = image.RecordAt(LastSlot - 3 * 8);
    EXPECT_EQ(invalid.Code, MarkCode);
    EXPECT_EQ(invalid.Detail, 6);
    EXPECT_EQ(invalid.Hour, 24);
    EXPECT_TRUE(SameRecord(image.RecordAt(LastSlot - 4 * 8), Rec(0, 0, 0, 0, 0, 0, 0, 0)));
}

TEST_F(ArchiveReading, InvalidRecordsAreStoredMarkedInIncrementalMode) {
    WriteImage(OldFile(4000, Checked(DeviceRecord(0))));
    device.Archive = MakeDevice(3);
    SetRecord(device.Archive, 1, Rec(5, 6, 1, 2, 3, 32, 1, 1));
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 3);
    const TArchiveRecord invalid = Stored().RecordAt(4008);
    EXPECT_EQ(invalid.Code, MarkCode);
    EXPECT_EQ(invalid.Day, 32);
}

class FailureAtBlock : public ArchiveReading, public ::testing::WithParamInterface<int> {};

TEST_P(FailureAtBlock, FreshReadingKeepsTheBlocksBeforeIt) {
    const int block = GetParam();
    device.FailBlock = block;
    WriteImage(FreshImage());
    const auto result = Read();
    EXPECT_EQ(result.LinkResult, 130);
    EXPECT_EQ(result.FailedBlock, block);
    EXPECT_EQ(device.Errors, (std::vector<std::pair<int, int>>{{Dev, 130}}));
    EXPECT_EQ(static_cast<int>(device.Requested.size()), block);
    EXPECT_EQ(SimpleTexts(), std::vector<std::string>{"Закончено чтение архива"});
    TArchiveImage expected = FreshImage();
    for (int k = 0; k < 16 * (block - 1); ++k)
        expected.Store(LastSlot - 8 * k, Checked(RecordOf(device.Archive, k)));
    expected.Position = block == 1 ? 0 : RingSize - 128 * (block - 1);
    EXPECT_EQ(FileBytes(path), ImageBytes(expected));
}

TEST_P(FailureAtBlock, IncrementalReadingLeavesTheFileAsItWas) {
    device.FailBlock = GetParam();
    const TArchiveImage old = OldFile(4000, Rec(1, 1, 1, 1, 1));
    WriteImage(old);
    const auto result = Read();
    EXPECT_EQ(result.MergedRecords, 0);
    EXPECT_EQ(device.Errors.size(), 1u);
    EXPECT_EQ(FileBytes(path), ImageBytes(old));
    EXPECT_TRUE(result.Saved);
}

TEST_P(FailureAtBlock, ByteCountOtherThan128IsReceiveError) {
    const int block = GetParam();
    device.WrongCountBlock = block;
    device.WrongCount = 127;
    WriteImage(FreshImage());
    const auto result = Read();
    EXPECT_EQ(result.LinkResult, 128);
    EXPECT_EQ(device.Errors, (std::vector<std::pair<int, int>>{{Dev, 128}}));
    EXPECT_EQ(static_cast<int>(device.Requested.size()), block);
    EXPECT_EQ(Stored().Position, block == 1 ? 0 : RingSize - 128 * (block - 1));
}

INSTANTIATE_TEST_SUITE_P(Blocks, FailureAtBlock, ::testing::Values(1, 2, 31, 62));

TEST_F(ArchiveReading, ClosedPortFirstThenFullReadingGivesTheFreshLayout) {
    WriteImage(FreshImage());
    device.FailBlock = 1;
    device.FailCode = 256;
    Read();
    TArchiveImage afterFailure = FreshImage();
    afterFailure.Position = 0;
    EXPECT_EQ(FileBytes(path), ImageBytes(afterFailure));
    device.FailBlock = 0;
    const auto result = Read();
    EXPECT_EQ(result.Mode, TReadingMode::Incremental);
    EXPECT_EQ(result.MergedRecords, 992);
    EXPECT_EQ(FileBytes(path), ImageBytes(ExpectedFresh(device.Archive)));
}

TEST_F(ArchiveReading, LinkExceptionLeavesFileClosedUnchangedAndProgressHidden) {
    const TArchiveImage old = OldFile(4000, Rec(1, 1, 1, 1, 1));
    WriteImage(old);
    device.ThrowBlock = 5;
    const int descriptors = OpenDescriptors();
    EXPECT_THROW(Read(), std::runtime_error);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(FileBytes(path), ImageBytes(old));
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"show 62", "finish", "hide label"}));
    EXPECT_TRUE(SimpleTexts().empty());
}

TEST_F(ArchiveReading, FailedSaveIsReportedAndKeepsTheOldFile) {
    const std::filesystem::path moved = dir.Path() / "moved";
    std::filesystem::create_directory(dir.Path() / "sub");
    path = (dir.Path() / "sub" / "archive.dat").string();
    WriteImage(FreshImage());
    // The folder goes away while the device is read: the save has nowhere to go.
    device.OnRequest = [&](int block) {
        if (block == 62)
            std::filesystem::rename(dir.Path() / "sub", moved);
    };
    const auto result = Read();
    EXPECT_FALSE(result.Saved);
    EXPECT_EQ(SimpleTexts(), (std::vector<std::string>{"Закончено чтение архива",
                                                       "Файл архива не удается записать"}));
    EXPECT_EQ(FileBytes(moved / "archive.dat"), ImageBytes(FreshImage()));
}

struct BadFile {
    const char* name;
    std::vector<std::uint8_t> (*make)();
};

std::vector<std::uint8_t> WithPosition(std::int32_t position) {
    TArchiveImage image = FreshImage();
    image.Position = position;
    return ImageBytes(image);
}

class RefusedFile : public ArchiveReading, public ::testing::WithParamInterface<BadFile> {};

TEST_P(RefusedFile, IsNotOpenedAndStaysAsItWas) {
    const auto bytes = GetParam().make();
    WriteBytes(path, bytes);
    const auto result = Read();
    EXPECT_FALSE(result.Started);
    EXPECT_EQ(SimpleTexts(), std::vector<std::string>{"Файл архива не удается открыть"});
    EXPECT_TRUE(view.Calls.empty());
    EXPECT_TRUE(device.Requested.empty());
    EXPECT_EQ(FileBytes(path), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RefusedFile,
    ::testing::Values(BadFile{"TooShort", [] { return std::vector<std::uint8_t>(7939, 0xFF); }},
                      BadFile{"TooLong", [] { return std::vector<std::uint8_t>(7941, 0xFF); }},
                      BadFile{"Empty", [] { return std::vector<std::uint8_t>(); }},
                      BadFile{"PositionNotMultipleOf8", [] { return WithPosition(4); }},
                      BadFile{"PositionPastRing", [] { return WithPosition(7936); }},
                      BadFile{"PositionNegative", [] { return WithPosition(-8); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ArchiveReading, ReadOnlyFileIsRefusedAndUnchanged) {
    WriteImage(FreshImage());
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const auto result = Read();
    EXPECT_FALSE(result.Started);
    EXPECT_EQ(SimpleTexts(), std::vector<std::string>{"Файл архива не удается открыть"});
    EXPECT_EQ(FileBytes(path), ImageBytes(FreshImage()));
}

TEST_F(ArchiveReading, MissingFileOrFolderIsRefused) {
    for (const std::string& missing : {dir.File("none.dat"), dir.File("no/such/archive.dat")}) {
        path = missing;
        EXPECT_FALSE(Read().Started);
        EXPECT_FALSE(std::filesystem::exists(missing));
    }
    EXPECT_EQ(SimpleTexts().size(), 2u);
    EXPECT_TRUE(device.Requested.empty());
}

TEST_F(ArchiveReading, SavedFileLeavesNoTemporaryBehind) {
    WriteImage(FreshImage());
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    Read();
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
}

TEST_F(ArchiveReading, SymbolicLinkStaysALink) {
    const std::string target = dir.File("real.dat");
    path = target;
    WriteImage(FreshImage());
    path = dir.File("link.dat");
    std::filesystem::create_symlink(target, path);
    EXPECT_TRUE(Read().Saved);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(FileBytes(target), ImageBytes(ExpectedFresh(device.Archive)));
}

// The save goes through a new file: it must take over the old one's owner, or the operator who
// owns the archive could lose it to whoever read last.
TEST_F(ArchiveReading, SavedFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the superuser can give a file to another owner";
    WriteImage(FreshImage());
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
    EXPECT_TRUE(Read().Saved);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
}

// Any name the folder takes can be read into and saved, however long.
TEST_F(ArchiveReading, LongestFileNameIsSaved) {
    path = dir.File(std::string(251, 'a') + ".dat");
    WriteImage(FreshImage());
    EXPECT_TRUE(Read().Saved);
    EXPECT_EQ(FileBytes(path), ImageBytes(ExpectedFresh(device.Archive)));
}

TEST_F(ArchiveReading, DialogNameWithoutExtensionReadsTheDatFile) {
    WriteImage(FreshImage());
    prompt.Files.push_back(dir.File("archive"));
    TArchiveNameState state;
    const auto result = ReadArchive(Dev, device, prompt, view, state);
    EXPECT_TRUE(result.Saved);
    EXPECT_EQ(prompt.FileDialogTitles, std::vector<std::string>{"Открытие файла архива"});
    EXPECT_EQ(state.ArchiveFileName, path);
    EXPECT_EQ(Stored().Position, 0);
}

TEST_F(ArchiveReading, CancelledDialogDoesNothing) {
    TArchiveNameState state;
    const auto result = ReadArchive(Dev, device, prompt, view, state);
    EXPECT_FALSE(result.Started);
    EXPECT_TRUE(prompt.Shown.empty());
    EXPECT_TRUE(device.Requested.empty());
    EXPECT_TRUE(view.Calls.empty());
}

} // namespace
} // namespace kve17::test
