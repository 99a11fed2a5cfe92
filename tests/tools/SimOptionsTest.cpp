// The command line of kve17-sim: what it takes, and that bad input is named, not guessed at.
#include "tools/sim/SimOptions.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kve17::test {
namespace {

using sim::FaultKind;

sim::SimOptions Parse(std::vector<std::string_view> args) {
    return sim::ParseSimOptions(args);
}

TEST(SimOptions, DefaultsAreAFullPacedLineOfOldDevices) {
    const sim::SimOptions o = Parse({});
    EXPECT_FALSE(o.present[0]);
    for (int a = 1; a <= 31; ++a) {
        EXPECT_TRUE(o.present[a]) << a;
        EXPECT_EQ(o.records[a], 992) << a;
    }
    EXPECT_TRUE(o.line.pacing);
    EXPECT_EQ(o.line.baud, 0);
    EXPECT_EQ(o.grow, 0);
    EXPECT_EQ(o.seed, 1u);
}

TEST(SimOptions, DeviceListsTakeRangesAndSingles) {
    const sim::SimOptions o = Parse({"--devices", "1-3,7", "--young=2-3:40"});
    for (int a = 1; a <= 31; ++a)
        EXPECT_EQ(o.present[a], a <= 3 || a == 7) << a;
    EXPECT_EQ(o.records[1], 992);
    EXPECT_EQ(o.records[2], 40);
    EXPECT_EQ(o.records[3], 40);
}

TEST(SimOptions, FaultsTakeValueTimesAndBlockForEveryListedDevice) {
    const sim::SimOptions o =
        Parse({"--fault", "2-3:cut=2:times=5", "--fault=4:silence:block=7:times=all"});
    ASSERT_EQ(o.faults.size(), 3u);
    EXPECT_EQ(o.faults[0].first, 2);
    EXPECT_EQ(o.faults[1].first, 3);
    EXPECT_EQ(o.faults[1].second.kind, FaultKind::Cut);
    EXPECT_EQ(o.faults[1].second.value, 2);
    EXPECT_EQ(o.faults[1].second.times, 5);
    EXPECT_EQ(o.faults[2].second.kind, FaultKind::Silence);
    EXPECT_EQ(o.faults[2].second.times, -1);
    EXPECT_EQ(o.faults[2].second.block, 7);
}

TEST(SimOptions, LineAndLinkOptionsAreKept) {
    const sim::SimOptions o = Parse({"--no-pacing", "--baud", "19200", "--parity", "E", "--name",
                                     "COM12", "--port-dir", "/tmp/p", "--dump-dir=/tmp/d", "--seed",
                                     "9", "--grow", "3", "--archive", "5=/tmp/a.bin"});
    EXPECT_FALSE(o.line.pacing);
    EXPECT_EQ(o.line.baud, 19200);
    EXPECT_TRUE(o.line.parity);
    EXPECT_EQ(o.name, "COM12");
    EXPECT_EQ(o.portDir, "/tmp/p");
    EXPECT_EQ(o.dumpDir, "/tmp/d");
    EXPECT_EQ(o.seed, 9u);
    EXPECT_EQ(o.grow, 3);
    ASSERT_EQ(o.archiveFiles.size(), 1u);
    EXPECT_EQ(o.archiveFiles[0].first, 5);
    EXPECT_EQ(o.archiveFiles[0].second, "/tmp/a.bin");
}

struct BadLine {
    const char* name;
    std::vector<std::string_view> args;
    const char* named; // the message must name this
};

class SimBadOptionsTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(SimBadOptionsTest, IsRefusedWithAMessageNamingIt) {
    try {
        Parse(GetParam().args);
        FAIL() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().named), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SimBadOptionsTest,
    ::testing::Values(
        BadLine{"UnknownOption", {"--colour"}, "--colour"},
        BadLine{"MissingValue", {"--seed"}, "--seed"},
        BadLine{"AddressZero", {"--devices", "0-3"}, "--devices"},
        BadLine{"AddressAbove31", {"--devices", "5,32"}, "32"},
        BadLine{"DownwardRange", {"--devices", "5-2"}, "5-2"},
        BadLine{"TrailingComma", {"--devices", "1,"}, "--devices"},
        BadLine{"UnknownFault", {"--fault", "1:fire"}, "fire"},
        BadLine{"FaultWithoutKind", {"--fault", "1"}, "--fault"},
        BadLine{"CutWithoutValue", {"--fault", "1:cut"}, "=VALUE"},
        BadLine{"SilenceWithValue", {"--fault", "1:silence=3"}, "no value"},
        BadLine{"BlockOutOfRange", {"--fault", "1:badcrc:block=63"}, "block"},
        BadLine{"UnknownFilter", {"--fault", "1:badcrc:often=2"}, "often"},
        BadLine{"NoiseAboveItsLimit", {"--fault", "1:noise=300"}, "256"},
        BadLine{"FaultOnAnAbsentDevice", {"--devices", "1", "--fault", "2:badcrc"}, "device 2"},
        BadLine{"ArchiveOfAnAbsentDevice", {"--devices", "1", "--archive", "3=f"}, "device 3"},
        BadLine{"ArchiveWithoutFile", {"--archive", "3"}, "ADDR=FILE"},
        BadLine{"TooManyRecords", {"--young", "1:993"}, "992"},
        BadLine{"NotAComName", {"--name", "ttyS0"}, "COM"},
        BadLine{"ComZeroPadded", {"--name", "COM07"}, "COM07"},
        BadLine{"ZeroBaud", {"--baud", "0"}, "--baud"},
        BadLine{"BadParity", {"--parity", "X"}, "--parity"},
        BadLine{"HelpWithValue", {"--help=yes"}, "--help"},
        BadLine{"NegativeSeed", {"--seed", "-1"}, "--seed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimOptions, HelpDocumentsEveryOption) {
    const std::string help(sim::SimHelpText());
    for (const char* option :
         {"--devices", "--seed", "--young", "--archive", "--grow", "--fault", "--baud", "--parity",
          "--no-pacing", "--name", "--port-dir", "--dump-dir", "--help", "SIGUSR1", "SIGUSR2"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

} // namespace
} // namespace kve17::test
