#include "history/HistoryConnection.h"

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

class TSqliteConnection final : public IHistoryConnection {
public:
    TSqliteConnection(const std::string& path, std::chrono::milliseconds busyTimeout)
        : path_(path), busyTimeout_(busyTimeout) {
        std::error_code ec;
        const auto folder = std::filesystem::path(path).parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder, ec);
        const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw EHistory("не удается открыть базу истории " + path + ": " + reason);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, static_cast<int>(busyTimeout.count()));
        // WAL lets the viewer read while a reading writes.
        Query("PRAGMA journal_mode=WAL", {});
        Execute("PRAGMA foreign_keys=ON", {});
    }

    ~TSqliteConnection() override {
        for (auto& [sql, statement] : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    TDialect Dialect() const override { return TDialect::Sqlite; }

    void Execute(std::string_view sql, std::span<const TValue> params) override {
        Run(sql, params, nullptr);
    }

    std::vector<TRow> Query(std::string_view sql, std::span<const TValue> params) override {
        std::vector<TRow> rows;
        Run(sql, params, &rows);
        return rows;
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
    std::chrono::milliseconds busyTimeout_;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;

    // Reads the reason first: resetting `statement` afterwards may change it.
    [[noreturn]] void Fail(int rc, sqlite3_stmt* statement = nullptr) const {
        const std::string reason = Reason(rc);
        if (statement != nullptr)
            sqlite3_reset(statement);
        throw EHistory(reason);
    }

    std::string Reason(int rc) const {
        const int primary = rc & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            return "база истории " + path_ + " занята другой программой дольше " +
                   std::to_string(busyTimeout_.count()) + " мс";
        // A file-size limit (EFBIG) is a full disk for this program.
        const int error = sqlite3_system_errno(db_);
        if (primary == SQLITE_FULL || error == ENOSPC || error == EFBIG)
            return "на диске нет места для базы истории " + path_;
        // The write's errno is not always kept; a size limit of the process ends here too.
        if (rc == SQLITE_IOERR_WRITE)
            return "не удается записать базу истории " + path_ +
                   ": на диске нет места или запись запрещена";
        return "ошибка базы истории " + path_ + ": " + sqlite3_errmsg(db_);
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

    void Run(std::string_view sql, std::span<const TValue> params, std::vector<TRow>* rows) {
        sqlite3_stmt* statement = Prepare(sql);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        Bind(statement, params);
        for (;;) {
            const int rc = sqlite3_step(statement);
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_ROW)
                Fail(rc, statement);
            if (rows == nullptr)
                continue;
            TRow& row = rows->emplace_back();
            const int columns = sqlite3_column_count(statement);
            for (int c = 0; c < columns; ++c) {
                const auto* text = sqlite3_column_text(statement, c);
                if (text == nullptr)
                    row.emplace_back();
                else
                    row.emplace_back(
                        std::string(reinterpret_cast<const char*>(text),
                                    static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
            }
        }
        sqlite3_reset(statement);
    }
};

} // namespace

std::unique_ptr<IHistoryConnection> OpenSqliteConnection(const std::string& path,
                                                         std::chrono::milliseconds busyTimeout) {
    return std::make_unique<TSqliteConnection>(path, busyTimeout);
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
