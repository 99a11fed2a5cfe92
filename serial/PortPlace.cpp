#include "serial/PortPlace.h"

#include "serial/PortTarget.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace kve17 {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

std::string ServerPlace(const TPortTarget& target) {
    const std::string host = Lower(target.Host);
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(target.Kind == TLineKind::RawTcp ? "tcp://" : "rfc2217://") +
           (v6 ? "[" + host + "]" : host) + ":" + target.Service;
}

// The stable name of a real device: the first link in `byIdDir` (in name order) that leads to
// it; the device itself when none does.
std::string StableName(const fs::path& device, std::string_view byIdDir) {
    std::error_code ec;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links)
        if (fs::equivalent(link, device, ec) && !ec)
            return link.string();
    return device.string();
}

} // namespace

std::string PortPlace(std::string_view port, const TPortDirectory& ports, std::string_view host,
                      std::string_view byIdDir) {
    // A modem calls from changing addresses; its ID is where its line is.
    if (port.starts_with(ModemPlacePrefix))
        return std::string(port);
    std::string target(port);
    if (port.find('/') == std::string_view::npos) {
        const auto resolved = ports.Resolve(port);
        if (!resolved)
            return std::string(host) + ":" + target; // a name no device stands behind yet
        target = *resolved;
    }
    const auto parsed = ParsePortTarget(target);
    if (parsed && parsed->Kind != TLineKind::Terminal)
        return ServerPlace(*parsed);
    std::error_code ec;
    fs::path device = fs::absolute(TargetWithoutOptions(target), ec).lexically_normal();
    if (const fs::path real = fs::canonical(device, ec); !ec)
        device = StableName(real, byIdDir);
    return std::string(host) + ":" + device.string();
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace kve17
