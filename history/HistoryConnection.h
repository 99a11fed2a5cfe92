// One connection to a history database, SQLite or PostgreSQL, behind one small interface: the
// rest of the history speaks SQL with $1, $2 … parameters and reads every value as text. Every
// wait of a connection is bounded, and a stop descriptor ends any of them at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kve17::history {

// What went wrong, each with its text and what the operator can do in one table
// (HistoryFaults.cpp).
enum class THistoryFault {
    OpenFailed,       // a file that cannot be opened or made
    Busy,             // another program holds the file's write lock
    DiskFull,         // no room on the disk, or past the file-size limit
    WriteFailed,      // a write the system refused
    FileError,        // anything else SQLite says
    Unreachable,      // the server cannot be reached or refuses the login
    ConnectionLost,   // the server went away
    ServerDiskFull,   // the server has no room
    LockTimeout,      // another session holds a lock longer than the lock time-out
    StatementTimeout, // the server did not finish within the statement time-out
    ServerError,      // anything else the server says
    Stopped,          // a stop signal ended the wait
    NewerSchema,      // a history upgraded by a newer program
    BadDate,          // a filter's date is no calendar day
    EmptyName,        // a line cannot be renamed to nothing
    NameTaken,        // another line has that name
    UnknownLine,      // no line of that name
};

// A failure of the history, with the reason in the operator's words: what failed, then what to
// do about it.
class EHistory : public std::runtime_error {
public:
    // `details` complete the fault's text in order (a path, a reason, a time-out).
    explicit EHistory(THistoryFault fault, const std::vector<std::string>& details = {});
    THistoryFault Fault() const { return fault_; }

private:
    THistoryFault fault_;
};

enum class TDialect { Sqlite, Postgres };

using TValue = std::variant<std::nullptr_t, std::int64_t, std::string>;
using TRow = std::vector<std::optional<std::string>>; // NULL is nothing
// Takes one row; false ends the listing early.
using TRowSink = std::function<bool(const TRow&)>;

class IHistoryConnection {
public:
    virtual ~IHistoryConnection() = default;
    virtual TDialect Dialect() const = 0;
    // All throw EHistory; a statement text is prepared once and kept for the next call.
    virtual void Execute(std::string_view sql, std::span<const TValue> params = {}) = 0;
    // The rows one at a time, never all at once: SQLite step by step, the server row by row.
    // `sink` must not use this connection.
    virtual void Stream(std::string_view sql, std::span<const TValue> params,
                        const TRowSink& sink) = 0;
    // A transaction that writes: SQLite takes the write lock at once (waiting up to the busy
    // time-out), so two writers never both read the same newest event; the server bounds its
    // lock waits and statements for the transaction.
    virtual void BeginWrite() = 0;
    virtual void Commit() = 0;
    // Never throws: it follows a failure.
    virtual void Rollback() noexcept = 0;

    // Every row at once, for the small answers.
    std::vector<TRow> Query(std::string_view sql, std::span<const TValue> params = {});
};

// The history default: $XDG_DATA_HOME/kve17/history.sqlite, ~/.local/share/… when unset.
std::string DefaultHistoryPath();
bool IsServerLocation(std::string_view where);

inline constexpr std::chrono::milliseconds DefaultBusyTimeout{5000};

struct TConnectionOptions {
    // How long a writer waits for another's lock: SQLite's busy wait, the server's lock_timeout.
    std::chrono::milliseconds BusyTimeout = DefaultBusyTimeout;
    // The server's statement_timeout within a writing transaction.
    std::chrono::milliseconds StatementTimeout{60000};
    // Becomes readable when the program is asked to stop (-1: never): every wait of the
    // connection then ends, a query under way is cancelled, and EHistory says Stopped.
    int StopFd = -1;
};

// A file path (the folder and the file are made when missing) or a postgresql:// (postgres://)
// connection string; a server connection gives up after 5 s unless the string says otherwise
// (connect_timeout), and keeps the connection watched by TCP keep-alives. Throws EHistory when
// the database cannot be opened or reached.
std::unique_ptr<IHistoryConnection> OpenHistoryConnection(const std::string& where,
                                                          const TConnectionOptions& options = {});

} // namespace kve17::history
