#include "history/HistoryConnection.h"

#include <libpq-fe.h>
#include <map>

namespace kve17::history {

namespace {

// Deleted with the unique_ptr: every result is cleared on every path.
struct TResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

std::string FirstLine(const char* text) {
    std::string s = text ? text : "";
    if (const auto end = s.find('\n'); end != std::string::npos)
        s.resize(end);
    return s;
}

class TPgConnection final : public IHistoryConnection {
public:
    explicit TPgConnection(const std::string& where) {
        // A given connect_timeout wins: the connection string comes after the default.
        const char* keys[] = {"connect_timeout", "dbname", nullptr};
        const char* values[] = {"10", where.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
            const std::string reason = FirstLine(conn_ ? PQerrorMessage(conn_) : "no memory");
            PQfinish(conn_);
            throw EHistory("сервер базы истории недоступен: " + reason);
        }
        PQsetClientEncoding(conn_, "UTF8");
        // "already exists, skipping" and the like are not the operator's business.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }

    ~TPgConnection() override { PQfinish(conn_); }

    TDialect Dialect() const override { return TDialect::Postgres; }

    void Execute(std::string_view sql, std::span<const TValue> params) override {
        Run(sql, params);
    }

    std::vector<TRow> Query(std::string_view sql, std::span<const TValue> params) override {
        const TResult result = Run(sql, params);
        std::vector<TRow> rows;
        const int count = PQntuples(result.get());
        const int columns = PQnfields(result.get());
        rows.reserve(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            TRow& row = rows.emplace_back();
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result.get(), r, c))
                    row.emplace_back();
                else
                    row.emplace_back(
                        std::string(PQgetvalue(result.get(), r, c),
                                    static_cast<std::size_t>(PQgetlength(result.get(), r, c))));
            }
        }
        return rows;
    }

    void BeginWrite() override { Execute("BEGIN", {}); }
    void Commit() override { Execute("COMMIT", {}); }
    void Rollback() noexcept override {
        if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE)
            PQclear(PQexec(conn_, "ROLLBACK"));
    }

private:
    PGconn* conn_ = nullptr;
    std::map<std::string, std::string, std::less<>> statements_; // text → prepared name

    [[noreturn]] void Fail(const PGresult* result) const {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        if (PQstatus(conn_) != CONNECTION_OK || code.starts_with("08") || code == "57P01")
            throw EHistory("связь с сервером базы истории потеряна");
        if (code == "53100")
            throw EHistory("на диске сервера базы истории нет места");
        throw EHistory("ошибка сервера базы истории: " +
                       FirstLine(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_)));
    }

    const std::string& Prepare(std::string_view sql) {
        if (const auto it = statements_.find(sql); it != statements_.end())
            return it->second;
        std::string name = "kve17_" + std::to_string(statements_.size());
        const TResult result(PQprepare(conn_, name.c_str(), std::string(sql).c_str(), 0, nullptr));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
            Fail(result.get());
        return statements_.emplace(std::string(sql), std::move(name)).first->second;
    }

    TResult Run(std::string_view sql, std::span<const TValue> params) {
        const std::string& name = Prepare(sql);
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (const auto* n = std::get_if<std::int64_t>(&params[i]))
                texts[i] = std::to_string(*n);
            else if (const auto* s = std::get_if<std::string>(&params[i]))
                texts[i] = *s;
            else
                continue;
            values[i] = texts[i].c_str();
        }
        TResult result(PQexecPrepared(conn_, name.c_str(), static_cast<int>(params.size()),
                                      values.data(), nullptr, nullptr, 0));
        const auto status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            Fail(result.get());
        return result;
    }
};

} // namespace

std::unique_ptr<IHistoryConnection> OpenSqliteConnection(const std::string& path,
                                                         std::chrono::milliseconds busyTimeout);

bool IsServerLocation(std::string_view where) {
    return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

std::unique_ptr<IHistoryConnection> OpenHistoryConnection(const std::string& where,
                                                          std::chrono::milliseconds busyTimeout) {
    if (IsServerLocation(where))
        return std::make_unique<TPgConnection>(where);
    return OpenSqliteConnection(where, busyTimeout);
}

} // namespace kve17::history
