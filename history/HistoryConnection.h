// One connection to a history database, SQLite or PostgreSQL, behind one small interface: the
// rest of the history speaks SQL with $1, $2 … parameters and reads every value as text.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kve17::history {

// A failure of the history, with the reason in the operator's words.
class EHistory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TDialect { Sqlite, Postgres };

using TValue = std::variant<std::nullptr_t, std::int64_t, std::string>;
using TRow = std::vector<std::optional<std::string>>; // NULL is nothing

class IHistoryConnection {
public:
    virtual ~IHistoryConnection() = default;
    virtual TDialect Dialect() const = 0;
    // Both throw EHistory; a statement text is prepared once and kept for the next call.
    virtual void Execute(std::string_view sql, std::span<const TValue> params = {}) = 0;
    virtual std::vector<TRow> Query(std::string_view sql, std::span<const TValue> params = {}) = 0;
    // A transaction that writes: SQLite takes the write lock at once (waiting up to the busy
    // time-out), so two writers never both read the same newest event.
    virtual void BeginWrite() = 0;
    virtual void Commit() = 0;
    // Never throws: it follows a failure.
    virtual void Rollback() noexcept = 0;
};

// The history default: $XDG_DATA_HOME/kve17/history.sqlite, ~/.local/share/… when unset.
std::string DefaultHistoryPath();
bool IsServerLocation(std::string_view where);

inline constexpr std::chrono::milliseconds DefaultBusyTimeout{5000};

// A file path (the folder and the file are made when missing) or a postgresql:// (postgres://)
// connection string. Throws EHistory when the database cannot be opened or reached.
std::unique_ptr<IHistoryConnection>
OpenHistoryConnection(const std::string& where,
                      std::chrono::milliseconds busyTimeout = DefaultBusyTimeout);

} // namespace kve17::history
