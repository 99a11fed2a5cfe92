// kve17ctl show: the records of an archive file, as text, CSV or JSON.
#include "archive/ArchiveFile.h"
#include "archive/ArchiveOps.h"
#include "archive/RecordExport.h"
#include "archive/RecordTable.h"
#include "tools/cli/CommandLine.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/SubCommand.h"

#include <array>
#include <cstdio>
#include <iostream>

namespace kve17::ctl {

namespace {

struct TShowOptions {
    std::string File;
    TRecordFilter Filter;
    TCsvOptions Csv;
    bool Json = false;
};

void DeclareShow(CLI::App& app, TShowOptions& options) {
    DeclareFilter(app, options.Filter);
    DeclareCsv(app, options.Csv);
    cli::AddFlag(app, "--json",
                 "a JSON array of records: number, offset, date, time,\ncode, detail, invalid",
                 options.Json);
}

std::string AcceptShow(TShowOptions& options, const std::vector<std::string>& operands) {
    if (std::string fault = OneFile(operands, options.File); !fault.empty())
        return fault;
    return CsvFault(options.Csv, options.Json);
}

// The table's columns in fixed widths: "   1  21.03.24  20:33:20  3 (0x03)    208 (0xD0)".
std::string PlainLine(const std::array<std::string, ColumnCount>& texts) {
    char line[128];
    std::snprintf(line, sizeof line, "%4s  %-8s  %-8s  %-10s  %-10s  %s", texts[ColNumber].c_str(),
                  texts[ColDate].empty() ? "-" : texts[ColDate].c_str(),
                  texts[ColTime].empty() ? "-" : texts[ColTime].c_str(), texts[ColCode].c_str(),
                  texts[ColDetail].c_str(), texts[ColState].c_str());
    std::string text(line);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

int RunShow(const TShowOptions& options) {
    TArchiveImage image;
    TArchiveFile file;
    if (!file.Open(options.File, TOpenMode::ReadOnly, image)) {
        Say(stderr, OpenFailedText);
        return ExitFailed;
    }
    file.Close();
    const auto rows = ListRows(image);
    const auto shown = FilterRows(rows, options.Filter);
    TExportColumns columns;
    columns.Names = EventNames();
    const TEventDictionary* names = columns.Names;
    if (options.Json)
        WriteJson(std::cout, rows, shown, names);
    else if (options.Csv.Csv)
        WriteCsv(std::cout, rows, shown, options.Csv.Separator, columns);
    else
        for (int i : shown) {
            const TRecordRow& row = rows[static_cast<std::size_t>(i)];
            std::cout << PlainLine(RowTexts(row)) << EventNameText(names, row.Listed.Record.Code)
                      << '\n';
        }
    std::cout.flush();
    if (!std::cout)
        return ExitFailed;
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFailed;
}

} // namespace

extern const TSubCommand ShowCommand = {
    .Name = "show",
    .Synopsis = "show FILE [OPTIONS]",
    .Summary = "list the stored records, newest first",
    .Usage = "show FILE [OPTIONS]",
    .About = "Lists the records of an archive file from the newest to the oldest, up to the\n"
             "end markers, with the columns of the viewer: number, date, time, code and\n"
             "detail (decimal and hex), and \"недостоверна\" for a record marked invalid.\n"
             "Slots never written are left out. Two-digit years are taken as 2001 to 2099.\n",
    .Footer = "A date bound leaves out records without a readable date.\n",
    .Make = TCommandLine<TShowOptions, DeclareShow, AcceptShow, RunShow>::Make,
};

} // namespace kve17::ctl
