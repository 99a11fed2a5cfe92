#include "archive/ArchiveFile.h"
#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "link/LinkCodes.h"
#include "serial/StopSignals.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace kve17 {

namespace {

constexpr int BlockCount = 62;
constexpr int RecordsPerBlock = 16;
constexpr int BlockSize = RecordsPerBlock * RecordSize; // 128
constexpr int ReplySize = 133;
constexpr int ReplyDataOffset = 3;
constexpr std::uint8_t BlockCommand = 67;
constexpr int EndMarkers = 4;

static_assert(BlockCount * BlockSize == RingSize);

// Everything one reading works on, in fixed sizes: nothing is allocated while blocks are read.
struct TReading {
    TArchiveImage Image;
    bool FreshFile = false;
    TTimeText RefText{};
    TTimeText CurText{};
    std::uint8_t RefCode = 0;
    std::uint8_t RefDetail = 0;
    std::array<std::array<TArchiveRecord, RecordsPerBlock>, BlockCount> NewRecords{};
    int NewCount = 0;
    int NewBlocks = 0;
    std::array<std::uint8_t, ReplySize> Reply{};
    std::array<std::uint8_t, BlockSize> Block{};
};

void MakeTimeText(const TArchiveRecord& r, TTimeText& text) {
    RecordTimeText(r.Hour, r.Minute, r.Second, r.Day, r.Month, r.Year, text);
}

void ChooseMode(TReading& s) {
    s.FreshFile = s.Image.Position == FreshPosition;
    if (s.FreshFile) {
        s.Image.Position = 0;
        return;
    }
    const TArchiveRecord newest = s.Image.RecordAt(PrevSlot(s.Image.Position));
    MakeTimeText(newest, s.RefText);
    s.RefCode = newest.Code;
    s.RefDetail = newest.Detail;
}

// Asks for one block; 0 with the block's bytes in s.Block, or the failure code. A reply that
// does not carry exactly one block is a receive error: its bytes are not records.
int RequestBlock(IDeviceLink& link, int deviceIndex, int blockNumber, TReading& s) {
    s.Reply.fill(0);
    const std::array<std::uint8_t, 2> data{0x00, static_cast<std::uint8_t>(blockNumber)};
    const int result = link.Exchange(deviceIndex, BlockCommand, static_cast<int>(data.size()),
                                     data.data(), s.Reply);
    if (result != LinkCode::Ok)
        return result;
    if (s.Reply[2] != BlockSize)
        return LinkCode::ReceiveError;
    std::copy_n(s.Reply.begin() + ReplyDataOffset, BlockSize, s.Block.begin());
    return LinkCode::Ok;
}

TArchiveRecord BlockRecord(const TReading& s, int j) {
    TArchiveRecord record;
    std::memcpy(&record, s.Block.data() + j * RecordSize, RecordSize);
    return record;
}

// Stores the block downward from the slot below Position; the device's four oldest records
// become the ring's end markers.
void StoreFreshBlock(TReading& s, int i) {
    for (int j = 0; j < RecordsPerBlock; ++j) {
        s.Image.Position = PrevSlot(s.Image.Position);
        TArchiveRecord record = BlockRecord(s, j);
        CheckRecord(record);
        if (i == BlockCount - 1 && j >= RecordsPerBlock - EndMarkers)
            record.Code = MarkCode;
        s.Image.Store(s.Image.Position, record);
    }
}

// Collects the block's records newer than the newest stored one; true when that one is met.
bool CollectNewRecords(TReading& s, int i) {
    for (int j = 0; j < RecordsPerBlock; ++j) {
        TArchiveRecord record = BlockRecord(s, j);
        CheckRecord(record);
        MakeTimeText(record, s.CurText);
        // The time of day only, compared as stored: two empty texts are equal.
        if (SameTimeOfDay(s.CurText, s.RefText) && record.Code == s.RefCode &&
            record.Detail == s.RefDetail)
            return true;
        s.NewRecords[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = record;
        s.NewCount = j + 1;
        s.NewBlocks = i + 1;
    }
    return false;
}

// Writes the new records into the ring from the oldest to the newest, then the end markers.
int Merge(TReading& s) {
    if (s.NewCount == 0)
        return 0;
    int merged = 0;
    for (int k = 0; k < s.NewBlocks; ++k) {
        const auto& block = s.NewRecords[static_cast<std::size_t>(s.NewBlocks - 1 - k)];
        const int n = k == 0 ? s.NewCount : RecordsPerBlock;
        for (int m = 0; m < n; ++m) {
            s.Image.Store(s.Image.Position, block[static_cast<std::size_t>(n - 1 - m)]);
            s.Image.Position = NextSlot(s.Image.Position);
            ++merged;
        }
    }
    for (int m = 0; m < EndMarkers; ++m)
        s.Image.Ring[static_cast<std::size_t>((s.Image.Position + RecordSize * m) % RingSize)] =
            MarkCode;
    return merged;
}

// The block loop and the merge; fills the result's link and record counts.
void ReadBlocks(TReading& s, int deviceIndex, IDeviceLink& link, IReadingView& view,
                TReadingResult& result) {
    for (int i = 0; i < BlockCount; ++i) {
        // Thrown like a failing port, so that the file keeps its content.
        if (StopSignal() != 0)
            throw std::runtime_error("reading stopped by a signal");
        view.StepProgress();
        const int code = RequestBlock(link, deviceIndex, i + 1, s);
        if (code != LinkCode::Ok) {
            result.LinkResult = code;
            result.FailedBlock = i + 1;
            link.ShowError(deviceIndex, code);
            return;
        }
        if (s.FreshFile) {
            StoreFreshBlock(s, i);
            result.StoredRecords += RecordsPerBlock;
        } else if (CollectNewRecords(s, i)) {
            break;
        }
    }
    if (!s.FreshFile)
        result.MergedRecords = Merge(s);
}

// The image's listing after a reading without failure, and how much of it the reading brought:
// the listed records among the slots it wrote before Position.
void ListReading(const TArchiveImage& image, TReadingResult& result) {
    result.Listing = ListArchive(image);
    const int written =
        result.Mode == TReadingMode::Fresh ? SlotCount : std::max(result.MergedRecords, 0);
    for (const TListedRecord& listed : result.Listing) {
        const int back = (image.Position - listed.Offset + RingSize) % RingSize / RecordSize;
        if (back == 0 || back > written)
            break;
        ++result.NewListed;
    }
}

} // namespace

TReadingResult ReadIntoImage(TArchiveImage& image, int deviceIndex, IDeviceLink& link,
                             IReadingView& view) {
    TReadingResult result;
    TReading s;
    s.Image = image;
    ChooseMode(s);
    result.Mode = s.FreshFile ? TReadingMode::Fresh : TReadingMode::Incremental;
    view.ShowProgress(BlockCount);
    ReadBlocks(s, deviceIndex, link, view, result);
    if (result.LinkResult == LinkCode::Ok)
        ListReading(s.Image, result);
    image = s.Image;
    return result;
}

TReadingResult ReadArchiveFile(const std::string& path, int deviceIndex, IDeviceLink& link,
                               IOperatorPrompt& prompt, IReadingView& view) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(path, TOpenMode::Update, image)) {
        prompt.SimpleMessage(OpenFailedText);
        return {};
    }
    TReadingResult result;
    try {
        result = ReadIntoImage(image, deviceIndex, link, view);
    } catch (...) {
        // The file keeps its content: nothing is saved from a reading cut short.
        file.Close();
        view.HideAll();
        throw;
    }
    result.Started = true;
    view.FinishProgress();
    prompt.SimpleMessage(ReadingDoneText);
    const bool saved = file.Save(image);
    result.Saved = file.Close() && saved;
    if (!result.Saved)
        prompt.SimpleMessage(SaveFailedText);
    view.HideLabel();
    return result;
}

TReadingResult ReadArchive(int deviceIndex, IDeviceLink& link, IOperatorPrompt& prompt,
                           IReadingView& view, TArchiveNameState& state) {
    const auto name =
        ChooseArchiveFileName(prompt, "Открытие файла архива", "Открытие файла архива", state);
    if (!name)
        return {};
    return ReadArchiveFile(*name, deviceIndex, link, prompt, view);
}

} // namespace kve17
