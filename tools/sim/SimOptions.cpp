#include "tools/sim/SimOptions.h"

#include "serve/ModemBytes.h"
#include "tools/cli/CommandLine.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>

namespace kve17::sim {

namespace {

constexpr std::string_view Help = R"(Usage: kve17-sim [OPTION]...
A simulated line of KVE-17 devices on a pseudo-terminal. The pty is linked into the port
directory under a free COM name; the first line on standard output is "<NAME> <device path>".
Serves until SIGINT or SIGTERM, then removes its link.

Devices
  --devices LIST         devices on the line, e.g. 1-5,7 (default 1-31)
  --seed N               archives are made from this seed (default 1); device A's archive is
                         the one of seed N*32+A, the same on every run
  --young LIST:N         these devices have only N written records, the rest is empty (0xFF)
  --archive ADDR=FILE    device ADDR serves FILE: exactly 7936 bytes, newest record first
  --grow N               every device adds N newer records every second (default 0)
  --grow-for S           the growth of --grow stops after S seconds
  --burst N              SIGUSR1 adds N newer records to every device (default max(N of
                         --grow, 1))
  --journal FILE         append every record the devices make to FILE, oldest first: their
                         first archives, then each growth; one line a record, "ADDR HEX" with
                         the record's eight bytes as they lie in the archive
  --dump-dir DIR         on SIGUSR2 and at exit write every device's archive to
                         DIR/device-AA.bin (7936 bytes, the --archive format); each dump
                         prints "dumped DIR"
Signals: SIGUSR1 adds the --burst records to every device and prints "grown".

Faults (repeatable)
  --fault LIST:KIND[=VALUE][:times=T][:block=B]
      KIND       silence           no reply
                 cut=K             the reply stops after K bytes
                 badcrc            the checksum is wrong
                 count=N           the byte count says N, and N data bytes follow
                 command=C         the reply's command byte is C
                 exception=C       exception reply with code C (e.g. 6: database busy)
                 delay=MS          wait MS milliseconds before answering
                 noise=N           N random bytes before the reply (at most 256)
      times=T    the number of requests it spoils (default 1), or "all"
      block=B    only requests for archive block B (1-62)
  Faults of a device that match a request apply together; silence wins.

Line
  --baud N               line speed for pacing (default: the speed the program set on the pty)
  --parity N|E|O|M|S     count a parity bit: 11 bits a character (a pty keeps no parity, so
                         it cannot tell; two stop bits it can)
  --no-pacing            answer at once instead of at the line's rate
  --echo                 every byte sent to the line comes back at once, before the reply, as
                         from an echoing RS-485 adapter
  --tcp [HOST:]PORT      also serve the line over raw TCP on HOST (default 127.0.0.1) and PORT
                         (0: a free one), one client at a time; the second line on standard
                         output is "tcp://HOST:PORT"
  --dial HOST:PORT       call a server as a cellular modem in client mode: send the
                         registration ID, then pass the line's bytes both ways; call again
                         0.5 s after the connection ends
  --register ID          the modem's registration ID: text, or 0x and hex digits (up to 64
                         bytes). Repeat it to dial as several modems: each ID gets a line of
                         its own with the same devices and archives (and the same growth), and
                         prints "modem ID <device path>"; the first line is the one linked
  --register-every       the ID goes in front of every packet, not once after connecting
  --heartbeat S[:HEX]    a heartbeat (default FE) when the devices have been quiet for S
                         seconds (a fraction such as 0.5 too)
  --drop-after N         the first call hangs up after passing N bytes of the line
  --name COMn            the port name to link (default: the lowest free one)
  --port-dir DIR         the link directory (default $XDG_RUNTIME_DIR/kve17/ports)
  -h, --help             this text
  --version              the program's version

Requests are framed by length: commands 1-6 and 14 take 4 data bytes, 15 takes 5 plus its
byte count, 17, 18 and 100 none, 66, 67, 68 and 71 two, 69 and 70 none or 6. Command 67 with
00 k answers block k (1-62) of the archive, else exception 2. Commands 1-6, 14, 15, 17 and 66
(archive fill: written records, 2 bytes) get Modbus-like replies; 18, 68, 71 and 100 get
exception 1. Bad checksums, broadcasts, 69, 70 and absent addresses get no reply.
Exit status: 0 after a signal, 1 when the line cannot be set up, 2 for bad options.
)";

using cli::Bad;
using cli::Number;
using cli::NumberIn;

// "1-5,7" -> addresses 1 to 5 and 7.
std::array<bool, LastAddress + 1> AddressList(std::string_view option, std::string_view text) {
    std::array<bool, LastAddress + 1> set{};
    for (const int a : cli::AddressList(option, text))
        set[static_cast<std::size_t>(a)] = true;
    return set;
}

std::pair<std::string_view, std::string_view> SplitAt(std::string_view text, char at) {
    const auto pos = text.find(at);
    if (pos == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, pos), text.substr(pos + 1)};
}

struct KindInfo {
    std::string_view name;
    FaultKind kind;
    bool hasValue;
    int high;
};

constexpr std::array<KindInfo, 8> Kinds{{
    {"silence", FaultKind::Silence, false, 0},
    {"cut", FaultKind::Cut, true, 65535},
    {"badcrc", FaultKind::BadCrc, false, 0},
    {"count", FaultKind::WrongCount, true, 255},
    {"command", FaultKind::ForeignCommand, true, 255},
    {"exception", FaultKind::Exception, true, 255},
    {"delay", FaultKind::Delay, true, 600000},
    {"noise", FaultKind::Noise, true, 256},
}};

Fault ParseFaultKind(std::string_view option, std::string_view text) {
    const auto [name, value] = SplitAt(text, '=');
    for (const KindInfo& info : Kinds) {
        if (info.name != name)
            continue;
        Fault fault;
        fault.kind = info.kind;
        if (info.hasValue != (text.find('=') != std::string_view::npos))
            Bad(option, text,
                info.hasValue ? "this fault needs =VALUE" : "this fault takes no value");
        if (info.hasValue)
            fault.value = NumberIn(option, value, 0, info.high);
        return fault;
    }
    Bad(option, text,
        "unknown fault (silence, cut=K, badcrc, count=N, command=C, exception=C, delay=MS, "
        "noise=N)");
}

void ParseFault(std::string_view option, std::string_view text, SimOptions& options) {
    auto [list, rest] = SplitAt(text, ':');
    if (rest.empty())
        Bad(option, text, "expected LIST:KIND[=VALUE][:times=T][:block=B]");
    const auto addresses = AddressList(option, list);
    auto [kind, filters] = SplitAt(rest, ':');
    Fault fault = ParseFaultKind(option, kind);
    while (!filters.empty()) {
        auto [filter, more] = SplitAt(filters, ':');
        const auto [key, value] = SplitAt(filter, '=');
        const std::string named = std::string(option) + " " + std::string(key);
        if (key == "times")
            fault.times = value == "all" ? -1 : NumberIn(named, value, 1, 1'000'000);
        else if (key == "block")
            fault.block = NumberIn(named, value, 1, BlockCount);
        else
            Bad(option, filter, "expected times=T or block=B");
        filters = more;
    }
    for (int a = FirstAddress; a <= LastAddress; ++a)
        if (addresses[static_cast<std::size_t>(a)])
            options.faults.emplace_back(a, fault);
}

void ParseYoung(std::string_view option, std::string_view text, SimOptions& options) {
    const auto [list, count] = SplitAt(text, ':');
    if (count.empty())
        Bad(option, text, "expected LIST:N");
    const auto addresses = AddressList(option, list);
    const int records = NumberIn(option, count, 0, RecordCount);
    for (int a = FirstAddress; a <= LastAddress; ++a)
        if (addresses[static_cast<std::size_t>(a)])
            options.records[static_cast<std::size_t>(a)] = records;
}

void ParseArchive(std::string_view option, std::string_view text, SimOptions& options) {
    const auto [address, file] = SplitAt(text, '=');
    if (file.empty())
        Bad(option, text, "expected ADDR=FILE");
    options.archiveFiles.emplace_back(NumberIn(option, address, FirstAddress, LastAddress),
                                      std::string(file));
}

std::string ParseName(std::string_view option, std::string_view text) {
    const auto number = text.starts_with("COM") ? Number(text.substr(3)) : std::nullopt;
    if (!number || *number < 1 || *number > 999 || text[3] == '0')
        Bad(option, text, "expected COM and a number, e.g. COM7");
    return std::string(text);
}

void ParseTcp(std::string_view option, std::string_view text, SimOptions& options) {
    const auto colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        if (host.starts_with('[') && host.ends_with(']'))
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            Bad(option, text, "expected [HOST:]PORT");
        options.tcpHost = std::string(host);
    }
    options.tcpPort =
        NumberIn(option, text.substr(colon == std::string_view::npos ? 0 : colon + 1), 0, 65535);
}

void ParseDial(std::string_view option, std::string_view text, SimOptions& options) {
    const auto colon = text.rfind(':');
    std::string_view host = text.substr(0, colon == std::string_view::npos ? 0 : colon);
    if (host.starts_with('[') && host.ends_with(']'))
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        Bad(option, text, "expected HOST:PORT");
    options.dialHost = host;
    options.dialPort = std::to_string(NumberIn(option, text.substr(colon + 1), 1, 65535));
}

// "S" or "S:HEX": seconds (with a fraction) and the heartbeat's bytes.
void ParseHeartbeat(std::string_view option, std::string_view text, SimOptions& options) {
    const auto colon = text.find(':');
    const std::string seconds(text.substr(0, colon));
    char* end = nullptr;
    const double s = std::strtod(seconds.c_str(), &end);
    if (seconds.empty() || end != seconds.c_str() + seconds.size() || !(s >= 0.05 && s <= 3600))
        Bad(option, text, "expected seconds from 0.05 to 3600, then :HEX if wanted");
    options.heartbeatMs = static_cast<int>(s * 1000);
    if (colon == std::string_view::npos)
        return;
    std::string hex(text.substr(colon + 1));
    if (!hex.starts_with("0x"))
        hex = "0x" + hex;
    const auto bytes = serve::ParseModemBytes(hex);
    if (!bytes || hex.size() < 3)
        Bad(option, text, "expected hex digits after the colon");
    options.heartbeat = *bytes;
}

bool ParseParity(std::string_view option, std::string_view text) {
    if (text == "N" || text == "n")
        return false;
    if (text.size() == 1 && std::string_view("EOMSeoms").find(text[0]) != std::string_view::npos)
        return true;
    Bad(option, text, "expected N, E, O, M or S");
}

// Every device an option names must be on the line.
void CheckPresent(const SimOptions& options) {
    auto check = [&](int address, std::string_view option) {
        if (!options.present[static_cast<std::size_t>(address)])
            throw std::invalid_argument(std::string(option) + ": device " +
                                        std::to_string(address) +
                                        " is not on the line (see --devices)");
    };
    for (const auto& [address, file] : options.archiveFiles)
        check(address, "--archive");
    for (const auto& [address, fault] : options.faults)
        check(address, "--fault");
}

} // namespace

SimOptions::SimOptions() {
    present.fill(true);
    present[0] = false;
    records.fill(RecordCount);
    line.pacing = true;
}

SimOptions ParseSimOptions(std::span<const std::string_view> args) {
    SimOptions options;
    CLI::App app;
    cli::PrepareApp(app);
    const auto value = [&app](const std::string& name, std::function<void(std::string_view)> set) {
        cli::AddValue(app, name, "", "", std::move(set));
    };
    bool noPacing = false;
    cli::AddFlag(app, "-h,--help", "", options.help);
    cli::AddFlag(app, "--version", "", options.version);
    cli::AddFlag(app, "--no-pacing", "", noPacing);
    cli::AddFlag(app, "--echo", "", options.line.echo);
    value("--tcp", [&](auto v) { ParseTcp("--tcp", v, options); });
    value("--dial", [&](auto v) { ParseDial("--dial", v, options); });
    value("--register", [&](auto v) {
        const auto id = serve::ParseModemBytes(v);
        if (!id)
            Bad("--register", v, "expected text or 0x and hex digits, up to 64 bytes");
        options.registers.push_back(*id);
    });
    cli::AddFlag(app, "--register-every", "", options.registerEvery);
    value("--heartbeat", [&](auto v) { ParseHeartbeat("--heartbeat", v, options); });
    value("--drop-after", [&](auto v) {
        options.dropAfter = static_cast<std::size_t>(NumberIn("--drop-after", v, 1, 1 << 30));
    });
    value("--devices", [&](auto v) { options.present = AddressList("--devices", v); });
    value("--seed", [&](auto v) {
        options.seed = static_cast<std::uint32_t>(NumberIn("--seed", v, 0, 0x7FFFFFFF));
    });
    value("--young", [&](auto v) { ParseYoung("--young", v, options); });
    value("--archive", [&](auto v) { ParseArchive("--archive", v, options); });
    value("--grow", [&](auto v) { options.grow = NumberIn("--grow", v, 0, RecordCount); });
    value("--grow-for", [&](auto v) { options.growFor = NumberIn("--grow-for", v, 1, 86400); });
    value("--burst", [&](auto v) { options.burst = NumberIn("--burst", v, 1, RecordCount); });
    value("--journal", [&](auto v) { options.journal = v; });
    value("--fault", [&](auto v) { ParseFault("--fault", v, options); });
    value("--baud", [&](auto v) { options.line.baud = NumberIn("--baud", v, 50, 4'000'000); });
    value("--parity", [&](auto v) { options.line.parity = ParseParity("--parity", v); });
    value("--name", [&](auto v) { options.name = ParseName("--name", v); });
    value("--port-dir", [&](auto v) { options.portDir = v; });
    value("--dump-dir", [&](auto v) { options.dumpDir = v; });
    cli::ParseArguments(app, {args.begin(), args.end()});
    options.line.pacing = !noPacing;
    if (options.dialHost.empty() != options.registers.empty())
        throw std::invalid_argument("--dial and --register go together");
    CheckPresent(options);
    return options;
}

std::string_view SimHelpText() {
    return Help;
}

} // namespace kve17::sim
