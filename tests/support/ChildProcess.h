// Child processes for tests that must not touch the test program itself: a body run in a forked
// child (with a small file-size limit, or on a private small file system), and programs started
// with their output on pipes, watched line by line and stopped by their own process id.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kve17::test {

// Writes beyond `bytes` fail with EFBIG instead of killing the process: a disk that is full for
// this process alone. Call it in a child only.
inline bool LimitFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Mounts a tmpfs of `bytes` on `folder` in a mount namespace of this process alone, so that it
// goes away with the process. False where the system does not allow it. Call it in a child only.
inline bool MountPrivateTmpfs(const std::string& folder, std::size_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0)
        return false;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    return ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

inline bool RemountReadOnly(const std::string& folder) {
    return ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                   nullptr) == 0;
}

// Runs `body` in a forked child and returns what it returned: by convention the list of its
// failed checks, empty when all held. A child that dies says so; one that has not ended within
// `patience` is killed and says that.
inline std::string RunInChild(const std::function<std::string()>& body,
                              std::chrono::milliseconds patience = std::chrono::seconds{60}) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + patience;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        ::close(pipe[0]);
        std::string report;
        try {
            report = body();
        } catch (const std::exception& e) {
            report = std::string("exception: ") + e.what();
        }
        for (std::size_t at = 0; at < report.size();) {
            const ssize_t n = ::write(pipe[1], report.data() + at, report.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string report;
    bool late = false;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{pipe[0], POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            late = true;
            break;
        }
        char chunk[256];
        const ssize_t n = ready < 0 ? -1 : ::read(pipe[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        report.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    while (!late && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline)
            late = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    if (late) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return report + "child did not end within " + std::to_string(patience.count()) +
               " ms and was killed";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "child ended abnormally (status " + std::to_string(status) + ")";
    return report;
}

// A program with its standard output and error on pipes and its input from /dev/null.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // `inChild` runs after the fork, before the program starts: async-signal-safe calls only.
    explicit ChildProcess(std::vector<std::string> argv, void (*inChild)() = nullptr) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            if (inChild)
                inChild();
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (pid_ < 0)
            throw std::runtime_error("fork");
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const {
        if (pid_ > 0)
            ::kill(pid_, signal);
    }

    // The next line of standard output; nothing at its end or when `patience` runs out.
    std::optional<std::string> OutLine(std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        for (;;) {
            if (const auto end = out.find('\n'); end != std::string::npos) {
                std::string line = out.substr(0, end);
                out.erase(0, end + 1);
                return line;
            }
            if (!Pump(deadline))
                return std::nullopt;
        }
    }
    // Waits until standard error holds `text`; false when the program ends or time runs out.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        while (err.find(text) == std::string::npos)
            if (!Pump(deadline))
                return false;
        return true;
    }

    // The exit status (128 + the signal when killed) once both pipes have closed; -1 when the
    // program does not end within `patience`.
    int Wait(std::chrono::milliseconds patience) {
        const auto deadline = Clock::now() + patience;
        while (Pump(deadline)) {
        }
        int status = 0;
        rusage usage{};
        while (::wait4(pid_, &status, WNOHANG, &usage) != pid_) {
            if (Clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds{2});
        }
        pid_ = -1;
        peakKiB_ = usage.ru_maxrss;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // The most memory the program held at once (its peak resident set), once Wait has seen it end.
    long PeakKiB() const { return peakKiB_; }

    std::string out; // standard output not yet taken by OutLine
    std::string err; // all of standard error so far

private:
    // Reads what either pipe holds; false once both are closed or the deadline has passed.
    bool Pump(Clock::time_point deadline) {
        pollfd p[2] = {{outOpen_ ? out_ : -1, POLLIN, 0}, {errOpen_ ? err_ : -1, POLLIN, 0}};
        if (!outOpen_ && !errOpen_)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || ::poll(p, 2, static_cast<int>(left.count())) <= 0)
            return false;
        Take(p[0], out_, outOpen_, out);
        Take(p[1], err_, errOpen_, err);
        return true;
    }
    static void Take(const pollfd& p, int fd, bool& open, std::string& into) {
        if (p.fd < 0 || p.revents == 0)
            return;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            into.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            open = false;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool outOpen_ = true;
    bool errOpen_ = true;
    long peakKiB_ = 0;
};

} // namespace kve17::test
