// The archive file on disk: opened, loaded and saved whole, never left half-written.
#pragma once

#include "archive/ArchiveFormat.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kve17 {

enum class TOpenMode { Update, ReadOnly };

// One open archive file. Open loads it; Save replaces its content by way of a temporary file in
// the same folder that is flushed and renamed over it, so a failed save keeps the old content.
// The new file takes over the old one's mode, owner, group and extended attributes (the access
// list among them); hard links to the old file keep the old content. Where the folder takes no
// new file, or a new one could not have the old one's owner and group, Save overwrites the file
// where it stands and, on a failure part way, writes the old content back.
class TArchiveFile {
public:
    TArchiveFile() = default;
    ~TArchiveFile();
    TArchiveFile(const TArchiveFile&) = delete;
    TArchiveFile& operator=(const TArchiveFile&) = delete;

    // Opens an existing file and loads it into `image`. False, with nothing held open, when the
    // file is missing or not a regular file, is not exactly 7940 bytes, holds a Position out of
    // range, or (Update) cannot be written: it is marked read-only or refuses writing.
    bool Open(const std::string& path, TOpenMode mode, TArchiveImage& image);
    // False when the new content could not be written whole; the file then keeps its content.
    bool Save(const TArchiveImage& image);
    // False when the close reports a failure. Closing a closed file does nothing.
    bool Close();

    // What a file that replaces an existing one takes over from it.
    struct TKept {
        unsigned Mode = 0;
        unsigned Owner = 0;
        unsigned Group = 0;
    };

private:
    int fd_ = -1;
    std::string path_; // the file's real path: a symbolic link stays a link
    TKept kept_;
    bool inPlace_ = false;
    std::array<std::uint8_t, ArchiveFileSize> loaded_{}; // the content on disk
};

// True when `path` names an existing regular file that opens for reading and writing.
bool ArchiveOpensForUpdate(const std::string& path);

enum class TWriteResult { Written, Exists, Failed };
// Writes `bytes` as the whole content of `path` without ever leaving a partial file there. An
// existing file is replaced only when `replace` (and then only a writable regular file).
TWriteResult WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes,
                            bool replace);

} // namespace kve17
