#include "tools/ctl/CtlCommands.h"

#include "archive/ArchiveFile.h"
#include "archive/ArchiveListing.h"
#include "archive/ArchiveOps.h"
#include "history/HistoryConnection.h"
#include "history/ReadingHistory.h"
#include "link/Comportclass.h"
#include "link/LinkCodes.h"
#include "serial/ComPort1Settings.h"
#include "serial/Comport.h"
#include "serial/EComPort.h"
#include "serial/PortDirectory.h"
#include "serial/PortTarget.h"
#include "serial/StopSignals.h"
#include "tools/ctl/ConsolePrompt.h"
#include "tools/ctl/ConsoleView.h"
#include "tools/ctl/TraceComPort.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <unistd.h>

namespace kve17::ctl {

namespace {

void Say(std::FILE* out, std::string_view text) {
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void Fail(std::string_view text) {
    Say(stderr, std::string("kve17ctl: ") + std::string(text));
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

TParityBits ParityOf(char letter) {
    return letter == 'O' ? prOdd : letter == 'E' ? prEven : prNone;
}

// The port as the program's start leaves it, then the line the command line asks for.
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

const char* ModeName(TReadingMode mode) {
    return mode == TReadingMode::Fresh ? "fresh" : "incremental";
}

int ListedRecords(const std::string& path) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(path, TOpenMode::ReadOnly, image))
        return 0;
    return static_cast<int>(ListArchive(image).size());
}

// The reading succeeded whatever happens here: a history failure is said once, on stderr.
void KeepHistory(const TReadOptions& read, const std::string& file, const TReadingResult& result) {
    if (read.NoHistory)
        return;
    const std::string where = read.History.empty() ? history::DefaultHistoryPath() : read.History;
    const auto outcome =
        history::AppendToHistory(where, {read.Line, read.Port, read.Device, file}, result);
    if (!outcome.Written) {
        Fail(outcome.Message);
        return;
    }
    std::printf("history %s: %d new events\n",
                history::IsServerLocation(where) ? "server" : where.c_str(), outcome.Added);
}

int ReadOver(IComPort& port, const TCtlOptions& options, TConsolePrompt& prompt) {
    const TReadOptions& read = options.Read;
    const int deviceIndex = read.Device - 1;
    TComPortClass link(port, prompt);
    ConfigureLink(link, read);
    try {
        port.Open();
    } catch (const EComPort& e) {
        link.ShowError(deviceIndex, LinkCode::PortOpenFailed);
        Fail(read.Port + ": " + e.what());
        return ExitFailed;
    }
    const bool terminal = !read.Trace && ::isatty(STDERR_FILENO) == 1;
    TConsoleView view(stderr, terminal);
    const TReadingResult result = ReadArchiveFile(options.File, deviceIndex, link, prompt, view);
    link.ClosePort();
    if (!result.Started || !result.Saved || result.LinkResult != LinkCode::Ok ||
        prompt.CloseRequested())
        return ExitFailed;
    const int merged =
        result.Mode == TReadingMode::Fresh ? result.StoredRecords : result.MergedRecords;
    std::printf("%s reading of device %d: %d records stored, %d new records merged\n",
                ModeName(result.Mode), read.Device, ListedRecords(options.File), merged);
    KeepHistory(read, Absolute(options.File), result);
    return ExitOk;
}

} // namespace

int RunPorts() {
    try {
        for (const TPortEntry& entry : TPortDirectory().List())
            std::printf("%s\t%s\n", entry.Name.c_str(), entry.Device.c_str());
    } catch (const std::exception& e) {
        Fail(e.what());
        return ExitFailed;
    }
    return ExitOk;
}

int RunCreate(const TCtlOptions& options) {
    const auto name = NormalizeArchiveName(options.File);
    if (!name) {
        Say(stderr, "Неверно задано имя файла");
        return ExitFailed;
    }
    switch (CreateFreshFile(*name, options.Force)) {
    case TCreateFileResult::Created:
        Say(stdout, "Создан файл архива " + Absolute(*name));
        return ExitOk;
    case TCreateFileResult::Exists:
        Say(stderr, "Файл с таким именем существует.");
        Fail("--force creates it anew");
        return ExitFailed;
    case TCreateFileResult::Failed:
        break;
    }
    Say(stderr, "Файл архива не удается создать");
    return ExitFailed;
}

int RunRead(const TCtlOptions& options) {
    TConsolePrompt prompt;
    try {
        TComPort port;
        ConfigurePort(port, options.Read);
        if (!options.Read.Trace)
            return ReadOver(port, options, prompt);
        TTraceComPort trace(port, stderr);
        return ReadOver(trace, options, prompt);
    } catch (const std::exception& e) {
        // The serial driver gave up in the middle of a reading, or a stop signal came: the file
        // kept its content, and the port is closed by now.
        Fail(StopSignal() != 0 ? "reading stopped; the archive file is unchanged" : e.what());
        return ExitFailed;
    }
}

int RunShow(const TCtlOptions& options) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(options.File, TOpenMode::ReadOnly, image)) {
        Say(stderr, OpenFailedText);
        return ExitFailed;
    }
    file.Close();
    const auto records = ListArchive(image);
    if (options.Csv)
        std::printf("n,offset,time,code,detail,invalid\n");
    int n = 0;
    for (const TListedRecord& r : records) {
        const std::string time = RecordTimeString(r.Record);
        if (options.Csv)
            std::printf("%d,%d,%s,%d,%d,%d\n", ++n, r.Offset, time.c_str(), r.Record.Code,
                        r.Record.Detail, r.Invalid ? 1 : 0);
        else
            std::printf("%4d  %-17s  code %3d  detail %3d%s\n", ++n,
                        time.empty() ? "-" : time.c_str(), r.Record.Code, r.Record.Detail,
                        r.Invalid ? "  invalid" : "");
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFailed;
}

} // namespace kve17::ctl
