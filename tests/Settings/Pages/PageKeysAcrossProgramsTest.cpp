// The page-key boxes of the system tab, across the two programs: the box is
// ticked here and saved to "config.plist", then the input method's console
// client, started on that folder, types with the keys its label names.
#ifdef TAVIRO_TYPE_PATH
#include "RecordingChannelFixture.h"
#include "Settings/ConfigManager.h"
#include "Settings/Pages/TabThreeController.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

std::string shellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Types each script on its own line with --trace on the folders of `home`;
// the output lines, or none when the program failed.
std::vector<std::string> typeTraced(const fs::path& home, const std::vector<std::string>& scripts) {
    std::string input;
    for (const auto& s : scripts) input += s + "\n";
    const std::string h = home.string();
    const std::string command = "printf '%s' " + shellQuoted(input) + " | HOME=" + shellQuoted(h) + " XDG_DATA_HOME=" +
                                shellQuoted(h + "/data") + " XDG_CONFIG_HOME=" + shellQuoted(h + "/config") +
                                " XDG_CACHE_HOME=" + shellQuoted(h + "/cache") + " timeout 120 " +
                                shellQuoted(TAVIRO_TYPE_PATH) + " --trace 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// One traced key: the key, the marked text, the candidate page.
struct Step {
    std::string marked;
    std::string page;
};

Step stepOf(const std::string& line) {
    const auto a = line.find('\t');
    const auto b = line.find('\t', a + 1);
    if (a == std::string::npos || b == std::string::npos) return {};
    return {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
}

struct PagingKey {
    std::string script; // as the console client spells the key
    bool forward;
};

const std::vector<PagingKey> kKeys = {
    {".", true}, {",", false}, {"=", true}, {"-", false}, {"]", true}, {"[", false}, {"{Tab}", true}, {"{S-Tab}", false},
};

// Which of kKeys turn the page of "zhong" in the input method, run on `home`.
std::set<std::string> keysThatPage(const fs::path& home) {
    // A forward key on the first page; a backward key after {PageDown}.
    std::vector<std::string> scripts;
    for (const auto& k : kKeys) scripts.push_back(std::string("zhong") + (k.forward ? "" : "{PageDown}") + k.script);
    const auto lines = typeTraced(home, scripts);
    std::set<std::string> paged;
    std::size_t at = 0;
    for (const auto& k : kKeys) {
        const std::size_t steps = k.forward ? 6 : 7; // the keys, then the committed text
        if (at + steps + 1 > lines.size()) {
            ADD_FAILURE() << "the console client printed too little for " << k.script;
            return paged;
        }
        const Step first = stepOf(lines[at + 4]);
        const Step last = stepOf(lines[at + steps - 1]);
        bool turned = false;
        if (k.forward) {
            turned = last.marked == "zhong" && !last.page.empty() && last.page != first.page;
        } else {
            const Step second = stepOf(lines[at + 5]);
            turned = second.page != first.page && last.marked == "zhong" && last.page == first.page;
        }
        if (turned) paged.insert(k.script);
        at += steps + 1;
    }
    return paged;
}

class PageKeysAcrossPrograms : public test::RecordingChannelFixture {};

TEST_F(PageKeysAcrossPrograms, EachBoxPagesWithExactlyTheKeysOnItsLabel) {
    struct Case {
        std::string title;
        std::set<std::string> keys;
    };
    const Case cases[] = {
        {". , 翻页", {".", ","}},
        {"= - 翻页", {"=", "-"}},
        {"[ ] 翻页", {"[", "]"}},
        {"Tab 翻页", {"{Tab}", "{S-Tab}"}},
    };
    for (const auto& c : cases) {
        const fs::path home = taviro::test::freshDir("pagekeys");
        const fs::path perUser = home / "data" / "TaviroMac";
        fs::create_directories(perUser);
        {
            ConfigManager config(perUser);
            TabThreeController tab(config);
            int tag = 0;
            for (const auto& key : TabThreeController::pageKeys()) {
                tab.switchPage(key.tag, false);
                if (key.title == c.title) tag = key.tag;
            }
            ASSERT_NE(tag, 0) << "no box titled " << c.title;
            tab.switchPage(tag, true);
        }
        EXPECT_EQ(keysThatPage(home), c.keys) << c.title;
    }
}

} // namespace
} // namespace kelvane
#endif
