// Micro-benchmarks of the work done per block and per reading, apart from the line.
#include "archive/ArchiveFormat.h"
#include "archive/ArchiveOps.h"
#include "link/Crc16.h"
#include "link/LinkCodes.h"
#include "tests/support/QuietOperator.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstring>

using namespace kve17;

namespace {

// A device archive of valid records, newest first, with rising stamps (older further down).
std::array<std::uint8_t, RingSize> MakeDeviceArchive(std::uint8_t codeSalt) {
    std::array<std::uint8_t, RingSize> bytes{};
    for (int n = 0; n < SlotCount; ++n) {
        const int age = n;
        const TArchiveRecord r{static_cast<std::uint8_t>((n + codeSalt) % 250),
                               static_cast<std::uint8_t>(n % 7),
                               static_cast<std::uint8_t>(59 - age % 60),
                               static_cast<std::uint8_t>(59 - age / 60 % 60),
                               static_cast<std::uint8_t>(23 - age / 3600),
                               15,
                               6,
                               24};
        std::memcpy(bytes.data() + n * RecordSize, &r, RecordSize);
    }
    return bytes;
}

// Serves block requests from memory, as a device that always answers at once.
class MemoryDevice : public IDeviceLink {
public:
    explicit MemoryDevice(const std::array<std::uint8_t, RingSize>& archive) : archive_(archive) {}

    int Exchange(int, std::uint8_t, int, const std::uint8_t* data,
                 std::span<std::uint8_t> reply) override {
        const int block = data[1];
        reply[0] = 1;
        reply[1] = 67;
        reply[2] = 128;
        std::memcpy(reply.data() + 3, archive_.data() + (block - 1) * 128, 128);
        return LinkCode::Ok;
    }
    void ShowError(int, int) override {}

private:
    const std::array<std::uint8_t, RingSize>& archive_;
};

void BM_Crc16_BlockReply(benchmark::State& state) {
    std::array<std::uint8_t, 131> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37);
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16(static_cast<int>(bytes.size()), bytes.data()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Crc16_BlockReply);

void BM_CheckRecord_WholeArchive(benchmark::State& state) {
    const auto archive = MakeDeviceArchive(0);
    std::array<TArchiveRecord, SlotCount> records{};
    for (auto _ : state) {
        std::memcpy(records.data(), archive.data(), RingSize);
        for (auto& r : records)
            CheckRecord(r);
        benchmark::DoNotOptimize(records);
    }
    state.SetItemsProcessed(state.iterations() * SlotCount);
}
BENCHMARK(BM_CheckRecord_WholeArchive);

// An incremental reading that never meets the stored newest record: 62 blocks compared and the
// whole ring merged.
void BM_MergeFullRing(benchmark::State& state) {
    const auto archive = MakeDeviceArchive(100);
    MemoryDevice device(archive);
    test::QuietView view;
    TArchiveImage stored = FreshImage();
    stored.Position = 4000;
    stored.Store(PrevSlot(stored.Position), TArchiveRecord{251, 9, 1, 2, 3, 4, 5, 6});
    for (auto _ : state) {
        TArchiveImage image = stored;
        const TReadingResult result = ReadIntoImage(image, 0, device, view);
        if (result.MergedRecords != SlotCount)
            state.SkipWithError("the ring was not merged whole");
        benchmark::DoNotOptimize(image);
    }
    state.SetItemsProcessed(state.iterations() * SlotCount);
}
BENCHMARK(BM_MergeFullRing);

} // namespace

BENCHMARK_MAIN();
