#include "history/HistoryConnection.h"
#include "history/StopWait.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sqlite3.h>

namespace kve17::history {

namespace {

// SQLite numbers parameters with ?N; the history's statements are written with $N.
std::string SqliteParameters(std::string_view sql) {
    std::string text(sql);
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '$' && text[i + 1] >= '0' && text[i + 1] <= '9')
            text[i] = '?';
    return text;
}

// A busy wait looks for a stop this often; a long statement every so many steps.
constexpr std::chrono::milliseconds BusyStep{20};
constexpr int StepsBetweenStopChecks = 50000;

class TSqliteConnection final : public IHistoryConnection {
public:
    TSqliteConnection(const std::string& path, const TConnectionOptions& options)
        : path_(path), options_(options) {
        std::error_code ec;
        const auto folder = std::filesystem::path(path).parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder, ec);
        const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw EHistory(THistoryFault::OpenFailed, {path + ": " + reason});
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, &TSqliteConnection::BusyWait, this);
        if (options_.StopFd >= 0)
            sqlite3_progress_handler(db_, StepsBetweenStopChecks, &TSqliteConnection::Progress,
                                     this);
        // WAL lets the viewer read while a reading writes.
        Query("PRAGMA journal_mode=WAL", {});
        Execute("PRAGMA foreign_keys=ON", {});
        // A device's long history stays in memory between the viewer's queries, not read again
        // from the file for each; the cache only grows as pages are read.
        Execute("PRAGMA cache_size=-16384", {});
    }

    ~TSqliteConnection() override {
        for (auto& [sql, statement] : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    TDialect Dialect() const override { return TDialect::Sqlite; }

    void Execute(std::string_view sql, std::span<const TValue> params) override {
        Stream(sql, params, nullptr);
    }

    void Stream(std::string_view sql, std::span<const TValue> params,
                const TRowSink& sink) override {
        sqlite3_stmt* statement = Prepare(sql);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        Bind(statement, params);
        TRow row;
        for (;;) {
            const int rc = sqlite3_step(statement);
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_ROW)
                Fail(rc, statement);
            if (!sink)
                continue;
            ReadRow(statement, row);
            bool more = false;
            try {
                more = sink(row);
            } catch (...) {
                sqlite3_reset(statement);
                throw;
            }
            if (!more)
                break;
        }
        sqlite3_reset(statement);
    }

    void BeginWrite() override { Execute("BEGIN IMMEDIATE", {}); }
    void Commit() override { Execute("COMMIT", {}); }
    void Rollback() noexcept override {
        if (!sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }

private:
    sqlite3* db_ = nullptr;
    std::string path_;
    TConnectionOptions options_;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
    TClock::time_point busySince_;
    bool stopped_ = false;

    // Waits in short steps until the busy time-out, ending early on a stop.
    static int BusyWait(void* self, int count) {
        auto& c = *static_cast<TSqliteConnection*>(self);
        const auto now = TClock::now();
        if (count == 0)
            c.busySince_ = now;
        if (now - c.busySince_ >= c.options_.BusyTimeout)
            return 0;
        const auto until = std::min(now + BusyStep, c.busySince_ + c.options_.BusyTimeout);
        if (WaitReady(-1, 0, c.options_.StopFd, until) == TWaitResult::Stopped) {
            c.stopped_ = true;
            return 0;
        }
        return 1;
    }

    static int Progress(void* self) {
        auto& c = *static_cast<TSqliteConnection*>(self);
        c.stopped_ = c.stopped_ || StopRequested(c.options_.StopFd);
        return c.stopped_ ? 1 : 0;
    }

    // Reads the reason first: resetting `statement` afterwards may change it.
    [[noreturn]] void Fail(int rc, sqlite3_stmt* statement = nullptr) {
        const EHistory failure = Failure(rc);
        stopped_ = false;
        if (statement != nullptr)
            sqlite3_reset(statement);
        throw failure;
    }

    EHistory Failure(int rc) const {
        const int primary = rc & 0xFF;
        if (stopped_ || StopRequested(options_.StopFd))
            return EHistory(THistoryFault::Stopped);
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            return EHistory(THistoryFault::Busy,
                            {path_, std::to_string(options_.BusyTimeout.count())});
        // A file-size limit (EFBIG) is a full disk for this program.
        const int error = sqlite3_system_errno(db_);
        if (primary == SQLITE_FULL || error == ENOSPC || error == EFBIG)
            return EHistory(THistoryFault::DiskFull, {path_});
        // The write's errno is not always kept; a size limit of the process ends here too.
        if (rc == SQLITE_IOERR_WRITE)
            return EHistory(THistoryFault::WriteFailed,
                            {path_ + ": на диске нет места или запись запрещена"});
        if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM)
            return EHistory(THistoryFault::OpenFailed, {path_ + ": " + sqlite3_errmsg(db_)});
        return EHistory(THistoryFault::FileError, {path_ + ": " + sqlite3_errmsg(db_)});
    }

    sqlite3_stmt* Prepare(std::string_view sql) {
        if (const auto it = statements_.find(sql); it != statements_.end())
            return it->second;
        const std::string text = SqliteParameters(sql);
        sqlite3_stmt* statement = nullptr;
        const int rc = sqlite3_prepare_v2(db_, text.c_str(), -1, &statement, nullptr);
        if (rc != SQLITE_OK)
            Fail(rc);
        statements_.emplace(std::string(sql), statement);
        return statement;
    }

    void Bind(sqlite3_stmt* statement, std::span<const TValue> params) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i + 1);
            int rc = SQLITE_OK;
            if (const auto* n = std::get_if<std::int64_t>(&params[i]))
                rc = sqlite3_bind_int64(statement, at, *n);
            else if (const auto* s = std::get_if<std::string>(&params[i]))
                rc = sqlite3_bind_text(statement, at, s->data(), static_cast<int>(s->size()),
                                       SQLITE_TRANSIENT);
            else
                rc = sqlite3_bind_null(statement, at);
            if (rc != SQLITE_OK)
                Fail(rc);
        }
    }

    static void ReadRow(sqlite3_stmt* statement, TRow& row) {
        const int columns = sqlite3_column_count(statement);
        row.resize(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const auto* text = sqlite3_column_text(statement, c);
            auto& cell = row[static_cast<std::size_t>(c)];
            if (text == nullptr)
                cell.reset();
            else
                cell.emplace(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, c)));
        }
    }
};

} // namespace

std::unique_ptr<IHistoryConnection> OpenSqliteConnection(const std::string& path,
                                                         const TConnectionOptions& options) {
    return std::make_unique<TSqliteConnection>(path, options);
}

std::string DefaultHistoryPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data != nullptr && *data == '/')
        base = data;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::filesystem::path(home) / ".local/share";
    else
        base = ".";
    return (base / "kve17" / "history.sqlite").string();
}

} // namespace kve17::history
