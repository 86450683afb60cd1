// Whole key events through the server and the input controller over the real
// engine and bundle data: a key goes in, the marked text and the candidate
// page come out. Each benchmark types full-pinyin sentences key by key and
// reports the median and 99th percentile of one key event.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyScript.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"

#include <benchmark/benchmark.h>

#include "bench/TypingKeys.h"
#include "bench/TypingSentences.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A home of its own, with the build tree's bundle data.
void useTemporaryHome() {
    taviro::bench::useTemporaryHome("bench_controller");
    if (!std::getenv("TAVIRO_RESOURCES")) setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1);
}

const std::vector<std::string> kSentences = {
    "woxiangqubeijingkankan", "zhongguorenminjiefangjun", "jintiantianqihenhao",
    "womenyiqiquchifanba",    "zhegewentiyoudiankunnan",  "nihaoshijie",
};


void BM_FullPinyinKey(benchmark::State& state) {
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

    const auto [keys, timed] = taviro::bench::typingKeys(kSentences);

    std::vector<double> micros;
    std::size_t next = 0;
    taviro::CandidateWindow& window = windows.window();
    for (auto _ : state) {
        while (!timed[next]) {
            state.PauseTiming();
            session.send(keys[next]);
            next = (next + 1) % keys.size();
            state.ResumeTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        session.send(keys[next]);
        benchmark::DoNotOptimize(session.client().markedText());
        benchmark::DoNotOptimize(window.visibleCandidates());
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        next = (next + 1) % keys.size();
    }
    taviro::bench::reportPercentiles(state, micros);
    state.counters["keys"] = static_cast<double>(micros.size());
    state.counters["page"] = static_cast<double>(window.visibleCandidateCount());
}
BENCHMARK(BM_FullPinyinKey)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
