// Readings over a pseudo-terminal against the simulated device line, with the real serial port
// and the real device link.
#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "link/Comportclass.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ScriptedPrompt.h"
#include "tools/sim/SimLine.h"

#include <cstring>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

constexpr int Address = 4;

std::array<std::uint8_t, 7940> AsFile(const std::vector<std::uint8_t>& bytes) {
    std::array<std::uint8_t, 7940> file{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), file.size()), file.begin());
    return file;
}

class SimReading : public ::testing::Test {
protected:
    sim::SimLine line;
    TComPort port;
    ScriptedPrompt prompt;
    RecordingView view;
    TComPortClass link{port, prompt, TLinkTiming{std::chrono::milliseconds(50)}};
    TempDir dir;
    std::string path = dir.File("line.dat");

    void SetUp() override {
        line.SetDevice(Address, sim::MakeArchive(17));
        LoadComPort1Settings(port);
        port.SetStopBits(sbTwoStopBits);
        port.SetPort(line.SlavePath());
        port.Open();
        link.SetPortName("COM7");
        ASSERT_EQ(CreateFreshFile(path, false), TCreateFileResult::Created);
    }

    // Reads and checks the file against the model of the reading; `goodBlocks` when a fresh
    // reading is to fail after that many blocks.
    TReadingResult ReadAndCompare(int goodBlocks = -1) {
        const auto before = AsFile(FileBytes(path));
        const auto expected =
            goodBlocks < 0
                ? model::AfterReading(before, line.Archive(Address))
                : model::AfterFailedFreshReading(before, line.Archive(Address), goodBlocks);
        const TReadingResult result = ReadArchiveFile(path, Address - 1, link, prompt, view);
        const auto after = FileBytes(path);
        EXPECT_EQ(after.size(), 7940u);
        EXPECT_TRUE(AsFile(after) == expected) << "file differs from the model";
        return result;
    }
};

TEST_F(SimReading, FreshThenTwoIncrementalReadingsGiveTheModelFile) {
    auto result = ReadAndCompare();
    EXPECT_EQ(result.Mode, TReadingMode::Fresh);
    EXPECT_EQ(result.LinkResult, 0);

    line.Grow(Address, 37, 5);
    result = ReadAndCompare();
    EXPECT_EQ(result.Mode, TReadingMode::Incremental);
    EXPECT_EQ(result.MergedRecords, 37);

    line.Grow(Address, 300, 6);
    result = ReadAndCompare();
    EXPECT_EQ(result.MergedRecords, 300);
    EXPECT_EQ(line.Requests(Address), 62 + 3 + 19);

    // Read back newest first, the file holds the device's 988 newest records.
    const auto listed = ListArchive(ImageOf(FileBytes(path)));
    const auto device = line.Archive(Address);
    int k = 0;
    for (const auto& r : listed) {
        const model::Bytes expected = model::Checked(model::DeviceRecordBytes(device, k++));
        ASSERT_EQ(std::memcmp(&r.Record, expected.data(), RecordSize), 0) << "record " << k - 1;
    }
    EXPECT_GT(k, 900);
}

TEST_F(SimReading, DeviceFallingSilentKeepsTheBlocksBeforeAndRecovers) {
    link.SetPovt1(1);
    line.AddFault(Address, {sim::FaultKind::Silence, 0, -1, 20});
    auto result = ReadAndCompare(19);
    EXPECT_EQ(result.LinkResult, 130);
    EXPECT_EQ(result.FailedBlock, 20);
    EXPECT_EQ(ImageOf(FileBytes(path)).Position, 7936 - 128 * 19);
    ASSERT_FALSE(prompt.Shown.empty());
    EXPECT_EQ(prompt.Shown.front().Text, "устройство 4 COM7 не отвечает на запрос");

    line.ClearFaults();
    // The slot before Position was never written: the next reading takes the whole archive.
    result = ReadAndCompare();
    EXPECT_EQ(result.Mode, TReadingMode::Incremental);
    EXPECT_EQ(result.MergedRecords, 992);
}

TEST_F(SimReading, ReplyWithWrongByteCountIsNotStored) {
    line.AddFault(Address, {sim::FaultKind::WrongCount, 100, -1, 3});
    const auto result = ReadAndCompare(2);
    EXPECT_EQ(result.LinkResult, 128);
    EXPECT_EQ(result.FailedBlock, 3);
    EXPECT_EQ(ImageOf(FileBytes(path)).Position, 7936 - 128 * 2);
}

} // namespace
} // namespace kve17::test
