// Cost of one key of full-pinyin typing through the whole engine (strategy,
// store lookups, SunPinyin, English and emoji), against the SunPinyin wrapper
// alone converting the same buffers. Counters: median and p99 of one key in
// microseconds; the SunPinyin run also reports the ratio of the medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "InputMethod/Core/Engine/BundleTables.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "bench/TypingSentences.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"

namespace {

using taviro::bench::reportPercentiles;

double engineMedian = 0;

// Walks the sentences key by key; `key` is called with the sentence and the
// number of keys typed, and returns the seconds that key took.
template <class Key>
std::vector<double> typeKeyByKey(benchmark::State& state, Key key) {
    std::vector<double> micros;
    micros.reserve(1 << 14);
    std::size_t sentence = 0, typed = 0;
    for (auto _ : state) {
        const std::string& s = taviro::bench::typingSentences()[sentence];
        ++typed;
        const double seconds = key(s, typed);
        state.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
        if (typed == s.size()) {
            typed = 0;
            sentence = (sentence + 1) % taviro::bench::typingSentences().size();
        }
    }
    state.SetItemsProcessed(state.iterations());
    return micros;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Start-up of the shared engine: from its construction until the ready flag
// is up, and until the emoji table (read in the background) is loaded. Runs
// once and first, while the bundle tables are still unread.
void BM_EngineStartUp(benchmark::State& state) {
    double readyMs = 0, emojiMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto& engine = taviro::TaviroIMEngine::shared();
        while (!taviro::TaviroIMEngine::isReady()) std::this_thread::sleep_for(std::chrono::microseconds(100));
        readyMs = secondsSince(start) * 1e3;
        engine.waitForStartUp();
        const auto emoji = taviro::BundleTables::emoji(plat::Paths::resourceFolder(plat::Bundle::TaviroMac2));
        benchmark::DoNotOptimize(emoji->size());
        emojiMs = secondsSince(start) * 1e3;
        state.SetIterationTime(secondsSince(start));
    }
    state.counters["ready_ms"] = readyMs;
    state.counters["emoji_loaded_ms"] = emojiMs;
}
BENCHMARK(BM_EngineStartUp)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_EnginePerKey(benchmark::State& state) {
    if (!plat::SunpinyinWrapper::isAvailable()) {
        state.SkipWithError("SunPinyin model data is not installed");
        return;
    }
    auto& engine = taviro::TaviroIMEngine::shared();
    engine.waitForStartUp();
    engine.clean();
    auto micros = typeKeyByKey(state, [&](const std::string& sentence, std::size_t typed) {
        if (typed == 1) engine.clean();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine.getCandidates(sentence.substr(typed - 1, 1)));
        return secondsSince(start);
    });
    engineMedian = reportPercentiles(state, micros).median;
}
BENCHMARK(BM_EnginePerKey)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_SunpinyinAlonePerKey(benchmark::State& state) {
    plat::SunpinyinWrapper wrapper;
    if (!plat::SunpinyinWrapper::isAvailable()) {
        state.SkipWithError("SunPinyin model data is not installed");
        return;
    }
    auto micros = typeKeyByKey(state, [&](const std::string& sentence, std::size_t typed) {
        const std::string buffer = sentence.substr(0, typed);
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(wrapper.candidateWithBuffer(buffer));
        return secondsSince(start);
    });
    const auto p = reportPercentiles(state, micros);
    if (p.median > 0 && engineMedian > 0) state.counters["engine_to_sunpinyin_median"] = engineMedian / p.median;
}
BENCHMARK(BM_SunpinyinAlonePerKey)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

// The store, settings and SunPinyin user data live in a throw-away folder,
// never the real home.
int main(int argc, char** argv) {
    char folder[] = "/tmp/bench_engine.XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("HOME", folder, 1);
    setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
