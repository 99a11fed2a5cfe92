#include "tools/ctl/LineReport.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace kve17::ctl {

bool AllOk(const std::vector<TDeviceOutcome>& outcomes) {
    return std::all_of(outcomes.begin(), outcomes.end(),
                       [](const TDeviceOutcome& o) { return o.Ok; });
}

bool AllHistoryWritten(const std::vector<TDeviceOutcome>& outcomes) {
    return std::none_of(outcomes.begin(), outcomes.end(), [](const TDeviceOutcome& o) {
        return o.History.Tried && !o.History.Written;
    });
}

namespace {

// What the history made of a reading; null when none was tried (no history, or no reading).
nlohmann::json HistoryJson(const history::THistoryOutcome& h) {
    if (!h.Tried)
        return nullptr;
    return {{"written", h.Written},
            {"reason", h.Written ? nlohmann::json() : nlohmann::json(h.Message)},
            {"added", h.Added},
            {"gap", h.Gap},
            {"warning", h.Warning}};
}

nlohmann::json ReadingJson(const TDeviceOutcome& o) {
    return {{"device", o.Device},
            {"file", o.File},
            {"ok", o.Ok},
            {"started", o.Started},
            {"mode", o.Started ? nlohmann::json(ModeName(o.Mode)) : nlohmann::json()},
            {"records_new", o.NewRecords},
            {"records_stored", o.StoredRecords},
            {"code", o.Code},
            {"failed_block", o.FailedBlock},
            {"result", o.Result},
            {"history", HistoryJson(o.History)}};
}

nlohmann::json ScanJson(const TDeviceOutcome& o) {
    return {{"device", o.Device},
            {"answers", o.Started},
            {"ok", o.Ok},
            {"code", o.Code},
            {"result", o.Result}};
}

} // namespace

const char* ModeName(TReadingMode mode) {
    return mode == TReadingMode::Fresh ? "fresh" : "incremental";
}

void PrintReadingTable(const std::vector<TDeviceOutcome>& outcomes) {
    std::printf("device  mode         new  result\n");
    int read = 0;
    for (const TDeviceOutcome& o : outcomes) {
        std::printf("%6d  %-11s  %4d  %s\n", o.Device, o.Started ? ModeName(o.Mode) : "-",
                    o.NewRecords, o.Result.c_str());
        read += o.Ok ? 1 : 0;
    }
    std::printf("%d of %zu devices read\n", read, outcomes.size());
}

void PrintScan(const std::vector<TDeviceOutcome>& outcomes, const TReadOptions& read) {
    int answering = 0;
    for (const TDeviceOutcome& o : outcomes) {
        if (o.Ok)
            std::printf("device %d answers\n", o.Device);
        else if (o.Started)
            std::printf("device %d answers with a fault: %s\n", o.Device, o.Result.c_str());
        answering += o.Started ? 1 : 0;
    }
    std::printf("%d of %zu addresses answer on %s at %d baud\n", answering, outcomes.size(),
                read.Port.c_str(), read.Baud);
}

nlohmann::json SummaryJson(TLineJob command, const TReadOptions& read,
                           const std::vector<TDeviceOutcome>& outcomes, const std::string& error) {
    nlohmann::json devices = nlohmann::json::array();
    for (const TDeviceOutcome& o : outcomes)
        devices.push_back(command == TLineJob::Scan ? ScanJson(o) : ReadingJson(o));
    nlohmann::json summary = {
        {"command", command == TLineJob::Scan ? "scan" : "read"},
        {"port", read.Port},
        {"baud", read.Baud},
        {"parity", std::string(1, read.Parity)},
        {"stop", read.Stop},
        {"ok", error.empty() &&
                   (command == TLineJob::Scan || (AllOk(outcomes) && AllHistoryWritten(outcomes)))},
        {"devices", devices},
    };
    if (!error.empty())
        summary["error"] = error;
    if (command == TLineJob::Scan) {
        nlohmann::json answering = nlohmann::json::array();
        for (const TDeviceOutcome& o : outcomes)
            if (o.Started)
                answering.push_back(o.Device);
        summary["answering"] = answering;
    }
    return summary;
}

void PrintJson(TLineJob command, const TReadOptions& read,
               const std::vector<TDeviceOutcome>& outcomes, const std::string& error) {
    PrintJsonValue(SummaryJson(command, read, outcomes, error));
}

void PrintJsonValue(const nlohmann::json& value) {
    // Texts from a device or a file name may hold any byte: never abort on one.
    const std::string text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
}

} // namespace kve17::ctl
