#include "history/HistoryConnection.h"

#include <iterator>

namespace kve17::history {

namespace {

struct TFaultText {
    THistoryFault Fault;
    std::string_view Text;   // each "%" stands for the next detail
    std::string_view Advice; // what to do; "" when the text says it
};

// Since the archive file is the history's buffer, what a failed write left out comes with the
// next good reading: the advice says so where waiting is the cure.
constexpr TFaultText FaultTexts[] = {
    {THistoryFault::OpenFailed, "не удается открыть базу истории %",
     "проверьте путь и права на папку"},
    {THistoryFault::Busy, "база истории % занята другой программой дольше % мс",
     "события будут записаны при следующем чтении; если это повторяется, закройте программу, "
     "которая держит базу"},
    {THistoryFault::DiskFull, "на диске нет места для базы истории %",
     "освободите место; события будут записаны при следующем чтении"},
    {THistoryFault::WriteFailed, "не удается записать базу истории %",
     "освободите место или дайте право записи; события будут записаны при следующем чтении"},
    {THistoryFault::FileError, "ошибка базы истории %", ""},
    {THistoryFault::Unreachable, "сервер базы истории недоступен: %",
     "проверьте адрес сервера, имя пользователя и пароль (~/.pgpass)"},
    {THistoryFault::ConnectionLost, "связь с сервером базы истории потеряна",
     "проверьте сеть и сервер; события будут записаны при следующем чтении"},
    {THistoryFault::ServerDiskFull, "на диске сервера базы истории нет места",
     "сообщите администратору сервера; события будут записаны при следующем чтении"},
    {THistoryFault::LockTimeout, "база истории на сервере занята другим сеансом дольше % мс",
     "события будут записаны при следующем чтении; если это повторяется, найдите сеанс, "
     "который держит блокировку (pg_stat_activity)"},
    {THistoryFault::StatementTimeout, "сервер базы истории не ответил за % мс",
     "события будут записаны при следующем чтении; проверьте нагрузку сервера"},
    {THistoryFault::ServerError, "ошибка сервера базы истории: %", ""},
    {THistoryFault::Stopped, "работа с базой истории остановлена сигналом",
     "события будут записаны при следующем чтении"},
    {THistoryFault::NewerSchema, "база истории записана более новой версией программы (версия %)",
     "обновите программу"},
    {THistoryFault::BadDate, "неверная дата % (нужна ГГГГ-ММ-ДД)", ""},
    {THistoryFault::EmptyName, "имя линии не может быть пустым", ""},
    {THistoryFault::NameTaken, "линия \"%\" уже есть в истории", "выберите другое имя"},
    {THistoryFault::UnknownLine, "линии \"%\" нет в истории", ""},
};

// Row n of the table is fault n.
constexpr bool InFaultOrder() {
    for (std::size_t i = 0; i < std::size(FaultTexts); ++i)
        if (static_cast<std::size_t>(FaultTexts[i].Fault) != i)
            return false;
    return std::size(FaultTexts) == static_cast<std::size_t>(THistoryFault::UnknownLine) + 1;
}
static_assert(InFaultOrder());

std::string FaultMessage(THistoryFault fault, const std::vector<std::string>& details) {
    const TFaultText& row = FaultTexts[static_cast<std::size_t>(fault)];
    std::string text(row.Text);
    std::size_t from = 0;
    for (const std::string& detail : details) {
        const auto at = text.find('%', from);
        if (at == std::string::npos)
            break;
        text.replace(at, 1, detail);
        from = at + detail.size();
    }
    if (!row.Advice.empty())
        text += "; " + std::string(row.Advice);
    return text;
}

} // namespace

EHistory::EHistory(THistoryFault fault, const std::vector<std::string>& details)
    : std::runtime_error(FaultMessage(fault, details)), fault_(fault) {}

std::vector<TRow> IHistoryConnection::Query(std::string_view sql, std::span<const TValue> params) {
    std::vector<TRow> rows;
    Stream(sql, params, [&rows](const TRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

bool IsServerLocation(std::string_view where) {
    return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

std::unique_ptr<IHistoryConnection> OpenSqliteConnection(const std::string& path,
                                                         const TConnectionOptions& options);
std::unique_ptr<IHistoryConnection> OpenPgConnection(const std::string& where,
                                                     const TConnectionOptions& options);

std::unique_ptr<IHistoryConnection> OpenHistoryConnection(const std::string& where,
                                                          const TConnectionOptions& options) {
    if (IsServerLocation(where))
        return OpenPgConnection(where, options);
    return OpenSqliteConnection(where, options);
}

} // namespace kve17::history
