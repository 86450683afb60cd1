// Per-key time of full-pinyin typing through TaviroIMEngine while a 100,000-line word
// library is imported, again and again, into extended.db of the same per-user folder;
// against the same typing with no import. Word libraries are switched on, and the
// store's phrase cache is emptied before every key, so every key reads extended.db.
// Counters: median_us, p99_us, max_us of one key; imports finished during the run and
// their mean time. The command channel records instead of posting, so the engine keeps
// using its databases while the import runs (the contention itself is measured).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/NotificationSender.h"
#include "bench/TypingSentences.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLibraryLines = 100000;

// Syllables of the typed sentences first, then other common ones.
const std::vector<std::string>& syllables() {
    static const std::vector<std::string> all = {
        "ni", "hao", "zhong", "guo", "ren", "jin", "tian", "qi", "bu", "cuo", "wo", "ai", "bei", "jing", "an",
        "men", "yi", "qu", "chi", "fan", "ba", "zhe", "ge", "wen", "ti", "you", "dian", "fu", "za", "xian",
        "zai", "ji", "le", "qing", "bang", "kan", "xia", "jian", "ming", "wu", "san", "hui", "shi", "kai",
        "min", "jie", "fang", "jun", "de", "shang", "da", "lai", "dao", "sheng", "xue", "zi", "guan", "xin",
        "dong", "xi", "nan", "gong", "zuo", "yao", "hou", "mao", "shu", "tong", "chang", "yuan", "hua", "kong"};
    return all;
}

// A word library of kLibraryLines words of two to four syllables, one per line.
void writeLibrary(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    const auto& s = syllables();
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < kLibraryLines; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const int n = 2 + static_cast<int>(x % 3);
        std::string pinyin;
        for (int k = 0; k < n; ++k) {
            if (k) pinyin += '\'';
            pinyin += s[(x >> (8 * k + 2)) % s.size()];
        }
        out << "词" << i << '\t' << pinyin << '\n';
    }
}

// Serves the main queue on a thread of its own (the benchmark holds the program thread).
class MainQueueThread {
public:
    MainQueueThread() {
        thread_ = std::thread([this] {
            plat::RunLoopDriver driver(plat::MainQueue::shared());
            driver.runUntil([this] { return stop_.load(); }, std::chrono::hours(24));
        });
    }
    ~MainQueueThread() {
        stop_ = true;
        plat::MainQueue::shared().async([] {});
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool importOnce(kelvane::ExtendedDatabasetManager& manager, const std::string& name) {
    std::atomic<int> result{-1};
    manager.importWordLibrary(name, nullptr, [&result](bool ok) { result = ok ? 1 : 0; });
    while (result < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return result == 1;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct World {
    MainQueueThread mainQueue;
    std::unique_ptr<kelvane::ExtendedDatabasetManager> manager;
    bool ready = false;

    World() {
        kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
        taviro::ConfigManager::shared().update([](taviro::Settings& s) { s.extendedDict = true; });
        taviro::ConfigManager::shared().saveConfig();
        manager = std::make_unique<kelvane::ExtendedDatabasetManager>();
        writeLibrary(plat::Paths::userFile("Extended") / "big.txt");
        // A first import, so the engine finds extended.db and the library when it starts.
        std::thread first([&] { ready = importOnce(*manager, "big"); });
        first.join();
        auto& engine = taviro::TaviroIMEngine::shared();
        engine.waitForStartUp();
        // The store must really read the library, or the figures would mean nothing.
        lookups = taviro::Database::shared().extendedLookup({{"ni"}, {"hao"}}).size();
        ready = ready && lookups > 0;
    }
    std::size_t lookups = 0;
};

World& world() {
    static World w;
    return w;
}

void typeKeys(benchmark::State& state) {
    auto& engine = taviro::TaviroIMEngine::shared();
    std::vector<double> micros;
    micros.reserve(1 << 14);
    std::size_t sentence = 0, typed = 0;
    engine.clean();
    for (auto _ : state) {
        const std::string& s = taviro::bench::typingSentences()[sentence];
        ++typed;
        if (typed == 1) engine.clean();
        taviro::Database::shared().clearCacheNow();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine.getCandidates(s.substr(typed - 1, 1)));
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
        if (typed == s.size()) {
            typed = 0;
            sentence = (sentence + 1) % taviro::bench::typingSentences().size();
        }
    }
    taviro::bench::reportPercentiles(state, micros);
    state.counters["library_words_for_nihao"] = static_cast<double>(world().lookups);
    if (!micros.empty()) state.counters["max_us"] = micros.back();
}

void BM_KeyWithoutImport(benchmark::State& state) {
    if (!plat::SunpinyinWrapper::isAvailable() || !world().ready) {
        state.SkipWithError("SunPinyin data missing or the first import failed");
        return;
    }
    typeKeys(state);
}
BENCHMARK(BM_KeyWithoutImport)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(3.0);

void BM_KeyWhileImporting(benchmark::State& state) {
    if (!plat::SunpinyinWrapper::isAvailable() || !world().ready) {
        state.SkipWithError("SunPinyin data missing or the first import failed");
        return;
    }
    // Re-imports of the same name: each writes 100,000 rows, replaces the old library
    // and compacts the file.
    std::atomic<bool> stop{false};
    std::atomic<int> imports{0}, failures{0};
    std::atomic<double> importSeconds{0};
    std::thread importer([&] {
        while (!stop) {
            const auto start = std::chrono::steady_clock::now();
            if (!importOnce(*world().manager, "big")) ++failures;
            importSeconds = importSeconds + secondsSince(start);
            ++imports;
        }
    });
    typeKeys(state);
    stop = true;
    importer.join();
    state.counters["imports"] = imports.load();
    state.counters["import_failures"] = failures.load();
    if (imports > 0) state.counters["import_mean_s"] = importSeconds / imports;
}
BENCHMARK(BM_KeyWhileImporting)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(10.0);

} // namespace

// Everything lives in a throw-away home, never the real one.
int main(int argc, char** argv) {
    char folder[] = "/tmp/bench_extended.XXXXXX";
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
    fs::remove_all(folder, ec);
    return 0;
}
