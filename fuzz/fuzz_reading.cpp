// Feeds a random archive file and random device blocks to the archive reading: the file must stay
// exactly 7940 bytes when it was a valid archive, and stay untouched when the reading refuses it.
#include "archive/ArchiveFormat.h"
#include "archive/ArchiveOps.h"
#include "link/LinkCodes.h"
#include "tests/support/QuietOperator.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kve17;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
};

// A device whose replies come from the fuzz input: mostly good blocks, now and then a failure.
class FuzzLink : public IDeviceLink {
public:
    explicit FuzzLink(Input& in) : in_(in) {}

    int Exchange(int, std::uint8_t, int, const std::uint8_t*,
                 std::span<std::uint8_t> reply) override {
        const std::uint8_t pick = in_.Byte();
        if (pick >= 250)
            return pick == 255 ? LinkCode::NoReply : pick - 240;
        const std::size_t n = std::min<std::size_t>(reply.size(), 133);
        for (std::size_t i = 0; i < n; ++i)
            reply[i] = in_.Byte();
        reply[2] = pick < 240 ? 128 : pick; // now and then a wrong byte count
        return LinkCode::Ok;
    }
    void ShowError(int, int) override {}

private:
    Input& in_;
};

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The scratch file lives in a folder of its own, removed with everything in it when the run ends,
// so that a fuzzing run leaves nothing behind in the temporary folder.
std::string scratchFolder;

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder, ignored);
}

const std::string& ScratchPath() {
    static const std::string path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kve17-fuzz-reading-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        scratchFolder = pattern;
        std::atexit(RemoveScratch);
        return pattern + "/a.dat";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    // Mostly a whole archive; sometimes a file of another length.
    const std::uint8_t shape = in.Byte();
    std::size_t fileSize = ArchiveFileSize;
    if (shape % 8 == 7)
        fileSize = (static_cast<std::size_t>(in.Byte()) << 8 | in.Byte()) % (ArchiveFileSize + 64);
    std::vector<std::uint8_t> before(fileSize, 0xFF);
    for (auto& b : before)
        b = in.Byte();
    if (shape % 8 < 4 && fileSize == ArchiveFileSize) {
        // Keep the position mostly sensible so that readings get past the file check.
        const std::int32_t pos = shape % 8 == 0 ? -1 : (in.Byte() * 8) % RingSize;
        std::memcpy(before.data() + RingSize, &pos, 4);
    }
    {
        std::ofstream file(ScratchPath(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(before.data()),
                   static_cast<std::streamsize>(before.size()));
    }

    const int device = in.Byte() % 31;
    FuzzLink link(in);
    test::QuietPrompt prompt;
    test::QuietView view;
    const TReadingResult result = ReadArchiveFile(ScratchPath(), device, link, prompt, view);

    const std::vector<std::uint8_t> after = ReadWhole(ScratchPath());
    if (result.Saved && after.size() != static_cast<std::size_t>(ArchiveFileSize))
        std::abort();
    if (!result.Started && after != before)
        std::abort();
    if (after.size() == static_cast<std::size_t>(ArchiveFileSize)) {
        std::int32_t pos;
        std::memcpy(&pos, after.data() + RingSize, 4);
        if (result.Saved && !PositionValid(pos))
            std::abort();
    }
    return 0;
}
