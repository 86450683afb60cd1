// Typing while another connection holds user.db locked: whole key events
// through the server, the controller, the engine and the real bundle data,
// with a second connection keeping an exclusive write transaction open on
// the per-user user.db for the whole run. Each sentence is committed with
// Space, so the learning writes meet the lock too. Reports the median and
// 99th percentile of one key event, and the same with user.db free.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyScript.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"

#include <benchmark/benchmark.h>

#include "bench/TypingSentences.h"
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A home of its own, with the build tree's bundle data.
void useTemporaryHome() {
    taviro::bench::useTemporaryHome("bench_store");
    if (!std::getenv("TAVIRO_RESOURCES")) setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1);
}

const std::vector<std::string> kSentences = {
    "woxiangqubeijingkankan ", "zhongguorenminjiefangjun ", "jintiantianqihenhao ",
    "womenyiqiquchifanba ",    "zhegewentiyoudiankunnan ",  "nihaoshijie ",
};


// Another program's connection with a write transaction open on the file.
class ForeignWriteLock {
public:
    explicit ForeignWriteLock(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) std::abort();
        if (sqlite3_exec(db_,
                         "BEGIN EXCLUSIVE; CREATE TABLE IF NOT EXISTS bench_lock (x); "
                         "INSERT INTO bench_lock VALUES (1);",
                         nullptr, nullptr, nullptr) != SQLITE_OK)
            std::abort();
    }
    ~ForeignWriteLock() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

private:
    sqlite3* db_ = nullptr;
};

void typeSentences(benchmark::State& state, bool locked) {
    useTemporaryHome();
    taviro::TaviroIMEngine& engine = taviro::TaviroIMEngine::shared();
    engine.waitForStartUp();
    if (auto strategy = engine.inputDelegate()) strategy->waitForSetUp();
    taviro::TaviroEngineAdapter adapter(engine);
    taviro::CandidateWindowHolder windows;
    taviro::ControllerEnvironment env;
    env.engine = &adapter;
    env.windows = &windows;
    taviro::TypingSession session(env);

    std::vector<plat::KeyTransition> keys;
    for (const auto& sentence : kSentences) {
        const auto steps = taviro::KeyScript::parse(sentence);
        for (const auto& step : *steps) keys.push_back(step.keys.front());
    }

    auto& store = taviro::Database::shared();
    std::unique_ptr<ForeignWriteLock> lock;
    if (locked) lock = std::make_unique<ForeignWriteLock>(store.userDBLocalPath());

    std::vector<double> micros;
    std::size_t next = 0;
    auto& window = windows.window();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        session.send(keys[next]);
        benchmark::DoNotOptimize(session.client().markedText());
        benchmark::DoNotOptimize(window.visibleCandidates());
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        next = (next + 1) % keys.size();
    }
    taviro::bench::reportPercentiles(state, micros);
    state.counters["max_us"] = micros.empty() ? 0 : *std::max_element(micros.begin(), micros.end());
    state.counters["keys"] = static_cast<double>(micros.size());
    state.counters["waiting_writes"] = static_cast<double>(store.pendingUserWrites());
    lock.reset();
    store.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(10));
}

void BM_KeyWithUserDbLocked(benchmark::State& state) { typeSentences(state, true); }
void BM_KeyWithUserDbFree(benchmark::State& state) { typeSentences(state, false); }

BENCHMARK(BM_KeyWithUserDbLocked)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(BM_KeyWithUserDbFree)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
