#pragma once
// What the per-key typing benchmarks share: the sentences they type key by
// key (the same ones, so their medians can be compared) and the percentile
// counters they report.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace taviro::bench {

inline const std::vector<std::string>& typingSentences() {
    static const std::vector<std::string> sentences = {
        "nihao",
        "zhongguoren",
        "jintiantianqibucuo",
        "woaibeijingtiananmen",
        "womenyiqiquchifanba",
        "zhegewentiyoudianfuza",
        "xianzaijidianle",
        "qingbangwokanyixiazhegewenjian",
        "mingtianxiawusandianzaihuiyishikaihui",
        "zhongguorenminjiefangjun",
    };
    return sentences;
}

struct Percentiles {
    double median = 0;
    double p99 = 0;
};

// Sorts the per-key times (microseconds) and reports their median and 99th
// percentile as the counters "median_us" and "p99_us".
inline Percentiles reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
    Percentiles p;
    if (micros.empty()) return p;
    std::sort(micros.begin(), micros.end());
    p.median = micros[micros.size() / 2];
    p.p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["median_us"] = p.median;
    state.counters["p99_us"] = p.p99;
    return p;
}

// The folder useTemporaryHome made; empty before it and after its removal.
inline std::string& temporaryHome() {
    static std::string home;
    return home;
}

// Removes the temporary home with everything in it. Runs at exit; a program
// that leaves by _Exit calls it first, once its store is closed.
inline void removeTemporaryHome() {
    std::string& home = temporaryHome();
    if (home.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    home.clear();
}

// Points HOME and the XDG folders at a fresh folder under /tmp (once per
// process), so a benchmark never touches the user's data. The folder goes
// at exit.
inline void useTemporaryHome(const char* name) {
    if (!temporaryHome().empty()) return;
    std::string pattern = std::string("/tmp/") + name + ".XXXXXX";
    const char* dir = mkdtemp(pattern.data());
    if (!dir) std::abort();
    const std::string home = dir;
    temporaryHome() = home;
    std::atexit(removeTemporaryHome);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
}

} // namespace taviro::bench
