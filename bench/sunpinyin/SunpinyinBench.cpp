// Cost of one key of full-pinyin typing: the best sentence of the buffer after
// each key, as the full-pinyin strategy asks for it. Counters: median and p99
// of one key in microseconds.
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "bench/TypingSentences.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Every prefix of every sentence, in typing order.
std::vector<std::string> keyByKeyBuffers()
{
    std::vector<std::string> buffers;
    for (const auto& sentence : taviro::bench::typingSentences()) {
        for (std::size_t n = 1; n <= sentence.size(); ++n)
            buffers.push_back(sentence.substr(0, n));
    }
    return buffers;
}

using taviro::bench::reportPercentiles;

void typeKeyByKey(benchmark::State& state, plat::SunpinyinWrapper& wrapper)
{
    const auto buffers = keyByKeyBuffers();
    std::vector<double> micros;
    micros.reserve(1 << 16);
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& buffer = buffers[next];
        next = (next + 1) % buffers.size();
        const auto start = std::chrono::steady_clock::now();
        std::string sentence = wrapper.candidateWithBuffer(buffer);
        const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        benchmark::DoNotOptimize(sentence);
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
    }
    state.SetItemsProcessed(state.iterations());
    reportPercentiles(state, micros);
}

void BM_CandidateWithBufferPerKey(benchmark::State& state)
{
    plat::SunpinyinWrapper wrapper;
    if (!plat::SunpinyinWrapper::isAvailable()) {
        state.SkipWithError("SunPinyin model data is not installed");
        return;
    }
    typeKeyByKey(state, wrapper);
}
BENCHMARK(BM_CandidateWithBufferPerKey)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_CandidateWithBufferPerKeyFuzzy(benchmark::State& state)
{
    plat::SunpinyinWrapper wrapper;
    if (!plat::SunpinyinWrapper::isAvailable()) {
        state.SkipWithError("SunPinyin model data is not installed");
        return;
    }
    wrapper.setAn2ang(true);
    wrapper.setIn2ing(true);
    wrapper.setEn2eng(true);
    wrapper.setC2ch(true);
    wrapper.setZ2zh(true);
    wrapper.setS2sh(true);
    wrapper.updateFuzzConfig();
    typeKeyByKey(state, wrapper);
}
BENCHMARK(BM_CandidateWithBufferPerKeyFuzzy)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_PyStringFromPerKey(benchmark::State& state)
{
    plat::SunpinyinWrapper wrapper;
    const auto buffers = keyByKeyBuffers();
    std::vector<double> micros;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto syllables = wrapper.pyStringFrom(buffers[next]);
        const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        benchmark::DoNotOptimize(syllables);
        next = (next + 1) % buffers.size();
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
    }
    reportPercentiles(state, micros);
}
BENCHMARK(BM_PyStringFromPerKey)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

// The engine's user data goes to a throw-away folder, never the real home.
int main(int argc, char** argv)
{
    char folder[] = "/tmp/bench_sunpinyin.XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_DATA_HOME", folder, 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
