#include "serial/PortDirectory.h"

#include "serial/PortTarget.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <unistd.h>

namespace kve17 {

namespace {

namespace fs = std::filesystem;

struct NumberedPort {
    int Number;
    TPortEntry Entry;
};

// "COM<n>" with n from 1 up, no leading zero; nothing for any other name.
std::optional<int> ComNumber(std::string_view name) {
    if (!name.starts_with("COM") || name.size() < 4 || name[3] == '0')
        return std::nullopt;
    int number = 0;
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(name.data() + 3, last, number);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return number;
}

std::string ComName(int number) {
    return "COM" + std::to_string(number);
}

// Links planted by someone else could point the program at a device of their choosing.
bool IsPrivateDir(const fs::path& dir) {
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return (info.st_uid == geteuid() || info.st_uid == 0) && (info.st_mode & S_IWOTH) == 0;
}

// A link's target is free text: a device path, or the address of a device server.
fs::path LinkTarget(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    if (error)
        return {};
    if (target.is_absolute() || IsNetworkTarget(target.string()))
        return target;
    return (link.parent_path() / target).lexically_normal();
}

std::string SameFileKey(const fs::path& linked) {
    const fs::path path(std::string(TargetWithoutOptions(linked.string())));
    if (IsNetworkTarget(path.string()))
        return path.string();
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path.string() : canonical.string();
}

// Calls `visit` with every entry of `dir`; a folder that is missing or vanishes midway simply
// ends the walk.
template <class Visit> void ForEachEntry(const fs::path& dir, Visit visit) {
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        visit(*it);
}

std::vector<NumberedPort> ReadLinks(const fs::path& linkDir) {
    std::vector<NumberedPort> links;
    if (!IsPrivateDir(linkDir))
        return links;
    ForEachEntry(linkDir, [&](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        const std::optional<int> number = ComNumber(name);
        std::error_code error;
        if (number && entry.is_symlink(error))
            links.push_back({*number, {name, LinkTarget(entry.path()).string()}});
    });
    return links;
}

std::optional<long> ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text))
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 0); // "port" is hexadecimal: 0x3f8
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

// The 8250 driver registers ttyS0 to ttyS31 whether or not a UART answers; those without one
// report type 0 (unknown), or, without a type, I/O port 0.
bool IsEmptyUartSlot(const fs::path& entry) {
    if (const std::optional<long> type = ReadNumber(entry / "type"))
        return *type == 0;
    const std::optional<long> port = ReadNumber(entry / "port");
    std::error_code error;
    const fs::path driver = fs::read_symlink(entry / "device" / "driver", error);
    return port && *port == 0 && !error && driver.filename() == "serial8250";
}

// ttyS first, then ttyACM, ttyUSB and the rest; each family by number.
auto HardwareOrder(const std::string& name) {
    const std::size_t digits = name.find_last_not_of("0123456789") + 1;
    const std::string family = name.substr(0, digits);
    long number = -1;
    std::from_chars(name.data() + digits, name.data() + name.size(), number);
    static const std::array<std::string_view, 3> kFirst = {"ttyS", "ttyACM", "ttyUSB"};
    const auto rank = std::find(kFirst.begin(), kFirst.end(), family) - kFirst.begin();
    return std::tuple(rank, family, number);
}

std::vector<std::string> ReadHardware(const fs::path& sysfsDir) {
    std::vector<std::string> names;
    ForEachEntry(sysfsDir, [&](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        std::error_code error;
        if (!fs::exists(entry.path() / "device", error))
            return;
        if (name.starts_with("ttyS") && IsEmptyUartSlot(entry.path()))
            return;
        names.push_back(name);
    });
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return HardwareOrder(a) < HardwareOrder(b);
    });
    return names;
}

int LowestFree(const std::set<int>& used) {
    int number = 1;
    while (used.contains(number))
        ++number;
    return number;
}

std::set<int> UsedNumbers(const std::vector<TPortEntry>& entries) {
    std::set<int> used;
    for (const TPortEntry& entry : entries)
        used.insert(*ComNumber(entry.Name));
    return used;
}

// Creates the missing folders of `dir` readable by this user only.
void MakePrivateDirs(const fs::path& dir) {
    fs::path partial;
    for (const fs::path& part : dir) {
        partial /= part;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("Cannot create the folder " + partial.string() + ": " +
                                     std::generic_category().message(errno));
    }
    if (!IsPrivateDir(dir))
        throw std::runtime_error("The port link folder " + dir.string() +
                                 " belongs to another user or is writable by everyone");
}

} // namespace

TPortDirectory::TPortDirectory() : TPortDirectory(Roots{DefaultLinkDir()}) {}

TPortDirectory::TPortDirectory(Roots roots) : roots_(std::move(roots)) {}

std::string TPortDirectory::DefaultLinkDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/kve17/ports";
    return "/tmp/kve17-" + std::to_string(getuid()) + "/ports";
}

std::vector<TPortEntry> TPortDirectory::List() const {
    std::vector<NumberedPort> ports = ReadLinks(roots_.LinkDir);
    std::set<int> used;
    std::set<std::string> linked;
    for (const NumberedPort& port : ports) {
        used.insert(port.Number);
        linked.insert(SameFileKey(port.Entry.Device));
    }
    for (const std::string& name : ReadHardware(roots_.SysfsTtyDir)) {
        const std::string device = (fs::path(roots_.DevDir) / name).string();
        if (linked.contains(SameFileKey(device)))
            continue;
        const int number = LowestFree(used);
        used.insert(number);
        ports.push_back({number, {ComName(number), device}});
    }
    std::sort(ports.begin(), ports.end(),
              [](const NumberedPort& a, const NumberedPort& b) { return a.Number < b.Number; });
    std::vector<TPortEntry> entries;
    entries.reserve(ports.size());
    for (NumberedPort& port : ports)
        entries.push_back(std::move(port.Entry));
    return entries;
}

std::optional<std::string> TPortDirectory::Resolve(std::string_view name) const {
    if (name.starts_with('/') || IsNetworkTarget(name))
        return std::string(name);
    for (const TPortEntry& entry : List())
        if (entry.Name == name)
            return entry.Device;
    return std::nullopt;
}

std::string TPortDirectory::AddLink(std::string_view device, std::string_view name) const {
    if (!device.starts_with('/') && !IsNetworkTarget(device))
        throw std::runtime_error("A port link needs an absolute device path or a server address: " +
                                 std::string(device));
    if (!name.empty() && !ComNumber(name))
        throw std::runtime_error("A port name is COM followed by a number: " + std::string(name));
    const fs::path dir = roots_.LinkDir;
    MakePrivateDirs(dir);

    std::set<int> used = UsedNumbers(List());
    for (;;) {
        const std::string chosen = name.empty() ? ComName(LowestFree(used)) : std::string(name);
        const fs::path link = dir / chosen;
        if (symlink(std::string(device).c_str(), link.c_str()) == 0)
            return chosen;
        const int error = errno;
        if (error == EEXIST && name.empty()) { // another program took it meanwhile
            used.insert(*ComNumber(chosen));
            continue;
        }
        if (error == EEXIST && LinkTarget(link) == fs::path(device))
            return chosen;
        if (error == EEXIST)
            throw std::runtime_error("The port name " + chosen + " is taken by " +
                                     LinkTarget(link).string());
        throw std::runtime_error("Cannot link " + chosen + " to " + std::string(device) + ": " +
                                 std::generic_category().message(error));
    }
}

void TPortDirectory::RemoveLink(std::string_view name) const {
    if (!ComNumber(name))
        return;
    const fs::path link = fs::path(roots_.LinkDir) / name;
    struct stat info {};
    if (lstat(link.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return;
    if (unlink(link.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error("Cannot remove the port link " + link.string() + ": " +
                                 std::generic_category().message(errno));
}

} // namespace kve17
