// TaviroMac2 under a private IBus daemon (Qt offscreen): the time from the
// program's start until it serves keys with real candidates, and its
// resident memory after a few thousand keys typed through an IBus input
// context.
#include <benchmark/benchmark.h>

#include <ibus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <regex>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> argv, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// A private home and IBus daemon for the whole run.
struct Desktop {
    fs::path dir;
    pid_t daemon = -1;
    bool ok = false;

    Desktop() {
        char tmpl[] = "/tmp/taviro-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const fs::path p = std::string(v) == "HOME" ? dir : dir / v;
            fs::create_directories(p);
            fs::permissions(p, fs::perms::owner_all, fs::perm_options::replace);
            ::setenv(v, p.c_str(), 1);
        }
        fs::create_directories(dir / "components");
        ::setenv("IBUS_COMPONENT_PATH", (dir / "components").c_str(), 1);
        ::setenv("IBUS_ADDRESS_FILE", (dir / "ibus-address").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        daemon = spawn({"ibus-daemon", "--panel=disable", "--emoji-extension=disable", "--config=disable",
                        "--cache=none", "--timeout=2000", "--address=unix:path=" + (dir / "ibus.sock").string()},
                       -1);
        for (int i = 0; i < 500; ++i) {
            std::ifstream f(dir / "ibus-address");
            for (std::string line; std::getline(f, line);)
                if (line.rfind("IBUS_ADDRESS=", 0) == 0) {
                    ::setenv("IBUS_ADDRESS", line.substr(13).c_str(), 1);
                    ok = true;
                }
            if (ok) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Desktop() {
        stop(daemon);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Desktop& desktop() {
    static Desktop d;
    return d;
}

// Starts TaviroMac2; waits for its "ready for keys after N ms" line.
struct Running {
    pid_t pid = -1;
    double wallMs = -1;      // measured here, from spawn
    double reportedMs = -1;  // measured by the program from its own start
};

Running startTaviro() {
    Running r;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return r;
    const auto t0 = Clock::now();
    r.pid = spawn({std::string(TAVIRO_BIN_DIR) + "/TaviroMac2"}, fds[1]);
    ::close(fds[1]);
    std::string buffer;
    const std::regex ready("ready for keys after (\\d+) ms");
    const auto until = t0 + std::chrono::seconds(20);
    while (Clock::now() < until) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[1024];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        buffer.append(buf, static_cast<std::size_t>(n));
        std::smatch m;
        if (std::regex_search(buffer, m, ready)) {
            r.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            r.reportedMs = std::stod(m[1]);
            break;
        }
    }
    ::close(fds[0]);
    return r;
}

// One line of /proc/<pid>/status in MB: "VmRSS" (resident), "VmHWM" (its
// peak), "RssAnon" (heap and stacks), "RssFile" (mapped files: libraries and
// the mmapped model, shared with the page cache).
double statusMB(pid_t pid, const std::string& field) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
    return -1;
}

double residentMB(pid_t pid) { return statusMB(pid, "VmRSS"); }

void BM_StartUpUntilReadyForKeys(benchmark::State& state) {
    if (!desktop().ok) {
        state.SkipWithError("no ibus-daemon");
        return;
    }
    double reported = 0, wall = 0;
    int runs = 0;
    for (auto _ : state) {
        Running r = startTaviro();
        state.SetIterationTime(r.wallMs / 1000.0);
        if (r.wallMs < 0) {
            stop(r.pid);
            state.SkipWithError("TaviroMac2 never became ready");
            return;
        }
        reported += r.reportedMs;
        wall += r.wallMs;
        ++runs;
        state.PauseTiming();
        stop(r.pid);
        state.ResumeTiming();
    }
    state.counters["wall_ms"] = wall / runs;
    state.counters["self_reported_ms"] = reported / runs;
}
BENCHMARK(BM_StartUpUntilReadyForKeys)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Types "nihao " and other syllables through an IBus input context.
void BM_ResidentMemoryAfterKeys(benchmark::State& state) {
    if (!desktop().ok) {
        state.SkipWithError("no ibus-daemon");
        return;
    }
    const int keys = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Running r = startTaviro();
        if (r.wallMs < 0) {
            stop(r.pid);
            state.SkipWithError("TaviroMac2 never became ready");
            return;
        }
        const double before = residentMB(r.pid);
        const double anonBefore = statusMB(r.pid, "RssAnon");
        ibus_init();
        IBusBus* bus = ibus_bus_new();
        IBusInputContext* ic = ibus_bus_create_input_context(bus, "bench");
        ibus_input_context_set_capabilities(ic, IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_FOCUS);
        ibus_input_context_focus_in(ic);
        ibus_input_context_set_engine(ic, "taviromac2");
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        // evdev codes and keyvals of the letters and space of a few sentences.
        const std::string text = "nihao zhongguo women xuexi shuru fangfa ";
        int sent = 0;
        const auto t0 = Clock::now();
        while (sent < keys) {
            for (char c : text) {
                if (sent >= keys) break;
                static const std::string row = "qwertyuiop";
                static const std::string row2 = "asdfghjkl";
                static const std::string row3 = "zxcvbnm";
                guint code = 57;
                if (auto p = row.find(c); p != std::string::npos) code = 16 + static_cast<guint>(p);
                else if (auto p2 = row2.find(c); p2 != std::string::npos) code = 30 + static_cast<guint>(p2);
                else if (auto p3 = row3.find(c); p3 != std::string::npos) code = 44 + static_cast<guint>(p3);
                const guint keyval = c == ' ' ? IBUS_KEY_space : static_cast<guint>(c);
                ibus_input_context_process_key_event(ic, keyval, code, 0);
                ibus_input_context_process_key_event(ic, keyval, code, IBUS_RELEASE_MASK);
                ++sent;
            }
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
        }
        const double perKeyMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / keys;
        g_object_unref(ic);
        g_object_unref(bus);
        state.counters["rss_start_MB"] = before;
        state.counters["anon_start_MB"] = anonBefore;
        state.counters["rss_after_MB"] = residentMB(r.pid);
        state.counters["rss_peak_MB"] = statusMB(r.pid, "VmHWM");
        state.counters["anon_after_MB"] = statusMB(r.pid, "RssAnon");
        state.counters["file_after_MB"] = statusMB(r.pid, "RssFile");
        state.counters["key_round_trip_ms"] = perKeyMs;
        stop(r.pid);
    }
}
BENCHMARK(BM_ResidentMemoryAfterKeys)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
