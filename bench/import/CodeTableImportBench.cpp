// A 150,000-line main code table: the importer against a plain prepared INSERT loop in
// one transaction over the same rows (the floor).
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Settings/CodeTable/CodeTableImporter.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t kLines = 150000;

struct Row {
    std::string word, code;
};

// Rows of the wubi table when it is installed, topped up with generated ones.
std::vector<Row> sourceRows() {
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2("/usr/share/ibus-table/tables/wubi-haifeng86.db", &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "select tabkeys, phrase from phrases order by id", -1, &st, nullptr) == SQLITE_OK)
            while (rows.size() < kLines && sqlite3_step(st) == SQLITE_ROW)
                rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                                reinterpret_cast<const char*>(sqlite3_column_text(st, 0))});
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    const char* letters = "abcdefghijklmnopqrstuvwxy";
    for (size_t i = rows.size(); i < kLines; ++i) {
        std::string code;
        for (size_t v = i; code.size() < 4; v /= 25) code += letters[v % 25];
        rows.push_back({"词" + std::to_string(i), code});
    }
    return rows;
}

struct Fixture {
    fs::path dir = fs::temp_directory_path() / ("bench_import_" + std::to_string(::getpid()));
    fs::path text = dir / "table.txt";
    fs::path templ = dir / "codetable.database";
    std::vector<Row> rows = sourceRows();

    Fixture() {
        fs::create_directories(dir);
        std::ofstream out(text, std::ios::binary);
        for (const auto& r : rows) out << r.word << '\t' << r.code << '\n';
        sqlite3* db = nullptr;
        sqlite3_open(templ.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE CodeTable (\"Code\" TEXT NOT NULL, \"Table\" TEXT NOT NULL, \"Weight\" INTEGER);"
                     "CREATE INDEX CodeTable_index ON CodeTable (\"Code\", \"Weight\");",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path freshCopy(const char* name) {
        fs::path target = dir / name;
        fs::remove(target);
        fs::copy_file(templ, target);
        return target;
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_CodeTableImporter(benchmark::State& state) {
    auto& f = fixture();
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path db = f.freshCopy("import.database");
        state.ResumeTiming();
        std::atomic<bool> done{false};
        bool ok = false;
        std::thread worker([&] {
            kelvane::CodeTableImporter::importFile(f.text, db, false, nullptr, [&](bool result) {
                ok = result;
                done = true;
            });
        });
        driver.runUntil([&] { return done.load(); });
        worker.join();
        if (!ok) state.SkipWithError("import failed");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}

void BM_PlainInsertFloor(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path path = f.freshCopy("floor.database");
        state.ResumeTiming();
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "begin exclusive transaction", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "insert into CodeTable values (?,?,?)", -1, &st, nullptr);
        int64_t weight = 1000000;
        for (const auto& r : f.rows) {
            const std::string w = std::to_string(++weight);
            sqlite3_bind_text(st, 1, r.code.data(), static_cast<int>(r.code.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, r.word.data(), static_cast<int>(r.word.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, w.data(), static_cast<int>(w.size()), SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "reindex CodeTable_index", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "commit transaction", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}

BENCHMARK(BM_CodeTableImporter)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PlainInsertFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
