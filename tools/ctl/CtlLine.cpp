#include "tools/ctl/CtlLine.h"

#include "archive/ArchiveFile.h"
#include "archive/ArchiveListing.h"
#include "history/HistoryConnection.h"
#include "link/LinkCodes.h"
#include "link/LinkTexts.h"
#include "serial/ComPort1Settings.h"
#include "serial/EComPort.h"
#include "serial/PortDirectory.h"
#include "serial/PortPlace.h"
#include "serial/PortTarget.h"
#include "serial/StopSignals.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <thread>

namespace kve17::ctl {

namespace {

TParityBits ParityOf(char letter) {
    return letter == 'O' ? prOdd : letter == 'E' ? prEven : prNone;
}

int ListedRecords(const std::string& path) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(path, TOpenMode::ReadOnly, image))
        return 0;
    return static_cast<int>(ListArchive(image).size());
}

// The words for a reading that did not succeed, as the program showed them.
std::string FailureText(const TReadingResult& result, const TConsolePrompt& prompt) {
    if (!result.Started)
        return std::string(OpenFailedText);
    if (result.LinkResult != LinkCode::Ok && !prompt.LastMessage().empty())
        return prompt.LastMessage();
    if (!result.Saved)
        return std::string(SaveFailedText);
    return std::string(LinkText::PortLost);
}

TDeviceOutcome ReadTarget(TComPortClass& link, TConsolePrompt& prompt, IReadingView& view,
                          const TReadingTarget& target) {
    TDeviceOutcome out;
    out.Device = target.Device;
    out.File = Absolute(target.File);
    std::error_code ec;
    if (target.CreateMissing && !std::filesystem::exists(target.File, ec) &&
        CreateFreshFile(target.File, false) == TCreateFileResult::Failed) {
        out.Result = CreateFailedText;
        prompt.SimpleMessage(out.Result);
        return out;
    }
    prompt.ForgetLast();
    const TReadingResult result =
        ReadArchiveFile(target.File, target.Device - 1, link, prompt, view);
    out.Started = result.Started;
    out.Mode = result.Mode;
    out.Code = result.LinkResult;
    out.FailedBlock = result.FailedBlock;
    // A whole fresh reading writes every slot of the ring; the records it found are the ones
    // listed, not the empty slots of a young device or those the end markers took. A fresh
    // reading cut short keeps the blocks it read.
    const bool whole = result.LinkResult == LinkCode::Ok;
    out.NewRecords = result.Mode == TReadingMode::Incremental ? result.MergedRecords
                     : whole                                  ? result.NewListed
                                                              : result.StoredRecords;
    out.StoredRecords = result.Started ? ListedRecords(target.File) : 0;
    out.Ok = result.Started && result.Saved && result.LinkResult == LinkCode::Ok &&
             !prompt.CloseRequested();
    out.Result = out.Ok ? std::string(ReadingDoneText) : FailureText(result, prompt);
    out.Reading = result;
    return out;
}

// A device the user may not open: name the group that owns it, the one to join.
void SayPermissionHint(const std::string& port) {
    if (IsNetworkTarget(port))
        return;
    std::string device = port;
    if (port.find('/') == std::string::npos)
        device = std::string(TargetWithoutOptions(TPortDirectory().Resolve(port).value_or("")));
    struct stat status {};
    if (device.empty() || ::stat(device.c_str(), &status) != 0)
        return;
    const group* owner = ::getgrgid(status.st_gid);
    const std::string name = owner != nullptr ? owner->gr_name : std::to_string(status.st_gid);
    Fail("you may not open " + device + ": join the group '" + name +
         "' that owns it (sudo usermod -aG " + name + " $USER) and log in again");
}

// The history a line's readings go to, device by device; none with --no-history.
class TLineHistory {
public:
    explicit TLineHistory(const TReadOptions& read) : read_(read) {
        if (read.NoHistory)
            return;
        history::TConnectionOptions options;
        options.StopFd = StopSignalFd();
        history_.emplace(read.History.empty() ? history::DefaultHistoryPath() : read.History,
                         options);
        place_ = PortPlace(read.Port, TPortDirectory(), HostName());
    }

    // A failed reading is logged too, unless a stop signal ended it: the history would not be
    // waited for then.
    void Keep(TDeviceOutcome& out) {
        if (!history_ || (!out.Ok && StopSignal() != 0))
            return;
        out.History = history_->Keep({read_.Line, read_.Port, place_, out.Device, out.File},
                                     out.Reading, out.Result);
        const std::string device = "device " + std::to_string(out.Device) + ": ";
        if (out.History.Tried && !out.History.Written)
            Fail(device + out.History.Message);
        else if (out.History.Gap)
            Fail(device + "it wrote new events over unread ones: a gap is marked in the "
                          "history; read it more often");
        else if (out.History.Warning)
            Fail(device + "its new events filled most of its archive: read it more often, or "
                          "events will be lost");
    }

private:
    const TReadOptions& read_;
    std::optional<history::TReadingHistory> history_;
    std::string place_;
};

} // namespace

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

void Fail(std::string_view text) {
    std::fprintf(stderr, "kve17ctl: %.*s\n", static_cast<int>(text.size()), text.data());
}

std::string FailedBy(const std::exception& e) {
    std::string why = StopSignal() != 0 ? std::string(StoppedText) : e.what();
    Fail(why);
    return why;
}

void ConfigurePort(TComPort& port, const TReadOptions& read) {
    LoadComPort1Settings(port);
    port.SetBaudRate(read.Rate);
    port.SetParityBits(ParityOf(read.Parity));
    port.SetStopBits(read.Stop == 1 ? sbOneStopBit : sbTwoStopBits);
    // A device path is opened as it is; a relative one is taken from the current folder.
    const bool path = read.Port.find('/') != std::string::npos && !IsNetworkTarget(read.Port);
    port.SetPort(path ? Absolute(read.Port) : read.Port);
    port.SetEcho(read.Echo);
}

void ConfigureLink(TComPortClass& link, const TReadOptions& read) {
    link.SetBaudText(std::to_string(read.Baud));
    link.SetParityText(std::string(1, read.Parity));
    link.SetStopText(std::to_string(read.Stop));
    link.SetPortName(read.Port);
    link.SetDelayTx(read.DelayTx);
}

void OpenWhenFree(IComPort& port, std::chrono::seconds wait, std::string_view name) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    bool said = false;
    // A stop signal ends the waiting as it ends any other wait on the port.
    const auto stopped = [] {
        if (StopSignal() != 0)
            throw EComPort(CE_OpenFailed, EINTR);
    };
    for (;;) {
        stopped();
        std::string held = " is held by another reader";
        try {
            port.Open();
            return;
        } catch (const EComPort& e) {
            if (!HeldElsewhere(e) || Clock::now() >= deadline)
                throw;
            if (IsNetworkTarget(name))
                held = std::string(": ") + NetworkOpenText(e.SystemError);
        }
        if (!said)
            Fail(std::string(name) + held + "; waiting up to " + std::to_string(wait.count()) +
                 " s");
        said = true;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(100), deadline - Clock::now()));
        stopped();
    }
}

std::optional<std::string> OpenLine(IComPort& port, TComPortClass& link, const TReadOptions& read) {
    try {
        OpenWhenFree(port, std::chrono::seconds(read.WaitSeconds), read.Port);
        return std::nullopt;
    } catch (const EComPort& e) {
        link.ShowError(read.Devices.empty() ? 0 : read.Devices.front() - 1,
                       LinkCode::PortOpenFailed);
        Fail(read.Port + ": " + e.what());
        if (e.SystemError == EACCES)
            SayPermissionHint(read.Port);
        return read.Port + ": " + e.what();
    }
}

std::vector<TDeviceOutcome> ReadTargets(TComPortClass& link, TConsolePrompt& prompt,
                                        TConsoleView& view,
                                        const std::vector<TReadingTarget>& targets,
                                        const TReadOptions& read) {
    TLineHistory history(read);
    std::vector<TDeviceOutcome> outcomes;
    std::string lost; // why the port stopped serving
    for (const TReadingTarget& target : targets) {
        if (!lost.empty()) {
            TDeviceOutcome skipped;
            skipped.Device = target.Device;
            skipped.File = Absolute(target.File);
            skipped.Result = "not read: " + lost;
            outcomes.push_back(skipped);
            continue;
        }
        if (targets.size() > 1)
            view.SetDevice(target.Device);
        try {
            outcomes.push_back(ReadTarget(link, prompt, view, target));
            if (prompt.CloseRequested())
                lost = LinkText::PortLost;
        } catch (const std::exception& e) {
            // The serial driver gave up in the middle of a reading, or a stop signal came: the
            // file kept its content, and the port is gone for the devices after it.
            const std::string why = FailedBy(e);
            TDeviceOutcome failed;
            failed.Device = target.Device;
            failed.File = Absolute(target.File);
            failed.Code = -1;
            failed.Result = why;
            failed.Reading.Started = true; // begun, and failed
            failed.Reading.LinkResult = -1;
            outcomes.push_back(failed);
            lost = why;
        }
        history.Keep(outcomes.back());
        // A stop between two devices ends the line too.
        if (lost.empty() && StopSignal() != 0)
            lost = StoppedText;
    }
    return outcomes;
}

void SayHistory(const TReadOptions& read, const std::vector<TDeviceOutcome>& outcomes) {
    int added = 0;
    int written = 0;
    int failed = 0;
    for (const TDeviceOutcome& o : outcomes) {
        if (o.Ok && o.History.Written) {
            added += o.History.Added;
            ++written;
        }
        failed += o.History.Tried && !o.History.Written ? 1 : 0;
    }
    if ((written == 0 && failed == 0) || read.Json)
        return;
    const std::string where = read.History.empty() ? history::DefaultHistoryPath() : read.History;
    const char* name = history::IsServerLocation(where) ? "server" : where.c_str();
    if (written > 0)
        std::printf("history %s: %d new events\n", name, added);
    if (failed > 0)
        std::printf("history %s: not written for %d of %zu devices; the next good reading "
                    "brings their events\n",
                    name, failed, outcomes.size());
}

} // namespace kve17::ctl
