// A device server named by a host name that no name server answers: the connect time-out holds
// for the lookup too, and a stop signal ends the lookup at once. Each case runs in a child with a
// network and system files of its own, where the only name server is a UDP socket on the loopback
// that never answers.
#include "serial/NetLine.h"
#include "serial/StopSignals.h"
#include "tests/support/ChildProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* Unanswered = "tcp://device-server.kve17.test:4001";
constexpr const char* NoNamespaces = "skip: ";

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text << std::flush;
    return file.good();
}

// As an ordinary user a user namespace makes the rest possible; as root it is not needed.
bool EnterNamespaces() {
    if (::geteuid() == 0)
        return ::unshare(CLONE_NEWNS | CLONE_NEWNET) == 0;
    const std::string uid = std::to_string(::geteuid());
    const std::string gid = std::to_string(::getegid());
    return ::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) == 0 &&
           WriteFile("/proc/self/setgroups", "deny") &&
           WriteFile("/proc/self/uid_map", "0 " + uid + " 1") &&
           WriteFile("/proc/self/gid_map", "0 " + gid + " 1");
}

bool LoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::snprintf(request.ifr_name, IFNAMSIZ, "lo");
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        ::close(fd);
    return up;
}

// Listens for queries on 127.0.0.1:53 and never reads them; -1 on failure.
int SilentServer() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool BindOver(const std::string& file, const std::string& text, const char* target) {
    return WriteFile(file, text) && ::mount(file.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

// The child's world: names are looked up in no file and asked of the silent server only, which
// the resolver would wait for far longer than the connect time-out. "" or why it failed.
std::string SilentWorld(const std::string& folder) {
    if (!EnterNamespaces())
        return std::string(NoNamespaces) + "no namespaces for this user";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "mounts stay shared";
    if (!LoopbackUp() || SilentServer() < 0)
        return "no loopback name server";
    if (!BindOver(folder + "/resolv.conf", "nameserver 127.0.0.1\noptions timeout:10 attempts:3\n",
                  "/etc/resolv.conf") ||
        !BindOver(folder + "/nsswitch.conf", "hosts: dns\n", "/etc/nsswitch.conf"))
        return "system files not replaced";
    return "";
}

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class NameLookup : public ::testing::Test {
protected:
    void SetUp() override {
        folder = (std::filesystem::temp_directory_path() / "kve17-names-XXXXXX").string();
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Runs `body` in the silent world; skips where the system allows none.
    void InSilentWorld(const std::function<std::string()>& body) {
        const std::string report = RunInChild(
            [&] {
                const std::string world = SilentWorld(folder);
                return world.empty() ? body() : world;
            },
            30s);
        if (report.starts_with(NoNamespaces))
            GTEST_SKIP() << report;
        EXPECT_EQ(report, "");
    }

    std::string folder;
};

TEST_F(NameLookup, AnUnansweredNameGivesUpAtTheConnectTimeout) {
    InSilentWorld([] {
        TNetLine line(TLineKind::RawTcp, TNetTiming{1000ms, 500ms});
        const auto start = Clock::now();
        const int error = line.Open(Unanswered);
        const milliseconds took = Since(start);
        std::string faults;
        if (error != ETIMEDOUT)
            faults += "open gave " + std::to_string(error) + "; ";
        if (took < 950ms || took > 2000ms)
            faults += "open took " + std::to_string(took.count()) + " ms; ";
        return faults;
    });
}

TEST_F(NameLookup, AStopSignalEndsTheLookupAtOnce) {
    InSilentWorld([] {
        InstallStopSignals();
        TNetLine line(TLineKind::RawTcp, TNetTiming{20000ms, 500ms});
        const auto start = Clock::now();
        std::thread stopper([] {
            std::this_thread::sleep_for(300ms);
            ::kill(::getpid(), SIGINT);
        });
        const int error = line.Open(Unanswered);
        const milliseconds took = Since(start);
        stopper.join();
        std::string faults;
        if (error != EINTR)
            faults += "open gave " + std::to_string(error) + "; ";
        if (took < 250ms || took > 1300ms)
            faults += "open took " + std::to_string(took.count()) + " ms; ";
        return faults;
    });
}

} // namespace
} // namespace kve17::test
