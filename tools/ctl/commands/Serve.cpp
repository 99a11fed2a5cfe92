// serve: the collection server that cellular modems call.
#include "serial/StopSignals.h"
#include "serve/ModemServer.h"
#include "serve/SystemdNotify.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CollectConfig.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlLine.h"
#include "tools/ctl/LineReport.h"
#include "tools/ctl/SubCommand.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace kve17::ctl {

namespace {

struct TServeOptions {
    TCollectOptions Collect;
    std::vector<std::string> Listen;
    bool Status = false;
    serve::ServerLimits Limits;
};

void DeclareServe(CLI::App& app, TServeOptions& options) {
    cli::AddValue(app, "--config", "FILE", "the lines, their modems, devices and folders",
                  [&](std::string_view v) {
                      if (v.empty())
                          Refuse("--config needs a file");
                      options.Collect.Config = v;
                  });
    cli::AddValue(app, "--listen", "[HOST:]PORT",
                  "listen here instead of the configuration's listen =\n(may be repeated)",
                  [&](std::string_view v) {
                      if (!serve::ParseListen(v))
                          Refuse("--listen must be [HOST:]PORT");
                      options.Listen.emplace_back(v);
                  });
    cli::AddFlag(app, "--status", "show the status a running server keeps, and end",
                 options.Status);
    DeclareHistoryPlace(app,
                        "the event history: a file, or postgresql://... (default:\n"
                        "the configuration's, else $XDG_DATA_HOME/kve17/history.sqlite)",
                        options.Collect.Read.History);
    cli::AddFlag(app, "--no-history", "keep no history of the readings",
                 options.Collect.Read.NoHistory);
    cli::AddValue(app, "--id-timeout", "SECONDS",
                  "close a connection that sends no modem ID within\nSECONDS (default 30)",
                  [&](std::string_view v) {
                      options.Limits.IdentifyTimeout = std::chrono::seconds(NumberIn(
                          v, 1, 3600, "--id-timeout must be a number of seconds from 1 to 3600"));
                  });
    cli::AddValue(app, "--max-connections", "N", "connections taken at once (default 1000)",
                  [&](std::string_view v) {
                      options.Limits.MaxConnections = static_cast<std::size_t>(NumberIn(
                          v, 1, 100000, "--max-connections must be a number from 1 to 100000"));
                  });
    cli::AddValue(app, "--max-unidentified", "N",
                  "connections taken before they sent their ID (default\n100)",
                  [&](std::string_view v) {
                      options.Limits.MaxUnidentified = static_cast<std::size_t>(NumberIn(
                          v, 1, 100000, "--max-unidentified must be a number from 1 to 100000"));
                  });
}

std::string AcceptServe(TServeOptions& options, const std::vector<std::string>& operands) {
    if (std::string fault = NoOperand(operands); !fault.empty())
        return fault;
    if (options.Collect.Config.empty())
        return "--config is required";
    return "";
}

class TSay : public serve::ILog {
public:
    void Say(std::string_view line) override {
        const std::lock_guard lock(Mutex);
        Fail(line);
    }
    std::mutex Mutex; // one writer at a time on stdout and stderr
};

// Each modem's line as `collect` reads a line, its table on stdout when it is done.
class TModemReader : public serve::ILineReader {
public:
    TModemReader(const std::vector<TCollectLine>& lines, TSay& say) : lines_(lines), say_(say) {}

    serve::ReadOutcome Read(std::size_t site, std::unique_ptr<IByteLine> line) override {
        const TCollectLine& config = lines_[site];
        const TLineReading reading = ReadWholeLine(config.Options, std::move(line));
        int read = 0;
        for (const TDeviceOutcome& o : reading.Outcomes)
            read += o.Ok ? 1 : 0;
        {
            const std::lock_guard lock(say_.Mutex);
            std::printf("line %s on modem %s\n", config.Name.c_str(), config.Modem.Id.c_str());
            if (reading.Error.empty())
                PrintReadingTable(reading.Outcomes);
            else
                std::printf("not read: %s\n", reading.Error.c_str());
            SayHistory(config.Options.Read, reading.Outcomes);
            std::fflush(stdout);
        }
        serve::ReadOutcome out;
        // Files saved but the history not written is no success either: the next reading
        // gives the history what the files hold.
        const bool history = AllHistoryWritten(reading.Outcomes);
        out.Ok = reading.Error.empty() && AllOk(reading.Outcomes) && history;
        out.Result = !reading.Error.empty()
                         ? "not read: " + reading.Error
                         : std::to_string(read) + " of " + std::to_string(reading.Outcomes.size()) +
                               " devices read" + (history ? "" : "; the history was not written");
        if (!out.Ok && reading.Error.empty())
            for (const TDeviceOutcome& o : reading.Outcomes)
                if (!o.Ok) {
                    out.Result += "; device " + std::to_string(o.Device) + ": " + o.Result;
                    break;
                }
        return out;
    }

private:
    const std::vector<TCollectLine>& lines_;
    TSay& say_;
};

std::vector<serve::ModemSite> SitesOf(const std::vector<TCollectLine>& lines) {
    std::vector<serve::ModemSite> sites;
    for (const TCollectLine& line : lines) {
        serve::ModemSite site;
        site.Name = line.Name;
        site.Modem.Id = *serve::ParseModemBytes(line.Modem.Id);
        site.Modem.Mode =
            line.Modem.IdMode == "each-packet" ? serve::IdMode::EachPacket : serve::IdMode::Once;
        if (!line.Modem.Heartbeat.empty())
            site.Modem.Heartbeat = *serve::ParseModemBytes(line.Modem.Heartbeat);
        site.Every = *serve::ParseEvery(line.Modem.Every);
        sites.push_back(std::move(site));
    }
    return sites;
}

std::string Shown(const nlohmann::json& value) {
    return value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : value.dump();
}

// The status file as a table: each modem, then the IDs turned away.
int PrintStatus(const std::string& file) {
    std::ifstream in(file);
    nlohmann::json status = nlohmann::json::parse(in, nullptr, false);
    if (!in.is_open() || status.is_discarded()) {
        Fail(file + ": no status (is the server running with this configuration?)");
        return ExitFailed;
    }
    std::printf("updated %s, %s connections, %s without an ID yet\n",
                Shown(status["updated"]).c_str(), Shown(status["connections"]).c_str(),
                Shown(status["unidentified"]).c_str());
    for (const auto& m : status["modems"]) {
        std::printf("\nline %s, modem %s: %s\n", Shown(m["line"]).c_str(),
                    Shown(m["modem"]).c_str(),
                    m["connected"].get<bool>() ? ("connected from " + Shown(m["peer"])).c_str()
                                               : "not connected");
        std::printf("  connected since  %s\n", Shown(m["connected_since"]).c_str());
        std::printf("  identified       %s\n", Shown(m["identified"]).c_str());
        std::printf("  last reading     %s  %s\n", Shown(m["last_reading"]).c_str(),
                    Shown(m["last_result"]).c_str());
        std::printf("  next reading     %s\n",
                    m["reading"].get<bool>() ? "under way" : Shown(m["next_reading"]).c_str());
    }
    if (!status["unknown"].empty())
        std::printf("\nunknown modem IDs (add them to the configuration):\n");
    for (const auto& u : status["unknown"])
        std::printf("  %s from %s, last %s, %s calls\n", Shown(u["modem"]).c_str(),
                    Shown(u["peer"]).c_str(), Shown(u["last"]).c_str(), Shown(u["calls"]).c_str());
    return ExitOk;
}

int RunServe(const TServeOptions& options) {
    std::string error;
    const auto config = LoadServeConfig(options.Collect, error);
    if (!config) {
        Fail(error);
        return ExitUsage;
    }
    if (options.Status) {
        if (config->Status.empty()) {
            Fail("the configuration names no status file (status = FILE, or a dir before the "
                 "first line)");
            return ExitUsage;
        }
        return PrintStatus(config->Status);
    }
    std::vector<serve::ListenAddress> listen;
    for (const std::string& a : options.Listen.empty() ? config->Listen : options.Listen)
        listen.push_back(*serve::ParseListen(a));
    if (listen.empty()) {
        Fail("nowhere to listen: give listen = [HOST:]PORT before the first line, or --listen");
        return ExitUsage;
    }
    if (!config->Status.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(config->Status).parent_path(),
                                            ec);
    }
    TSay say;
    TModemReader reader(config->Lines, say);
    serve::SystemClock clock;
    serve::SystemdNotify notify;
    try {
        serve::ModemServer server(SitesOf(config->Lines), listen, options.Limits,
                                  {reader, say, clock, notify}, config->Status);
        server.Run();
    } catch (const std::exception& e) {
        Fail(e.what());
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

extern const TSubCommand ServeCommand = {
    .Name = "serve",
    .Synopsis = "serve --config FILE",
    .Summary = "a collection server that cellular modems call",
    .Usage = "serve --config FILE [--listen [HOST:]PORT]... [OPTIONS]\n"
             "   or: kve17ctl serve --config FILE --status",
    .About = "Listens for cellular modems in TCP client mode. Each line of the configuration\n"
             "FILE names its modem (modem = ID) instead of a port; a modem that calls and sends\n"
             "its ID has its devices read as collect reads a line, into their archive files\n"
             "and the history, at once and then on the line's schedule (every = 1h) while it\n"
             "stays connected. Unknown IDs are logged and listed by --status. Runs until\n"
             "SIGTERM or SIGINT; readings under way end as a stopped reading does.\n",
    .Footer = "Exit status 0 after a stop, 1 when it cannot listen, 2 when the configuration\n"
              "is wrong. --status: 1 when no server has written a status.\n",
    .Make = TCommandLine<TServeOptions, DeclareServe, AcceptServe, RunServe>::Make,
};

} // namespace kve17::ctl
