#pragma once
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Settings/ProgressSink.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::test {

// Records what an import shows on its sheet. Progress steps are summed.
class RecordingSink : public ProgressSink {
public:
    void setDoubleValue(double v) override { add("value=" + number(v)); }
    void setMaxValue(double v) override { add("max=" + number(v)); }
    void incrementBy(double d) override {
        std::lock_guard lk(m_);
        progress_ += d;
    }
    void setStringValue(const std::string& text) override { add(text); }

    std::vector<std::string> events() const {
        std::lock_guard lk(m_);
        return events_;
    }
    double progress() const {
        std::lock_guard lk(m_);
        return progress_;
    }
    bool mainThreadOnly() const { return !offMain_; }

private:
    static std::string number(double v) {
        std::string s = std::to_string(v);
        s.erase(s.find_last_not_of('0') + 1);
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    }
    void add(std::string e) {
        if (!plat::MainQueue::shared().isMainThread()) offMain_ = true;
        std::lock_guard lk(m_);
        events_.push_back(std::move(e));
    }
    mutable std::mutex m_;
    std::vector<std::string> events_;
    double progress_ = 0;
    std::atomic<bool> offMain_{false};
};

// The outcome of one import run off the main thread.
struct ImportRun {
    int completions = 0;
    bool ok = false;
};

// Runs `start` on a background thread while this thread serves the main queue, until
// the completion handed to `start` has been called (or 60 s passed).
inline ImportRun runImport(const std::function<void(std::function<void(bool)>)>& start) {
    ImportRun run;
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    std::thread worker([&] {
        start([&run](bool ok) {
            EXPECT_TRUE(plat::MainQueue::shared().isMainThread());
            ++run.completions;
            run.ok = ok;
        });
    });
    driver.runUntil([&] { return run.completions > 0; }, std::chrono::seconds(60));
    worker.join();
    driver.runUntil([] { return !plat::MainQueue::shared().hasPendingBlocks(); }, std::chrono::seconds(5));
    return run;
}

// Calls `start` from a block on the main queue, as a caller on the main thread would,
// and serves the queue until the completion has been called (or 10 s passed).
inline ImportRun runImportOnMainQueue(const std::function<void(std::function<void(bool)>)>& start) {
    ImportRun run;
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    plat::MainQueue::shared().async([&] {
        start([&run](bool ok) {
            ++run.completions;
            run.ok = ok;
        });
    });
    driver.runUntil([&] { return run.completions > 0; }, std::chrono::seconds(10));
    return run;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Rows = std::vector<std::vector<std::string>>;

// Rows of a query, each column as text ("NULL" for null).
inline Rows query(const std::filesystem::path& db, const std::string& sql) {
    sqlkit::SQLDatabase database(db.string());
    EXPECT_TRUE(database.open());
    Rows rows;
    auto rs = database.executeQuery(sql);
    while (rs && rs->next()) {
        std::vector<std::string> row;
        for (int i = 0; i < rs->columnCount(); ++i) row.push_back(rs->stringForColumnIndex(i).value_or("NULL"));
        rows.push_back(row);
    }
    if (rs) rs->close();
    database.close();
    return rows;
}

inline void exec(const std::filesystem::path& db, const std::string& sql) {
    sqlkit::SQLDatabase database(db.string());
    ASSERT_TRUE(database.open());
    ASSERT_TRUE(database.executeStatements(sql)) << sql;
    database.close();
}

// Empty code-table databases as the application's templates hold them.
inline void makeMainTemplate(const std::filesystem::path& path) {
    exec(path,
         "CREATE TABLE CodeTable (\"Code\" TEXT NOT NULL, \"Table\" TEXT NOT NULL, \"Weight\" TEXT);"
         "CREATE INDEX CodeTable_index ON CodeTable (\"Code\", \"Weight\");");
}
inline void makeAssistTemplate(const std::filesystem::path& path) {
    exec(path,
         "CREATE TABLE CodeTable (\"Code\" TEXT NOT NULL, \"Table\" TEXT NOT NULL, \"Weight\" INTEGER);"
         "CREATE TABLE TableCode (\"Table\" TEXT NOT NULL, \"Code\" TEXT NOT NULL, \"Flag\" INTEGER);");
}

} // namespace kelvane::test
