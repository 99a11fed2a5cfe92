#include "tools/sim/SimJournal.h"

#include "archive/ArchiveFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

bool Empty(const DeviceArchive& archive, int index) {
    const auto* first = archive.data() + index * RecordSize;
    return std::all_of(first, first + RecordSize, [](std::uint8_t b) { return b == 0xFF; });
}

} // namespace

SimJournal::SimJournal(const std::string& path) {
    // Opened without waiting, so that a FIFO is refused rather than waited on.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string reason = fd < 0 ? std::strerror(errno) : "not a regular file";
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(path + ": " + reason);
    }
    file_ = ::fdopen(fd, "a");
    if (file_ == nullptr) {
        ::close(fd);
        throw std::runtime_error(path + ": " + std::strerror(errno));
    }
}

SimJournal::~SimJournal() {
    std::fclose(file_);
}

void SimJournal::Start(int address, const DeviceArchive& archive) {
    for (int i = RecordCount - 1; i >= 0; --i)
        if (!Empty(archive, i))
            Put(address, archive, i);
}

void SimJournal::Grown(int address, const DeviceArchive& archive, int count) {
    for (int i = std::min(count, RecordCount) - 1; i >= 0; --i)
        Put(address, archive, i);
}

void SimJournal::Flush() {
    std::fflush(file_);
}

void SimJournal::Put(int address, const DeviceArchive& archive, int index) {
    const auto* r = archive.data() + index * RecordSize;
    std::fprintf(file_, "%d %02X%02X%02X%02X%02X%02X%02X%02X\n", address, r[0], r[1], r[2], r[3],
                 r[4], r[5], r[6], r[7]);
}

} // namespace kve17::sim
