#include "tools/sim/LinkOwners.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/types.h>
#include <unistd.h>

namespace kve17::sim {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view NotePrefix = ".";
constexpr std::string_view NoteSuffix = ".owner";

fs::path NoteOf(const std::string& linkDir, const std::string& name) {
    return fs::path(linkDir) / (std::string(NotePrefix) + name + std::string(NoteSuffix));
}

// The process's start time in clock ticks since boot, so that a reused process id is not taken
// for the maker; empty when there is no such process.
std::string StartTimeOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return {};
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int n = 3; n <= 22 && fields >> field; ++n) // field 22 is the start time
        if (n == 22)
            return field;
    return {};
}

bool Alive(pid_t pid, const std::string& startTime) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH))
        return false;
    const std::string now = StartTimeOf(pid);
    return now.empty() || now == startTime; // unknown: taken as alive, the safe side
}

} // namespace

void RecordLinkOwner(const std::string& linkDir, const std::string& name,
                     const std::string& device) {
    const fs::path note = NoteOf(linkDir, name);
    const fs::path part = note.string() + ".part";
    {
        std::ofstream out(part, std::ios::trunc);
        out << ::getpid() << ' ' << StartTimeOf(::getpid()) << ' ' << device << '\n';
        if (!out.flush())
            return; // best effort: the link works without its note
    }
    std::error_code error;
    fs::rename(part, note, error);
    if (error)
        fs::remove(part, error);
}

void ForgetLinkOwner(const std::string& linkDir, const std::string& name) {
    std::error_code error;
    fs::remove(NoteOf(linkDir, name), error);
}

void RemoveLinksOfGoneProcesses(const std::string& linkDir) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(linkDir, error)) {
        const std::string file = entry.path().filename().string();
        if (!file.starts_with(NotePrefix) || !file.ends_with(NoteSuffix) ||
            file.size() <= NotePrefix.size() + NoteSuffix.size())
            continue;
        const std::string name =
            file.substr(NotePrefix.size(), file.size() - NotePrefix.size() - NoteSuffix.size());
        std::ifstream in(entry.path());
        pid_t pid = 0;
        std::string startTime;
        std::string device;
        if (!(in >> pid >> startTime >> device) || Alive(pid, startTime))
            continue;
        const fs::path link = fs::path(linkDir) / name;
        std::error_code ignored;
        if (fs::is_symlink(fs::symlink_status(link, ignored)) &&
            fs::read_symlink(link, ignored) == fs::path(device))
            fs::remove(link, ignored);
        fs::remove(entry.path(), ignored);
    }
}

} // namespace kve17::sim
