// An empty history database per test: a SQLite file in a temporary folder, or a schema of its
// own on the test PostgreSQL server named by KVE17_TEST_PG (scripts/test.sh starts one).
#pragma once

#include "history/History.h"
#include "tests/archive/FakeDevice.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kve17::test {

enum class Backend { Sqlite, Postgres };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

// A reading of `link` into `image` as the history takes it: the file's records after the reading.
inline history::THistoryReading ReadForHistory(TArchiveImage& image, IDeviceLink& link, int address,
                                               const std::string& port, const std::string& file) {
    RecordingView view;
    const TReadingResult result = ReadIntoImage(image, address - 1, link, view);
    EXPECT_EQ(result.LinkResult, 0);
    history::THistoryReading reading;
    reading.Port = port;
    reading.Address = address;
    reading.File = file;
    reading.Mode = result.Mode;
    reading.Records = result.Listing;
    reading.Found = result.NewListed;
    reading.Result = "Закончено чтение архива";
    return reading;
}

class HistoryDatabase {
public:
    explicit HistoryDatabase(Backend backend) : backend_(backend) {}
    ~HistoryDatabase() {
        if (!schema_.empty()) {
            try {
                history::OpenHistoryConnection(Server())->Execute("DROP SCHEMA " + schema_ +
                                                                  " CASCADE");
            } catch (const history::EHistory&) {
            }
        }
    }

    // Where the history lies; empty when the server is not configured (the caller skips).
    std::string Location() {
        if (backend_ == Backend::Sqlite)
            return dir_.File("history.sqlite");
        if (Server().empty())
            return "";
        if (schema_.empty()) {
            static std::atomic<int> count{0};
            schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++count);
            history::OpenHistoryConnection(Server())->Execute("CREATE SCHEMA " + schema_);
        }
        // Lock waits end too: a test never hangs on a lock.
        return Server() + (Server().find('?') == std::string::npos ? "?" : "&") +
               "options=-csearch_path%3D" + schema_ + "%20-clock_timeout%3D30000";
    }
    static std::string Server() {
        const char* pg = std::getenv("KVE17_TEST_PG");
        return pg ? pg : "";
    }
    const TempDir& Dir() const { return dir_; }

private:
    Backend backend_;
    TempDir dir_;
    std::string schema_;
};

// A test on each backend: `where` is the history, and a test without a server is skipped.
class OnBackend : public ::testing::TestWithParam<Backend> {
protected:
    HistoryDatabase database{GetParam()};
    std::string where;

    void SetUp() override {
        where = database.Location();
        if (where.empty())
            GTEST_SKIP() << "KVE17_TEST_PG names no server (scripts/test.sh starts one)";
    }
};

} // namespace kve17::test
