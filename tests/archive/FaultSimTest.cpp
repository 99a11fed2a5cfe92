// Faults of the line during a reading: every fault the simulated devices can inject, at the first,
// a middle and the last block, in fresh and incremental mode, over a pseudo-terminal with the
// real serial port and the real device link. Every reading ends with a known result and a file
// that is either as it was or exactly what the model of the reading gives.
#include "archive/ArchiveOps.h"
#include "link/Comportclass.h"
#include "link/LinkCodes.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "serial/EComPort.h"
#include "tests/archive/ArchiveModel.h"
#include "tests/archive/FakeDevice.h"
#include "tests/support/ScriptedPrompt.h"
#include "tools/sim/SimLine.h"

#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using FileArray = std::array<std::uint8_t, ArchiveFileSize>;
using sim::FaultKind;

constexpr int Address = 4;
// Records the device adds after the file's reading: the newest stored one then lies in block
// 62, so an incremental reading asks for every block too.
constexpr int Grown = 980;
// A header or body that does not come is given up after this; bytes stop after the gap.
constexpr int ReadTimeoutMs = 100;
constexpr int ReadGapMs = 20;

FileArray AsFile(const std::vector<std::uint8_t>& bytes) {
    FileArray file{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), file.size()), file.begin());
    return file;
}

class LineFault : public ::testing::Test {
protected:
    std::optional<sim::SimLine> line{std::in_place};
    TComPort port;
    ScriptedPrompt prompt;
    RecordingView view;
    TComPortClass link{port, prompt, TLinkTiming{5ms}};
    TempDir dir;
    std::string path = dir.File("line.dat");
    FileArray before{};
    sim::DeviceArchive device{};

    void SetUp() override {
        LoadComPort1Settings(port);
        port.SetStopBits(sbTwoStopBits);
        port.SetPort(line->SlavePath());
        port.Open();
        port.Timeouts().SetReadInterval(ReadGapMs);
        port.Timeouts().SetReadTotalMultiplier(0);
        port.Timeouts().SetReadTotalConstant(ReadTimeoutMs);
        link.SetDelayTx(0);
        link.SetPovt1(2);
        link.SetPovt2(3);
    }

    // A fresh file, or one that holds an earlier complete reading of the device, which has
    // grown since.
    void Prepare(TReadingMode mode) {
        device = sim::MakeArchive(17);
        before = model::FreshFile();
        if (mode == TReadingMode::Incremental) {
            before = model::AfterReading(before, device);
            sim::GrowArchive(device, Grown, 18);
        }
        line->SetDevice(Address, device);
        WriteBytes(path, {before.begin(), before.end()});
    }

    // What the file must hold after a reading that ended with `code` at `block`.
    FileArray Expected(TReadingMode mode, int code, int block) const {
        if (code == LinkCode::Ok)
            return model::AfterReading(before, device);
        if (mode == TReadingMode::Incremental)
            return before;
        return model::AfterFailedFreshReading(before, device, block - 1);
    }

    TReadingResult Read() { return ReadArchiveFile(path, Address - 1, link, prompt, view); }

    void ExpectOutcome(const TReadingResult& result, TReadingMode mode, int code, int block) {
        EXPECT_TRUE(result.Saved);
        EXPECT_EQ(result.LinkResult, code);
        EXPECT_EQ(result.FailedBlock, code == LinkCode::Ok ? 0 : block);
        const auto after = FileBytes(path);
        EXPECT_EQ(after.size(), static_cast<std::size_t>(ArchiveFileSize));
        EXPECT_TRUE(AsFile(after) == Expected(mode, code, block)) << "file differs from the model";
        if (code != LinkCode::Ok)
            return;
        if (mode == TReadingMode::Fresh)
            EXPECT_EQ(result.StoredRecords, 992);
        else
            EXPECT_EQ(result.MergedRecords, Grown);
    }
};

struct FaultRow {
    const char* name;
    sim::FaultKind kind;
    int value;
    int times;       // -1: every request for the block
    int code;        // the reading's result
    int repeats = 0; // requests repeated on the way to a good reading
    int povt1 = 2;
};

using FaultParam = std::tuple<FaultRow, int, TReadingMode>;

class EveryFault : public LineFault, public ::testing::WithParamInterface<FaultParam> {};

TEST_P(EveryFault, EndsWithItsResultAndTheModelFile) {
    const auto& [row, block, mode] = GetParam();
    Prepare(mode);
    link.SetPovt1(row.povt1);
    line->AddFault(Address, {row.kind, row.value, row.times, block});
    const auto start = std::chrono::steady_clock::now();
    const TReadingResult result = Read();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.Mode, mode);
    ExpectOutcome(result, mode, row.code, block);
    if (row.code != LinkCode::Ok) {
        ASSERT_EQ(prompt.Shown.size(), 2u);
        EXPECT_EQ(prompt.Shown.back().Text, ReadingDoneText);
        return;
    }
    // The fault did strike: the block was asked for again, or its reply came late.
    EXPECT_EQ(line->Requests(Address), 62 + row.repeats);
    if (row.kind == FaultKind::Delay) {
        EXPECT_GE(took, std::chrono::milliseconds(row.value));
    }
}

constexpr int Ok = LinkCode::Ok;
// Budgets of 2 header and 3 body attempts: a fault on every request exhausts one, a fault on
// fewer requests than the budget is recovered from.
const FaultRow Rows[] = {
    {"Silence", FaultKind::Silence, 0, -1, LinkCode::NoReply},
    {"SilenceOnce", FaultKind::Silence, 0, 1, Ok, 1},
    {"CutInHeader", FaultKind::Cut, 2, -1, LinkCode::ReceiveTimeout},
    {"CutInBody", FaultKind::Cut, 60, -1, LinkCode::ReceiveTimeout},
    {"CutInBodyTwice", FaultKind::Cut, 60, 2, Ok, 2},
    {"BadCrc", FaultKind::BadCrc, 0, -1, LinkCode::BadChecksum},
    {"BadCrcTwice", FaultKind::BadCrc, 0, 2, Ok, 2},
    // A good frame with a count other than 128 is refused by the reading at once.
    {"CountShort", FaultKind::WrongCount, 100, 1, LinkCode::ReceiveError},
    // A frame too long for the reply buffer is read whole and repeated.
    {"CountLong", FaultKind::WrongCount, 200, -1, LinkCode::ReceiveError},
    {"CountLongOnce", FaultKind::WrongCount, 200, 1, Ok, 1},
    {"ForeignCommand", FaultKind::ForeignCommand, 3, -1, LinkCode::ReceiveError},
    {"Exception6", FaultKind::Exception, 6, 1, LinkCode::DatabaseBusy},
    {"Exception2", FaultKind::Exception, 2, 1, 2},
    // Code 0 is no exception: a 5-byte ordinary reply, which carries no block.
    {"ExceptionZero", FaultKind::Exception, 0, 1, LinkCode::ReceiveError},
    {"NoiseBeforeEveryReply", FaultKind::Noise, 8, -1, LinkCode::ReceiveError},
    // Both sides of the read time-out, with wide margins.
    {"LateInsideTimeout", FaultKind::Delay, ReadTimeoutMs * 2 / 5, -1, Ok},
    {"LateOutsideTimeout", FaultKind::Delay, ReadTimeoutMs * 8 / 5, -1, LinkCode::NoReply, 0, 1},
};

std::string CaseName(const ::testing::TestParamInfo<FaultParam>& info) {
    const auto& [row, block, mode] = info.param;
    return std::string(row.name) + "AtBlock" + std::to_string(block) +
           (mode == TReadingMode::Fresh ? "Fresh" : "Incremental");
}

INSTANTIATE_TEST_SUITE_P(Table, EveryFault,
                         ::testing::Combine(::testing::ValuesIn(Rows), ::testing::Values(1, 31, 62),
                                            ::testing::Values(TReadingMode::Fresh,
                                                              TReadingMode::Incremental)),
                         CaseName);

// The rest of a rejected reply must not be taken for the header of the next attempt: one
// disturbed reply is recovered from by the repeat, even with the program's own budgets.
struct TransientRow {
    const char* name;
    FaultKind kind;
    int value;
};

class TransientFault : public LineFault, public ::testing::WithParamInterface<TransientRow> {};

TEST_P(TransientFault, IsRecoveredByTheRepeat) {
    Prepare(TReadingMode::Fresh);
    link.SetPovt1(5);
    link.SetPovt2(10);
    line->AddFault(Address, {GetParam().kind, GetParam().value, 1, 5});
    ExpectOutcome(Read(), TReadingMode::Fresh, Ok, 5);
}

INSTANTIATE_TEST_SUITE_P(Leftovers, TransientFault,
                         ::testing::Values(TransientRow{"NoiseBeforeOneReply", FaultKind::Noise, 5},
                                           TransientRow{"OneForeignReply",
                                                        FaultKind::ForeignCommand, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// A reply that comes after the header time-out, while the repeat is under way, answers the same
// request; but the repeat's own reply then follows it down the line and is still arriving when
// the next block is asked for. It must never be stored as that block.
TEST_F(LineFault, LateReplyIsNeverStoredAsTheNextBlock) {
    line.emplace(sim::LineOptions{.pacing = true});
    port.Close();
    port.SetPort(line->SlavePath());
    port.SetBaudRate(br115200);
    port.Open();
    link.SetDelayTx(25);
    link.SetPovt1(5);
    Prepare(TReadingMode::Fresh);
    line->AddFault(Address, {FaultKind::Delay, ReadTimeoutMs * 3 / 2, 1, 5});
    ExpectOutcome(Read(), TReadingMode::Fresh, Ok, 5);
}

// The device's line goes away in the middle of a reading, as when the simulator is killed: the
// serial driver raises, the reading passes the exception on and the file keeps its content.
class LineLost : public LineFault, public ::testing::WithParamInterface<TReadingMode> {};

TEST_P(LineLost, DriverRaisesAndTheFileIsUnchanged) {
    Prepare(GetParam());
    link.SetDelayTx(20); // a reading of 62 blocks then takes over a second
    std::thread killer([this] {
        line->WaitForRequests(Address, 4, 5s);
        line.reset();
    });
    int portError = 0;
    try {
        Read();
    } catch (const EComPort& e) {
        portError = e.PortError;
    }
    killer.join();
    // Hung up while reading (3), or while sending the next request (2).
    EXPECT_TRUE(portError == CE_ReadFailed + 1 || portError == CE_WriteFailed + 1) << portError;
    EXPECT_TRUE(AsFile(FileBytes(path)) == before);
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"show 62", "finish", "hide label"}));
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(Modes, LineLost,
                         ::testing::Values(TReadingMode::Fresh, TReadingMode::Incremental),
                         [](const auto& info) {
                             return info.param == TReadingMode::Fresh ? "Fresh" : "Incremental";
                         });

} // namespace
} // namespace kve17::test
