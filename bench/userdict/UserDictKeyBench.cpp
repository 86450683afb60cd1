// What a key costs with a large user dictionary: full-pinyin sentences typed
// key by key through the input controller over the real engine and bundle
// data, first with an empty user.db, then with 100,000 learnt rows. Reports
// the median and 99th percentile of one key event.
//
// `bench_userdict --type-keys N --rows R` types N keys with R learnt rows and
// exits, without timing: run it under strace to count system calls per key
// (see README.md).
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyScript.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "bench/TypingKeys.h"
#include "bench/TypingSentences.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Pinyin codes of 2 to 4 syllables from a fixed sequence; each learnt word
// is stored under the code with apostrophes and without, as full pinyin
// learns it.
void learnWords(const std::string& userDb, std::size_t rows) {
    static const char* const syllables[] = {
        "a",    "ai",   "an",   "ba",   "bai",  "ban",  "bang", "bao",  "bei",  "ben",  "bi",   "bian", "bu",
        "cai",  "chang", "chao", "che",  "chen", "cheng", "chi", "chu",  "da",   "dai",  "dan",  "dao",  "de",
        "deng", "di",   "dian", "dong", "dou",  "du",   "duan", "dui",  "duo",  "er",   "fa",   "fan",  "fang",
        "fei",  "fen",  "feng", "fu",   "gai",  "gan",  "gao",  "ge",   "gei",  "gen",  "gong", "gu",   "guan",
        "guo",  "hai",  "han",  "hao",  "he",   "hen",  "hou",  "hu",   "hua",  "huan", "hui",  "huo",  "ji",
        "jia",  "jian", "jiang", "jiao", "jie", "jin",  "jing", "jiu",  "ju",   "jue",  "kai",  "kan",  "ke",
        "kuai", "lai",  "lao",  "le",   "li",   "lian", "liang", "lin", "ling", "liu",  "long", "lu",   "ma",
        "mai",  "man",  "mei",  "men",  "mian", "min",  "ming", "mu",   "na",   "nan",  "ne",   "nei",  "neng",
        "ni",   "nian", "nv",   "pei",  "peng", "pian", "pin",  "qi",   "qian", "qiang", "qing", "qu",  "quan",
        "ran",  "ren",  "ri",   "rong", "ru",   "san",  "shang", "shao", "she", "shen", "sheng", "shi", "shou",
        "shu",  "shui", "shuo", "si",   "suo",  "ta",   "tai",  "tian", "tiao", "ting", "tong", "tou",  "wai",
        "wan",  "wang", "wei",  "wen",  "wo",   "wu",   "xi",   "xia",  "xian", "xiang", "xiao", "xie", "xin",
        "xing", "xue",  "ya",   "yan",  "yang", "yao",  "ye",   "yi",   "yin",  "ying", "yong", "you",  "yu",
        "yuan", "yue",  "zai",  "zao",  "ze",   "zhan", "zhang", "zhao", "zhe", "zhen", "zheng", "zhi", "zhong",
        "zhou", "zhu",  "zi",   "zong", "zou",  "zui",  "zuo"};
    const std::size_t n = sizeof syllables / sizeof *syllables;
    sqlite3* db = nullptr;
    sqlite3_open(userDb.c_str(), &db);
    sqlite3_exec(db,
                 "BEGIN;"
                 "CREATE TABLE IF NOT EXISTS \"Quanpin\" ('Py' TEXT NOT NULL ,'Word' TEXT NOT NULL ,'Weight' double "
                 "NOT NULL , 'New' BOOL NOT NULL DEFAULT true);"
                 "CREATE INDEX IF NOT EXISTS \"Quanpin_index\" on \"Quanpin\" ('Py' DESC, 'Weight' DESC);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO \"Quanpin\" VALUES(?,?,?,1)", -1, &insert, nullptr);
    std::uint32_t x = 12345;
    auto next = [&] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    for (std::size_t i = 0; i + 1 < rows; i += 2) {
        std::string plain, marked, word;
        const std::size_t parts = 2 + next() % 3;
        for (std::size_t k = 0; k < parts; ++k) {
            const char* s = syllables[next() % n];
            if (k) marked += '\'';
            plain += s;
            marked += s;
            word += "词";
        }
        word += std::to_string(i);
        const double weight = static_cast<double>(next() % 8);
        for (const std::string* code : {&marked, &plain}) {
            sqlite3_bind_text(insert, 1, code->c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, word.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 3, weight);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// The engine of the process, a typing session on it and the keys to type.
struct Typing {
    taviro::TaviroEngineAdapter adapter;
    taviro::CandidateWindowHolder windows;
    taviro::ControllerEnvironment env;
    std::unique_ptr<taviro::TypingSession> session;
    std::vector<plat::KeyTransition> keys;
    std::vector<bool> timed;
    std::size_t next = 0;

    explicit Typing(taviro::TaviroIMEngine& engine) : adapter(engine) {
        env.engine = &adapter;
        env.windows = &windows;
        session = std::make_unique<taviro::TypingSession>(env);
        auto typed = taviro::bench::typingKeys(taviro::bench::typingSentences());
        keys = std::move(typed.keys);
        timed = std::move(typed.timed);
    }
};

// Whether the process's engine was started.
bool engineStarted = false;

taviro::TaviroIMEngine& engineWithRows(std::size_t rows) {
    engineStarted = true;
    taviro::bench::useTemporaryHome("bench_userdict");
    if (!std::getenv("TAVIRO_RESOURCES")) setenv("TAVIRO_RESOURCES", TAVIRO_RESOURCE_DIR, 1);
    taviro::TaviroIMEngine& engine = taviro::TaviroIMEngine::shared();
    engine.waitForStartUp();
    if (auto strategy = engine.inputDelegate()) strategy->waitForSetUp();
    static std::size_t learnt = 0;
    if (rows != learnt) {
        auto& store = taviro::Database::shared();
        store.closeAll();
        const std::string userDb = store.userDBLocalPath();
        std::remove(userDb.c_str());
        if (rows) learnWords(userDb, rows);
        store.reloadDBLink().wait();
        learnt = rows;
    }
    return engine;
}

void typeKeys(benchmark::State& state, std::size_t rows) {
    Typing typing(engineWithRows(rows));
    std::vector<double> micros;
    for (auto _ : state) {
        while (!typing.timed[typing.next]) {
            state.PauseTiming();
            typing.session->send(typing.keys[typing.next]);
            typing.next = (typing.next + 1) % typing.keys.size();
            state.ResumeTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        typing.session->send(typing.keys[typing.next]);
        benchmark::DoNotOptimize(typing.session->client().markedText());
        benchmark::DoNotOptimize(typing.windows.window().visibleCandidates());
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        typing.next = (typing.next + 1) % typing.keys.size();
    }
    taviro::bench::reportPercentiles(state, micros);
    state.counters["keys"] = static_cast<double>(micros.size());
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_KeyEmptyUserDict(benchmark::State& state) { typeKeys(state, 0); }
void BM_Key100kLearntRows(benchmark::State& state) { typeKeys(state, 100000); }
BENCHMARK(BM_KeyEmptyUserDict)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(BM_Key100kLearntRows)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// Closes the store and removes the temporary home, then ends the process
// without running the destructors of the engine's threads.
[[noreturn]] void leave() {
    if (engineStarted) taviro::TaviroIMEngine::shared().finishForExit(std::chrono::seconds(10));
    taviro::bench::removeTemporaryHome();
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--type-keys") == 0 && std::strcmp(argv[3], "--rows") == 0) {
        const std::size_t count = std::strtoul(argv[2], nullptr, 10);
        Typing typing(engineWithRows(std::strtoul(argv[4], nullptr, 10)));
        for (std::size_t typed = 0; typed < count; typing.next = (typing.next + 1) % typing.keys.size()) {
            typing.session->send(typing.keys[typing.next]);
            if (typing.timed[typing.next]) ++typed;
        }
        leave();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    leave();
}
