// The list of serial ports the operator chooses from. Port names stay "COM<n>": the link refuses
// names without "COM", and the messages show them. Each name maps to a device path:
//  - a symbolic link COM<n> in the link directory names a port (its target is the device, or a
//    device server's address such as "rfc2217://10.0.0.5:4001", see PortTarget.h);
//  - serial hardware found in sysfs that no link names gets the lowest free numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kve17 {

struct TPortEntry {
    std::string Name;   // "COM3"
    std::string Device; // "/dev/ttyUSB0", or a link's target (a path or a server's address)
};

class TPortDirectory {
public:
    struct Roots {
        std::string LinkDir; // $XDG_RUNTIME_DIR/kve17/ports by default
        std::string SysfsTtyDir = "/sys/class/tty";
        std::string DevDir = "/dev";
    };

    TPortDirectory();
    explicit TPortDirectory(Roots roots);

    // $XDG_RUNTIME_DIR/kve17/ports, or /tmp/kve17-<uid>/ports when the variable is unset.
    static std::string DefaultLinkDir();

    // Every port, in COM-number order.
    std::vector<TPortEntry> List() const;
    // The device path of a name; an absolute path or a server's address is returned as it is.
    // Nothing when unknown.
    std::optional<std::string> Resolve(std::string_view name) const;

    // Links `device` as the given COM name, or as the lowest COM number free in the whole
    // list when `name` is empty; creates the link directory when needed. Returns the name.
    // Throws std::runtime_error when the link cannot be made.
    std::string AddLink(std::string_view device, std::string_view name = {}) const;
    void RemoveLink(std::string_view name) const;

    const Roots& GetRoots() const { return roots_; }

private:
    Roots roots_;
};

} // namespace kve17
