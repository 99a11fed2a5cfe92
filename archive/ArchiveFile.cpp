#include "archive/ArchiveFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kve17 {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The operator's read-only mark holds even for the superuser, whom the kernel lets write anyway.
bool MarkedWritable(const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, std::span<std::uint8_t> bytes) {
    off_t at = 0;
    while (!bytes.empty()) {
        const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

using TKept = TArchiveFile::TKept;

TKept KeptOf(const struct stat& st) {
    return {st.st_mode & 07777, st.st_uid, st.st_gid};
}

// A new file in `folder`, created with the usual permissions (umask applies). Its name is short,
// so that any name the folder takes can be replaced this way.
int CreateTemporary(const std::string& folder, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/.kve17-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
               ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes the content to a temporary file, flushed to disk; its name, or "" on failure.
std::string WriteTemporary(const std::string& target, std::span<const std::uint8_t> bytes,
                           const TKept* kept) {
    std::string name;
    const int fd = CreateTemporary(FolderOf(target), name);
    if (fd < 0)
        return {};
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (ok && kept) {
        // Best effort: only the superuser may give a file away, and the file stays usable to
        // whoever saved it. Ownership goes first, as it may clear the mode's special bits.
        (void)::fchown(fd, kept->Owner, kept->Group);
        ok = ::fchmod(fd, static_cast<mode_t>(kept->Mode)) == 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(name.c_str());
        return {};
    }
    return name;
}

// Makes a rename durable. Some file systems refuse fsync on a folder, and a folder the operator
// may write but not read cannot be opened for it: the new content is in place all the same.
bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    return ::close(fd) == 0 && ok;
}

// Moves the temporary file to `target` unless something already stands there.
bool MoveNoReplace(const std::string& temporary, const std::string& target) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // The file system cannot rename without replacing: a hard link refuses an existing name too.
    if (::link(temporary.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(temporary.c_str());
    return true;
}

bool Replace(const std::string& target, std::span<const std::uint8_t> bytes, const TKept* kept,
             bool mayExist) {
    const std::string temporary = WriteTemporary(target, bytes, kept);
    if (temporary.empty())
        return false;
    const bool moved = mayExist ? ::rename(temporary.c_str(), target.c_str()) == 0
                                : MoveNoReplace(temporary, target);
    if (!moved) {
        ::unlink(temporary.c_str());
        return false;
    }
    return SyncFolder(FolderOf(target));
}

} // namespace

TArchiveFile::~TArchiveFile() {
    Close();
}

bool TArchiveFile::Open(const std::string& path, TOpenMode mode, TArchiveImage& image) {
    Close();
    const bool update = mode == TOpenMode::Update;
    const int fd = ::open(path.c_str(), (update ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    std::array<std::uint8_t, ArchiveFileSize> bytes{};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == ArchiveFileSize &&
              (!update || MarkedWritable(st)) && ReadAll(fd, bytes);
    TArchiveImage loaded;
    if (ok) {
        DecodeImage(bytes, loaded);
        ok = PositionValid(loaded.Position);
    }
    std::string real = ok ? RealPath(path) : std::string();
    // The save goes through a new file in the same folder, so the folder must take one.
    if (ok && update)
        ok = !real.empty() && ::access(FolderOf(real).c_str(), W_OK | X_OK) == 0;
    if (!ok) {
        ::close(fd);
        return false;
    }
    image = loaded;
    fd_ = fd;
    path_ = std::move(real);
    kept_ = KeptOf(st);
    return true;
}

bool TArchiveFile::Save(const TArchiveImage& image) {
    if (fd_ < 0 || path_.empty())
        return false;
    std::array<std::uint8_t, ArchiveFileSize> bytes{};
    EncodeImage(image, bytes);
    return Replace(path_, bytes, &kept_, true);
}

bool TArchiveFile::Close() {
    if (fd_ < 0)
        return true;
    const int fd = fd_;
    fd_ = -1;
    path_.clear();
    return ::close(fd) == 0;
}

bool ArchiveOpensForUpdate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && MarkedWritable(st);
    ::close(fd);
    return ok;
}

TWriteResult WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes,
                            bool replace) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return TWriteResult::Failed;
        return Replace(path, bytes, nullptr, false) ? TWriteResult::Written : TWriteResult::Failed;
    }
    if (!replace)
        return TWriteResult::Exists;
    // Replace the file a symbolic link points to, not the link, and keep its permissions and owner.
    const std::string target = RealPath(path);
    if (target.empty() || ::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !MarkedWritable(st) || ::access(target.c_str(), W_OK) != 0)
        return TWriteResult::Failed;
    const TKept kept = KeptOf(st);
    return Replace(target, bytes, &kept, true) ? TWriteResult::Written : TWriteResult::Failed;
}

} // namespace kve17
