// Archives made from a seed, their growth, and their files.
#include "archive/ArchiveFormat.h"
#include "tests/archive/ArchiveModel.h"
#include "tools/sim/SimLine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <tuple>
#include <unistd.h>

namespace kve17::test {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

TArchiveRecord RecordAt(const sim::DeviceArchive& archive, int index) {
    TArchiveRecord record;
    std::memcpy(&record, archive.data() + index * RecordSize, RecordSize);
    return record;
}

// Valid by the written-out rule of the test model: the check leaves the code as it is.
bool Valid(const TArchiveRecord& record) {
    model::Bytes bytes{};
    std::memcpy(bytes.data(), &record, RecordSize);
    return model::Checked(bytes)[0] == bytes[0] && bytes[0] != MarkCode;
}

bool Empty(const TArchiveRecord& r) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&r);
    return std::all_of(bytes, bytes + RecordSize, [](std::uint8_t b) { return b == 0xFF; });
}

sys_seconds Stamp(const TArchiveRecord& r) {
    return sys_days{year{2000 + r.Year} / r.Month / r.Day} + hours{r.Hour} + minutes{r.Minute} +
           seconds{r.Second};
}

// Valid records must be strictly older the further back they lie.
void ExpectNewestFirst(const sim::DeviceArchive& archive) {
    std::optional<sys_seconds> newer;
    for (int i = 0; i < sim::RecordCount; ++i) {
        const TArchiveRecord r = RecordAt(archive, i);
        if (!Valid(r))
            continue;
        if (newer) {
            EXPECT_LT(Stamp(r), *newer) << "record " << i;
        }
        newer = Stamp(r);
    }
}

class SimArchiveSeedTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SimArchiveSeedTest, ValidRecordsRunNewestFirstWithAFewInvalidAmongThem) {
    const sim::DeviceArchive archive = sim::MakeArchive(GetParam());
    ExpectNewestFirst(archive);
    int invalid = 0;
    for (int i = 0; i < sim::RecordCount; ++i) {
        EXPECT_FALSE(Empty(RecordAt(archive, i))) << i;
        invalid += Valid(RecordAt(archive, i)) ? 0 : 1;
    }
    EXPECT_GT(invalid, 0);
    EXPECT_LT(invalid, 60);
    EXPECT_TRUE(Valid(RecordAt(archive, 0)));
}

// The archive reading recognises its newest stored record by time of day, Code and Detail.
TEST_P(SimArchiveSeedTest, TimeOfDayCodeAndDetailSeldomRepeat) {
    const sim::DeviceArchive archive = sim::MakeArchive(GetParam());
    std::set<std::tuple<int, int, int, int, int>> seen;
    int repeats = 0;
    for (int i = 0; i < sim::RecordCount; ++i) {
        const TArchiveRecord r = RecordAt(archive, i);
        repeats += seen.insert({r.Hour, r.Minute, r.Second, r.Code, r.Detail}).second ? 0 : 1;
    }
    EXPECT_LE(repeats, 1);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SimArchiveSeedTest, ::testing::Values(0u, 1u, 33u, 4242u));

TEST(SimArchive, TheSameSeedMakesTheSameArchiveAndAnotherSeedAnother) {
    EXPECT_EQ(sim::MakeArchive(7), sim::MakeArchive(7));
    EXPECT_NE(sim::MakeArchive(7), sim::MakeArchive(8));
    EXPECT_NE(sim::DeviceSeed(1, 2), sim::DeviceSeed(2, 1));
}

TEST(SimArchive, AYoungDeviceHasAnEmptyTail) {
    const sim::DeviceArchive archive = sim::MakeArchive(5, 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_FALSE(Empty(RecordAt(archive, i))) << i;
    for (int i = 40; i < sim::RecordCount; ++i)
        ASSERT_TRUE(Empty(RecordAt(archive, i))) << i;
    const sim::DeviceArchive blank = sim::MakeArchive(5, 0);
    EXPECT_TRUE(std::all_of(blank.begin(), blank.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(SimArchive, GrowthPutsNewerRecordsInFrontAndDropsTheOldest) {
    const sim::DeviceArchive before = sim::MakeArchive(9);
    sim::DeviceArchive after = before;
    sim::GrowArchive(after, 20, 1);
    EXPECT_TRUE(std::equal(after.begin() + 20 * RecordSize, after.end(), before.begin()));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(Valid(RecordAt(after, i))) << i;
    EXPECT_GT(Stamp(RecordAt(after, 19)), Stamp(RecordAt(before, 0)));
    ExpectNewestFirst(after);
}

TEST(SimArchive, GrowthOfAYoungDeviceKeepsItsRecordsAndShortensTheTail) {
    sim::DeviceArchive archive = sim::MakeArchive(9, 10);
    sim::GrowArchive(archive, 3, 2);
    EXPECT_FALSE(Empty(RecordAt(archive, 12)));
    EXPECT_TRUE(Empty(RecordAt(archive, 13)));
    ExpectNewestFirst(archive);
}

TEST(SimArchive, GrowthOfAnEmptyArchiveStartsFromTheSeed) {
    sim::DeviceArchive archive = sim::MakeArchive(9, 0);
    sim::GrowArchive(archive, 2, 3);
    EXPECT_TRUE(Valid(RecordAt(archive, 0)));
    EXPECT_TRUE(Valid(RecordAt(archive, 1)));
    EXPECT_TRUE(Empty(RecordAt(archive, 2)));
}

TEST(SimArchive, GrowthBeyondTheArchiveReplacesAllOfItAndZeroChangesNothing) {
    const sim::DeviceArchive before = sim::MakeArchive(9);
    sim::DeviceArchive archive = before;
    sim::GrowArchive(archive, 0, 3);
    EXPECT_EQ(archive, before);
    sim::GrowArchive(archive, 5000, 3);
    EXPECT_GT(Stamp(RecordAt(archive, sim::RecordCount - 1)), Stamp(RecordAt(before, 0)));
    ExpectNewestFirst(archive);
}

class SimArchiveFileTest : public ::testing::Test {
protected:
    SimArchiveFileTest() { fs::create_directories(dir); }
    ~SimArchiveFileTest() override { fs::remove_all(dir); }

    void WriteBytes(const fs::path& path, std::size_t size) {
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    }

    const fs::path dir = fs::temp_directory_path() /
                         ("kve17-sim-archive-" + std::to_string(::getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(SimArchiveFileTest, ASavedArchiveLoadsBackTheSame) {
    const sim::DeviceArchive archive = sim::MakeArchive(11, 500);
    sim::SaveArchive(archive, dir / "a.bin");
    EXPECT_EQ(fs::file_size(dir / "a.bin"), 7936u);
    EXPECT_EQ(sim::LoadArchive(dir / "a.bin"), archive);
    EXPECT_FALSE(fs::exists(dir / "a.bin.part"));
}

TEST_F(SimArchiveFileTest, FilesOfAnyOtherSizeAreRefusedByName) {
    for (const std::size_t size : {0u, 7935u, 7937u, 7940u}) {
        WriteBytes(dir / "b.bin", size);
        try {
            sim::LoadArchive(dir / "b.bin");
            ADD_FAILURE() << size << " bytes were taken";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("b.bin"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("7936"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(sim::LoadArchive(dir / "missing.bin"), std::runtime_error);
}

TEST_F(SimArchiveFileTest, ASaveThatCannotBeMadeLeavesNothingBehind) {
    EXPECT_THROW(sim::SaveArchive(sim::MakeArchive(1), dir / "no" / "c.bin"), std::runtime_error);
    EXPECT_TRUE(fs::is_empty(dir));
}

} // namespace
} // namespace kve17::test
