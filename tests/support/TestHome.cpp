#include "support/TestHome.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace taviro::test {
namespace {
std::filesystem::path g_home;
std::atomic<int> g_counter{0};
} // namespace

void setUpTestHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "taviro-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    g_home = tmpl;
    auto set = [](const char* name, const std::filesystem::path& p) {
        std::filesystem::create_directories(p);
        setenv(name, p.c_str(), 1);
    };
    set("HOME", g_home);
    set("XDG_DATA_HOME", g_home / ".local/share");
    set("XDG_CONFIG_HOME", g_home / ".config");
    set("XDG_CACHE_HOME", g_home / ".cache");
    set("XDG_RUNTIME_DIR", g_home / "run");
    std::filesystem::permissions(g_home / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
}

void tearDownTestHome() {
    if (g_home.empty() || std::getenv("TAVIRO_KEEP_TEST_HOME")) return;
    std::error_code ec;
    std::filesystem::remove_all(g_home, ec);
}

const std::filesystem::path& testHome() { return g_home; }

std::filesystem::path freshDir(const std::string& hint) {
    auto p = g_home / "tmp" / (hint + "-" + std::to_string(g_counter.fetch_add(1)));
    std::filesystem::create_directories(p);
    return p;
}

} // namespace taviro::test
