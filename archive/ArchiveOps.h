// The archive operations the main window and the command line share: the file name choice,
// creation of a fresh file, and the reading of a device's archive merged into the file.
#pragma once

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveListing.h"
#include "link/DeviceLink.h"
#include "link/OperatorPrompt.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17 {

// The last name choice: the full file name and its extension ("" when it has none).
struct TArchiveNameState {
    std::string ArchiveFileName;
    std::string ArchiveFileExt;
};

// The extension of a path: from its last "." to the end, when that dot stands after the last
// "/" (and "\" and ":"); else "".
std::string ArchiveExtOf(std::string_view path);
// A name with ".dat" kept, or ".dat" appended to a name without extension; nothing when the
// extension is another one (".DAT" and "." included).
std::optional<std::string> NormalizeArchiveName(std::string_view path);

// Runs the file dialog until the operator gives an acceptable name or cancels.
std::optional<std::string> ChooseArchiveFileName(IOperatorPrompt& prompt, std::string_view title,
                                                 std::string_view warningCaption,
                                                 TArchiveNameState& state);

enum class TCreateResult { Created, Cancelled, Kept, Failed };

// The whole creation as the main window's "Создать файл архива" runs it.
TCreateResult CreateArchive(IOperatorPrompt& prompt, TArchiveNameState& state);
// Writes a fresh file at `path` (no dialog, no question): Failed when it could not be written
// whole, and then no partial file is left. An existing file is replaced only when `overwrite`
// (Exists otherwise), and only a writable regular file.
enum class TCreateFileResult { Created, Exists, Failed };
TCreateFileResult CreateFreshFile(const std::string& path, bool overwrite);

// Progress display of a reading.
class IReadingView {
public:
    virtual ~IReadingView() = default;
    // Label "Идет чтение архива" shown, progress bar at 0 of `blocks` shown.
    virtual void ShowProgress(int blocks) = 0;
    virtual void StepProgress() = 0;
    // Progress bar hidden, label caption "Закончено чтение архива".
    virtual void FinishProgress() = 0;
    virtual void HideLabel() = 0;
    // A reading cut short by an exception: label and progress bar hidden.
    virtual void HideAll() {
        FinishProgress();
        HideLabel();
    }
};

enum class TReadingMode { Fresh, Incremental };

struct TReadingResult {
    bool Started = false; // a file was chosen and opened
    TReadingMode Mode = TReadingMode::Fresh;
    int LinkResult = 0;    // 0, or the failure code handed to ShowError
    int FailedBlock = 0;   // block number 1..62 of the failure, 0 when none
    int StoredRecords = 0; // records written in fresh mode
    int MergedRecords = 0; // new records merged in incremental mode
    bool Saved = false;    // the file was written back and closed
    // After a reading without failure: every record of the image as it is saved, newest first
    // (ListArchive), and how many of the first of them the reading found new (a fresh reading's
    // stored records, an incremental reading's merged ones; never-written slots left out).
    std::vector<TListedRecord> Listing;
    int NewListed = 0;
};

// Texts of the reading the callers may need to recognise.
inline constexpr std::string_view OpenFailedText = "Файл архива не удается открыть";
inline constexpr std::string_view ReadingDoneText = "Закончено чтение архива";
inline constexpr std::string_view SaveFailedText = "Файл архива не удается записать";
inline constexpr std::string_view CreateFailedText = "Файл архива не удается создать";

// The reading on an image in memory: the mode, the block requests and the merge. The image is
// changed only when no exception passes.
TReadingResult ReadIntoImage(TArchiveImage& image, int deviceIndex, IDeviceLink& link,
                             IReadingView& view);
// Reads the device's archive into an existing archive file: open, load, blocks, merge, save.
// An exception from the link passes through with the file unchanged and closed and the progress
// display hidden.
TReadingResult ReadArchiveFile(const std::string& path, int deviceIndex, IDeviceLink& link,
                               IOperatorPrompt& prompt, IReadingView& view);
// The main window's "Чтение архива": the file name choice, then ReadArchiveFile.
TReadingResult ReadArchive(int deviceIndex, IDeviceLink& link, IOperatorPrompt& prompt,
                           IReadingView& view, TArchiveNameState& state);

} // namespace kve17
