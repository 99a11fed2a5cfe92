#include "archive/ArchiveFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

// Moves the whole of `bytes` from the file's start with `call` (pread or pwrite).
template <typename Bytes, typename Call> bool WholeAt(int fd, Bytes bytes, Call call) {
    off_t at = 0;
    while (!bytes.empty()) {
        const ssize_t n = call(fd, bytes.data(), bytes.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

// Writes the whole content from the file's start.
bool WriteAllAt(int fd, std::span<const std::uint8_t> bytes) {
    return WholeAt(fd, bytes, ::pwrite);
}

// Overwrites the file itself, for when no new file can take its place. A failure part way puts
// the old content back over what was written, so the file stays whole as far as the system lets
// it: the old content, unless the disk itself fails.
bool WriteInPlace(int fd, std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> old) {
    if (WriteAllAt(fd, bytes) && ::fsync(fd) == 0)
        return true;
    (void)WriteAllAt(fd, old);
    (void)::fsync(fd);
    return false;
}

bool ReadAll(int fd, std::span<std::uint8_t> bytes) {
    return WholeAt(fd, bytes, ::pread);
}

using TKept = TArchiveFile::TKept;

TKept KeptOf(const struct stat& st) {
    return {st.st_mode & 07777, st.st_uid, st.st_gid};
}

bool MemberOf(gid_t group) {
    if (group == ::getegid())
        return true;
    std::array<gid_t, 1024> groups{};
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == group)
            return true;
    return false;
}

// Whether a new file renamed over `file` is the same file to its users: the folder takes a new
// file, and the new one can have the old one's owner and group (which also lets the rename pass
// in a sticky folder). Otherwise the file is overwritten where it stands.
bool RenameKeepsFile(const struct stat& file, const std::string& folder) {
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    return ::geteuid() == 0 || (file.st_uid == ::geteuid() && MemberOf(file.st_gid));
}

constexpr std::string_view TemporaryPrefix = ".kve17-";
constexpr std::string_view TemporarySuffix = ".tmp";

// Removes the temporary files in `folder` that a save killed before its rename left behind: their
// process is gone, and nobody holds the lock every save keeps on its temporary file.
void RemoveStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(TemporaryPrefix) || !name.ends_with(TemporarySuffix))
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.data() + TemporaryPrefix.size(), &end, 10);
        if (pid <= 0 || *end != '-' || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            (void)::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// A new file in `folder`, locked while it lives. It is created with `mode` (umask applies), never
// wider than the file it is to replace. Its name is short, so that any name the folder takes can
// be replaced this way.
int CreateTemporary(const std::string& folder, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/" + std::string(TemporaryPrefix) + std::to_string(::getpid()) + "-" +
               std::to_string(counter++) + std::string(TemporarySuffix);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            (void)::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST)
            return fd;
    }
    return -1;
}

std::vector<char> AttributeNames(int fd) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size <= 0)
            return {};
        std::vector<char> names(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return names;
        }
        if (errno != ERANGE)
            return {};
    }
}

bool HasName(const std::vector<char>& names, const char* name) {
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1)
        if (std::strcmp(names.data() + at, name) == 0)
            return true;
    return false;
}

// Gives `to` the extended attributes of `from`, the access list (ACL) among them, and only those:
// a folder's default list also lands on a new file. False when one could not be carried over.
bool CopyAttributes(int from, int to) {
    const std::vector<char> names = AttributeNames(from);
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            return false;
        std::vector<char> value(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    const std::vector<char> extra = AttributeNames(to);
    for (std::size_t at = 0; at < extra.size(); at += std::strlen(extra.data() + at) + 1)
        if (!HasName(names, extra.data() + at) && ::fremovexattr(to, extra.data() + at) != 0)
            return false;
    return true;
}

// Writes the content to a temporary file, flushed to disk; its name, or "" on failure.
// `attributesFrom` (or -1) is the file whose extended attributes it takes over.
std::string WriteTemporary(const std::string& target, std::span<const std::uint8_t> bytes,
                           const TKept* kept, int attributesFrom, bool& attributesRefused) {
    std::string name;
    const mode_t mode = kept ? static_cast<mode_t>(kept->Mode & 0600) : 0666;
    const int fd = CreateTemporary(FolderOf(target), mode, name);
    if (fd < 0)
        return {};
    bool ok = WriteAllAt(fd, bytes) && ::fsync(fd) == 0;
    if (ok && kept) {
        // Owner and group apart, so that the group is kept where the owner cannot be. Ownership
        // goes first, as it may clear the mode's special bits; the mode last, as it sets the
        // access list's mask.
        (void)::fchown(fd, kept->Owner, static_cast<gid_t>(-1));
        (void)::fchown(fd, static_cast<uid_t>(-1), kept->Group);
        attributesRefused = attributesFrom >= 0 && !CopyAttributes(attributesFrom, fd);
        ok = !attributesRefused && ::fchmod(fd, static_cast<mode_t>(kept->Mode)) == 0;
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
             bool mayExist, int attributesFrom = -1, bool* attributesRefused = nullptr) {
    RemoveStaleTemporaries(FolderOf(target));
    bool refused = false;
    const std::string temporary = WriteTemporary(target, bytes, kept, attributesFrom, refused);
    if (attributesRefused)
        *attributesRefused = refused;
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
    // Without waiting: a FIFO would wait for a writer. It is refused as anything but a file is.
    const int fd = ::open(path.c_str(), (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    std::array<std::uint8_t, ArchiveFileSize>& bytes = loaded_;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == ArchiveFileSize &&
              (!update || MarkedWritable(st)) && ReadAll(fd, bytes);
    TArchiveImage loaded;
    if (ok) {
        DecodeImage(bytes, loaded);
        ok = PositionValid(loaded.Position);
    }
    std::string real = ok ? RealPath(path) : std::string();
    if (ok && update)
        ok = !real.empty();
    if (!ok) {
        ::close(fd);
        return false;
    }
    image = loaded;
    fd_ = fd;
    // Decided now, not after a reading that could then not be saved.
    inPlace_ = update && !RenameKeepsFile(st, FolderOf(real));
    path_ = std::move(real);
    kept_ = KeptOf(st);
    return true;
}

bool TArchiveFile::Save(const TArchiveImage& image) {
    if (fd_ < 0 || path_.empty())
        return false;
    std::array<std::uint8_t, ArchiveFileSize> bytes{};
    EncodeImage(image, bytes);
    // A file whose attributes a new one cannot carry is overwritten instead.
    bool attributesRefused = false;
    if (!inPlace_ && Replace(path_, bytes, &kept_, true, fd_, &attributesRefused))
        return true;
    if (!inPlace_ && !attributesRefused)
        return false;
    if (!WriteInPlace(fd_, bytes, loaded_))
        return false;
    loaded_ = bytes;
    return true;
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
    const int fd = ::open(target.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return TWriteResult::Failed;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const TKept kept = KeptOf(st);
    if (ok && RenameKeepsFile(st, FolderOf(target))) {
        ok = Replace(target, bytes, &kept, true, fd);
    } else if (ok) {
        // In place only over a file of the same size, whose old content can be put back.
        std::array<std::uint8_t, ArchiveFileSize> old{};
        ok = bytes.size() == old.size() && st.st_size == ArchiveFileSize && ReadAll(fd, old) &&
             WriteInPlace(fd, bytes, old);
    }
    ok = ::close(fd) == 0 && ok;
    return ok ? TWriteResult::Written : TWriteResult::Failed;
}

} // namespace kve17
