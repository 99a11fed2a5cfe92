#include "history/HistoryConnection.h"
#include "history/StopWait.h"

#include <libpq-fe.h>
#include <map>
#include <poll.h>

namespace kve17::history {

namespace {

// Deleted with the unique_ptr: every result is cleared on every path.
struct TResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

constexpr int DefaultConnectSeconds = 5;
// How long a cancelled query may take to give its answer back before the connection is dropped.
constexpr std::chrono::milliseconds CancelGrace{500};

// Connection settings put before the caller's string, which wins where it says otherwise.
constexpr const char* DefaultKeys[] = {
    "connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
    "dbname",          nullptr};

std::string FirstLine(const char* text) {
    std::string s = text ? text : "";
    if (const auto end = s.find('\n'); end != std::string::npos)
        s.resize(end);
    return s;
}

// The connect_timeout the connection ended up with, as libpq leaves its enforcement to a caller
// that connects without blocking.
std::chrono::seconds ConnectTimeout(PGconn* conn) {
    PQconninfoOption* options = PQconninfo(conn);
    int seconds = DefaultConnectSeconds;
    for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o)
        if (std::string_view(o->keyword) == "connect_timeout" && o->val != nullptr)
            seconds = std::atoi(o->val);
    PQconninfoFree(options);
    return std::chrono::seconds(seconds > 0 ? seconds : DefaultConnectSeconds);
}

class TPgConnection final : public IHistoryConnection {
public:
    TPgConnection(const std::string& where, const TConnectionOptions& options) : options_(options) {
        const std::string connect = std::to_string(DefaultConnectSeconds);
        const char* values[] = {connect.c_str(), "1", "30", "10", "3", where.c_str(), nullptr};
        conn_ = PQconnectStartParams(DefaultKeys, values, 1);
        if (conn_ == nullptr)
            throw EHistory(THistoryFault::Unreachable, {"нет памяти"});
        try {
            Connect();
        } catch (...) {
            PQfinish(conn_);
            throw;
        }
        PQsetClientEncoding(conn_, "UTF8");
        // "already exists, skipping" and the like are not the operator's business.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }

    ~TPgConnection() override { PQfinish(conn_); }

    TDialect Dialect() const override { return TDialect::Postgres; }

    void Execute(std::string_view sql, std::span<const TValue> params) override {
        Stream(sql, params, nullptr);
    }

    void Stream(std::string_view sql, std::span<const TValue> params,
                const TRowSink& sink) override {
        Send(sql, params);
        if (sink && !PQsetSingleRowMode(conn_))
            Fail(nullptr);
        std::optional<EHistory> failure;
        TRow row;
        bool more = true;
        while (TResult result = Next()) {
            const auto status = PQresultStatus(result.get());
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK &&
                status != PGRES_SINGLE_TUPLE) {
                if (!failure)
                    failure = Failure(result.get());
                continue;
            }
            if (!sink || !more || status != PGRES_SINGLE_TUPLE)
                continue;
            ReadRow(result.get(), row);
            try {
                more = sink(row);
            } catch (...) {
                Abandon();
                throw;
            }
            if (!more)
                Cancel(); // the rest of the rows are not wanted: their error is not one
        }
        if (failure && more)
            throw *failure;
    }

    void BeginWrite() override {
        Execute("BEGIN", {});
        // Bounded for the transaction alone: a listing may take as long as it needs.
        Execute("SET LOCAL lock_timeout = " + std::to_string(options_.BusyTimeout.count()), {});
        Execute("SET LOCAL statement_timeout = " +
                    std::to_string(options_.StatementTimeout.count()),
                {});
    }
    void Commit() override { Execute("COMMIT", {}); }
    void Rollback() noexcept override {
        if (PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) == PQTRANS_IDLE)
            return;
        // Even after a stop: a short wait for the server's answer, then the connection goes.
        if (!PQsendQuery(conn_, "ROLLBACK")) {
            Drop();
            return;
        }
        Drain(TClock::now() + CancelGrace);
    }

private:
    PGconn* conn_ = nullptr;
    TConnectionOptions options_;
    std::map<std::string, std::string, std::less<>> statements_; // text → prepared name
    bool stopped_ = false;
    bool timedOut_ = false;

    void Connect() {
        const auto deadline = TClock::now() + ConnectTimeout(conn_);
        PostgresPollingStatusType state = PGRES_POLLING_WRITING;
        while (state != PGRES_POLLING_OK) {
            if (state == PGRES_POLLING_FAILED || PQstatus(conn_) == CONNECTION_BAD)
                throw EHistory(THistoryFault::Unreachable, {FirstLine(PQerrorMessage(conn_))});
            const short events = state == PGRES_POLLING_READING ? POLLIN : POLLOUT;
            switch (WaitReady(PQsocket(conn_), events, options_.StopFd, deadline)) {
            case TWaitResult::Stopped:
                throw EHistory(THistoryFault::Stopped);
            case TWaitResult::TimedOut:
                throw EHistory(
                    THistoryFault::Unreachable,
                    {"нет ответа за " + std::to_string(ConnectTimeout(conn_).count()) + " с"});
            case TWaitResult::Ready:
                break;
            }
            state = PQconnectPoll(conn_);
        }
    }

    // The statement sent, prepared on its first use.
    void Send(std::string_view sql, std::span<const TValue> params) {
        if (stopped_ || StopRequested(options_.StopFd))
            throw EHistory(THistoryFault::Stopped);
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
        if (!PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(params.size()),
                                 values.data(), nullptr, nullptr, 0))
            Fail(nullptr);
    }

    const std::string& Prepare(std::string_view sql) {
        if (const auto it = statements_.find(sql); it != statements_.end())
            return it->second;
        std::string name = "kve17_" + std::to_string(statements_.size());
        if (!PQsendPrepare(conn_, name.c_str(), std::string(sql).c_str(), 0, nullptr))
            Fail(nullptr);
        std::optional<EHistory> failure;
        while (TResult result = Next())
            if (PQresultStatus(result.get()) != PGRES_COMMAND_OK && !failure)
                failure = Failure(result.get());
        if (failure)
            throw *failure;
        return statements_.emplace(std::string(sql), std::move(name)).first->second;
    }

    // The next result of the statement under way, nothing after its last. Waits for the
    // server without a deadline of its own (the server's time-outs and the keep-alives bound
    // it); a stop cancels the statement.
    TResult Next() {
        while (PQisBusy(conn_)) {
            const auto waited = WaitReady(PQsocket(conn_), POLLIN, options_.StopFd, std::nullopt);
            if (waited == TWaitResult::Stopped) {
                stopped_ = true;
                Abandon();
                throw EHistory(THistoryFault::Stopped);
            }
            if (!PQconsumeInput(conn_))
                Fail(nullptr);
        }
        return TResult(PQgetResult(conn_));
    }

    // Asks the server to end the statement under way.
    void Cancel() {
        if (PGcancel* cancel = PQgetCancel(conn_)) {
            char reason[256];
            PQcancel(cancel, reason, sizeof reason);
            PQfreeCancel(cancel);
        }
    }

    // Cancels the statement and waits a little for its end; a connection that does not answer
    // is dropped, so that no later call waits on it.
    void Abandon() noexcept {
        Cancel();
        Drain(TClock::now() + CancelGrace);
    }

    void Drain(TClock::time_point deadline) noexcept {
        for (;;) {
            while (!PQisBusy(conn_)) {
                PGresult* result = PQgetResult(conn_);
                if (result == nullptr)
                    return;
                PQclear(result);
            }
            if (WaitReady(PQsocket(conn_), POLLIN, -1, deadline) != TWaitResult::Ready ||
                !PQconsumeInput(conn_)) {
                Drop();
                return;
            }
        }
    }

    // libpq takes a null connection everywhere as a bad one.
    void Drop() noexcept {
        PQfinish(conn_);
        conn_ = nullptr;
    }

    [[noreturn]] void Fail(const PGresult* result) { throw Failure(result); }

    EHistory Failure(const PGresult* result) const {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        if (stopped_)
            return EHistory(THistoryFault::Stopped);
        if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK || code.starts_with("08") ||
            code == "57P01")
            return EHistory(THistoryFault::ConnectionLost);
        if (code == "53100")
            return EHistory(THistoryFault::ServerDiskFull);
        if (code == "55P03")
            return EHistory(THistoryFault::LockTimeout,
                            {std::to_string(options_.BusyTimeout.count())});
        if (code == "57014")
            return EHistory(THistoryFault::StatementTimeout,
                            {std::to_string(options_.StatementTimeout.count())});
        return EHistory(THistoryFault::ServerError,
                        {FirstLine(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_))});
    }

    static void ReadRow(const PGresult* result, TRow& row) {
        const int columns = PQnfields(result);
        row.resize(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            auto& cell = row[static_cast<std::size_t>(c)];
            if (PQgetisnull(result, 0, c))
                cell.reset();
            else
                cell.emplace(PQgetvalue(result, 0, c),
                             static_cast<std::size_t>(PQgetlength(result, 0, c)));
        }
    }
};

} // namespace

std::unique_ptr<IHistoryConnection> OpenPgConnection(const std::string& where,
                                                     const TConnectionOptions& options) {
    return std::make_unique<TPgConnection>(where, options);
}

} // namespace kve17::history
